// Start-up through the hidden start window, the refusals, the hand-over to a copy that
// already runs, closing while a run writes, and the About window's thunder.

#include "heldfilesystem.h"
#include "mainwindow/form1.h"
#include "platform/desktop/localinstancelink.h"
#include "pulsetestserver.h"
#include "scripteddialogs.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <future>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QWidget* topLevel(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String(name))
            return widget;
    return nullptr;
}

// Counts the times a widget is shown.
class ShowCounter final : public QObject {
public:
    int shows = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        shows += event->type() == QEvent::Show;
        return false;
    }
};

double soundSeconds(const QString& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return 0;
    sf_close(file);
    return double(info.frames) / info.samplerate;
}

// A socket file with nobody behind it, as a copy that crashed leaves.
void leaveStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    ::close(fd);
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir scratch;

private slots:
    void initTestCase() {
        QVERIFY(scratch.isValid());
        QApplication::setApplicationName(QStringLiteral("Kestrix"));
    }
    void init() { setApplicationTitle(QStringLiteral("Kestrix")); }

    void startsThroughTheHiddenStartWindow() {
        ScriptedControls scripted;
        Form1 form(scripted.handOver());
        ShowCounter counter;
        form.installEventFilter(&counter);
        Form2* start = form.LoadForm2();
        QVERIFY(start);
        QVERIFY(!start->isVisible());
        QVERIFY(form.isVisible());
        QCOMPARE(counter.shows, 1);
        QVERIFY(scripted.sound->played.isEmpty());
        QCOMPARE(scripted.instances->asked, 1);

        // The first About shows that start window; the second has to make a new one, whose
        // load step brings the main window up once more.
        QPointer<Form2> seen;
        bool sameWindow = false;
        scripted.sound->whilePlaying = [&] {
            seen = qobject_cast<Form2*>(topLevel("Form2"));
            QVERIFY(seen && seen->isVisible());
            QCOMPARE(QAccessible::queryAccessibleInterface(seen)->text(QAccessible::Name),
                     "Kestrix");
            QCOMPARE(seen->windowTitle(), "Kestrix"); // not the program's id, for switchers
            sameWindow = seen == start;
        };
        form.hide();
        form.about_Click();
        QVERIFY(sameWindow);
        QVERIFY(!seen); // unloaded as soon as the sound has ended
        QVERIFY(!form.isVisible());
        form.about_Click();
        QVERIFY(form.isVisible());
        QCOMPARE(scripted.sound->played,
                 QStringList(2, QCoreApplication::applicationDirPath() + "/thunder.wav"));
        QVERIFY(!topLevel("Form2"));

        // Where no window manager draws a frame (as here), the About window draws its own.
        QImage picture;
        scripted.sound->whilePlaying = [&] { picture = topLevel("Form2")->grab().toImage(); };
        form.about_Click();
        QCOMPARE(picture.pixel(0, 0), form.palette().color(QPalette::Light).rgb());
        QCOMPARE(picture.pixel(397, 297), form.palette().color(QPalette::Shadow).rgb());
    }

    void refusesAnInstallationInTheRoot_data() {
        QTest::addColumn<QString>("programFolder");
        QTest::addColumn<bool>("starts");
        QTest::newRow("root") << "/" << false;
        QTest::newRow("folder") << "/opt/tools" << true;
    }
    void refusesAnInstallationInTheRoot() {
        QFETCH(QString, programFolder);
        QFETCH(bool, starts);
        ScriptedControls scripted;
        OutsideControls controls = scripted.handOver();
        controls.programFolder = programFolder;
        Form1 form(std::move(controls));
        QCOMPARE(form.LoadForm2() != nullptr, starts);
        QCOMPARE(form.isVisible(), starts);
        QCOMPARE(scripted.messages->shown.size(), size_t(starts ? 0 : 1));
        if (!starts) {
            QCOMPARE(scripted.messages->shown[0].text,
                     "Kestrix can not be run from\na root directory, please reinstall.");
            QCOMPARE(scripted.messages->shown[0].style, 16);
            QCOMPARE(scripted.messages->shown[0].title, "Kestrix error");
            QVERIFY(form.unloaded());
            QVERIFY(!topLevel("Form2"));
            QCOMPARE(scripted.instances->asked, 0);
        }
    }

    // Without a desktop to show on, one line says so, whatever the reason.
    void saysSoWithoutADisplay_data() {
        QTest::addColumn<QString>("display"); // empty: none set
        QTest::addColumn<QString>("says");
        QTest::newRow("none") << ""
                              << "kestrix: no display: Kestrix needs a desktop session";
        QTest::newRow("gone") << ":4711"
                              << "kestrix: cannot connect to display :4711: Kestrix";
    }
    void saysSoWithoutADisplay() {
        QFETCH(QString, display);
        QFETCH(QString, says);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        if (!display.isEmpty())
            environment.insert("DISPLAY", display);
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(KESTRIX_BINARY);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(err.startsWith(says) && err.count('\n') == 1, qPrintable(err));
    }

    void aSecondCopyHandsOverUnderAnotherTitle() {
        for (const bool answered : {true, false}) { // unanswered: the copy starts after all
            setApplicationTitle(QStringLiteral("Kestrix"));
            ScriptedControls scripted;
            scripted.instances->previous = true;
            scripted.instances->answers = answered;
            Form1 form(scripted.handOver());
            QString titleThen;
            scripted.instances->whileAsking = [&] { titleThen = form.windowTitle(); };
            QCOMPARE(form.LoadForm2() == nullptr, answered);
            QCOMPARE(scripted.instances->activated, QStringList("Kestrix"));
            QCOMPARE(titleThen, "... duplicate instance.");
            QCOMPARE(applicationTitle(), answered ? "... duplicate instance." : "Kestrix");
            QCOMPARE(form.isVisible(), !answered);
            QCOMPARE(form.windowTitle() == "... duplicate instance.", answered);
        }
    }

    // The copy already running lives in this process; the second is the real program.
    void aSecondProcessBringsTheFirstForward() {
        const QString folder = scratch.filePath("runtime");
        QVERIFY(QDir().mkpath(folder));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ScriptedControls scripted;
        OutsideControls controls = scripted.handOver();
        auto link = std::make_unique<LocalInstanceLink>(folder);
        LocalInstanceLink& first = *link;
        leaveStaleSocket(first.serverName("Kestrix"));
        controls.instances = std::move(link);
        Form1 form(std::move(controls));
        QVERIFY(form.LoadForm2());
        form.showMinimized();
        QTRY_VERIFY(form.windowState() & Qt::WindowMinimized);

        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", folder);
        second.setProcessEnvironment(environment);
        second.start(KESTRIX_BINARY);
        QSignalSpy finished(&second, &QProcess::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!(form.windowState() & Qt::WindowMinimized));
        QVERIFY(form.isVisible());

        // A copy on another display does not look for this one; one on another screen does.
        const bool hadDisplay = qEnvironmentVariableIsSet("DISPLAY");
        const QByteArray display = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":7.1");
        const QString here = first.serverName("Kestrix");
        qputenv("DISPLAY", ":7.0");
        QCOMPARE(first.serverName("Kestrix"), here);
        qputenv("DISPLAY", ":8");
        QVERIFY(first.serverName("Kestrix") != here);
        hadDisplay ? qputenv("DISPLAY", display) : qunsetenv("DISPLAY");
    }

    // Wherever the runtime folder leaves the socket, a copy hands over only to a copy of
    // its own user, and no peer keeps the server from answering the next copy.
    void handsOverOnlyToItsOwnUser_data() {
        QTest::addColumn<QString>("runtime"); // private, shared, relative or too deep
        QTest::addColumn<QString>("before");  // what happens before the second copy starts
        QTest::addColumn<bool>("handsOver");
        const struct {
            const char *tag, *runtime, *before;
            bool handsOver;
        } rows[] = {{"private", "private", "", true},
                    {"shared", "shared", "", true},
                    {"relative", "relative", "", true},
                    {"too deep", "deep", "", true},
                    {"junk", "private", "junk", true},
                    {"out of descriptors", "private", "burst", true},
                    {"stranger asks", "shared", "stranger asks", true},
                    {"stranger listens", "shared", "stranger listens", true},
                    {"idle crowd", "shared", "idle", true}};
        for (const auto& row : rows)
            QTest::newRow(row.tag) << row.runtime << row.before << row.handsOver;
    }
    void handsOverOnlyToItsOwnUser() {
        QFETCH(QString, runtime);
        QFETCH(QString, before);
        QFETCH(bool, handsOver);
        if (before.startsWith("stranger") && ::geteuid() != 0)
            QSKIP("acting as another user needs root");
        const QString title =
            QStringLiteral("Kestrix %1 %2").arg(::getpid()).arg(QTest::currentDataTag());
        setApplicationTitle(title);
        QString folder = scratch.filePath(runtime);
        if (runtime == "deep")
            folder += '/' + QString(100, u'd');
        QVERIFY(QDir().mkpath(folder));
        if (runtime == "relative")
            folder = QDir::current().relativeFilePath(folder);
        QFile::setPermissions(folder, runtime == "shared"
                                          ? QFile::Permissions(0x7777)
                                          : QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        LocalInstanceLink first(folder), second(folder);
        const QByteArray name = QFile::encodeName(first.serverName(title)).replace('@', '\0');
        QVERIFY(!name.startsWith('\0')); // in a folder of this user's, or of nobody's
        QCOMPARE(name.startsWith(QFile::encodeName(folder)), runtime == "private");
        sockaddr_un address{AF_UNIX, {}};
        memcpy(address.sun_path, name.constData(), name.size());
        const socklen_t length =
            offsetof(sockaddr_un, sun_path) + name.size() + 1 - name.startsWith('\0');
        const auto connectTo = [&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            return ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0
                       ? fd
                       : (::close(fd), -1);
        };
        pid_t stranger = -1;
        if (before.startsWith("stranger") && (stranger = ::fork()) == 0) {
            if (::setresgid(65534, 65534, 65534) == 0 && ::setresuid(65534, 65534, 65534) == 0) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                if (before == "stranger listens")
                    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length), ::listen(fd, 4);
                else if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0)
                    ::write(fd, "come forward\n", 13);
                ::pause();
            }
            ::_exit(1);
        }
        const auto stopStranger = qScopeGuard([stranger] {
            stranger > 0 && ::kill(stranger, SIGKILL) == 0 && ::waitpid(stranger, nullptr, 0);
        });
        if (before == "stranger listens")
            QTest::qWait(200); // the stranger takes the name first
        QCOMPARE(first.PrevInstance(), false);
        QSignalSpy asked(&first, &InstanceLink::comeForwardRequested);
        std::vector<int> held;
        for (const QByteArray& junk : {QByteArray("come forward!\n"), QByteArray("come"),
                                       QByteArray(100000, 'x'), QByteArray("\n")}) {
            if (before == "junk" && held.emplace_back(connectTo()) >= 0)
                ::send(held.back(), junk.constData(), junk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        rlimit limits{};
        ::getrlimit(RLIMIT_NOFILE, &limits);
        const rlimit few{256, limits.rlim_max};
        if (before == "burst" && ::setrlimit(RLIMIT_NOFILE, &few) == 0) {
            for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
                held.push_back(fd);
            if (!held.empty())
                ::close(held.back()), held.pop_back();
            held.push_back(connectTo());
            QTest::qWait(500); // the server meets the limit
            ::setrlimit(RLIMIT_NOFILE, &limits);
        }
        QTest::qWait(300);
        for (const int fd : held)
            ::close(fd);
        // Connections of this user that say nothing stay open while the next copy asks.
        std::vector<int> idle;
        for (int i = 0; before == "idle" && i < 300; ++i) {
            idle.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ::connect(idle.back(), reinterpret_cast<sockaddr*>(&address), length);
        }
        const auto closeIdle = qScopeGuard([&idle] {
            for (const int fd : idle)
                ::close(fd);
        });
        auto handOver = std::async(
            std::launch::async, [&] { return second.PrevInstance() && second.AppActivate(title); });
        QTRY_VERIFY_WITH_TIMEOUT(
            handOver.wait_for(std::chrono::seconds(0)) == std::future_status::ready, 20000);
        QCOMPARE(handOver.get(), handsOver);
        QCOMPARE(asked.size(), handsOver ? 1 : 0);
        QVERIFY(QDir(folder).entryList(QDir::System).size() == (runtime == "private" ? 1 : 0));
    }

    // Ended by the system as by closing it: nothing of it is left in the runtime folder.
    void endsOnASignalAsOnClosing_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void endsOnASignalAsOnClosing() {
        QFETCH(int, signal);
        const QString folder = scratch.filePath(QStringLiteral("signal %1").arg(signal));
        QVERIFY(QDir().mkpath(folder));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", folder);
        program.setProcessEnvironment(environment);
        program.start(KESTRIX_BINARY);
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(folder).entryList(QDir::System).isEmpty(), 20000);
        ::kill(program.processId(), signal);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(QDir(folder).entryList(QDir::System), QStringList());
    }

    // Closed while a run writes: the run stops, the file keeps what it got, the start
    // window goes, and the program's event loop ends.
    void closingDuringARunEndsTheProgram() {
        const QString tree = scratch.filePath("tree");
        for (int i = 0; i < 40; ++i)
            QVERIFY(QDir().mkpath(QStringLiteral("%1/F%2/G").arg(tree).arg(i)));
        const QString listFile = scratch.filePath("closed.txt");
        ScriptedControls scripted;
        scripted.picker->answers.push_back(QFile::encodeName(tree));
        scripted.saveDialog->answers.push_back(listFile);
        bool closed = false;
        QTimer::singleShot(0, [&closed] {
            auto* form = static_cast<Form1*>(topLevel("Form1"));
            QVERIFY(form && form->isVisible() && topLevel("Form2"));
            // The run is still reading the tree when the window closes.
            auto held = std::make_shared<HeldFileSystem>();
            form->setFileSystemSource([held] { return held; });
            form->findChild<QAbstractButton*>("Command1")->click();
            form->findChild<QAbstractButton*>("Command4")->click();
            QTimer::singleShot(50, [form, &closed] {
                QVERIFY(form->state().RunActive());
                form->findChild<QAction*>("exit")->trigger();
                closed = true;
            });
        });
        QTimer watchdog;
        connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(60000);
        QCOMPARE(runKestrix(scripted.handOver()), 0);
        QVERIFY(closed);
        QVERIFY(!topLevel("Form1") && !topLevel("Form2"));
        QFile written(listFile);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray text = written.readAll();
        QVERIFY(text.contains(" Path - "));
        QVERIFY(!text.contains("---------------"));
    }

    // The About window stays up for as long as the sound plays, and a missing thunder
    // gives the desktop's bell.
    void aboutLastsAsLongAsItsSound_data() {
        QTest::addColumn<QString>("programFolder");
        QTest::addColumn<QString>("heard");
        const QString bell = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                    "sounds/freedesktop/stereo/bell.oga");
        QTest::newRow("thunder") << KESTRIX_PROGRAM_FOLDER << KESTRIX_PROGRAM_FOLDER "/thunder.wav";
        QTest::newRow("no thunder") << scratch.path() << bell;
    }
    void aboutLastsAsLongAsItsSound() {
        QFETCH(QString, programFolder);
        QFETCH(QString, heard);
        const double seconds = soundSeconds(heard);
        QVERIFY2(seconds > 0.1, qPrintable(heard));
        PulseTestServer server;
        server.useInThisProcess();
        ScriptedControls scripted;
        OutsideControls controls = scripted.handOver();
        controls.programFolder = programFolder;
        controls.sound = createSoundOutput();
        Form1 form(std::move(controls));
        QVERIFY(form.LoadForm2());
        QElapsedTimer took;
        took.start();
        form.about_Click();
        const double tookSeconds = took.elapsed() / 1000.0;
        QVERIFY(!topLevel("Form2"));
        if (server.running()) {
            qInfo("played through a private sound server: %.2f s for %.2f s of sound", tookSeconds,
                  seconds);
            // Writing alone ends about 5% early: only a drained stream reaches 98%.
            QVERIFY2(tookSeconds >= 0.98 * seconds, qPrintable(QString::number(tookSeconds)));
        } else {
            // No server: the call falls through without waiting for a sound nobody hears.
            qInfo("no sound server (%s): checked only that About falls through (%.2f s)",
                  qPrintable(server.whyNot()), tookSeconds);
        }
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
