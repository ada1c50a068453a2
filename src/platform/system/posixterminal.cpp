#include "platform/system/terminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

bool stdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

int stderrColumns() {
    struct winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

bool stdoutIsPipe() {
    struct stat st;
    return ::fstat(STDOUT_FILENO, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

int openClosedStandardDescriptors() {
    int closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1)
            continue;
        closed |= 1 << fd;
        // The lowest free number is this one: those below it are open by now.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd)
            ::close(opened); // not to be had; at least nothing is left open by mistake
    }
    return closed;
}
