#pragma once

#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class QProcess;

// A private PulseAudio server with a null sink, for tests that need real, timed playback.
// It runs as a child of the test process, in a temporary folder of its own, and never
// touches the user's sound server, home folder or session bus. Linux only: the children
// are told to die with the thread that created them, so that a crashed test leaves no
// process behind (only its folder).
class PulseTestServer {
public:
    PulseTestServer(); // starts it; never throws
    ~PulseTestServer();
    PulseTestServer(const PulseTestServer&) = delete;
    PulseTestServer& operator=(const PulseTestServer&) = delete;

    bool running() const;
    QString whyNot() const; // why it is not running: not installed, failed to start, died
    QString serverAddress() const { return address_; } // "unix:/tmp/…/native", for PULSE_SERVER

    // Points libpulse in this process at the server: PULSE_SERVER, and a cookie and client
    // configuration inside the server's folder, so that clients write nothing into the home
    // folder. Left set after the server is gone, where connecting fails at once.
    void useInThisProcess() const;

    // What the daemon wrote to stderr, for a failure message.
    QString daemonLog() const;

private:
    bool start();
    bool waitUntil(const QStringList& pactlArguments,
                   const std::function<bool(const QByteArray&)>& done,
                   const QDeadlineTimer& deadline);
    void stop();

    QTemporaryDir dir_;
    QProcessEnvironment environment_;
    QString address_;
    QString pactl_;
    QString whyNot_;
    std::unique_ptr<QProcess> daemon_;
    std::unique_ptr<QProcess> keepAlive_;
};
