#include "mainwindow/form1.h"
#include "platform/desktop/instancelink.h"
#include "platform/desktop/terminationsignals.h"
#include "platform/system/childprocess.h"
#include "posixscan/filesystem.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Qt ends a program it cannot show on with a message for developers; a user who starts it
// from a console without a desktop is told what to use there instead.
bool hasDisplay(int argc, char* argv[]) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (const char* value = std::getenv(name); value && *value)
            return true;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0)
            return true;
    }
    return false;
}

[[noreturn]] void noDisplay(const QByteArray& why) {
    std::fprintf(stderr,
                 "kestrix: %s: Kestrix needs a desktop session; kestrix-list works without one\n",
                 why.constData());
    std::_Exit(1); // Qt may be half set up: nothing of it is taken down
}

// While Qt connects to the display, its platform messages are held back: when it cannot,
// one line says so, instead of Qt's long message for developers and an abort.
QByteArray heldBack;
void whileConnecting(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        const QByteArray display = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                                       ? qgetenv("DISPLAY")
                                       : qgetenv("WAYLAND_DISPLAY");
        noDisplay(display.isEmpty() ? "no display" : "cannot connect to display " + display);
    }
    if (QByteArrayView(context.category).startsWith("qt.qpa"))
        heldBack += text.toLocal8Bit() + '\n';
    else
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char* argv[]) {
    if (!hasDisplay(argc, argv))
        noDisplay("no display");
    // The window lives in a process of its own, so that whoever waits on this one sees
    // it end with the window, even while a thread there waits on a share that never
    // answers (nothing can end such a process until the share does).
    continueInChildProcess();
    raiseDescriptorLimit();
    const QtMessageHandler usual = qInstallMessageHandler(whileConnecting);
    QApplication app(argc, argv);
    qInstallMessageHandler(usual);
    std::fputs(heldBack.constData(), stderr);
    // The window's class on X11, which docks match with the desktop entry by its name, as
    // Wayland does with the desktop file name.
    QApplication::setApplicationName(QStringLiteral("org.example.kestrix"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.kestrix"));
    QApplication::setApplicationVersion(QStringLiteral(KESTRIX_VERSION));
    // The title by which a second copy finds this one. It is not set as a display name:
    // Qt would add that to the title bar of every window.
    setApplicationTitle(QStringLiteral("Kestrix"));
    closeWindowsOnTermination();
    // Handed over once the window and its link to later copies are gone, before Qt is
    // taken down.
    return childProcessDone(runKestrix(createOutsideControls()));
}
