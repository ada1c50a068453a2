#include "cli/clioptions.h"
#include "cli/clirun.h"
#include "cli/comparerun.h"
#include "cli/listrun.h"
#include "platform/system/childprocess.h"
#include "platform/system/interrupt.h"
#include "platform/system/terminal.h"
#include "posixscan/filesystem.h"

#include <QCoreApplication>

#include <cstdio>

// Before the libraries' own start-up code, which takes milliseconds, and main(): a
// termination request that came before the handler would end the program at once,
// leaving no list and the wrong status.
[[gnu::used, gnu::section(".preinit_array")]] void (*const hearRequestsFromTheStart)() =
    installInterruptHandler;

namespace {

int runMain(int argc, char* argv[], int closedAtStart) {
    raiseDescriptorLimit();
    // Taken before Qt sees them: it removes the arguments it claims for itself (such as
    // -qmljsdebugger=...), and a folder may have any name.
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrix-list"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRIX_VERSION));

    const CliOptions options = parseCliOptions(arguments);
    switch (options.action) {
    case CliOptions::Action::Help:
        std::fputs(cliHelpText().toLocal8Bit().constData(), stdout);
        return kSuccess;
    case CliOptions::Action::Version:
        std::printf("kestrix-list %s\n", KESTRIX_VERSION);
        return kSuccess;
    case CliOptions::Action::UsageError:
        return usageError(options.error);
    case CliOptions::Action::List:
        break;
    }
    setScanThreads(options.threads);
    return options.compareWith.isNull() ? listMain(options, closedAtStart)
                                        : compareMain(options, closedAtStart);
}

} // namespace

int main(int argc, char* argv[]) {
    // Before Qt takes descriptors of its own: one of them could become standard output.
    const int closedAtStart = openClosedStandardDescriptors();
    // The caller waits on a process that no stuck scan can hold up.
    continueInChildProcess();
    return childProcessDone(runMain(argc, argv, closedAtStart));
}
