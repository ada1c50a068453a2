#include "splash/form2.h"

#include "platform/desktop/fontsubstitutes.h"
#include "ui_form2.h"

#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <qdrawutil.h>

namespace {

void setLook(QLabel& label, qreal pointSize, const QColor& colour) {
    if (pointSize > 0) {
        QFont font = label.font();
        font.setPointSizeF(pointSize);
        font.setStyleHint(QFont::Serif); // what the desktop puts in its place when missing
        label.setFont(font);
    }
    label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, colour);
    label.setPalette(palette);
}

} // namespace

Form2::Form2(MainWindow& mainWindow)
    : ui(std::make_unique<Ui::Form2>()), mainWindow_(mainWindow),
      picture_(QStringLiteral(":/splash.png")) {
    addFontSubstitutes();
    ui->setupUi(this);
    // No title bar and no close box under any window manager: it draws its frame itself.
    // The window only ever goes when the program says, and it never takes the keyboard:
    // what the user types while it shows is for the main window, once the thunder is over.
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(398, 298);
    // No title bar shows its title, but window switchers and screen readers name it by
    // the program's name, never by the program's id.
    setAccessibleName(windowTitle());
    setLook(*ui->Label1, 27.75, QColor(224, 224, 224));
    setLook(*ui->Label2, 0, QColor(224, 224, 224));
    setLook(*ui->Label3, 20.25, QColor(192, 192, 255));
}

Form2::~Form2() = default;

bool Form2::Form_Load() {
    if (!mainWindow_.Load())
        return false;
    hide();
    mainWindow_.Show();
    mainWindow_.Refresh();
    return true;
}

void Form2::showCentred(const QWidget& mainWindow) {
    if (const QScreen* screen = mainWindow.screen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
}

void Form2::paintEvent(QPaintEvent*) {
    // Unscaled from the top-left: the picture is two pixels wider and taller than the
    // window, and those last rows and columns are never seen.
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
    // A fixed dialog frame: no window manager draws one around a frameless window.
    qDrawWinPanel(&painter, rect(), palette());
}
