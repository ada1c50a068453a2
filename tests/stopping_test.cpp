#include "cli/terminalhost.h"
#include "fakefilesystem.h"
#include "listing/listingjob.h"
#include "platform/system/interrupt.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

// A file-system call that does not come back until it is let go; a long backstop keeps a
// run that waits on it from hanging the suite.
struct Gate {
    void block() {
        std::unique_lock lock(mutex);
        entered = true;
        wake.wait_for(lock, std::chrono::seconds(20), [this] { return released; });
        released = true;
    }
    bool isEntered() {
        const std::lock_guard lock(mutex);
        return entered;
    }
    bool isReleased() {
        const std::lock_guard lock(mutex);
        return released;
    }
    std::mutex mutex;
    std::condition_variable wake;
    bool entered = false;
    bool released = false;
};

enum class Stop { Abort, Close, Signal };
// When the stop comes: before the run starts, while the list file is being opened, or
// once the run waits on the blocked call.
enum class When { BeforeStart, WhileOpening, WhileBlocked };

struct StopCase {
    const char* name;
    Stop how;
    When when = When::WhileBlocked;
    int signal = 0;
    ListMode mode = ListMode::WithSubs;
    int blockAfter = 0;            // sub-folders listed before the call blocks
    char total = '0';              // the figure on the total line
    bool linesOnDiskFirst = false; // stops only once the lines so far can be read in the file
};
void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

bool linesOnDisk(const QString& path) {
    QFile onDisk(path);
    return onDisk.open(QIODevice::ReadOnly) && onDisk.readAll().contains("Share");
}

// The run in a process of its own, as a signal's mark lasts as long as the process; Abort
// and closing asked for as the window asks, Ctrl+C heard as kestrix-list hears it. Exits
// 130 when interrupted, 0 when stopped otherwise, 1 when the run did not end while the
// call was blocked or left the list wrong.
[[noreturn]] void runUntilStopped(const StopCase& c) {
    installInterruptHandler();
    int argc = 1;
    char name[] = "stopping_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    auto gate = std::make_shared<Gate>();
    auto fs = std::make_shared<FakeFileSystem>();
    fs->addFolder(QStringLiteral("c:\\slow"), 1);
    fs->addFolder(QStringLiteral("c:\\slow\\share"), 2);
    fs->addFolder(QStringLiteral("c:\\slow\\later"), 3);
    fs->onScan = [gate, c](int listed) {
        if (listed != c.blockAfter)
            return;
        if (c.how == Stop::Signal)
            ::kill(::getpid(), c.signal);
        gate->block();
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.txt"));
    TerminalHost terminal(*fs, TerminalHost::ListTarget::File);
    QEventLoop loop;
    std::optional<ListingJob::End> ended;
    ListingJob::Reports reports;
    reports.ended = [&](const ListingJob::End& end) {
        ended = end;
        loop.quit();
    };
    ListingJob job(&loop, std::move(reports));
    const ListingJob::Stop how =
        c.how == Stop::Close ? ListingJob::Stop::Close : ListingJob::Stop::Abort;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!terminal.poll())
            job.stop(ListingJob::Stop::Abort);
        else if (c.how != Stop::Signal && c.when != When::BeforeStart &&
                 (c.when == When::WhileOpening || gate->isEntered()) &&
                 (!c.linesOnDiskFirst || linesOnDisk(path)))
            job.stop(how);
    });
    poll.start(5);
    QTimer::singleShot(std::chrono::seconds(20), &loop, [] { std::_Exit(1); });
    ListRequest request;
    request.folder = fs->encodePath(QStringLiteral("c:\\slow"));
    request.mode = c.mode;
    if (c.when == When::BeforeStart)
        job.stop(how);
    job.start(fs, request, [&c, path](std::stop_token stop) {
        ListingJob::Opened opened;
        if (c.when == When::WhileOpening) {
            // A list file's folder that never answers.
            while (!stop.stop_requested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return opened;
        }
        auto file = std::make_shared<QFile>(path);
        if (file->open(QIODevice::WriteOnly))
            opened.file = file;
        return opened;
    });
    loop.exec();

    const bool cameBackWhileBlocked = !gate->isReleased();
    QFile file(path);
    const bool exists = file.open(QIODevice::ReadOnly);
    const QByteArray list = file.readAll();
    // Closed, the file keeps what stood in it: the header and the lines finished, and no
    // total. Without subs, the folders read before the call blocked keep their lines.
    const QByteArray ending = "---------------\r\n" + QByteArray(95, ' ') + c.total + "\r\n";
    const bool listRight =
        c.when == When::WhileOpening
            ? !ended->fileHad && !exists
            : ended->fileHad && ended->outcome.status == ListOutcome::Status::Written &&
                  (c.how == Stop::Close ? list.contains(" Path - ") && !list.contains("-----")
                                        : list.endsWith(ending)) &&
                  list.contains("Share") == (c.blockAfter > 0) && !list.contains("Later");
    if (!cameBackWhileBlocked || !listRight)
        std::_Exit(1);
    std::_Exit(terminal.interrupted() ? 130 : 0);
}

class StopWhileACallBlocks : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopWhileACallBlocks, RunEndsAtOnceAndTheCallIsLeftToFinish) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const StopCase& c = GetParam();
    EXPECT_EXIT(runUntilStopped(c), ::testing::ExitedWithCode(c.how == Stop::Signal ? 130 : 0), "");
}

INSTANTIATE_TEST_SUITE_P(
    Stops, StopWhileACallBlocks,
    ::testing::Values(StopCase{"BeforeTheFirstFolder", Stop::Abort, When::BeforeStart, 0,
                               ListMode::WithSubs, -1},
                      StopCase{"WhileTheFileOpens", Stop::Abort, When::WhileOpening},
                      StopCase{"Abort", Stop::Abort}, StopCase{"Close", Stop::Close},
                      StopCase{"Sigint", Stop::Signal, When::WhileBlocked, SIGINT},
                      StopCase{"Sigterm", Stop::Signal, When::WhileBlocked, SIGTERM},
                      StopCase{"Sighup", Stop::Signal, When::WhileBlocked, SIGHUP},
                      StopCase{"AbortKeepsFinishedFolders", Stop::Abort, When::WhileBlocked, 0,
                               ListMode::NoSubs, 1, '2', true},
                      StopCase{"CloseKeepsFinishedFolders", Stop::Close, When::WhileBlocked, 0,
                               ListMode::NoSubs, 1, '2', true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
