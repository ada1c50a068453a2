#include "cli/clioptions.h"

#include <getopt.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <vector>

namespace {

// Long options without a short form.
enum : int {
    kWithSubs = 256,
    kHeader,
    kExclude,
    kFormat,
    kThreads,
    kVersion,
    kSort,
    kSize,
    kLinks
};

// The comparison's options.
enum : int { kCompare = 512, kTop, kMinChange };

constexpr char kShortOptions[] = ":o:hx0V";
constexpr qsizetype kMostPatternBytes = 64 * 1024;
constexpr option kLongOptions[] = {
    {"with-subs", no_argument, nullptr, kWithSubs},
    {"header", required_argument, nullptr, kHeader},
    {"output", required_argument, nullptr, 'o'},
    {"one-file-system", no_argument, nullptr, 'x'},
    {"exclude", required_argument, nullptr, kExclude},
    {"format", required_argument, nullptr, kFormat},
    {"null", no_argument, nullptr, '0'},
    {"threads", required_argument, nullptr, kThreads},
    {"sort", required_argument, nullptr, kSort},
    {"size", required_argument, nullptr, kSize},
    {"links", required_argument, nullptr, kLinks},
    {"compare", required_argument, nullptr, kCompare},
    {"top", required_argument, nullptr, kTop},
    {"min-change", required_argument, nullptr, kMinChange},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

QString shown(const QByteArray& arg) {
    return QString::fromLocal8Bit(arg);
}

// getopt_long was told to stay quiet, so that the parse has no side effects: what it
// refused is told here, as it would tell it.
// The long option that `arg` names, in full or by a prefix only it has.
const option* namedIn(const QByteArray& arg) {
    const QByteArray name = arg.mid(2, arg.indexOf('=') < 0 ? -1 : arg.indexOf('=') - 2);
    const option* found = nullptr;
    int matches = 0;
    for (const option* o = kLongOptions; o->name; ++o) {
        if (o->name == name)
            return o;
        if (QByteArray(o->name).startsWith(name)) {
            found = o;
            ++matches;
        }
    }
    return matches == 1 ? found : nullptr;
}

// `arg` is the argument before the one getopt_long stands at. In a cluster of short
// options it has not moved on yet, so a short option refused there may come after a
// long option that is fine.
QString refusal(int result, const QByteArray& arg) {
    const option* named = arg.startsWith("--") ? namedIn(arg) : nullptr;
    const bool isLong = arg.startsWith("--") && (optopt == 0 || (named && named->val == optopt));
    if (result == ':')
        return isLong ? QStringLiteral("option '%1' requires an argument").arg(shown(arg))
                      : QStringLiteral("option requires an argument -- '%1'")
                            .arg(QChar::fromLatin1(char(optopt)));
    if (!isLong)
        return QStringLiteral("invalid option -- '%1'").arg(QChar::fromLatin1(char(optopt)));
    for (const option* o = kLongOptions; optopt != 0 && o->name; ++o) {
        if (o->val == optopt)
            return QStringLiteral("option '--%1' doesn't allow an argument")
                .arg(QLatin1StringView(o->name));
    }
    const QByteArray name = arg.mid(2, arg.indexOf('=') < 0 ? -1 : arg.indexOf('=') - 2);
    QString possible;
    for (const option* o = kLongOptions; o->name; ++o) {
        if (QByteArray(o->name).startsWith(name))
            possible += QStringLiteral(" '--%1'").arg(QLatin1StringView(o->name));
    }
    if (possible.count(u'\'') > 2)
        return QStringLiteral("option '%1' is ambiguous; possibilities:%2")
            .arg(shown(arg), possible);
    return QStringLiteral("unrecognized option '%1'").arg(shown(arg));
}

// The place of `value` among `choices`, or -1.
int choiceOf(const QByteArray& value, std::initializer_list<const char*> choices) {
    int at = 0;
    for (const char* choice : choices) {
        if (value == choice)
            return at;
        ++at;
    }
    return -1;
}

// Digits, then for --min-change an optional K, M, G or T (powers of 1024); nothing when
// that is not what `text` holds, or it is too large.
std::optional<quint64> countIn(const QByteArray& text, bool unitAllowed) {
    static constexpr char kUnits[] = "KMGT";
    int shift = 0;
    QByteArray digits = text;
    if (unitAllowed && !digits.isEmpty()) {
        if (const char* unit = std::strchr(kUnits, digits.back()); unit && *unit) {
            shift = 10 * int(unit - kUnits + 1);
            digits.chop(1);
        }
    }
    if (digits.isEmpty() || digits.size() > 19 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const quint64 value = digits.toULongLong();
    if (shift > 0 && value > (~quint64(0) >> shift))
        return std::nullopt;
    return value << shift;
}

} // namespace

Measurement measurementOf(const CliOptions& options) {
    return {options.diskUsage,
            options.linksOnce,
            options.oneFileSystem,
            {options.excludePatterns.begin(), options.excludePatterns.end()}};
}

QString cliHelpText() {
    return QStringLiteral(
        "Usage: kestrix-list [OPTION]... FOLDER\n"
        "  or:  kestrix-list --compare=EARLIER [OPTION]... FOLDER|LATER\n"
        "Writes a list of the folders under FOLDER and their sizes in bytes.\n"
        "Without --with-subs, one line for each folder directly inside FOLDER;\n"
        "with it, one line for FOLDER and for every folder below it.\n"
        "\n"
        "      --with-subs        list the whole tree below FOLDER\n"
        "      --header=TEXT      the header text of the list\n"
        "  -o, --output=FILE      write the list to FILE instead of standard output\n"
        "  -x, --one-file-system  leave out folders on other file systems than FOLDER's\n"
        "      --exclude=PATTERN  leave out folders and files that the shell pattern\n"
        "                         PATTERN matches as with du: on the path from FOLDER's\n"
        "                         own name down, or an end of it after a '/' (may be\n"
        "                         given more than once)\n"
        "      --format=FORMAT    'report' (the default) or 'tsv': one line per folder,\n"
        "                         the size in bytes, a tab, the path as it is on disk\n"
        "                         (tab, line feed, carriage return and backslash\n"
        "                         written \\t, \\n, \\r, \\\\)\n"
        "  -0, --null             as --format=tsv, each line ended with NUL instead of a\n"
        "                         line break, and nothing escaped\n"
        "      --threads=N        scan with N threads (1 to 64); without it, threads are\n"
        "                         added while they wait on the disk or the network\n"
        "      --sort=ORDER       'size': biggest first, 'name': by name (byte order);\n"
        "                         with subs each folder's sub-folders are ordered under\n"
        "                         it; without, the order is the file system's\n"
        "      --size=WHAT        'apparent' (the default): the length of each file;\n"
        "                         'disk': the space it takes on disk\n"
        "      --links=HOW        'each' (the default): a file with several names is\n"
        "                         counted at each; 'once': at its first name in the list,\n"
        "                         as du counts it\n"
        "      --compare=EARLIER  compare the list EARLIER with a new list of FOLDER,\n"
        "                         made in EARLIER's mode and measured as it was, or with\n"
        "                         the later list LATER: one line per folder that grew,\n"
        "                         shrank, is new or is gone\n"
        "      --top=N            with --compare: only the N largest growths and the N\n"
        "                         largest shrinks, the others summed up on one line\n"
        "      --min-change=SIZE  with --compare: only changes of SIZE bytes or more\n"
        "                         (K, M, G, T: times 1024 each)\n"
        "  -h, --help             show this help and exit\n"
        "  -V, --version          show the version and exit\n"
        "\n"
        "Exit status:\n"
        "  0    the list was written, every size in it read\n"
        "  1    the list could not be written, or is incomplete\n"
        "  2    a usage error, or FOLDER is no folder (with --compare: or a list\n"
        "       file is no whole list; nothing is written)\n"
        "  3    the list was written, but some folders could not be read (each is named\n"
        "       on standard error): their sizes, and those of the folders above, are blank;\n"
        "       a comparison was written, but some sizes in it are unknown\n"
        "  130  interrupted: the list ends with the total of the lines written (no\n"
        "       comparison is written)\n");
}

CliOptions parseCliOptions(const QList<QByteArray>& arguments) {
    CliOptions options;
    const auto fail = [&options](const QString& why) {
        options.action = CliOptions::Action::UsageError;
        options.error = why;
        return options;
    };

    // getopt_long reorders its array, and wants it writable.
    QList<QByteArray> args = arguments;
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int argc = int(args.size());

    bool help = false, version = false, formatGiven = false, outputGiven = false;
    bool nullEnded = false;
    QByteArray header, format, threads, top, minChange;
    opterr = 0;
    optind = 0; // starts a parse afresh
    int result;
    while ((result = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr)) != -1) {
        switch (result) {
        case kWithSubs:
            options.withSubs = true;
            break;
        case kHeader:
            header = optarg;
            break;
        case 'o':
            options.outputFile = optarg;
            outputGiven = true;
            break;
        case 'x':
            options.oneFileSystem = options.given.oneFileSystem = true;
            break;
        case kExclude:
            options.excludePatterns.append(QByteArray(optarg));
            options.given.exclude = true;
            break;
        case kFormat:
            format = optarg;
            formatGiven = true;
            if (format != "report" && format != "tsv")
                return fail(
                    QStringLiteral("invalid format '%1': 'report' or 'tsv'").arg(shown(format)));
            break;
        case '0':
            nullEnded = true;
            break;
        case kThreads:
            threads = optarg;
            break;
        case kSort: {
            const int at = choiceOf(optarg, {"size", "name"});
            if (at < 0)
                return fail(
                    QStringLiteral("invalid order '%1': 'size' or 'name'").arg(shown(optarg)));
            options.order = at == 0 ? CliOptions::Order::Size : CliOptions::Order::Name;
            break;
        }
        case kSize: {
            const int at = choiceOf(optarg, {"apparent", "disk"});
            if (at < 0)
                return fail(
                    QStringLiteral("invalid size '%1': 'apparent' or 'disk'").arg(shown(optarg)));
            options.diskUsage = at == 1;
            options.given.size = true;
            break;
        }
        case kLinks: {
            const int at = choiceOf(optarg, {"each", "once"});
            if (at < 0)
                return fail(
                    QStringLiteral("invalid links '%1': 'each' or 'once'").arg(shown(optarg)));
            options.linksOnce = at == 1;
            options.given.links = true;
            break;
        }
        case kCompare:
            options.compareWith = optarg;
            break;
        case kTop:
            top = optarg;
            break;
        case kMinChange:
            minChange = optarg;
            break;
        case 'h':
            help = true;
            break;
        case 'V':
        case kVersion:
            version = true;
            break;
        default:
            return fail(refusal(result, QByteArray(argv[std::size_t(optind - 1)])));
        }
    }

    if (help) {
        options.action = CliOptions::Action::Help;
        return options;
    }
    if (version) {
        options.action = CliOptions::Action::Version;
        return options;
    }
    if (nullEnded && formatGiven && format == "report")
        return fail(QStringLiteral("--null writes only the tsv form"));
    options.format = nullEnded         ? ListFormat::TsvNullEnded
                     : format == "tsv" ? ListFormat::Tsv
                                       : ListFormat::Report;
    const int positional = argc - optind;
    if (positional != 1)
        return fail(positional == 0 ? QStringLiteral("no FOLDER given")
                                    : QStringLiteral("only one FOLDER can be listed"));
    options.folder = argv[std::size_t(optind)];
    // An unset variable in a script must not list the current folder, or the whole drive.
    if (options.folder.isEmpty())
        return fail(QStringLiteral("the FOLDER is empty"));
    if (outputGiven && options.outputFile.isEmpty())
        return fail(QStringLiteral("the output FILE is empty"));
    if (!threads.isNull()) {
        // Digits only: no sign, no spaces, nothing after the number.
        const bool digits =
            !threads.isEmpty() && std::all_of(threads.begin(), threads.end(),
                                              [](char c) { return c >= '0' && c <= '9'; });
        const int n = digits && threads.size() <= 2 ? threads.toInt() : 0;
        if (n < 1 || n > 64)
            return fail(QStringLiteral("--threads wants a number from 1 to 64"));
        options.threads = n;
    }
    // A list records its patterns on one line, which must read back.
    qsizetype patternBytes = 0;
    for (const QByteArray& pattern : options.excludePatterns)
        patternBytes += pattern.size();
    if (patternBytes > kMostPatternBytes)
        return fail(QStringLiteral("--exclude patterns of more than %1 KiB in all")
                        .arg(kMostPatternBytes / 1024));
    if (!options.compareWith.isNull() && options.compareWith.isEmpty())
        return fail(QStringLiteral("the EARLIER list is empty"));
    if (options.compareWith.isNull() && (!top.isNull() || !minChange.isNull()))
        return fail(QStringLiteral("--top and --min-change go with --compare"));
    if (!top.isNull()) {
        const std::optional<quint64> n = countIn(top, false);
        if (!n || *n == 0)
            return fail(QStringLiteral("--top wants a number of 1 or more"));
        options.top = *n;
    }
    if (!minChange.isNull()) {
        const std::optional<quint64> size = countIn(minChange, true);
        if (!size)
            return fail(QStringLiteral("--min-change wants a size in bytes, such as 4096 or 10M"));
        options.minChange = *size;
    }
    options.headerText = shown(header);
    return options;
}
