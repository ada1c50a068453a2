// kestrix-list's progress line on a terminal. The tool's standard error is the far end
// of a pseudo-terminal here, since QProcess only gives pipes.
#include <QByteArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TerminalRun {
    int exitCode = -1;
    QByteArray terminal; // what reached the terminal
};

TerminalRun runOnTerminal(const QByteArray& folder, const QByteArray& listFile) {
    TerminalRun run;
    int master = -1;
    int slave = -1;
    winsize wide = {};
    wide.ws_col = 1000; // room for the whole path
    wide.ws_row = 24;
    if (::openpty(&master, &slave, nullptr, nullptr, &wide) != 0)
        return run;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(slave, STDERR_FILENO);
        ::close(master);
        ::close(slave);
        ::execl(KESTRIX_LIST_BINARY, "kestrix-list", "--with-subs", "-o", listFile.constData(),
                folder.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(slave);
    char buffer[4096];
    while (true) {
        pollfd fd = {master, POLLIN, 0};
        if (::poll(&fd, 1, 20000) <= 0)
            break;
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            break; // EIO once the tool has ended and closed its end
        run.terminal.append(buffer, got);
    }
    ::close(master);
    int status = 0;
    if (::waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

TEST(CliTerminal, ShowsTheFolderOnOneLineAndClearsIt) {
    QTemporaryDir dir;
    // The first folder is always shown; its name would break the line if let through.
    const QByteArray top = QFile::encodeName(dir.path()) + "/Two\nLines";
    ASSERT_EQ(::mkdir(top.constData(), 0755), 0);
    ASSERT_EQ(::mkdir((top + "/Inner").constData(), 0755), 0);

    const TerminalRun run = runOnTerminal(top, QFile::encodeName(dir.filePath("list.txt")));

    ASSERT_EQ(run.exitCode, 0) << run.terminal.constData();
    const QByteArray shown = "\r" + QFile::encodeName(dir.path()).toLower() + "/two?lines/\x1b[K";
    EXPECT_TRUE(run.terminal.startsWith(shown)) << run.terminal.toStdString();
    EXPECT_TRUE(run.terminal.endsWith("\r\x1b[K")) << run.terminal.toStdString();
    EXPECT_FALSE(run.terminal.contains('\n'));
}

} // namespace
