#include "platform/desktop/savefiledialog.h"

#include "listing/listfields.h"
#include "platform/system/boundedcall.h"
#include "ui_savefiledialog.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kNameRole = Qt::UserRole;       // the entry's name, as the system gives it
constexpr int kFolderRole = Qt::UserRole + 1; // whether it is a folder

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

const QIcon& iconFor(bool folder) {
    static const QFileIconProvider provider;
    static const QIcon folderIcon = provider.icon(QFileIconProvider::Folder);
    static const QIcon fileIcon = provider.icon(QFileIconProvider::File);
    return folder ? folderIcon : fileIcon;
}

} // namespace

SaveFileDialog::SaveFileDialog(QWidget* owner, const SaveDialogRequest& request,
                               std::shared_ptr<const SaveFileLookups> lookups,
                               std::shared_ptr<QuestionBoxes> questions)
    : QDialog(owner), ui(std::make_unique<Ui::SaveFileDialog>()), lookups_(std::move(lookups)),
      questions_(std::move(questions)), mailbox_(std::make_shared<boundedcall::Mailbox>(this)),
      request_(request) {
    ui->setupUi(this);
    setWindowTitle(request.title);
    ui->upButton->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));

    // "Text files (*.txt *.text)": the patterns are the words in the last parentheses.
    ui->fileTypeCombo->addItem(request.filter);
    QString patterns = request.filter;
    const qsizetype open = patterns.lastIndexOf(u'('), close = patterns.lastIndexOf(u')');
    if (open >= 0 && close > open)
        patterns = patterns.mid(open + 1, close - open - 1);
    for (const QString& pattern : patterns.split(u' ', Qt::SkipEmptyParts))
        patterns_ << QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                                        QRegularExpression::CaseInsensitiveOption);

    QPushButton* save = ui->buttonBox->button(QDialogButtonBox::Save);
    save->setDefault(true);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &SaveFileDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &SaveFileDialog::reject);
    connect(ui->fileNameEdit, &QLineEdit::textChanged, save,
            [save](const QString& text) { save->setEnabled(!text.isEmpty()); });
    connect(ui->upButton, &QToolButton::clicked, this, [this] {
        if (folder_ != "/")
            enterFolder(parentOf(folder_));
    });
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

// The status line: what came of the last Save stands above what is known of the folder.
void SaveFileDialog::say(const QString& text) {
    message_ = text;
    ui->statusLine->setText(message_.isEmpty() ? folderStatus_ : message_);
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

    // The folder and each one above it, named by text alone.
    ui->lookInCombo->clear();
    for (NativePath at = folder;; at = parentOf(at)) {
        ui->lookInCombo->addItem(iconFor(true), shown(at), at);
        if (at == "/")
            break;
    }
    ui->lookInCombo->setCurrentIndex(0);
    ui->upButton->setEnabled(folder != "/");
    ui->listView->clear();

    read_ = false;
    setFolderStatus(QStringLiteral("Reading\u2026"));
    const quint64 number = ++reading_;
    readLimit_.start();
    const bool asked = askLater<SaveFileLookups::Listing>(
        mailbox_, [lookups = lookups_, folder] { return lookups->read(folder); },
        [this, number](const SaveFileLookups::Listing& listing) {
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

void SaveFileDialog::showListing(const SaveFileLookups::Listing& listing) {
    read_ = true;
    readLimit_.stop();
    if (listing.error != 0)
        return setFolderStatus(
            QStringLiteral("%1 cannot be read: %2").arg(shown(folder_), reason(listing.error)));
    struct Shown {
        QString text;
        const SaveFileLookups::Entry* entry;
    };
    std::vector<Shown> folders, files;
    for (const SaveFileLookups::Entry& entry : listing.entries) {
        if (entry.name.startsWith('.')) // hidden, as a file manager has them
            continue;
        const QString text = shown(entry.name);
        if (!entry.folder &&
            std::none_of(patterns_.begin(), patterns_.end(), [&](const QRegularExpression& p) {
                return p.match(QFile::decodeName(entry.name)).hasMatch();
            }))
            continue;
        (entry.folder ? folders : files).push_back({text, &entry});
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    for (std::vector<Shown>* group : {&folders, &files}) {
        std::sort(group->begin(), group->end(), [&](const Shown& a, const Shown& b) {
            return collator.compare(a.text, b.text) < 0;
        });
        for (const Shown& one : *group) {
            auto* item = new QListWidgetItem(iconFor(one.entry->folder), one.text, ui->listView);
            item->setData(kNameRole, one.entry->name);
            item->setData(kFolderRole, one.entry->folder);
        }
    }
    setFolderStatus(QString());
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
    // Return in the list acts on the entry there, and on nothing else.
    if (watched == ui->listView && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
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
        const NativePath bytes = QFile::encodeName(typed);
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
