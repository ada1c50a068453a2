#include "cli/terminalhost.h"
#include "fakefilesystem.h"
#include "listing/listingrun.h"
#include "platform/system/interrupt.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
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

struct StopCase {
    const char* name;
    Stop how;
    int signal = 0;
    ListMode mode = ListMode::WithSubs;
    int blockAfter = 0;            // sub-folders listed before the call blocks
    char total = '0';              // the figure on the total line
    bool linesOnDiskFirst = false; // stops only once the lines so far can be read in the file
};
void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

// Ctrl+C as kestrix-list hears it; Abort and closing as the window does them.
class StoppingHost final : public RunHost {
public:
    StoppingHost(const FileSystemInfo& fs, QFile& file, Gate& gate, const StopCase& c)
        : terminal(fs, TerminalHost::ListTarget::File), file_(file), gate_(gate), how_(c.how),
          linesOnDiskFirst_(c.linesOnDiskFirst) {}
    void setStatusText(const QString&) override { shown_ = true; }
    // Stops while the run waits on the blocked call, not at a folder shown.
    bool pumpEvents() override {
        if (!terminal.pumpEvents())
            return false;
        if (std::exchange(shown_, false) || how_ == Stop::Signal || !gate_.isEntered())
            return true;
        if (linesOnDiskFirst_) {
            QFile onDisk(file_.fileName());
            if (!onDisk.open(QIODevice::ReadOnly) || !onDisk.readAll().contains("Share"))
                return true;
        }
        if (how_ == Stop::Close)
            file_.close();
        return false;
    }
    TerminalHost terminal;

private:
    QFile& file_;
    Gate& gate_;
    Stop how_;
    bool linesOnDiskFirst_;
    bool shown_ = false;
};

// The run in a process of its own, as a signal's mark lasts as long as the process.
// Exits 130 when interrupted, 0 when stopped otherwise, 1 when the run did not come back
// while the call was blocked or left the list wrong.
[[noreturn]] void runUntilStopped(const StopCase& c) {
    installInterruptHandler();
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
    QFile file(dir.filePath(QStringLiteral("list.txt")));
    if (!file.open(QIODevice::WriteOnly))
        std::_Exit(1);
    StoppingHost host(*fs, file, *gate, c);
    ListRequest request;
    request.folder = fs->encodePath(QStringLiteral("c:\\slow"));
    request.mode = c.mode;
    ListingRun(fs, host).writeAndClose(file, request);

    const bool cameBackWhileBlocked = !gate->isReleased();
    file.open(QIODevice::ReadOnly);
    const QByteArray list = file.readAll();
    // Closed under the run, the file keeps what stood in it: the header, and no total.
    // Without subs, the folders read before the call blocked keep their lines.
    const QByteArray ending = "---------------\r\n" + QByteArray(95, ' ') + c.total + "\r\n";
    const bool listRight =
        (c.how == Stop::Close ? list.contains(" Path - ") && !list.contains("-----")
                              : list.endsWith(ending)) &&
        list.contains("Share") == (c.blockAfter > 0) && !list.contains("Later");
    if (!cameBackWhileBlocked || !listRight)
        std::_Exit(1);
    std::_Exit(host.terminal.interrupted() ? 130 : 0);
}

class StopWhileACallBlocks : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopWhileACallBlocks, RunEndsAtOnceAndTheCallIsLeftToFinish) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const StopCase& c = GetParam();
    EXPECT_EXIT(runUntilStopped(c), ::testing::ExitedWithCode(c.how == Stop::Signal ? 130 : 0), "");
}

INSTANTIATE_TEST_SUITE_P(Stops, StopWhileACallBlocks,
                         ::testing::Values(StopCase{"Abort", Stop::Abort},
                                           StopCase{"Close", Stop::Close},
                                           StopCase{"Sigint", Stop::Signal, SIGINT},
                                           StopCase{"Sigterm", Stop::Signal, SIGTERM},
                                           StopCase{"Sighup", Stop::Signal, SIGHUP},
                                           StopCase{"AbortKeepsFinishedFolders", Stop::Abort, 0,
                                                    ListMode::NoSubs, 1, '2', true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
