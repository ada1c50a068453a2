#include "cli/clioptions.h"

#include <QCommandLineParser>

#include <algorithm>
#include <optional>

namespace {

QString helpText() {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a list of the folders under FOLDER and their sizes in bytes.\n"
                       "Without --with-subs, one line for each folder directly inside FOLDER;\n"
                       "with it, one line for FOLDER and for every folder below it."));
    parser.addOptions({
        {QStringLiteral("with-subs"), QStringLiteral("List the whole tree below FOLDER.")},
        {QStringLiteral("header"), QStringLiteral("The header text of the list."),
         QStringLiteral("TEXT")},
        {{QStringLiteral("o"), QStringLiteral("output")},
         QStringLiteral("Write the list to FILE instead of standard output."),
         QStringLiteral("FILE")},
        {QStringLiteral("threads"),
         QStringLiteral("Scan with N threads (1 to 64). Without it, threads are added while "
                        "they wait on the disk or the network, and kept to the cores "
                        "otherwise."),
         QStringLiteral("N")},
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")},
        {QStringLiteral("version"), QStringLiteral("Show the version and exit.")},
    });
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("The folder to list."));
    return parser.helpText();
}

} // namespace

// Read here rather than by QCommandLineParser, which takes decoded text: a path that is
// not valid UTF-8 would come out naming another file.
CliOptions parseCliOptions(const QList<QByteArray>& arguments) {
    CliOptions options;
    options.helpText = helpText();
    const auto fail = [&options](const QString& why) {
        options.action = CliOptions::Action::UsageError;
        options.error = why;
        return options;
    };
    const auto shown = [](const QByteArray& arg) { return QString::fromLocal8Bit(arg); };

    bool help = false, version = false, optionsEnded = false;
    std::optional<QByteArray> header, output, threads;
    QList<QByteArray> positional;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QByteArray& arg = arguments[i];
        if (optionsEnded || arg == "-" || !arg.startsWith('-')) {
            positional.append(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name", "--name=value", "-o value", "-ovalue"
        const bool isLong = arg.startsWith("--");
        const qsizetype equals = isLong ? arg.indexOf('=') : -1;
        const QByteArray name = isLong ? arg.mid(2, equals < 0 ? -1 : equals - 2) : arg.mid(1, 1);
        std::optional<QByteArray> value;
        if (equals >= 0)
            value = arg.mid(equals + 1);
        else if (!isLong && arg.size() > 2)
            value = arg.mid(2);

        std::optional<QByteArray>* valueOf = name == "o" || name == "output" ? &output
                                             : name == "header"              ? &header
                                             : name == "threads"             ? &threads
                                                                             : nullptr;
        if (!valueOf) {
            const bool known = (name == "h" && !isLong) || name == "help" || name == "version" ||
                               name == "with-subs";
            if (!known || (name == "h" && arg.size() > 2))
                return fail(QStringLiteral("Unknown option '%1'.").arg(shown(arg.mid(1))));
            if (value)
                return fail(QStringLiteral("Unexpected value after '%1'.").arg(shown(arg)));
            help = help || name == "h" || name == "help";
            version = version || name == "version";
            options.withSubs = options.withSubs || name == "with-subs";
            continue;
        }
        if (!value) {
            if (++i == arguments.size())
                return fail(QStringLiteral("Missing value after '%1'.").arg(shown(arg)));
            value = arguments[i];
        }
        if (*valueOf)
            return fail(QStringLiteral("an option was given twice"));
        *valueOf = *value;
    }

    if (help) {
        options.action = CliOptions::Action::Help;
        return options;
    }
    if (version) {
        options.action = CliOptions::Action::Version;
        return options;
    }
    if (positional.size() != 1)
        return fail(positional.isEmpty() ? QStringLiteral("no FOLDER given")
                                         : QStringLiteral("only one FOLDER can be listed"));
    // An unset variable in a script must not list the current folder, or the whole drive.
    if (positional.first().isEmpty())
        return fail(QStringLiteral("the FOLDER is empty"));
    if (output && output->isEmpty())
        return fail(QStringLiteral("the output FILE is empty"));
    if (threads) {
        // Digits only: no sign, no spaces, nothing after the number.
        const bool digits =
            !threads->isEmpty() && std::all_of(threads->begin(), threads->end(),
                                               [](char c) { return c >= '0' && c <= '9'; });
        const int n = digits && threads->size() <= 2 ? threads->toInt() : 0;
        if (n < 1 || n > 64)
            return fail(QStringLiteral("--threads wants a number from 1 to 64"));
        options.threads = n;
    }
    options.headerText = shown(header.value_or(QByteArray()));
    options.outputFile = output.value_or(QByteArray());
    options.folder = positional.first();
    return options;
}
