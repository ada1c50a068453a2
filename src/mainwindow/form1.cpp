#include "mainwindow/form1.h"

#include "platform/desktop/fontsubstitutes.h"
#include "ui_form1.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>

namespace {

// Positions reach the mouse handlers in twips, as the window was laid out in.
constexpr int kTwipsPerPixel = 15;

// Where each pointer picture points.
constexpr QPoint kHandHotSpot(11, 0);
constexpr QPoint kInitialsHotSpot(10, 29);

int buttonCode(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

// While the mouse moves, every button held down counts.
int buttonsCode(Qt::MouseButtons buttons) {
    return (buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0) |
           (buttons & Qt::MiddleButton ? 4 : 0);
}

int shiftCode(Qt::KeyboardModifiers modifiers) {
    return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0) |
           (modifiers & Qt::AltModifier ? 4 : 0);
}

int keyAscii(const QKeyEvent& event) {
    if (event.key() == Qt::Key_Escape)
        return 27;
    const QString text = event.text();
    return text.size() == 1 ? text.at(0).unicode() : 0;
}

} // namespace

Form1::Form1(OutsideControls controls, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::Form1>()), controls_(std::move(controls)) {
    addFontSubstitutes();
    ui->setupUi(this);
    setUpLook();
    wireEvents();
    ui->Command2->setFocus();
}

Form1::~Form1() {
    job_.reset(); // its reports touch the widgets
    qApp->removeEventFilter(this);
}

void Form1::setUpLook() {
    // A fixed frame: closable and minimisable, never resized or maximised.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    QIcon icon;
    icon.addFile(QStringLiteral(":/icon/kestrix-32.png"));
    icon.addFile(QStringLiteral(":/icon/kestrix-16.png"));
    setWindowIcon(icon);

    QFont initials = ui->SSPanel2->font();
    initials.setPointSizeF(14.25);
    initials.setWeight(QFont::Normal);
    initials.setStyleHint(QFont::Serif); // what the desktop puts in its place when missing
    ui->SSPanel2->setFont(initials);

    const QCursor hand(QPixmap(QStringLiteral(":/cursors/hand.png")), kHandHotSpot.x(),
                       kHandHotSpot.y());
    for (QWidget* button : {ui->Command2, ui->Command4, ui->Command6})
        button->setCursor(hand);
    ui->SSPanel2->setCursor(QCursor(QPixmap(QStringLiteral(":/cursors/initials.png")),
                                    kInitialsHotSpot.x(), kInitialsHotSpot.y()));

    // For screen readers: the header box goes by its caption, and the unseen button that
    // holds the keyboard says what pressing it does.
    ui->Label1->setBuddy(ui->Text1);
    ui->Command2->setAccessibleDescription(
        QStringLiteral("Choose the file the list is written to (Make list asks for it too)"));

    // The separators carry names of their own, like every other menu line.
    const QStringList separatorNames = {QStringLiteral("dead19"), QStringLiteral("dead1"),
                                        QStringLiteral("dead2"), QStringLiteral("dead9")};
    int next = 0;
    for (QMenu* menu : {ui->file, ui->help})
        for (QAction* action : menu->actions())
            if (action->isSeparator() && next < separatorNames.size())
                action->setObjectName(separatorNames[next++]);
}

void Form1::wireEvents() {
    connect(ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(ui->Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(ui->Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(controls_.BrowseDialog1.get(), &FolderPicker::SelectionChanged, this,
            &Form1::BrowseDialog1_SelectionChanged);

    connect(ui->browse, &QAction::triggered, this, &Form1::browse_Click);
    connect(ui->mlist, &QAction::triggered, this, &Form1::mlist_Click);
    connect(ui->viewl, &QAction::triggered, this, &Form1::viewl_Click);
    connect(ui->exit, &QAction::triggered, this, &Form1::exit_Click);
    connect(ui->nosubdir, &QAction::triggered, this, [this] {
        // QAction flips its own check before it reports the click; the handler is the
        // one place that decides the option, so undo that first.
        ui->nosubdir->setChecked(!ui->nosubdir->isChecked());
        nosubdir_Click();
    });
    connect(ui->contents, &QAction::triggered, this, &Form1::contents_Click);
    connect(ui->email, &QAction::triggered, this, &Form1::email_Click);
    connect(ui->web, &QAction::triggered, this, &Form1::web_Click);
    connect(ui->about, &QAction::triggered, this, &Form1::about_Click);
    connect(controls_.instances.get(), &InstanceLink::comeForwardRequested, this,
            &Form1::instances_ComeForward);

    // Key preview, the mouse events of the window's surfaces, and the menu shortcuts
    // inside the header box all pass through one filter on the application.
    ui->Label2->setMouseTracking(true);
    qApp->installEventFilter(this);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        if (isPreviewedKey(watched, event)) {
            int KeyAscii = keyAscii(*static_cast<QKeyEvent*>(event));
            if (KeyAscii != 0)
                Form_KeyPress(KeyAscii);
        }
        return false; // the control with the focus still gets the key
    case QEvent::ShortcutOverride:
        // The header box would keep Ctrl+X, Ctrl+V, Ctrl+A... for its own editing; the
        // menu's shortcuts win there.
        if (watched == ui->Text1 && isMenuShortcut(event)) {
            event->ignore();
            return true;
        }
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
        return dispatchMouseEvent(watched, event);
    case QEvent::WindowStateChange:
        // A fixed window: a maximised or full-screen state that the window manager's own
        // commands give it is taken back.
        if (watched == this && (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            QMetaObject::invokeMethod(
                this,
                [this] {
                    setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
                },
                Qt::QueuedConnection);
        return false;
    default:
        return false;
    }
}

bool Form1::isPreviewedKey(QObject* watched, QEvent* event) const {
    // A key press is first delivered, as it came from the user, to the control with the
    // focus; a control that ignores it passes the same event on to its parents, no longer
    // marked as coming from the user. See it only on that first delivery: by the time it
    // goes on, a whole run may have passed in between.
    if (!event->spontaneous() || !watched->isWidgetType())
        return false;
    // While the menu bar is worked from the keyboard, its keys are the menu's own: the Esc
    // that leaves it must not start a run.
    if (qobject_cast<QMenuBar*>(watched) || QApplication::activePopupWidget())
        return false;
    return static_cast<QWidget*>(watched)->window() == this;
}

bool Form1::isMenuShortcut(QEvent* event) const {
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    for (const QAction* action : {ui->browse, ui->mlist, ui->viewl, ui->exit, ui->nosubdir,
                                  ui->contents, ui->email, ui->web, ui->about})
        if (action->isEnabled() && action->shortcut() == pressed)
            return true;
    return false;
}

bool Form1::dispatchMouseEvent(QObject* watched, QEvent* event) {
    using Handler = void (Form1::*)(int, int, int, int);
    struct Surface {
        QWidget* widget;
        Handler mouseDown;
    };
    const Surface surfaces[] = {
        {ui->centralwidget, &Form1::Form_MouseDown}, {ui->Frame1, &Form1::Frame1_MouseDown},
        {ui->Label1, &Form1::Label1_MouseDown},      {ui->Label2, &Form1::Label2_MouseDown},
        {ui->SSPanel1, &Form1::SSPanel1_MouseDown},  {ui->SSPanel2, &Form1::SSPanel2_MouseDown},
    };
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->position().toPoint();
    const int x = at.x() * kTwipsPerPixel;
    const int y = at.y() * kTwipsPerPixel;
    const int shift = shiftCode(mouse->modifiers());

    if (event->type() == QEvent::MouseMove) {
        if (watched == ui->Label2)
            Label2_MouseMove(buttonsCode(mouse->buttons()), shift, x, y);
        return false;
    }

    for (const Surface& surface : surfaces) {
        if (watched != surface.widget)
            continue;
        // A press that a control inside passed up (a right click on a button) belongs to
        // that control, not to the surface under it.
        if (surface.widget->childAt(at) == nullptr)
            (this->*surface.mouseDown)(buttonCode(mouse->button()), shift, x, y);
        return true;
    }
    return false;
}

void Form1::pumpEventsNow() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
