// The main window under the offscreen platform: its layout, the choice of folder and
// list file, and whole listing runs, with the dialogs answered from a script (and once
// for real).

#include "heldfilesystem.h"
#include "mainwindow/form1.h"
#include "platform/desktop/threedpanel.h"
#include "scripteddialogs.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

template <typename T = QWidget> T* control(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

QAbstractButton* button(QWidget& window, const char* name) {
    return control<QAbstractButton>(window, name);
}

QAction* item(QWidget& window, const char* name) {
    return control<QAction>(window, name) ? window.findChild<QAction*>(QString::fromLatin1(name))
                                          : nullptr;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QByteArray> lines(const QByteArray& list) {
    QList<QByteArray> all = list.split('\n');
    if (!all.isEmpty() && all.last().isEmpty())
        all.removeLast();
    return all;
}

// A tree with mixed-case names, files of known sizes and a hidden folder.
void makeTree(const QString& root, int branches) {
    QDir dir(root);
    for (int i = 0; i < branches; ++i) {
        const QString branch = QStringLiteral("Branch%1/Sub/Leaf").arg(i);
        dir.mkpath(branch);
        QFile file(dir.filePath(branch + QStringLiteral("/data.bin")));
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(100 * (i + 1), 'x'));
    }
    dir.mkpath(QStringLiteral(".hidden/Inner"));
}

#define WAIT_FOR_RUN_END(form)                                                                     \
    QTRY_VERIFY_WITH_TIMEOUT((form).state().run == Form1::RunState::Idle, 20000)

QByteArray kestrixList(const QString& folder, bool withSubs, const QString& header,
                       const QString& output) {
    QStringList args{QStringLiteral("--header"), header, QStringLiteral("-o"), output};
    if (withSubs)
        args << QStringLiteral("--with-subs");
    args << folder;
    QProcess process;
    process.start(QStringLiteral(KESTRIX_LIST_BINARY), args);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QByteArray("kestrix-list failed: ") + process.readAllStandardError();
    return readAll(output);
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

public:
    // Whatever settings a dialog would keep go to a folder of the test's own.
    MainWindowTest() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("config"))));
    }

private:
    std::unique_ptr<ScriptedControls> controls;
    ScriptedControls& scripted() { return *controls; }
    std::unique_ptr<Form1> window;
    QTemporaryDir scratch;

    Form1& open(const QString& programFolder = QString()) {
        controls = std::make_unique<ScriptedControls>();
        OutsideControls handedOver = controls->handOver();
        if (!programFolder.isEmpty())
            handedOver.programFolder = programFolder;
        window = std::make_unique<Form1>(std::move(handedOver));
        window->Form_Load();
        return *window;
    }
    QString caption(const char* panel) { return control<ThreeDPanel>(*window, panel)->caption(); }
    // The runs of the window from now on wait on their reads until released.
    std::shared_ptr<HeldFileSystem> holdRuns() {
        auto held = std::make_shared<HeldFileSystem>();
        window->setFileSystemSource([held] { return held; });
        return held;
    }
    void chooseFolder(const QString& folder) {
        scripted().picker->answers.push_back(QFile::encodeName(folder));
        button(*window, "Command1")->click();
    }
    // Clicks and reports whether the File menu popped up (it is closed again at once).
    bool popsUpFileMenu(QWidget* target, Qt::MouseButton mouseButton, QPoint at = QPoint()) {
        bool popped = false;
        QTimer::singleShot(0, target, [&] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                popped = popup == control(*window, "file");
                popup->close();
            }
        });
        QTest::mouseClick(target, mouseButton, {}, at.isNull() ? target->rect().center() : at);
        QCoreApplication::processEvents();
        return popped;
    }

private slots:
    void init() { QVERIFY(scratch.isValid()); }
    void cleanup() { window.reset(); }

    void controlsSitWhereTheDesignPutsThem_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("spoken"); // name|description, as a screen reader has them
        QTest::newRow("Frame1") << "Frame1"
                                << "centralwidget" << QRect(8, 3, 253, 132) << "" << true << "|";
        QTest::newRow("Label2") << "Label2"
                                << "Frame1" << QRect(20, 16, 167, 16) << "" << true << "|";
        QTest::newRow("Label1") << "Label1"
                                << "Frame1" << QRect(22, 38, 154, 16) << "Header" << true
                                << "Header|";
        QTest::newRow("Text1") << "Text1"
                               << "Frame1" << QRect(19, 54, 216, 31) << "" << true << "Header|";
        QTest::newRow("Command1") << "Command1"
                                  << "Frame1" << QRect(20, 96, 55, 23) << "&Folder" << true
                                  << "Folder|";
        QTest::newRow("Command4") << "Command4"
                                  << "Frame1" << QRect(100, 96, 55, 23) << "&Make list" << false
                                  << "Make list|";
        QTest::newRow("Command6") << "Command6"
                                  << "Frame1" << QRect(179, 96, 55, 23) << "&View list" << false
                                  << "View list|";
        QTest::newRow("SSPanel2") << "SSPanel2"
                                  << "Frame1" << QRect(194, 13, 50, 24) << "MZK" << true << "MZK|";
        QTest::newRow("SSPanel1") << "SSPanel1"
                                  << "centralwidget" << QRect(7, 144, 251, 16) << "" << true << "|";
        QTest::newRow("Command2")
            << "Command2"
            << "centralwidget" << QRect(171, 186, 55, 23) << "&File list" << true
            << "File list|Choose the file the list is written to (Make list asks for it too)";
    }
    void controlsSitWhereTheDesignPutsThem() {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        QFETCH(QString, spoken);
        Form1& form = open();
        QWidget* widget = control(form, name.toLatin1().constData());
        const QAccessibleInterface* heard = QAccessible::queryAccessibleInterface(widget);
        QCOMPARE(heard->text(QAccessible::Name) + u'|' + heard->text(QAccessible::Description),
                 spoken);
        QCOMPARE(widget->parentWidget()->objectName(), container);
        QCOMPARE(widget->geometry(), geometry);
        QCOMPARE(widget->isEnabled(), enabled);
        QVERIFY(widget->isVisible());
        QString shown;
        if (auto* b = qobject_cast<QAbstractButton*>(widget))
            shown = b->text();
        else if (auto* l = qobject_cast<QLabel*>(widget))
            shown = l->text();
        else if (auto* p = qobject_cast<ThreeDPanel*>(widget))
            shown = p->caption();
        else if (auto* e = qobject_cast<QLineEdit*>(widget))
            shown = e->text();
        QCOMPARE(shown, text);
        if (auto* b = qobject_cast<QAbstractButton*>(widget)) {
            // The caption must fit the button with a little room at each side.
            QString bare = b->text();
            bare.remove(u'&');
            QVERIFY2(b->fontMetrics().horizontalAdvance(bare) <= b->width() - 6, qPrintable(bare));
        }
    }

    void windowIsFixedWithTheFocusOnTheHiddenButton() {
        Form1& form = open();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(control(form, "centralwidget")->size(), QSize(270, 169));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        for (const Qt::WindowState asked : {Qt::WindowFullScreen, Qt::WindowMaximized}) {
            form.setWindowState(asked); // as the window manager's own command gives it
            QTRY_COMPARE(form.windowState(), Qt::WindowNoState);
        }
        QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(form.windowTitle(), QStringLiteral("Kestrix"));
        // The File list button lies below the client area, out of sight but focused.
        QVERIFY(control(form, "Command2")->y() >= 169);
        QCOMPARE(QApplication::focusWidget(), control(form, "Command2"));
        QStringList chain;
        QWidget* w = control(form, "Command2");
        for (int i = 0; i < 4; ++i) {
            w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus))
                w = w->nextInFocusChain();
            chain << w->objectName();
        }
        QCOMPARE(chain, QStringList({"Command4", "Command6", "Command1", "Text1"}));
        const QFont initials = control(form, "SSPanel2")->font();
        QCOMPARE(initials.family(), QStringLiteral("Chaucer"));
        QCOMPARE(initials.pointSizeF(), 14.25);
        QCOMPARE(control<ThreeDPanel>(form, "SSPanel2")->captionAlignment(),
                 Qt::AlignHCenter | Qt::AlignVCenter);
        // Centred by their ink: the slanted K would otherwise touch the right bevel.
        const QImage panel = control(form, "SSPanel2")->grab().toImage();
        int left = panel.width(), right = panel.width();
        for (int x = 1; x < panel.width() - 1; ++x)
            for (int y = 1; y < panel.height() - 1; ++y)
                if (qGray(panel.pixel(x, y)) < 200)
                    left = qMin(left, x), right = qMin(right, panel.width() - 1 - x);
        QVERIFY2(left > 1 && qAbs(left - right) <= 1,
                 qPrintable(QStringLiteral("%1 %2").arg(left).arg(right)));
    }

    void menusHoldTheirItems_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shortcut");
        QTest::newRow("browse") << "browse"
                                << "file"
                                << "&Browse for folder"
                                << "Ctrl+F";
        QTest::newRow("mlist") << "mlist"
                               << "file"
                               << "&Make list..."
                               << "Ctrl+M";
        QTest::newRow("viewl") << "viewl"
                               << "file"
                               << "&View list..."
                               << "Ctrl+V";
        QTest::newRow("exit") << "exit"
                              << "file"
                              << "E&xit"
                              << "Ctrl+X";
        QTest::newRow("nosubdir") << "nosubdir"
                                  << "option"
                                  << "No Sub-dirs"
                                  << "Ctrl+N";
        QTest::newRow("contents") << "contents"
                                  << "help"
                                  << "&Contents"
                                  << "Ctrl+H";
        QTest::newRow("email") << "email"
                               << "help"
                               << "&Email me..."
                               << "Ctrl+E";
        QTest::newRow("web") << "web"
                             << "help"
                             << "&Web page"
                             << "Ctrl+W";
        QTest::newRow("about") << "about"
                               << "help"
                               << "&About"
                               << "Ctrl+A";
    }
    void menusHoldTheirItems() {
        QFETCH(QString, name);
        QFETCH(QString, menu);
        QFETCH(QString, text);
        QFETCH(QString, shortcut);
        Form1& form = open();
        QAction* action = item(form, name.toLatin1().constData());
        QCOMPARE(action->text(), text);
        QCOMPARE(action->shortcut(), QKeySequence(shortcut));
        QVERIFY(action->isEnabled());
        QCOMPARE(action->isChecked(), name == QStringLiteral("nosubdir"));
        QVERIFY(control<QMenu>(form, menu.toLatin1().constData())->actions().contains(action));
    }

    void menuBarAndSeparators() {
        Form1& form = open();
        QStringList titles;
        for (QAction* a : control<QMenuBar>(form, "menubar")->actions())
            titles << a->text();
        QCOMPARE(titles, QStringList({"&File", "&Options", "&Help"}));
        auto names = [&](const char* menu) {
            QStringList all;
            for (QAction* a : control<QMenu>(form, menu)->actions())
                all << a->objectName();
            return all;
        };
        QCOMPARE(names("file"),
                 QStringList({"browse", "dead19", "mlist", "viewl", "dead1", "exit"}));
        QCOMPARE(names("help"),
                 QStringList({"contents", "dead2", "email", "web", "dead9", "about"}));
    }

    // The shortcuts act with the focus in the header box, whose own Ctrl+X and Ctrl+A
    // would otherwise win.
    void shortcutsReachTheirCommandsFromTheHeaderBox() {
        Form1& form = open();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QLineEdit* header = control<QLineEdit>(form, "Text1");
        header->setFocus();
        header->setText(QStringLiteral("keep me"));
        header->selectAll();

        QTest::keyClick(header, Qt::Key_N, Qt::ControlModifier);
        QVERIFY(!item(form, "nosubdir")->isChecked());
        QTest::keyClick(header, Qt::Key_N, Qt::ControlModifier);
        QVERIFY(item(form, "nosubdir")->isChecked());

        // Make list before any folder: the folder picker first; cancelled, nothing else.
        QTest::keyClick(header, Qt::Key_M, Qt::ControlModifier);
        QCOMPARE(scripted().picker->shown, 1);
        QVERIFY(scripted().saveDialog->requests.empty());
        QTest::keyClick(control(form, "Command2"), Qt::Key_Escape);
        QCOMPARE(scripted().picker->shown, 2);
        // Alt puts the menu bar under the keyboard; the Esc that leaves it is the menu's.
        QTest::keyClick(control(form, "Command2"), Qt::Key_Alt);
        QVERIFY(form.menuBar()->hasFocus());
        QTest::keyClick(form.menuBar(), Qt::Key_Escape);
        QVERIFY(!form.menuBar()->hasFocus());
        QCOMPARE(scripted().picker->shown, 2);
        QTest::keyClick(header, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(scripted().picker->shown, 3);

        // Enter and Space on the hidden button run the File list command.
        QTest::keyClick(control(form, "Command2"), Qt::Key_Return);
        QTest::keyClick(control(form, "Command2"), Qt::Key_Space);
        QCOMPARE(scripted().saveDialog->requests.size(), 2u);

        header->setFocus();
        QTest::keyClick(header, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(header->text(), QStringLiteral("keep me")); // not cut
        QVERIFY(form.unloaded());
        QVERIFY(!form.isVisible());
    }

    // Esc in the header box starts one run. The box ignores Esc, so the same key event
    // goes on to the window after the run; it must not start a second one then, even
    // when the window lost the focus in between (as when a real dialog closes).
    void escapeFromTheHeaderBoxStartsOneRun() {
        Form1& form = open();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        chooseFolder(scratch.path());
        QLineEdit* header = control<QLineEdit>(form, "Text1");
        header->setFocus();
        // Another window takes the keyboard meanwhile, and is gone again when the dialog
        // returns, as a real dialog is.
        scripted().saveDialog->whileShown = [] {
            QWidget dialog;
            dialog.show();
            QVERIFY(QTest::qWaitForWindowActive(&dialog));
        };
        QTest::keyClick(header, Qt::Key_Escape);
        WAIT_FOR_RUN_END(form);
        QCOMPARE(scripted().saveDialog->requests.size(), 1u);
        QCOMPARE(caption("SSPanel1"), QStringLiteral("- Done -"));
        // Back from the dialog, the window has the keyboard again, on its resting place.
        QTRY_COMPARE(QApplication::activeWindow(), &form);
        QCOMPARE(QApplication::focusWidget(), control(form, "Command2"));
    }

    void folderCommandKeepsTheRealPathAndShowsItInLowerCase() {
        Form1& form = open();
        // Cancelled at first: nothing changes.
        button(form, "Command1")->click();
        QVERIFY(form.state().ListFolder.isEmpty());
        QVERIFY(!button(form, "Command4")->isEnabled());

        const QString folder = scratch.filePath(QStringLiteral("Work/Lists"));
        QDir().mkpath(folder);
        chooseFolder(folder);
        QCOMPARE(QFile::decodeName(form.state().ListFolder), folder);
        QCOMPARE(control<QLabel>(form, "Label2")->text(), folder.toLower());
        QCOMPARE(caption("SSPanel1"), folder.toLower());
        QCOMPARE(control<ThreeDPanel>(form, "SSPanel1")->alignmentCode(), 1);
        QCOMPARE(form.state().ListFilePath, folder + QStringLiteral("/Kestrix.txt"));
        QVERIFY(form.state().ViewFilePath.isEmpty());
        QVERIFY(button(form, "Command4")->isEnabled());
        QCOMPARE(form.focusWidget(), control(form, "Command2"));
        QCOMPARE(scripted().picker->prompt2, folder.toLower());

        chooseFolder(QStringLiteral("/"));
        QCOMPARE(form.state().ListFilePath, QStringLiteral("/Kestrix.txt"));
    }

    void fileListCommand_data() {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<std::optional<quint64>>("freeKiB");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("inside"); // the folder chosen, below the scratch folder
        QTest::addColumn<bool>("diskHangs");
        const QString chosen = QStringLiteral("/srv/Reports/My List.TXT");
        QTest::newRow("confirmed") << std::optional(chosen) << std::optional<quint64>(5000)
                                   << chosen << "" << QByteArray() << false;
        QTest::newRow("cancelled") << std::optional<QString>() << std::optional<quint64>(5000) << ""
                                   << "" << QByteArray() << false;
        QTest::newRow("read-only") << std::optional(chosen) << std::optional<quint64>(0) << ""
                                   << "Read-only drive, pick another" << QByteArray() << false;
        QTest::newRow("999 KiB free") << std::optional(chosen) << std::optional<quint64>(999) << ""
                                      << "Read-only drive, pick another" << QByteArray() << false;
        QTest::newRow("1000 KiB free") << std::optional(chosen) << std::optional<quint64>(1000)
                                       << chosen << "" << QByteArray() << false;
        QTest::newRow("free space unknown") << std::optional(chosen) << std::optional<quint64>()
                                            << chosen << "" << QByteArray() << false;
        // Asked again after the box; the second time cancelled.
        QTest::newRow("free space never comes")
            << std::optional(chosen) << std::optional<quint64>(5000) << ""
            << "/srv/Reports does not answer." << QByteArray() << true;
        // The dialog starts in the nearest folder it can name.
        QTest::newRow("folder name not UTF-8")
            << std::optional(chosen) << std::optional<quint64>(5000) << chosen << ""
            << QByteArray("Bad\xff\xfe/Sub") << false;
    }
    void fileListCommand() {
        QFETCH(std::optional<QString>, answer);
        QFETCH(std::optional<quint64>, freeKiB);
        QFETCH(QString, path);
        QFETCH(QString, message);
        QFETCH(QByteArray, inside);
        QFETCH(bool, diskHangs);
        Form1& form = open();
        const QByteArray top = QFile::encodeName(scratch.path());
        const QByteArray folder = inside.isEmpty() ? top : top + '/' + inside;
        const QByteArray parent = folder.left(folder.lastIndexOf('/'));
        if (!inside.isEmpty()) // out of QDir's reach, and so of the scratch's clean-up
            QVERIFY(::mkdir(parent.constData(), 0700) == 0 &&
                    ::mkdir(folder.constData(), 0700) == 0);
        const auto removing = qScopeGuard([&] {
            if (!inside.isEmpty() && ::rmdir(folder.constData()) == 0)
                ::rmdir(parent.constData());
        });
        scripted().picker->answers.push_back(folder);
        button(form, "Command1")->click();
        // An earlier choice, which a failure must not leave behind.
        scripted().saveDialog->answers = {scratch.filePath(QStringLiteral("earlier.txt")), answer};
        button(form, "Command2")->click();
        scripted().diskInfo->freeKiB = freeKiB;
        scripted().diskInfo->hangs = diskHangs;
        const auto releasing =
            qScopeGuard([disk = scripted().diskInfo] { disk->released.release(); });
        button(form, "Command2")->click();
        const SaveDialogRequest& asked = scripted().saveDialog->requests.back();
        QCOMPARE(asked.title, QStringLiteral("Kestrix save"));
        QCOMPARE(asked.filter, QStringLiteral("*.txt (*.txt)"));
        QCOMPARE(asked.initialFolder, scratch.path());
        QCOMPARE(asked.fileName, QStringLiteral("Kestrix.txt"));
        QVERIFY(asked.promptBeforeReplacing && asked.promptBeforeCreating);
        QCOMPARE(form.state().ListFilePath, path);
        QCOMPARE(form.state().ViewFilePath, path);
        if (answer && freeKiB && !diskHangs)
            QCOMPARE(scripted().diskInfo->asked.back(), QStringLiteral("/srv/Reports"));
        QCOMPARE(scripted().messages->shown.size(), message.isEmpty() ? 0u : 1u);
        if (!message.isEmpty()) {
            QCOMPARE(scripted().messages->shown[0].text, message);
            QCOMPARE(scripted().messages->shown[0].style, 16);
            QCOMPARE(scripted().messages->shown[0].title, QStringLiteral("Kestrix error"));
        }
    }

    // The window writes what the command-line tool writes for the same folder and mode.
    void wholeRunMatchesKestrixList_data() {
        QTest::addColumn<bool>("withSubs");
        QTest::newRow("no subs") << false;
        QTest::newRow("with subs") << true;
    }
    void wholeRunMatchesKestrixList() {
        QFETCH(bool, withSubs);
        Form1& form = open();
        const QString tree = scratch.filePath(QStringLiteral("Tree"));
        makeTree(tree, 5);
        const QString listFolder = scratch.filePath(QStringLiteral("Reports/Lists"));
        QDir().mkpath(listFolder);
        const QString listFile = listFolder + QStringLiteral("/Run.TXT");

        chooseFolder(tree);
        control<QLineEdit>(form, "Text1")->setText(QStringLiteral("Backup set 3"));
        if (withSubs)
            item(form, "nosubdir")->trigger();
        scripted().saveDialog->answers.push_back(listFile);
        button(form, "Command4")->click();
        WAIT_FOR_RUN_END(form);

        const QByteArray expected = kestrixList(tree, withSubs, QStringLiteral("Backup set 3"),
                                                scratch.filePath(QStringLiteral("cli.txt")));
        QCOMPARE(readAll(listFile), expected);
        QCOMPARE(caption("SSPanel1"), QStringLiteral("- Done -"));
        QCOMPARE(control<ThreeDPanel>(form, "SSPanel1")->alignmentCode(), 7);
        QCOMPARE(button(form, "Command4")->text(), QStringLiteral("&Make list"));
        QVERIFY(button(form, "Command1")->isEnabled() && button(form, "Command6")->isEnabled());
        QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(form.state().ListFilePath.isEmpty());
        QCOMPARE(form.state().ViewFilePath, listFile);
        QVERIFY(!form.state().RunActive() && !form.state().AbortRequested());
        QVERIFY(scripted().messages->shown.empty());
    }

    // Abort while the tree is read: Make list turns back at once, and a second click
    // while the stopped run finishes starts nothing.
    void abortInTheMiddleOfAWithSubsRun() {
        Form1& form = open();
        const QString tree = scratch.filePath(QStringLiteral("Big"));
        makeTree(tree, 40);
        chooseFolder(tree);
        item(form, "nosubdir")->trigger();
        const QString listFile = scratch.filePath(QStringLiteral("aborted.txt"));
        scripted().saveDialog->answers.push_back(listFile);
        holdRuns();

        button(form, "Command4")->click();
        QTest::qWait(50); // the folder it is at shows meanwhile
        QCOMPARE(button(form, "Command4")->text(), QStringLiteral("&Abort"));
        QVERIFY(!button(form, "Command1")->isEnabled() && !button(form, "Command6")->isEnabled());
        QCOMPARE(form.cursor().shape(), Qt::WaitCursor);
        QCOMPARE(caption("SSPanel1"), tree.toLower() + u'/');
        button(form, "Command4")->click();
        QCOMPARE(button(form, "Command4")->text(), QStringLiteral("&Make list"));
        QVERIFY(form.state().AbortRequested());
        button(form, "Command4")->click();
        WAIT_FOR_RUN_END(form);

        QCOMPARE(scripted().saveDialog->requests.size(), 1u);
        QCOMPARE(caption("SSPanel1"), QStringLiteral("- Done -"));
        QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(button(form, "Command1")->isEnabled() && button(form, "Command6")->isEnabled());
        const QList<QByteArray> list = lines(readAll(listFile));
        QCOMPARE(list.size(), 9); // the header, no folder line, the rule and the total
        QVERIFY(list.value(7).trimmed().startsWith("---"));
        QCOMPARE(list.value(8).trimmed(), QByteArray("0"));
    }

    // While a run works, the folder and file commands wait: the focus rests on the File
    // list button, and an Enter there must not open a dialog over the walk.
    void folderAndFileCommandsWaitForTheRun() {
        Form1& form = open();
        makeTree(scratch.filePath(QStringLiteral("T")), 5);
        chooseFolder(scratch.filePath(QStringLiteral("T")));
        const QString listFile = scratch.filePath(QStringLiteral("list.txt"));
        scripted().saveDialog->answers = {listFile, std::nullopt};
        scripted().picker->answers.push_back(QFile::encodeName(scratch.path()));
        const std::shared_ptr<HeldFileSystem> held = holdRuns();
        button(form, "Command4")->click();
        QTest::keyClick(control(form, "Command2"), Qt::Key_Return);
        item(form, "browse")->trigger();
        held->released = true;
        WAIT_FOR_RUN_END(form);
        QCOMPARE(scripted().saveDialog->requests.size(), 1u);
        QCOMPARE(scripted().picker->shown, 1);
        QCOMPARE(form.state().ViewFilePath, listFile);
        QCOMPARE(caption("SSPanel1"), QStringLiteral("- Done -"));
    }

    // The box has told the user; the run then finishes as after a cancelled dialog.
    void refusedDriveEndsTheRunUnwritten() {
        Form1& form = open();
        chooseFolder(scratch.path());
        scripted().saveDialog->answers.push_back(scratch.filePath(QStringLiteral("refused.txt")));
        scripted().diskInfo->freeKiB = 0;
        button(form, "Command4")->click();
        QCOMPARE(scripted().messages->shown.size(), 1u);
        QCOMPARE(caption("SSPanel1"), QStringLiteral("- Done -"));
        QVERIFY(!QFile::exists(scratch.filePath(QStringLiteral("refused.txt"))));
    }

    void cancelledSaveDialogWritesNothing() {
        Form1& form = open();
        chooseFolder(scratch.path());
        button(form, "Command4")->click(); // the script has no answer: Cancel
        QVERIFY(!QFile::exists(scratch.filePath(QStringLiteral("Kestrix.txt"))));
        QVERIFY(button(form, "Command6")->isEnabled());
        QCOMPARE(caption("SSPanel1"), QStringLiteral("- Done -"));
        QVERIFY(form.state().ListFilePath.isEmpty() && form.state().ViewFilePath.isEmpty());
    }

    void listFileFailuresAreReportedNotPassedOffAsDone_data() {
        QTest::addColumn<QString>("listFile");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("fileSizeLimit"); // 0: none
        QTest::newRow("cannot be created") << "/nonexistent/Kestrix.txt"
                                           << "- List not written -"
                                           << "could not be created" << 0;
        QTest::newRow("not a file") << "/dev/full"
                                    << "- List not written -"
                                    << "not a regular file" << 0;
        // A write cut short, as on a disk that fills up: the system's reason is given.
        QTest::newRow("write cut short") << scratch.filePath("short.txt") << "- List incomplete -"
                                         << QString::fromLocal8Bit(strerror(EFBIG)) << 500;
    }
    void listFileFailuresAreReportedNotPassedOffAsDone() {
        QFETCH(QString, listFile);
        QFETCH(QString, status);
        QFETCH(QString, reason);
        QFETCH(int, fileSizeLimit);
        Form1& form = open();
        makeTree(scratch.path(), 3);
        chooseFolder(scratch.path());
        scripted().saveDialog->answers.push_back(listFile);
        rlimit unlimited{};
        ::getrlimit(RLIMIT_FSIZE, &unlimited);
        const rlimit limit{rlim_t(fileSizeLimit), unlimited.rlim_max};
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        if (fileSizeLimit)
            ::setrlimit(RLIMIT_FSIZE, &limit);
        button(form, "Command4")->click();
        WAIT_FOR_RUN_END(form);
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        ::signal(SIGXFSZ, oldHandler);
        QCOMPARE(caption("SSPanel1"), status);
        QCOMPARE(scripted().messages->shown.size(), 1u);
        const ShownMessage& shown = scripted().messages->shown[0];
        QCOMPARE(shown.title, QStringLiteral("Kestrix error"));
        QCOMPARE(shown.style, 16);
        QVERIFY2(shown.text.contains(listFile) && shown.text.contains(reason),
                 qPrintable(shown.text));
        QCOMPARE(button(form, "Command4")->text(), QStringLiteral("&Make list"));
    }

    // Closed in the middle of a run: the run ends its list where it is, leaves what it
    // wrote and never brings the window back.
    void closingDuringARun() {
        Form1& form = open();
        makeTree(scratch.filePath(QStringLiteral("T")), 30);
        chooseFolder(scratch.filePath(QStringLiteral("T")));
        item(form, "nosubdir")->trigger();
        const QString listFile = scratch.filePath(QStringLiteral("closed.txt"));
        scripted().saveDialog->answers.push_back(listFile);
        holdRuns();
        button(form, "Command4")->click();
        QTest::qWait(50);
        item(form, "exit")->trigger();
        WAIT_FOR_RUN_END(form);

        QVERIFY(form.unloaded());
        QVERIFY(!form.isVisible());
        QVERIFY(scripted().messages->shown.empty());
        const QByteArray written = readAll(listFile);
        QVERIFY(written.contains(" Path - "));
        QVERIFY(!written.contains("---------------"));
    }

    // The right-click menu and the About click, idle and in the middle of a run.
    void rightClicksAndTheInitialsPanel() {
        Form1& form = open();
        const struct {
            const char* name;
            QPoint at; // a point clear of the controls inside
            bool popsUp;
        } targets[] = {
            {"centralwidget", {100, 139}, true},
            {"Frame1", {5, 90}, true},
            {"Label1", {}, true},
            {"Label2", {}, true},
            {"SSPanel1", {}, true},
            {"SSPanel2", {}, true},
            {"Text1", {}, false},
            {"Command1", {}, false},
        };
        for (const auto& target : targets)
            QVERIFY2(popsUpFileMenu(control(form, target.name), Qt::RightButton, target.at) ==
                         target.popsUp,
                     target.name);
        for (Qt::MouseButton other : {Qt::LeftButton, Qt::MiddleButton})
            QVERIFY(!popsUpFileMenu(control(form, "SSPanel2"), other));
        QCOMPARE(scripted().sound->played.size(), 2); // About, for each of those clicks

        makeTree(scratch.filePath(QStringLiteral("T")), 30);
        chooseFolder(scratch.filePath(QStringLiteral("T")));
        const QString listFile = scratch.filePath(QStringLiteral("during.txt"));
        scripted().saveDialog->answers.push_back(listFile);
        holdRuns();
        QTest::keyClick(&form, Qt::Key_Escape); // starts it
        QVERIFY(form.state().RunActive());
        for (const auto& target : targets)
            QVERIFY2(!popsUpFileMenu(control(form, target.name), Qt::RightButton, target.at),
                     target.name);
        QVERIFY(!popsUpFileMenu(control(form, "SSPanel2"), Qt::LeftButton));
        QTest::keyClick(&form, Qt::Key_Escape); // aborts the run
        WAIT_FOR_RUN_END(form);
        QCOMPARE(scripted().saveDialog->requests.size(), 1u);
        QCOMPARE(scripted().sound->played.size(), 2);
        QCOMPARE(caption("SSPanel1"), QStringLiteral("- Done -"));
        const int folderLines = lines(readAll(listFile)).size() - 9;
        QCOMPARE(folderLines, 0);

        QTest::mouseMove(control(form, "Label2"));
        QCOMPARE(control(form, "Label2")->toolTip(),
                 scratch.filePath(QStringLiteral("T")).toLower());
    }

    // View list, Contents and the web page commands start the desktop's opener (here a
    // stand-in that records its arguments) with one argument, never through a shell.
    void outsideProgramsGetOneArgumentAndOnlyOrdinaryFiles() {
        QDir here(scratch.path());
        QVERIFY(here.mkpath(QStringLiteral("bin")) && here.mkpath(QStringLiteral("my lists")) &&
                here.mkpath(QStringLiteral("program")) && here.mkpath(QStringLiteral("nothing")));
        const QString record = here.filePath(QStringLiteral("opened"));
        const QString opener = here.filePath(QStringLiteral("bin/xdg-open"));
        {
            QFile script(opener);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + record.toUtf8() + "'\n");
        }
        QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        auto restorePath = qScopeGuard([&] { qputenv("PATH", path); });
        const QString previousFolder = QDir::currentPath();
        QDir::setCurrent(here.filePath(QStringLiteral("my lists")));
        auto restoreFolder = qScopeGuard([&] { QDir::setCurrent(previousFolder); });

        const QString strange = here.filePath(QStringLiteral("my lists/$(touch x); \"q\" 's.txt"));
        const QString hidden = here.filePath(QStringLiteral("my lists/.list.txt"));
        const QString gone = here.filePath(QStringLiteral("my lists/gone.txt"));
        const QString program = here.filePath(QStringLiteral("program"));
        for (const QString& file : {strange, hidden, gone, program + "/Contents.txt"}) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(here.mkpath(QStringLiteral("nothing/Contents.txt"))); // a folder
        const QString web = QStringLiteral("https://kestrix.example.org/");

        const struct {
            const char* what;
            const char* command;
            QString listFile; // chosen with File list first, when not empty
            QString programFolder;
            bool hasOpener;
            QString expected; // what the opener got; empty: it must not run
        } cases[] = {
            {"first start", "viewl", {}, {}, true, {}},
            {"strange name", "viewl", strange, {}, true, QUrl::fromLocalFile(strange).toString()},
            {"hidden", "viewl", hidden, {}, true, {}},
            {"deleted", "viewl", gone, {}, true, {}},
            {"contents",
             "contents",
             {},
             program,
             true,
             QUrl::fromLocalFile(program).toString() + "/Contents.txt"},
            {"contents absent", "contents", {}, scratch.path() + "/my lists", true, {}},
            {"contents a folder", "contents", {}, here.filePath("nothing"), true, {}},
            {"email", "email", {}, {}, true, web},
            {"web", "web", {}, {}, true, web},
            {"no opener", "viewl", strange, {}, false, {}},
        };
        for (const auto& c : cases) {
            QFile::remove(record);
            qputenv("PATH", QFile::encodeName(here.filePath(c.hasOpener ? "bin" : "nothing")));
            Form1& form = open(c.programFolder);
            if (!c.listFile.isEmpty()) {
                scripted().saveDialog->answers.push_back(c.listFile);
                button(form, "Command2")->click();
            }
            if (c.listFile == gone)
                QFile::remove(gone);
            item(form, c.command)->trigger();
            if (c.expected.isEmpty()) {
                QTest::qWait(200); // long enough for a wrongly started opener to show up
                QVERIFY2(!QFile::exists(record), c.what);
            } else {
                QTRY_VERIFY2(QFile::exists(record) && QFile(record).size() > 0, c.what);
                QFile got(record);
                QVERIFY(got.open(QIODevice::ReadOnly));
                const QList<QByteArray> arguments = lines(got.readAll());
                QCOMPARE(arguments.value(0), "1");
                QCOMPARE(QUrl(QString::fromUtf8(arguments.value(1))).toString(), c.expected);
            }
            QCOMPARE(scripted().messages->shown.size(), size_t(c.hasOpener ? 0 : 1));
            if (!c.hasOpener)
                QCOMPARE(scripted().messages->shown[0].title, QStringLiteral("Kestrix error"));
            if (qstrcmp(c.command, "viewl") == 0)
                QCOMPARE(form.focusWidget(), control(form, "Command2"));
        }
        QVERIFY(!QFile::exists(here.filePath(QStringLiteral("my lists/x"))));
    }

    // The real folder picker and save dialog, answered through their own widgets. They
    // leave the keyboard with the window and no settings behind. Any folder can be picked,
    // as the system names it, and the picker stays on the screen.
    void realDialogs_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << QByteArray("Picked Folder") << "picked folder";
        QTest::newRow("not UTF-8") << QByteArray("Caf\xe9 \xff") << "caf\uFFFD \uFFFD";
        QTest::newRow("line break") << QByteArray("Two\nLines") << "two?lines";
        QTest::newRow("240 letters") << QByteArray(240, 'W') << QString(240, u'w');
    }
    void realDialogs() {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);
        QDir settings(scratch.filePath(QStringLiteral("config")));
        QVERIFY(settings.removeRecursively());
        Form1 form(createOutsideControls());
        form.Form_Load();
        const QByteArray folder = QFile::encodeName(scratch.path()) + '/' + name;
        QVERIFY(::mkdir(folder.constData(), 0700) == 0);
        // A name that does not decode is out of QDir's reach, and so of the scratch's clean-up.
        const auto removing = qScopeGuard([&folder] { ::rmdir(folder.constData()); });
        const QString folderShown = scratch.path().toLower() + u'/' + shown;
        QString prompt2;
        int width = 0;
        QTimer::singleShot(0, &form, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            // A failed check must not leave the modal loop waiting for ever.
            auto closeOnFailure = qScopeGuard([dialog] { dialog->reject(); });
            auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("folders"));
            auto* prompt2Label = dialog->findChild<QLabel*>(QStringLiteral("prompt2"));
            QVERIFY(tree && prompt2Label);
            QModelIndex at = tree->model()->index(0, 0); // the root
            QByteArray reached;
            for (const QByteArray& part : folder.mid(1).split('/')) {
                reached += '/' + part;
                tree->expand(at);
                QModelIndexList found;
                QTRY_VERIFY2(
                    !(found = tree->model()->match(tree->model()->index(0, 0, at), Qt::UserRole,
                                                   reached, 1, Qt::MatchExactly))
                         .isEmpty(),
                    reached.constData());
                at = found[0];
            }
            tree->setCurrentIndex(at);
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            prompt2 = prompt2Label->toolTip();
            QVERIFY(!prompt2Label->text().contains(u'\n'));
            width = dialog->frameGeometry().width();
            closeOnFailure.dismiss();
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        button(form, "Command1")->click();
        QCOMPARE(prompt2, folderShown);
        QVERIFY(width <= form.screen()->availableSize().width());
        QCOMPARE(form.state().ListFolder, folder);
        QCOMPARE(control<QLabel>(form, "Label2")->text(), folderShown);
        QCOMPARE(control<ThreeDPanel>(form, "SSPanel1")->caption(), folderShown);
        if (name != "Picked Folder")
            return;
        const QString folderName = QFile::decodeName(folder);

        const QString listFile = folderName + QStringLiteral("/New List.txt");
        bool askedToCreate = false;
        QTimer::singleShot(0, &form, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            auto closeOnFailure = qScopeGuard([dialog] { dialog->reject(); });
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Kestrix save"));
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            // The name is looked up on a thread of the dialog's own: the question follows.
            auto* answering = new QTimer(dialog);
            QObject::connect(answering, &QTimer::timeout, dialog, [&, answering] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box)
                    return;
                answering->stop();
                askedToCreate = box->text().contains(QStringLiteral("Create the file?"));
                box->button(QMessageBox::Yes)->click();
            });
            answering->start(10);
            name->setText(QStringLiteral("New List.txt"));
            closeOnFailure.dismiss();
            dialog->accept();
        });
        button(form, "Command2")->click();
        QVERIFY(askedToCreate);
        QCOMPARE(form.state().ListFilePath, listFile);
        QCOMPARE(form.state().ViewFilePath, listFile);
        QTRY_COMPARE(QApplication::activeWindow(), &form);
        QVERIFY(!settings.exists());
    }

    void panelAlignmentCodes() {
        ThreeDPanel panel;
        const Qt::Alignment expected[] = {
            Qt::AlignLeft | Qt::AlignTop,      Qt::AlignLeft | Qt::AlignVCenter,
            Qt::AlignLeft | Qt::AlignBottom,   Qt::AlignRight | Qt::AlignTop,
            Qt::AlignRight | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignBottom,
            Qt::AlignHCenter | Qt::AlignTop,   Qt::AlignHCenter | Qt::AlignVCenter,
            Qt::AlignHCenter | Qt::AlignBottom};
        for (int code = 0; code <= 8; ++code) {
            panel.setAlignmentCode(code);
            QCOMPARE(panel.captionAlignment(), expected[code]);
        }
        panel.setAlignmentCode(9); // not a code: left as it was
        QCOMPARE(panel.alignmentCode(), 8);
        panel.setCaption(QStringLiteral("/tmp/two\nlines\t"));
        QCOMPARE(panel.caption(), QStringLiteral("/tmp/two?lines?"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
