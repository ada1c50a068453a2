#include "pulsetestserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int startTimeoutMs = 10000;
constexpr int stopTimeoutMs = 3000;
const QString sinkName = QStringLiteral("kestrix_test");

// "Latency: 1904406 usec, configured 5012 usec" in `pactl list sinks`: what the sink has
// taken and not yet played.
bool shortLatency(const QByteArray& sinks) {
    static const QRegularExpression latency(QStringLiteral("Latency: (\\d+) usec"));
    const QRegularExpressionMatch match = latency.match(QString::fromLatin1(sinks));
    return match.hasMatch() && match.captured(1).toLongLong() < 50000;
}

// A unix socket address holds 107 bytes of path, and a server address cannot have a space
// (it separates alternatives); a TMPDIR that breaks either gives way to /tmp.
QString folderTemplate() {
    const QString name = QStringLiteral("/kestrix-pulse-XXXXXX");
    const QString base = QDir::tempPath();
    const bool usable = (base + name + QStringLiteral("/native")).toLocal8Bit().size() <= 107 &&
                        !base.contains(QRegularExpression(QStringLiteral("[\\s\"']")));
    return (usable ? base : QStringLiteral("/tmp")) + name;
}

// Without this a crashed test would leave the daemon running, holding its folder, for
// ever (it never exits when idle). The signal comes when the starting thread ends.
void dieWithParent(QProcess& process) {
    const pid_t parent = getpid();
    process.setChildProcessModifier([parent] {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
    });
}

void stopProcess(QProcess* process) {
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(stopTimeoutMs)) {
        process->kill();
        process->waitForFinished(-1);
    }
}

} // namespace

PulseTestServer::PulseTestServer() : dir_(folderTemplate()) {
    if (!start()) {
        const QString log = daemonLog().trimmed();
        if (!log.isEmpty())
            whyNot_ += QStringLiteral("\npulseaudio said:\n") + log.right(2000);
        stop();
    }
}

PulseTestServer::~PulseTestServer() {
    stop();
}

bool PulseTestServer::running() const {
    // Without an event loop QProcess learns of an exit only when asked to wait for it.
    return whyNot_.isEmpty() && daemon_ && !daemon_->waitForFinished(0) &&
           daemon_->state() != QProcess::NotRunning;
}

QString PulseTestServer::whyNot() const {
    if (!whyNot_.isEmpty() || running())
        return whyNot_;
    return QStringLiteral("pulseaudio has exited:\n") + daemonLog().trimmed().right(2000);
}

QString PulseTestServer::daemonLog() const {
    QFile file(QDir(dir_.path()).filePath(QStringLiteral("daemon.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

void PulseTestServer::useInThisProcess() const {
    // PULSE_SINK or PULSE_LATENCY_MSEC from the caller's session would change the streams.
    for (const QString& name : QProcessEnvironment::systemEnvironment().keys())
        if (name.startsWith(QLatin1String("PULSE_")))
            qunsetenv(name.toLatin1().constData());
    const QDir dir(dir_.path());
    qputenv("PULSE_SERVER", address_.toLocal8Bit());
    qputenv("PULSE_COOKIE", dir.filePath(QStringLiteral("cookie")).toLocal8Bit());
    qputenv("PULSE_CLIENTCONFIG", dir.filePath(QStringLiteral("client.conf")).toLocal8Bit());
}

bool PulseTestServer::start() {
    if (!dir_.isValid()) {
        whyNot_ = QStringLiteral("no temporary folder: ") + dir_.errorString();
        return false;
    }
    const QDir dir(dir_.path());
    const QString socket = dir.filePath(QStringLiteral("native"));
    // Set even when the daemon is missing: a client sent here fails at once.
    address_ = QStringLiteral("unix:") + socket;

    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    const QString pacat = QStandardPaths::findExecutable(QStringLiteral("pacat"));
    pactl_ = QStandardPaths::findExecutable(QStringLiteral("pactl"));
    if (daemon.isEmpty()) {
        whyNot_ = QStringLiteral("pulseaudio is not installed (not found on PATH)");
        return false;
    }
    if (pacat.isEmpty() || pactl_.isEmpty()) {
        whyNot_ = QStringLiteral("pacat or pactl is not installed (pulseaudio-utils)");
        return false;
    }

    // Everything the daemon and its clients would write goes into the folder.
    for (const char* name : {"home", "config", "runtime"}) {
        if (!dir.mkdir(QLatin1String(name))) {
            whyNot_ = QStringLiteral("cannot make a folder in ") + dir.path();
            return false;
        }
    }
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile clientConfig(dir.filePath(QStringLiteral("client.conf")));
    if (!clientConfig.open(QIODevice::WriteOnly) || clientConfig.write("autospawn = no\n") < 0) {
        whyNot_ = QStringLiteral("cannot write ") + clientConfig.fileName();
        return false;
    }
    clientConfig.close();

    environment_ = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment_.keys())
        if (name.startsWith(QLatin1String("PULSE_")))
            environment_.remove(name);
    environment_.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    environment_.insert(QStringLiteral("PULSE_COOKIE"), dir.filePath(QStringLiteral("cookie")));
    environment_.insert(QStringLiteral("PULSE_CLIENTCONFIG"), clientConfig.fileName());
    // The daemon would otherwise announce itself on the user's session bus, or, with a
    // DISPLAY, launch a bus of its own that outlives it.
    environment_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                        QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("no-bus")));
    environment_.remove(QStringLiteral("DISPLAY"));
    environment_.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment_.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));

    daemon_ = std::make_unique<QProcess>();
    daemon_->setProcessEnvironment(environment_);
    daemon_->setStandardInputFile(QProcess::nullDevice());
    daemon_->setStandardOutputFile(QProcess::nullDevice());
    // A pipe nobody reads would stall the daemon once its log filled it.
    daemon_->setStandardErrorFile(dir.filePath(QStringLiteral("daemon.log")));
    dieWithParent(*daemon_);
    const QStringList daemonArguments{
        // Stay our child, so that we can stop it and see it end.
        QStringLiteral("--daemonize=no"),
        // No default.pa, so no sound cards or saved volumes: only the two modules below.
        QStringLiteral("-n"),
        // It is ours to track, and no pid file goes stale when it is killed.
        QStringLiteral("--use-pid-file=no"),
        // It ends when we end it: not when idle, nor when a client asks.
        QStringLiteral("--exit-idle-time=-1"),
        QStringLiteral("--disallow-exit"),
        // As root it would take real-time scheduling; the same timing for everyone.
        QStringLiteral("--realtime=no"),
        QStringLiteral("--high-priority=no"),
        // Sound goes through the socket: where memfd is missing, shared memory would be
        // files in /dev/shm that a killed daemon leaves behind.
        QStringLiteral("--disable-shm=yes"),
        QStringLiteral("--log-target=stderr"),
        QStringLiteral("-L"),
        QStringLiteral("module-null-sink sink_name=") + sinkName,
        QStringLiteral("-L"),
        QStringLiteral("module-native-protocol-unix socket=\"%1\" auth-anonymous=1 "
                       "auth-cookie-enabled=0")
            .arg(socket),
    };
    daemon_->start(daemon, daemonArguments);
    if (!daemon_->waitForStarted(startTimeoutMs)) {
        whyNot_ = QStringLiteral("pulseaudio did not start: ") + daemon_->errorString();
        return false;
    }

    const QDeadlineTimer deadline(startTimeoutMs);
    const auto anyOutput = [](const QByteArray&) { return true; };
    if (!waitUntil({QStringLiteral("info")}, anyOutput, deadline)) {
        whyNot_ =
            daemon_->state() == QProcess::NotRunning
                ? QStringLiteral("pulseaudio exited at once, with code %1").arg(daemon_->exitCode())
                : QStringLiteral("pulseaudio did not come up at ") + address_;
        return false;
    }

    // Left to itself the null sink plays in blocks of 2 s, and each new stream first waits
    // out the rest of one: a 3 s sound took 4 to 5 s. A low-latency stream of silence keeps
    // the blocks short, so that a sound takes its own length.
    keepAlive_ = std::make_unique<QProcess>();
    keepAlive_->setProcessEnvironment(environment_);
    keepAlive_->setStandardInputFile(QProcess::nullDevice());
    keepAlive_->setStandardOutputFile(QProcess::nullDevice());
    keepAlive_->setStandardErrorFile(dir.filePath(QStringLiteral("keepalive.log")));
    dieWithParent(*keepAlive_);
    const QStringList keepAliveArguments{
        QStringLiteral("--server=") + address_,
        QStringLiteral("--playback"),
        QStringLiteral("--raw"),
        QStringLiteral("--format=s16le"),
        QStringLiteral("--rate=44100"),
        QStringLiteral("--channels=2"),
        QStringLiteral("--latency-msec=20"),
        QStringLiteral("--client-name=kestrix-test-keepalive"),
        QStringLiteral("--stream-name=silence"),
        QStringLiteral("/dev/zero"),
    };
    keepAlive_->start(pacat, keepAliveArguments);
    if (!keepAlive_->waitForStarted(startTimeoutMs)) {
        whyNot_ = QStringLiteral("pacat did not start: ") + keepAlive_->errorString();
        return false;
    }
    const auto sinkRunning = [](const QByteArray& sinks) { return sinks.contains("RUNNING"); };
    if (!waitUntil({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")},
                   sinkRunning, deadline)) {
        QFile log(dir.filePath(QStringLiteral("keepalive.log")));
        whyNot_ = QStringLiteral("the null sink did not start running");
        if (log.open(QIODevice::ReadOnly))
            whyNot_ += QStringLiteral("; pacat said: ") + QString::fromLocal8Bit(log.readAll());
        return false;
    }
    // The sink took its first block at its longest latency, before the keep-alive asked for
    // less; the first stream would wait that out. Restarting the sink drops the block.
    if (!waitUntil({QStringLiteral("suspend-sink"), sinkName, QStringLiteral("1")}, anyOutput,
                   deadline) ||
        !waitUntil({QStringLiteral("suspend-sink"), sinkName, QStringLiteral("0")}, anyOutput,
                   deadline) ||
        !waitUntil({QStringLiteral("list"), QStringLiteral("sinks")}, shortLatency, deadline)) {
        whyNot_ = QStringLiteral("the null sink kept a long latency");
        return false;
    }
    return true;
}

// Runs pactl until it succeeds with an output that `done` accepts, while the daemon (and
// the keep-alive, once there) still run.
bool PulseTestServer::waitUntil(const QStringList& pactlArguments,
                                const std::function<bool(const QByteArray&)>& done,
                                const QDeadlineTimer& deadline) {
    for (;;) {
        for (QProcess* process : {daemon_.get(), keepAlive_.get()})
            if (process &&
                (process->waitForFinished(0) || process->state() == QProcess::NotRunning))
                return false;
        // The daemon carries on without a module it could not load, --fail or not.
        static const QRegularExpression moduleFailed(
            QStringLiteral("Failed to (load|open) module"));
        if (daemonLog().contains(moduleFailed))
            return false;
        QProcess pactl;
        pactl.setProcessEnvironment(environment_);
        pactl.setStandardInputFile(QProcess::nullDevice());
        // "Connection refused" until the socket is there.
        pactl.setStandardErrorFile(QProcess::nullDevice());
        dieWithParent(pactl);
        pactl.start(pactl_, QStringList{QStringLiteral("--server=") + address_} + pactlArguments);
        const bool finished = pactl.waitForFinished(qMax(qint64(1), deadline.remainingTime()));
        if (finished && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0 &&
            done(pactl.readAllStandardOutput()))
            return true;
        if (!finished)
            stopProcess(&pactl);
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
}

void PulseTestServer::stop() {
    // The stream first, so that it never finds its server gone.
    stopProcess(keepAlive_.get());
    stopProcess(daemon_.get());
}
