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

// Without `listFile`, the list goes through a pipe to the same terminal, as through a pager.
TerminalRun runOnTerminal(const QByteArray& folder, const QByteArray& listFile,
                          unsigned short columns = 1000) { // by default room for the whole path
    TerminalRun run;
    int master = -1;
    int slave = -1;
    winsize wide = {};
    wide.ws_col = columns;
    wide.ws_row = 24;
    int list[2] = {-1, -1};
    if (::openpty(&master, &slave, nullptr, nullptr, &wide) != 0 || ::pipe(list) != 0)
        return run;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(slave, STDERR_FILENO);
        ::dup2(list[1], STDOUT_FILENO);
        ::close(master);
        ::close(slave);
        const char* to[] = {"-o", listFile.constData()};
        ::execl(KESTRIX_LIST_BINARY, "kestrix-list", "--with-subs", folder.constData(),
                listFile.isEmpty() ? nullptr : to[0], to[1], static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(list[1]);
    char buffer[4096];
    int open[2] = {master, list[0]};
    while (open[0] >= 0) {
        pollfd fds[2] = {{open[0], POLLIN, 0}, {open[1], POLLIN, 0}};
        if (::poll(fds, 2, 20000) <= 0)
            break;
        const int from = fds[0].revents ? 0 : 1;
        const ssize_t got = ::read(open[from], buffer, sizeof buffer);
        if (got > 0 && from == 0) {
            run.terminal.append(buffer, got);
        } else if (got > 0) {
            EXPECT_EQ(::write(slave, buffer, std::size_t(got)), got); // the pager's part
        } else {
            open[from] = -1; // EIO once the tool has ended and no one else has the terminal
            if (from == 1)
                ::close(slave);
        }
    }
    ::close(master);
    ::close(list[0]);
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

    for (const QByteArray& listFile : {QFile::encodeName(dir.filePath("list.txt")), QByteArray()}) {
        const TerminalRun run = runOnTerminal(top, listFile);

        ASSERT_EQ(run.exitCode, 0) << run.terminal.constData();
        // Through the pipe, the list is on the terminal too: the line is gone before it.
        const qsizetype listAt = listFile.isEmpty() ? run.terminal.indexOf("____") : -1;
        const QByteArray shownBefore = listAt < 0 ? run.terminal : run.terminal.left(listAt);
        ASSERT_EQ(listAt < 0, !listFile.isEmpty()) << run.terminal.toStdString();
        const QByteArray shown =
            "\r" + QFile::encodeName(dir.path()).toLower() + "/two?lines/\x1b[K";
        EXPECT_TRUE(shownBefore.startsWith(shown)) << run.terminal.toStdString();
        EXPECT_TRUE(shownBefore.endsWith("\r\x1b[K")) << run.terminal.toStdString();
        EXPECT_FALSE(shownBefore.contains('\n'));
    }

    // On a narrow terminal the line still fits, wide characters counted twice.
    const QByteArray wide = QFile::encodeName(dir.path()) +
                            "/\xe6\xbc\xa2\xe5\xad\x97\xe6\xbc\xa2"
                            "\xe5\xad\x97\xe6\xbc\xa2\xe5\xad\x97\xe6\xbc\xa2\xe5\xad\x97";
    ASSERT_EQ(::mkdir(wide.constData(), 0755), 0);
    const TerminalRun run = runOnTerminal(wide, QFile::encodeName(dir.filePath("list2.txt")), 12);
    ASSERT_EQ(run.exitCode, 0) << run.terminal.constData();
    for (const QByteArray& drawn : run.terminal.split('\r')) {
        const QString line = QString::fromUtf8(QByteArray(drawn).replace("\x1b[K", ""));
        qsizetype columns =
            line.size() + line.count(QChar(u'\u6f22')) + line.count(QChar(u'\u5b57'));
        EXPECT_LE(columns, 11) << drawn.constData();
    }
    EXPECT_TRUE(run.terminal.contains("...\xe5\xad\x97\xe6\xbc\xa2\xe5\xad\x97/\x1b[K"))
        << run.terminal.constData();
}

} // namespace
