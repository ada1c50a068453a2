// The save dialog under the offscreen platform, with a file system of the test's own in
// which some folders never answer: the dialog says so and stays usable.

#include "platform/desktop/commondialog.h"
#include "platform/desktop/savefiledialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QtTest>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <set>

namespace {

// Answers from two sets of paths; everything at or below `stuck` waits until let go.
class FakeLookups final : public SaveFileLookups {
public:
    NativePath stuck;
    mutable std::set<NativePath> folders; // guarded by mutex_ while a dialog is open
    std::set<NativePath> files;

    Listing read(const NativePath& folder) const override {
        waitIfStuck(folder);
        const std::lock_guard lock(mutex_);
        Listing listing;
        for (const std::set<NativePath>* set : {&std::as_const(folders), &files})
            for (const NativePath& path : *set)
                if (path.startsWith(folder + '/') && !path.mid(folder.size() + 1).contains('/'))
                    listing.entries.push_back({path.mid(folder.size() + 1), set == &folders});
        return listing;
    }
    Facts lookUp(const NativePath& path) const override {
        waitIfStuck(path);
        if (folders.count(path) || files.count(path))
            return {folders.count(path) ? Kind::Folder : Kind::File, 0};
        const bool inFolder = folders.count(path.left(path.lastIndexOf('/')));
        return {inFolder ? Kind::Missing : Kind::NoFolder, inFolder ? 0 : ENOENT};
    }
    int makeFolder(const NativePath& path) const override {
        const std::lock_guard lock(mutex_);
        return folders.insert(path).second ? 0 : EEXIST;
    }
    void letGo() {
        const std::lock_guard lock(mutex_);
        goneOn_ = true;
        wakeUp_.notify_all();
    }

private:
    void waitIfStuck(const NativePath& path) const {
        std::unique_lock lock(mutex_);
        if (!stuck.isEmpty() && (path == stuck || path.startsWith(stuck + '/')))
            wakeUp_.wait(lock, [this] { return goneOn_; });
    }
    mutable std::mutex mutex_;
    mutable std::condition_variable wakeUp_;
    bool goneOn_ = false;
};

// Answers every question Yes, and keeps what it was asked.
class YesToAll final : public QuestionBoxes {
public:
    QString asked;
    bool Ask(QWidget*, const QString& text, const QString&, bool) override {
        asked = text;
        return true;
    }
};

// The texts of the list's items, in order.
QStringList listed(const QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return texts;
}

// What Make list asks of the dialog, opening in `start`.
SaveDialogRequest requestIn(const QByteArray& start) {
    return {QStringLiteral("Kestrix save"), QStringLiteral("*.txt (*.txt)"),
            QFile::decodeName(start), QStringLiteral("Kestrix.txt")};
}

} // namespace

class SaveDialogTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;

    // Opens the dialog in `start` and runs `steps` on it once it is up; then cancels it.
    template <typename Steps>
    void drive(std::shared_ptr<FakeLookups> lookups, const QByteArray& start, Steps steps) {
        const SaveDialogRequest request = requestIn(start);
        bool driven = false;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<SaveFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            const auto closing = qScopeGuard([dialog] { dialog->reject(); });
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            steps(dialog, dialog->findChild<QListWidget*>(QStringLiteral("listView")));
            driven = !QTest::currentTestFailed();
        });
        CommonDialog(lookups, std::make_shared<YesToAll>()).ShowSave(nullptr, request);
        QVERIFY(driven);
    }

private slots:
    void initTestCase() {
        QVERIFY(home_.isValid());
        qputenv("HOME", QFile::encodeName(home_.path()));
    }

    void whatTheUserDoesAndSees_data() {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QString>("before");   // the status line once the folder is in
        QTest::addColumn<QByteArray>("enter"); // a folder of the list entered first
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("question"); // asked, and answered Yes
        QTest::addColumn<QString>("after");    // the status line after Save; then Cancel
        QTest::addColumn<QString>("result");   // empty: cancelled
        const QString stuck = QStringLiteral("/share does not answer.");
        QTest::newRow("path elsewhere while the folder is stuck")
            << QByteArray("/share") << stuck << QByteArray() << "/home/u/lists/r1.txt"
            << "/home/u/lists/r1.txt\nThis file does not exist.\nCreate the file?"
            << ""
            << "/home/u/lists/r1.txt";
        QTest::newRow("name in the stuck folder")
            << QByteArray("/share") << stuck << QByteArray() << "r1.txt"
            << "" << stuck << "";
        QTest::newRow("path whose folder is stuck")
            << QByteArray("/home/u/lists") << "" << QByteArray() << "/share/deep/r1.txt"
            << ""
            << "/share/deep does not answer."
            << "";
        QTest::newRow("existing file")
            << QByteArray("/home/u/lists") << "" << QByteArray() << "a.txt"
            << "/home/u/lists/a.txt already exists.\nDo you want to replace it?"
            << ""
            << "/home/u/lists/a.txt";
        QTest::newRow("folder not UTF-8 entered by its bytes")
            << QByteArray("/home/u") << "" << QByteArray("/home/u/Caf\xe9") << "r1.txt"
            << ""
            << "/home/u/Caf\uFFFD/r1.txt has a name that is not text: choose another folder or "
               "name."
            << "";
        const QString home = QDir::homePath();
        QTest::newRow("~ is the home folder")
            << QByteArray("/home/u/lists") << "" << QByteArray() << "~/x.txt"
            << home + "/x.txt\nThis file does not exist.\nCreate the file?"
            << "" << home + "/x.txt";
        const QString deep = "/home/u/lists/" + QString(280, u'd');
        QTest::newRow("300-character path")
            << QByteArray("/home/u/lists") << "" << QByteArray() << deep + "/r.txt"
            << "" << deep + " does not exist."
            << "";
    }
    void whatTheUserDoesAndSees() {
        QFETCH(QByteArray, start);
        QFETCH(QString, before);
        QFETCH(QByteArray, enter);
        QFETCH(QString, typed);
        QFETCH(QString, question);
        QFETCH(QString, after);
        QFETCH(QString, result);
        const auto lookups = std::make_shared<FakeLookups>();
        lookups->stuck = "/share";
        lookups->folders = {"/home/u", "/home/u/lists", "/home/u/Caf\xe9", "/share"};
        lookups->files = {"/home/u/lists/a.txt", "/home/u/lists/b.bin"};
        lookups->folders.insert(QFile::encodeName(QDir::homePath()));
        const auto lettingGo = qScopeGuard([lookups] { lookups->letGo(); });
        const auto questions = std::make_shared<YesToAll>();

        const SaveDialogRequest request = requestIn(start);
        bool driven = false;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<SaveFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            auto closeOnFailure = qScopeGuard([dialog] { dialog->reject(); });
            QCOMPARE(dialog->objectName(), QStringLiteral("CommonDialog1"));
            auto* status = dialog->findChild<QLabel*>(QStringLiteral("statusLine"));
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("listView"));
            QCOMPARE(name->text(), QStringLiteral("Kestrix.txt"));
            QTRY_COMPARE(status->text(), before);
            const int width = dialog->width();
            if (start == "/home/u/lists") // folders and *.txt files only
                QCOMPARE(list->count(), 1);
            if (!enter.isEmpty()) {
                for (int row = 0; row < list->count(); ++row)
                    if (start + '/' + list->item(row)->data(Qt::UserRole).toByteArray() == enter)
                        list->setCurrentRow(row);
                QTest::keyClick(list, Qt::Key_Return);
                QCOMPARE(dialog->folder(), enter);
            }
            name->setText(typed);
            QTest::keyClick(name, Qt::Key_Return);
            if (!question.isEmpty()) {
                QTRY_COMPARE(questions->asked, question);
                closeOnFailure.dismiss();
            } else {
                QTRY_COMPARE(status->text(), after);
                QVERIFY(dialog->isVisible());
                // However long the message, the dialog keeps its width, and on its screen.
                QCOMPARE(dialog->width(), width);
                QVERIFY(dialog->frameGeometry().width() <=
                        dialog->screen()->availableSize().width());
                dialog->findChild<QToolButton*>(QStringLiteral("homeButton"))->click();
                QTRY_COMPARE(dialog->folder(), QFile::encodeName(QDir::homePath()));
                QTRY_COMPARE(status->text(), QString());
                QCOMPARE(dialog->width(), width);
                closeOnFailure.dismiss();
                dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
            }
            driven = true;
        });
        const std::optional<QString> chosen =
            CommonDialog(lookups, questions).ShowSave(nullptr, request);
        QVERIFY(driven);
        QCOMPARE(chosen.value_or(QString()), result);
        QCOMPARE(chosen.has_value(), !result.isEmpty());
    }

    // Keys in the list and the New folder button: what the list shows after them.
    void theListAfterKeys_data() {
        QTest::addColumn<QStringList>("keys"); // "New folder=NAME" makes NAME in the dialog
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("current");
        const QStringList shown{"sub", "File2.txt", "file9.txt", "file10.txt"};
        QTest::newRow("natural order, no dot names")
            << QStringList() << QByteArray("/u/n") << shown << "";
        QTest::newRow("Ctrl+H shows dot names")
            << QStringList{"Ctrl+H"} << QByteArray("/u/n")
            << QStringList{".sub", "sub", ".hidden.txt", "File2.txt", "file9.txt", "file10.txt"}
            << "";
        QTest::newRow("Ctrl+H again hides them")
            << QStringList{"Ctrl+H", "Ctrl+H"} << QByteArray("/u/n") << shown << "";
        QTest::newRow("Backspace goes up")
            << QStringList{"Backspace"} << QByteArray("/u") << QStringList{"n"} << "";
        QTest::newRow("new folder made and selected")
            << QStringList{"New folder=Reports"} << QByteArray("/u/n")
            << QStringList{"Reports", "sub", "File2.txt", "file9.txt", "file10.txt"} << "Reports";
        QTest::newRow("new folder entered") << QStringList{"New folder=Reports", "Return"}
                                            << QByteArray("/u/n/Reports") << QStringList() << "";
    }
    void theListAfterKeys() {
        QFETCH(QStringList, keys);
        QFETCH(QByteArray, folder);
        QFETCH(QStringList, listed);
        QFETCH(QString, current);
        const auto lookups = std::make_shared<FakeLookups>();
        lookups->folders = {"/u", "/u/n", "/u/n/sub", "/u/n/.sub"};
        lookups->files = {"/u/n/file10.txt", "/u/n/file9.txt", "/u/n/File2.txt", "/u/n/.hidden.txt",
                          "/u/n/b.bin"};
        drive(lookups, "/u/n", [&](SaveFileDialog* dialog, QListWidget* list) {
            QTRY_COMPARE(list->count(), 4);
            for (const QString& key : keys) {
                if (key.startsWith(QStringLiteral("New folder="))) {
                    for (auto* button : dialog->findChildren<QToolButton*>())
                        if (button->accessibleName() == QStringLiteral("New folder"))
                            button->click();
                    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("newFolderEdit"));
                    QVERIFY(name->isVisible());
                    name->setText(key.mid(key.indexOf(u'=') + 1));
                    QTest::keyClick(name, Qt::Key_Return);
                    QTRY_VERIFY(list->currentItem());
                } else {
                    QTest::keySequence(list, QKeySequence::fromString(key));
                }
            }
            QTRY_COMPARE(dialog->folder(), folder);
            QTRY_COMPARE(::listed(list), listed);
            QCOMPARE(list->currentItem() ? list->currentItem()->text() : QString(), current);
        });
    }

    // A folder of 100,000 names comes into the list in several steps, with the dialog's
    // events taken between them; a folder entered meanwhile stops the filling.
    void bigFolderFillsInSteps() {
        const auto lookups = std::make_shared<FakeLookups>();
        lookups->folders = {"/x", "/x/big"};
        for (int n = 1; n <= 100000; ++n)
            lookups->files.insert("/x/big/f" + QByteArray::number(n) + ".txt");
        drive(lookups, "/x/big", [&](SaveFileDialog* dialog, QListWidget* list) {
            std::set<int> seen; // the list's lengths seen by a timer of the dialog's thread
            QTimer ticks;
            connect(&ticks, &QTimer::timeout, [&] { seen.insert(list->count()); });
            ticks.start(0);
            QTRY_COMPARE_WITH_TIMEOUT(list->count(), 100000, 60000);
            QVERIFY(std::count_if(seen.begin(), seen.end(),
                                  [](int n) { return n > 0 && n < 100000; }) >= 2);
            QCOMPARE(list->item(8)->text(), QStringLiteral("f9.txt"));
            QCOMPARE(list->item(9)->text(), QStringLiteral("f10.txt"));
            // Entered again, and left for home (empty here) while it fills.
            QTest::keyClick(list, Qt::Key_Backspace);
            QTRY_COMPARE(::listed(list), QStringList{"big"});
            list->setCurrentRow(0);
            connect(&ticks, &QTimer::timeout, dialog, [&] {
                if (list->count() > 0 && list->count() < 100000 && dialog->folder() == "/x/big")
                    dialog->findChild<QToolButton*>(QStringLiteral("homeButton"))->click();
            });
            QTest::keyClick(list, Qt::Key_Return);
            QTRY_COMPARE(dialog->folder(), QFile::encodeName(QDir::homePath()));
            QTest::qWait(200);
            QCOMPARE(list->count(), 0);
        });
    }
};

QTEST_MAIN(SaveDialogTest)
#include "savedialog_test.moc"
