// The save dialog under the offscreen platform, with a file system of the test's own in
// which some folders never answer: the dialog says so and stays usable.

#include "platform/desktop/commondialog.h"
#include "platform/desktop/savefiledialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
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
    std::set<NativePath> folders, files;

    Listing read(const NativePath& folder) const override {
        waitIfStuck(folder);
        Listing listing;
        for (const auto* set : {&folders, &files})
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
    void letGo() {
        const std::lock_guard lock(mutex_);
        goneOn_ = true;
        wakeUp_.notify_all();
    }

private:
    void waitIfStuck(const NativePath& path) const {
        std::unique_lock lock(mutex_);
        if (path == stuck || path.startsWith(stuck + '/'))
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

} // namespace

class SaveDialogTest : public QObject {
    Q_OBJECT
private slots:
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
        const auto lettingGo = qScopeGuard([lookups] { lookups->letGo(); });
        const auto questions = std::make_shared<YesToAll>();

        SaveDialogRequest request{QStringLiteral("Kestrix save"), QStringLiteral("*.txt (*.txt)"),
                                  QFile::decodeName(start), QStringLiteral("Kestrix.txt")};
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
};

QTEST_MAIN(SaveDialogTest)
#include "savedialog_test.moc"
