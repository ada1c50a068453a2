#include "platform/desktop/savefiledialog.h"

#include "listing/listfields.h"
#include "platform/desktop/listfiller.h"
#include "platform/system/boundedcall.h"
#include "ui_savefiledialog.h"

#include <QAction>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStringListModel>
#include <QStyle>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kNameRole = ListFiller::kNameRole;
constexpr int kFolderRole = ListFiller::kFolderRole;

NativePath joined(const NativePath& folder, const NativePath& name) {
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// The folder that holds `path`; the root for the root.
NativePath parentOf(const NativePath& path) {
    const qsizetype cut = path.lastIndexOf('/');
    return cut > 0 ? path.left(cut) : NativePath("/");
}

// The absolute path with "." and ".." taken by name, and without empty parts: what the
// user typed is never looked up to make sense of it.
NativePath cleaned(const NativePath& path) {
    QList<QByteArray> parts;
    for (const QByteArray& part : path.split('/')) {
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
        } else if (!part.isEmpty() && part != ".") {
            parts.append(part);
        }
    }
    return '/' + parts.join('/');
}

QString reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

const QIcon& folderIcon() {
    static const QIcon icon = QFileIconProvider().icon(QFileIconProvider::Folder);
    return icon;
}

// "~" and "~/…" name the home folder, as in a shell.
QString withHome(const QString& typed) {
    if (typed == u'~' || typed.startsWith(QStringLiteral("~/")))
        return QDir::homePath() + typed.mid(1);
    return typed;
}

} // namespace

SaveFileDialog::SaveFileDialog(QWidget* owner, const SaveDialogRequest& request,
                               std::shared_ptr<const SaveFileLookups> lookups,
                               std::shared_ptr<QuestionBoxes> questions)
    : QDialog(owner), ui(std::make_unique<Ui::SaveFileDialog>()), lookups_(std::move(lookups)),
      questions_(std::move(questions)), mailbox_(std::make_shared<boundedcall::Mailbox>(this)),
      request_(request) {
    ui->setupUi(this);
    filler_ = new ListFiller(ui->listView);
    connect(filler_, &ListFiller::filled, this, &SaveFileDialog::listFilled);
    setWindowTitle(request.title);
    ui->upButton->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    ui->homeButton->setIcon(style()->standardIcon(QStyle::SP_DirHomeIcon));
    ui->newFolderButton->setIcon(style()->standardIcon(QStyle::SP_FileDialogNewFolder));
    ui->homeButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ui->newFolderButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    // The file name box completes from the names of the folder shown, as read already.
    names_ = new QStringListModel(this);
    auto* completer = new QCompleter(names_, this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setModelSorting(QCompleter::UnsortedModel);
    // Inline: Return then saves what is shown, where a popup would take the key first.
    completer->setCompletionMode(QCompleter::InlineCompletion);
    ui->fileNameEdit->setCompleter(completer);

    auto* hidden = new QAction(this);
    hidden->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    hidden->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(hidden);
    connect(hidden, &QAction::triggered, this, &SaveFileDialog::toggleHidden);

    // "Text files (*.txt *.text)": the patterns are the words in the last parentheses.
    ui->fileTypeCombo->addItem(request.filter);
    QString patterns = request.filter;
    const qsizetype open = patterns.lastIndexOf(u'('), close = patterns.lastIndexOf(u')');
    if (open >= 0 && close > open)
        patterns = patterns.mid(open + 1, close - open - 1);
    patterns_ = patterns.split(u' ', Qt::SkipEmptyParts);

    QPushButton* save = ui->buttonBox->button(QDialogButtonBox::Save);
    save->setDefault(true);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &SaveFileDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &SaveFileDialog::reject);
    connect(ui->fileNameEdit, &QLineEdit::textChanged, save,
            [save](const QString& text) { save->setEnabled(!text.isEmpty()); });
    connect(ui->upButton, &QToolButton::clicked, this, &SaveFileDialog::goUp);
    connect(ui->homeButton, &QToolButton::clicked, this,
            [this] { enterFolder(cleaned(QFile::encodeName(QDir::homePath()))); });
    connect(ui->newFolderButton, &QToolButton::clicked, this, &SaveFileDialog::startNewFolder);
    ui->newFolderEdit->installEventFilter(this);
    connect(ui->lookInCombo, &QComboBox::activated, this, [this](int index) {
        const NativePath folder = ui->lookInCombo->itemData(index).toByteArray();
        if (folder != folder_)
            enterFolder(folder);
    });
    connect(ui->listView, &QListWidget::itemActivated, this, &SaveFileDialog::activate);
    // A file picked in the list gives its name, kept by its bytes.
    connect(ui->listView, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> picked = ui->listView->selectedItems();
        if (picked.size() != 1 || picked[0]->data(kFolderRole).toBool())
            return;
        pickedName_ = picked[0]->data(kNameRole).toByteArray();
        pickedText_ = picked[0]->text();
        ui->fileNameEdit->setText(pickedText_);
    });
    ui->listView->installEventFilter(this);

    readLimit_.setSingleShot(true);
    readLimit_.setInterval(kFileSystemAnswerLimit);
    connect(&readLimit_, &QTimer::timeout, this, [this] {
        if (!read_)
            setFolderStatus(QStringLiteral("%1 does not answer.").arg(shown(folder_)));
    });
    lookUpLimit_.setSingleShot(true);
    lookUpLimit_.setInterval(kFileSystemAnswerLimit);
    connect(&lookUpLimit_, &QTimer::timeout, this, [this] {
        if (lookedUp_.isEmpty())
            return;
        ++lookingUp_; // a late answer is not taken: the user may have moved on
        say(QStringLiteral("%1 does not answer.").arg(shown(parentOf(lookedUp_))));
        lookedUp_.clear();
        ui->fileNameEdit->setFocus();
    });
    makeLimit_.setSingleShot(true);
    makeLimit_.setInterval(kFileSystemAnswerLimit);
    connect(&makeLimit_, &QTimer::timeout, this, [this] {
        ++making_; // a late answer is not taken; the folder shows when it is read again
        say(QStringLiteral("%1 does not answer.").arg(shown(parentOf(made_))));
        made_.clear();
    });

    const QString start =
        request.initialFolder.isEmpty() ? QDir::homePath() : QDir(request.initialFolder).path();
    const NativePath folder = QFile::encodeName(start);
    enterFolder(cleaned(
        folder.startsWith('/') ? folder : joined(QFile::encodeName(QDir::homePath()), folder)));
    ui->fileNameEdit->setText(request.fileName);
    ui->fileNameEdit->selectAll();
    ui->fileNameEdit->setFocus();
}

SaveFileDialog::~SaveFileDialog() {
    mailbox_->close();
}

QString SaveFileDialog::shown(const NativePath& path) const {
    return listfields::shownName(QFile::decodeName(path));
}

void SaveFileDialog::showEvent(QShowEvent* event) {
    // Never wider or taller than the screen it is on, whatever it is given to show.
    setMaximumSize(screen()->availableGeometry().size());
    QDialog::showEvent(event);
}

// The status line: what came of the last Save stands above what is known of the folder.
void SaveFileDialog::say(const QString& text) {
    message_ = text;
    ui->statusLine->setWholeText(message_.isEmpty() ? folderStatus_ : message_);
}

void SaveFileDialog::setFolderStatus(const QString& text) {
    folderStatus_ = text;
    say(message_);
}

void SaveFileDialog::enterFolder(const NativePath& folder) {
    folder_ = folder;
    ++lookingUp_; // a look-up still out belongs to the folder left
    lookedUp_.clear();
    lookUpLimit_.stop();
    pickedName_.clear();
    pickedText_.clear();
    message_.clear();
    selectWhenFilled_.clear();
    ++making_; // so does a folder being made
    made_.clear();
    makeLimit_.stop();
    endNewFolder();

    // The folder and each one above it, named by text alone.
    ui->lookInCombo->clear();
    for (NativePath at = folder;; at = parentOf(at)) {
        ui->lookInCombo->addItem(folderIcon(), shown(at), at);
        if (at == "/")
            break;
    }
    ui->lookInCombo->setCurrentIndex(0);
    ui->upButton->setEnabled(folder != "/");
    filler_->stop(); // a folder still filling in gives way
    ui->listView->clear();
    listing_.reset();
    names_->setStringList({});

    read_ = false;
    setFolderStatus(QStringLiteral("Reading\u2026"));
    const quint64 number = ++reading_;
    readLimit_.start();
    const bool asked = askLater<ShownListing>(
        mailbox_,
        [lookups = lookups_, folder, patterns = patterns_] {
            return readShown(*lookups, folder, patterns);
        },
        [this, number](const ShownListing& listing) {
            if (number == reading_)
                showListing(listing);
        });
    if (!asked) {
        read_ = true;
        readLimit_.stop();
        setFolderStatus(QStringLiteral("%1 cannot be read now: no thread could be started.")
                            .arg(shown(folder)));
    }
}

void SaveFileDialog::showListing(const ShownListing& listing) {
    read_ = true;
    readLimit_.stop();
    if (listing.error != 0)
        return setFolderStatus(
            QStringLiteral("%1 cannot be read: %2").arg(shown(folder_), reason(listing.error)));
    listing_ = std::make_shared<const ShownListing>(listing);
    setFolderStatus(QString());
    filler_->fill(listing_, showHidden_);
}

void SaveFileDialog::listFilled() {
    QStringList names;
    names.reserve(ui->listView->count());
    for (int row = 0; row < ui->listView->count(); ++row)
        names << ui->listView->item(row)->text();
    names_->setStringList(names);
    if (selectWhenFilled_.isEmpty())
        return;
    if (QListWidgetItem* item = itemNamed(ui->listView, selectWhenFilled_)) {
        ui->listView->setCurrentItem(item);
        ui->listView->scrollToItem(item);
        ui->listView->setFocus();
    }
    selectWhenFilled_.clear();
}

// Ctrl+H: the names that begin with '.' are shown or hidden again, without a new read.
void SaveFileDialog::toggleHidden() {
    showHidden_ = !showHidden_;
    if (listing_)
        filler_->fill(listing_, showHidden_);
}

void SaveFileDialog::goUp() {
    if (folder_ != "/")
        enterFolder(parentOf(folder_));
}

// New folder: its name is asked in a line above the list, in the dialog itself.
void SaveFileDialog::startNewFolder() {
    ui->newFolderEdit->setText(QStringLiteral("New folder"));
    ui->newFolderEdit->show();
    ui->newFolderEdit->selectAll();
    ui->newFolderEdit->setFocus();
}

void SaveFileDialog::endNewFolder() {
    if (!ui->newFolderEdit->isVisible())
        return;
    const bool hadFocus = ui->newFolderEdit->hasFocus();
    ui->newFolderEdit->hide();
    if (hadFocus)
        ui->listView->setFocus();
}

// Makes the folder named on a look-up thread; once made, the folder is read again and the
// new one picked in the list, for Return to enter it.
void SaveFileDialog::makeNewFolder() {
    const QString text = ui->newFolderEdit->text();
    if (text.isEmpty() || text == u'.' || text == QStringLiteral("..") || text.contains(u'/'))
        return say(QStringLiteral("A folder's name is not empty, \".\" or \"..\", and holds no "
                                  "\"/\"."));
    const NativePath path = joined(folder_, QFile::encodeName(text));
    if (path == made_)
        return; // asked already
    made_ = path;
    const quint64 number = ++making_;
    makeLimit_.start();
    say(QStringLiteral("Making %1\u2026").arg(shown(path)));
    const bool asked = askLater<int>(
        mailbox_, [lookups = lookups_, path] { return lookups->makeFolder(path); },
        [this, number, path](const int& error) {
            if (number != making_)
                return;
            made_.clear();
            makeLimit_.stop();
            if (error != 0)
                return say(QStringLiteral("%1 cannot be made: %2").arg(shown(path), reason(error)));
            const NativePath folder = folder_;
            enterFolder(folder);
            selectWhenFilled_ = path.mid(path.lastIndexOf('/') + 1);
        });
    if (!asked) {
        made_.clear();
        makeLimit_.stop();
        say(QStringLiteral("%1 cannot be made now: no thread could be started.").arg(shown(path)));
    }
}

void SaveFileDialog::activate(QListWidgetItem* item) {
    if (!item)
        return;
    const NativePath name = item->data(kNameRole).toByteArray();
    if (item->data(kFolderRole).toBool())
        return enterFolder(joined(folder_, name));
    pickedName_ = name;
    pickedText_ = item->text();
    ui->fileNameEdit->setText(pickedText_);
    accept();
}

bool SaveFileDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    // The new folder's name: Return makes it, Esc gives it up; neither reaches the dialog.
    if (watched == ui->newFolderEdit && (enter || key == Qt::Key_Escape)) {
        if (enter)
            makeNewFolder();
        else
            endNewFolder();
        return true;
    }
    if (watched == ui->listView && key == Qt::Key_Backspace) {
        goUp();
        return true;
    }
    // Return in the list acts on the entry there, and on nothing else.
    if (watched == ui->listView) {
        if (enter) {
            if (QListWidgetItem* item = ui->listView->currentItem())
                activate(item);
            else
                accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SaveFileDialog::accept() {
    const QString typed = ui->fileNameEdit->text();
    if (typed.isEmpty())
        return;
    NativePath path;
    if (!pickedName_.isEmpty() && typed == pickedText_) {
        path = joined(folder_, pickedName_);
    } else {
        const NativePath bytes = QFile::encodeName(withHome(typed));
        path = cleaned(bytes.startsWith('/') ? bytes : joined(folder_, bytes));
    }
    if (path == lookedUp_)
        return; // asked already; its answer is on its way
    lookedUp_ = path;
    const quint64 number = ++lookingUp_;
    lookUpLimit_.start();
    say(QStringLiteral("Looking up %1\u2026").arg(shown(path)));
    const bool asked = askLater<SaveFileLookups::Facts>(
        mailbox_, [lookups = lookups_, path] { return lookups->lookUp(path); },
        [this, number, path](const SaveFileLookups::Facts& facts) {
            if (number == lookingUp_)
                takeAnswer(path, facts);
        });
    if (!asked) {
        lookedUp_.clear();
        lookUpLimit_.stop();
        say(QStringLiteral("%1 cannot be looked up now: no thread could be started.")
                .arg(shown(path)));
    }
}

void SaveFileDialog::takeAnswer(const NativePath& path, const SaveFileLookups::Facts& facts) {
    lookedUp_.clear();
    lookUpLimit_.stop();
    say(QString());
    using Kind = SaveFileLookups::Kind;
    switch (facts.kind) {
    case Kind::Folder:
        enterFolder(path);
        ui->fileNameEdit->setText(request_.fileName);
        ui->fileNameEdit->selectAll();
        ui->fileNameEdit->setFocus();
        return;
    case Kind::NoFolder:
        return say((facts.error == ENOENT ? QStringLiteral("%1 does not exist.")
                                          : QStringLiteral("%1 is not a folder."))
                       .arg(shown(parentOf(path))));
    case Kind::Failed:
        return say(
            QStringLiteral("%1 cannot be looked up: %2").arg(shown(path), reason(facts.error)));
    case Kind::File:
    case Kind::Missing:
        break;
    }
    // The window takes the file by its path as text.
    const QString text = QFile::decodeName(path);
    if (QFile::encodeName(text) != path)
        return say(QStringLiteral("%1 has a name that is not text: choose another folder or name.")
                       .arg(shown(path)));
    if (facts.kind == Kind::File && request_.promptBeforeReplacing &&
        !ask(QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(shown(path)),
             false))
        return;
    if (facts.kind == Kind::Missing && request_.promptBeforeCreating &&
        !ask(QStringLiteral("%1\nThis file does not exist.\nCreate the file?").arg(shown(path)),
             true))
        return;
    chosen_ = text;
    QDialog::accept();
}

// Yes or No in a box over the dialog. False also when the dialog went meanwhile (its owner
// closed): the caller then touches nothing more.
bool SaveFileDialog::ask(const QString& question, bool yesFirst) {
    const QPointer<SaveFileDialog> self(this);
    const bool yes = questions_->Ask(this, question, windowTitle(), yesFirst);
    return self && yes;
}
