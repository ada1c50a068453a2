// kestrix-windowbench: times listing runs made in the real main window.
//
//   kestrix-windowbench with-subs|no-subs TREE REPORT [RUNS]
//
// Opens the program's main window on whatever platform Qt is given (xcb on a display,
// or offscreen), picks TREE and makes RUNS lists into REPORT, each started with the
// Make list button. Only the dialogs answer from a script; the window, its status
// panel, its event pumps and the file system are the program's own. For each run it
// prints one line: "run SECONDS WAITS LONGEST_WAIT_MS", where WAITS counts the times
// the window let events through and LONGEST_WAIT_MS is the longest an event would
// have waited for that.

#include "mainwindow/form1.h"
#include "scripteddialogs.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

int usage() {
    std::fputs("usage: kestrix-windowbench with-subs|no-subs TREE REPORT [RUNS]\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrix"));
    const QStringList args = QApplication::arguments();
    if (args.size() < 4 || args.size() > 5)
        return usage();
    const bool withSubs = args[1] == QStringLiteral("with-subs");
    if (!withSubs && args[1] != QStringLiteral("no-subs"))
        return usage();
    const int runs = args.size() == 5 ? args[4].toInt() : 5;
    if (runs < 1)
        return usage();

    ScriptedControls scripted;
    scripted.picker->answers.push_back(QFile::encodeName(args[2]));
    for (int i = 0; i < runs; ++i)
        scripted.saveDialog->answers.push_back(args[3]);
    Form1 form(scripted.handOver());
    if (!form.LoadForm2())
        return 1;
    QElapsedTimer exposing;
    exposing.start();
    while (!form.windowHandle()->isExposed() && exposing.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    auto* makeList = form.findChild<QAbstractButton*>(QStringLiteral("Command4"));
    form.findChild<QAbstractButton*>(QStringLiteral("Command1"))->click();
    if (withSubs)
        form.findChild<QAction*>(QStringLiteral("nosubdir"))->trigger();

    // A timer due at once fires at every chance the window gives events: the gaps
    // between its firings are how long a click would have waited.
    QElapsedTimer sinceLast;
    qint64 longest = 0;
    int waits = 0;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = qMax(longest, sinceLast.restart());
        ++waits;
    });

    for (int i = 0; i < runs; ++i) {
        longest = 0;
        waits = 0;
        QElapsedTimer took;
        took.start();
        sinceLast.start();
        probe.start();
        makeList->click();
        // The list is written on a thread of the run's own; the window only waits for it.
        while (form.state().run != Form1::RunState::Idle)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        probe.stop();
        longest = qMax(longest, sinceLast.elapsed());
        std::printf("run %.4f %d %lld\n", took.nsecsElapsed() / 1e9, waits,
                    static_cast<long long>(longest));
        std::fflush(stdout);
        if (!scripted.messages->shown.empty()) {
            std::fprintf(stderr, "kestrix-windowbench: %s\n",
                         qPrintable(scripted.messages->shown.front().text));
            return 1;
        }
    }
    return 0;
}
