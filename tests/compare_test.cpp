// kestrix-list --compare over list files written here, laid out by the list's column rule
// as this file spells it out, and over a tree changed at random between two lists.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <limits>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

int columns(const std::string& s) {
    int n = 0;
    for (const char c : s)
        n += (uchar(c) & 0xC0) != 0x80;
    return n;
}

std::string padTo(const std::string& s, int width) {
    return std::string(std::size_t(std::max(0, width - columns(s))), ' ') + s;
}

// A list's folder line: the name, then the size ending at column 96, or alone on the next
// line after a name of 83 characters or more.
std::string folderLine(const std::string& name, const std::string& size, const char* end) {
    const std::string field = padTo(size.empty() ? "" : " " + size, 14);
    if (columns(name) >= 83)
        return name + end + std::string(82, ' ') + field;
    return name + std::string(std::size_t(82 - columns(name)), ' ') + field;
}

struct Folder {
    std::string name;
    std::string size; // as written, grouped; empty: blank
};

// `measured`: the options of a list not measured by default.
QByteArray reportList(const std::string& date, const std::string& folder, bool withSubs,
                      const std::vector<Folder>& folders, const std::string& total,
                      const char* end = "\r\n", const std::string& measured = "") {
    const std::string rule(97, '_');
    std::string text = rule + end + end + std::string(19, ' ') + "Set" + "     " + date + end +
                       rule + end + end + " Path - " + folder +
                       (withSubs ? "  (with subs)" : "  (no subs)") + end +
                       (measured.empty() ? "" : " Measured - " + measured + end) + end;
    for (const Folder& f : folders)
        text += folderLine(f.name, f.size, end) + end;
    text += std::string(81, ' ') + std::string(15, '-') + end;
    text += std::string(79, ' ') + padTo(total, 17) + end;
    return QByteArray::fromStdString(text);
}

// A comparison's line: the name, then the fields ending at columns 59, 73, 88 and 96; a
// name of more than 44 characters stands alone.
std::string row(const std::string& name, const std::string& earlier, const std::string& now,
                const std::string& change, const std::string& percent) {
    std::string line = name;
    std::string text;
    if (columns(name) > 44) {
        text = name + "\r\n";
        line.clear();
    }
    const std::pair<const std::string*, int> fields[] = {
        {&earlier, 59}, {&now, 73}, {&change, 88}, {&percent, 96}};
    for (const auto& [field, end] : fields) {
        if (!field->empty())
            line += std::string(std::size_t(end - columns(*field) - columns(line)), ' ') + *field;
    }
    return text + line;
}

std::string head(const std::string& dates, const std::string& path,
                 const std::string& measured = "") {
    const std::string rule(97, '_');
    return rule + "\r\n\r\n" + std::string(19, ' ') + "     " + dates + "\r\n" + rule +
           "\r\n\r\n Path - " + path + "\r\n" +
           (measured.empty() ? "" : " Measured - " + measured + "\r\n") + "\r\n" +
           row("", "earlier", "now", "change", "%");
}

struct Outcome {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Outcome runList(const QStringList& args, const QString& locale = QStringLiteral("C")) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), locale);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KESTRIX_LIST_BINARY), args);
    EXPECT_TRUE(process.waitForFinished(300000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The figure on a list's total line, its last.
QString totalLine(const QByteArray& list) {
    return QString::fromUtf8(list.trimmed().split('\n').last());
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const std::string kRule = std::string(45, ' ') + std::string(51, '-');
const std::string kJan = "Sunday - Jan 4, 2026";
const std::string kFeb = "Sunday - Feb 1, 2026";
const std::string kDates = kJan + " to " + kFeb;

struct PairCase {
    const char* name;
    QByteArray earlier;
    QByteArray later;
    QStringList options;
    std::string want; // the whole standard output
    int status;
    const char* stderrHas = "";
};
void PrintTo(const PairCase& c, std::ostream* os) {
    *os << c.name;
}

class ComparePair : public ::testing::TestWithParam<PairCase> {};

TEST_P(ComparePair, WritesTheExpectedComparison) {
    const PairCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("earlier"), c.earlier));
    ASSERT_TRUE(writeFile(dir.filePath("later"), c.later));
    // Lines for scripts carry no date: their files' own stand for it.
    for (const char* name : {"earlier", "later"}) {
        QFile file(dir.filePath(QLatin1StringView(name)));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.setFileTime(
            QDateTime(QDate(2026, name[0] == 'e' ? 1 : 2, name[0] == 'e' ? 4 : 1), QTime(12, 0)),
            QFileDevice::FileModificationTime);
    }
    const Outcome run = runList(
        QStringList{QStringLiteral("--compare=") + dir.filePath("earlier"), dir.filePath("later")} +
        c.options);
    EXPECT_EQ(run.out.toStdString(), c.want) << run.err.data();
    EXPECT_EQ(run.status, c.status) << run.err.data();
    EXPECT_TRUE(run.err.contains(c.stderrHas)) << run.err.data();
}

std::string lines(const Lines& all, const char* end = "\r\n") {
    std::string text;
    for (const std::string& line : all)
        text += line + end;
    return text;
}

const std::string kLongName = "data/" + std::string(80, 'l') + "/";

// clang-format off
INSTANTIATE_TEST_SUITE_P(cli, ComparePair, ::testing::Values(
    PairCase{"WithSubsGrewShrankNewGoneUnknown",
             reportList(kJan, "/data", true, {{"data/", "1,000"}, {"data/a/", "600"},
                        {"data/b/", "300"}, {"data/c/", "100"}, {"data/u/", ""},
                        {kLongName, "7"}}, "2,007"),
             reportList(kFeb, "/data", true, {{"data/", "1,500"}, {"data/a/", "900"},
                        {"data/b/", "100"}, {"data/n/", "400"}, {"data/u/", "50"},
                        {kLongName, "8"}}, "2,958"),
             {}, lines({head(kDates, "/data  (with subs)"),
                        row("data/", "1,000", "1,500", "+500", "+50.0"),
                        row("data/n/", "new", "400", "+400", "new"),
                        row("data/a/", "600", "900", "+300", "+50.0"),
                        row(kLongName, "7", "8", "+1", "+14.3"),
                        row("data/c/", "100", "gone", "-100", "-100.0"),
                        row("data/b/", "300", "100", "-200", "-66.7"),
                        row("data/u/", "", "50", "unknown", ""),
                        kRule,
                        row("", "2,007", "2,908", "+901", "+44.9")}), 3,
             "size of 'data/u/' unknown (blank in the earlier list)"},
    // Another locale's grouping, LF line ends, and two folders the report cannot tell apart.
    PairCase{"NoSubsClashAndDots",
             reportList(kJan, "/home", false, {{"Alpha", "1.234.567"}, {"Beta", "10"},
                        {"Same", "5"}}, "1.234.582", "\n"),
             reportList(kFeb, "/home", false, {{"Alpha", "1.234.000"}, {"Beta", "10"},
                        {"Beta", "20"}, {"Same", "5"}}, "1.234.035"),
             {}, lines({head(kDates, "/home  (no subs)"),
                        row("Beta", "new", "20", "+20", "new"),
                        row("Alpha", "1,234,567", "1,234,000", "-567", "-0.0"),
                        row("(2 unchanged)", "", "", "", ""),
                        kRule,
                        row("", "1,234,582", "1,234,035", "-547", "-0.0")}), 0,
             "more than one folder shows as 'Beta' in LATER"},
    // Exact bytes, escapes undone and done again; the paths as the later list gives them.
    PairCase{"TsvWithSubs", "10\tt\n4\tt/A\\tb\n6\tt/Gone\n", "19\tt\n9\tt/A\\tb\n10\tt/New\n",
             {"--format=tsv"}, "10\t\t10\tt/New\n9\t10\t19\tt\n5\t4\t9\tt/A\\tb\n-6\t6\t\tt/Gone\n",
             0},
    PairCase{"TsvOfTheRoot", "5\t/bin\n3\t/bin/x\n4\t/boot\n", "5\t/bin\n3\t/bin/x\n6\t/boot\n",
             {"--format=tsv"}, "2\t4\t6\t/boot\n", 0},
    PairCase{"NullEndedNoSubsCaseKept", QByteArray("5\tt/x\0" "7\tt/X\0", 12),
             QByteArray("5\tt/x\0" "1\tt/X\0", 12), {"-0"}, QByteArray("-6\t7\t1\tt/X\0", 11).toStdString(),
             0},
    PairCase{"ReportWithTsvByReportText",
             reportList(kJan, "/w/t", true, {{"w/t/", "3"}, {"w/t/docs/", "3"}}, "6"),
             "4\tt\n4\tt/Docs\n", {},
             lines({head(kJan + " to Sunday - Feb 1, 2026", "t  (with subs)"),
                    row("t/", "3", "4", "+1", "+33.3"),
                    row("t/docs/", "3", "4", "+1", "+33.3"),
                    kRule,
                    row("", "6", "8", "+2", "+33.3")}), 0},
    PairCase{"TopAndMinChange",
             reportList(kJan, "/d", false, {{"A", "100"}, {"B", "100"}, {"C", "100"}, {"D", "100"}}, "400"),
             reportList(kFeb, "/d", false, {{"A", "400"}, {"B", "200"}, {"C", "99"}, {"D", "0"}}, "699"),
             {"--top=1", "--min-change=2"},
             lines({head(kDates, "/d  (no subs)"),
                    row("A", "100", "400", "+300", "+300.0"),
                    row("(2 more changed)", "", "", "+99", ""),
                    row("D", "100", "0", "-100", "-100.0"),
                    kRule,
                    row("", "400", "699", "+299", "+74.8")}), 0},
    PairCase{"EarlierWithoutFolders", reportList(kJan, "/d", false, {}, "0"),
             reportList(kFeb, "/d", false, {{"X", "0"}}, "0"), {"--format=tsv"}, "0\t\t0\tX\n", 0},
    PairCase{"ModesDiffer", reportList(kJan, "/d", false, {{"A", "1"}}, "1"),
             reportList(kFeb, "/d", true, {{"d/", "1"}}, "1"), {}, "", 2, "cannot be compared"},
    // The measurement travels with the lists, and two lists of other folders are compared.
    PairCase{"MeasuredAlikeOtherFolders",
             reportList(kJan, "/d", false, {{"A", "1"}}, "1", "\r\n", "--size=disk -x"),
             reportList(kFeb, "/e", false, {{"A", "3"}}, "3", "\r\n", "--size=disk -x"), {"-x"},
             lines({head(kDates, "/e  (no subs)", "--size=disk -x"),
                    row("A", "1", "3", "+2", "+200.0"), kRule, row("", "1", "3", "+2", "+200.0")}),
             0, "is a list of /d, not of /e"},
    PairCase{"MeasuredDifferently", reportList(kJan, "/d", false, {{"A", "1"}}, "1"),
             reportList(kFeb, "/d", false, {{"A", "1"}}, "1", "\r\n", "--links=once --exclude='it'\\''s'"),
             {}, "", 2, "was measured with --links=once --exclude='it'\\''s', EARLIER"},
    PairCase{"CommandLineContradictsTheList",
             reportList(kJan, "/d", false, {{"A", "1"}}, "1", "\r\n", "--size=disk"),
             reportList(kFeb, "/d", false, {{"A", "1"}}, "1", "\r\n", "--size=disk"),
             {"--size=apparent"}, "", 2, "asks for --size=apparent, but"},
    // A line feed in the first name of lines ended with NUL; lines of a folder below the
    // root matched with its report.
    PairCase{"NullEndedLineFeedInFirstName", QByteArray("0\tt3/a\nb\0" "5\tt3/c\0", 16),
             QByteArray("2\tt3/a\nb\0" "5\tt3/c\0", 16), {"-0"},
             QByteArray("2\t0\t2\tt3/a\nb\0", 13).toStdString(), 0},
    PairCase{"TsvBelowTheRootWithItsReport", "5\t/opt\n3\t/opt/skills\n",
             reportList(kFeb, "/opt", true, {{"opt/", "6"}, {"opt/skills/", "3"}}, "9"), {},
             lines({head(kDates, "/opt  (with subs)"), row("opt/", "5", "6", "+1", "+20.0"),
                    row("(1 unchanged)", "", "", "", ""), kRule, row("", "8", "9", "+1", "+12.5")}),
             0},
    // Lines for scripts copied through another system, and a carriage return in a name.
    PairCase{"TsvCrLfReadAsLf", "5\tt\r\n3\tt/a\\r\r\n", "6\tt\n4\tt/a\\r\n", {"--format=tsv"},
             "1\t5\t6\tt\n1\t3\t4\tt/a\\r\n", 0, "do not say how they were measured"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// ---- Files that are not a whole list: nothing written, status 2 ----

struct BadCase {
    const char* name;
    QByteArray content; // written to EARLIER, unless `kind` says otherwise
    const char* kind;   // "file", "fifo", "folder", "missing", "output" (-o names EARLIER)
    const char* message;
    QByteArray (*make)() = nullptr; // the content, for the large ones
    int status = 2;                 // 0: read and compared, in bounded time and memory
};
void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

const QByteArray kWhole = reportList(kJan, "/d", false, {{"A", "1"}}, "1");

class CompareBadEarlier : public ::testing::TestWithParam<BadCase> {};

TEST_P(CompareBadEarlier, RefusedWithReasonAndNothingWritten) {
    const BadCase& c = GetParam();
    QTemporaryDir dir;
    const QString earlier = dir.filePath("earlier");
    const std::string kind = c.kind;
    if (kind == "file") {
        ASSERT_TRUE(writeFile(earlier, c.make ? c.make() : c.content));
    } else if (kind == "fifo") {
        ASSERT_EQ(::mkfifo(QFile::encodeName(earlier).constData(), 0600), 0);
    } else if (kind == "folder") {
        ASSERT_TRUE(QDir(dir.path()).mkdir("earlier"));
    } else if (kind == "output") {
        ASSERT_TRUE(writeFile(earlier, kWhole));
        ASSERT_TRUE(QFile::link(earlier, dir.filePath("out")));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir("tree"));
    const QString later = c.status == 0 ? earlier : dir.filePath("tree");
    const Outcome run = runList(
        {QStringLiteral("--compare=") + earlier, QStringLiteral("-o"), dir.filePath("out"), later});
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(run.err.contains(c.message)) << run.err.left(2000).data();
    if (kind == "output")
        EXPECT_EQ(readFile(earlier), kWhole);
    else
        EXPECT_EQ(QFile::exists(dir.filePath("out")), c.status == 0);
}

// Twenty lines of paths a MiB long, each below a folder that has no line.
QByteArray deepPaths() {
    QByteArray list = "0\tt\n";
    for (int i = 0; i < 20; ++i)
        list += "1\tt/" + QByteArray("a/").repeated(500000) + QByteArray::number(i) + '\n';
    return list;
}

QByteArray tenMegabytePath() {
    return "0\tt\n1\tt/" + QByteArray("a/").repeated(5 << 20) + "b\n";
}

// A million folders of one-character names, each name many times over.
QByteArray millionShortNames() {
    QByteArray list;
    for (int i = 0; i < 1000000; ++i)
        list += QByteArray("1\tt/") +
                "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"[i % 62] + '\n';
    return list;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(cli, CompareBadEarlier, ::testing::Values(
    // Lines for scripts of a folder without sub-folders.
    BadCase{"Empty", "", "file", "do not say how they were measured", nullptr, 0},
    BadCase{"Binary", QByteArray("\x7f" "ELF\x02\x01\x01\0\0\n", 10), "file", "line 1: binary data"},
    BadCase{"NulInReport", kWhole.left(200) + QByteArray(1, '\0') + kWhole.mid(200), "file", "not a whole Kestrix list: line 4: a NUL byte"},
    BadCase{"CutInLine", kWhole.left(kWhole.size() - 40), "file", "line 10: the list is cut short in the middle"},
    BadCase{"NoTotal", kWhole.left(kWhole.indexOf(QByteArray(81, ' ') + "---")), "file", "cut short: it ends before its total line"},
    BadCase{"TsvCutInLine", "5\ta\n6\tb", "file", "line 2: the list is cut short"},
    BadCase{"NotAList", "Dear Ann,\n", "file", "line 1: neither the report's rule"},
    BadCase{"BadFolderLine", kWhole.left(kWhole.indexOf("A ")) + "A 1\r\n" + kWhole.mid(kWhole.indexOf("A ")), "file",
            "line 8: a folder line"},
    BadCase{"BadEscape", "5\ta\\qb\n", "file", "line 1: a backslash"},
    BadCase{"Fifo", "", "fifo", "not a regular file"},
    BadCase{"Folder", "", "folder", "a folder, not a list file"},
    BadCase{"Missing", "", "missing", "No such file or directory"},
    BadCase{"SizePast128Bits", "340282366920938463463374607431768211456\tt\n", "file", "line 1: a size too large"},
    BadCase{"CrLfThenLf", "5\tt\r\n3\tt/a\n", "file", "line 2: a line ended with LF alone"},
    BadCase{"PathOutsideTheFolder", "5\tt/a\n5\t/etc\n", "file", "line 2: a folder that is not beside"},
    BadCase{"DotDotBelow", "5\tt\n5\tt/../../etc\n", "file", "line 2: a path with an empty name, '.' or '..'"},
    BadCase{"DuOutput", "4096\ttree/a\n4096\ttree/b\n12288\ttree\n", "file", "line 3: a folder after the folders in it, as du"},
    BadCase{"OutputIsEarlier", "", "output", "is the list"},
    BadCase{"DeepPathsWithoutParents", "", "file", "line 2: a folder whose parent folder has no line before it", deepPaths},
    BadCase{"PathOfTenMegabytes", "", "file", "line 2: a line of more than a MiB", tenMegabytePath},
    BadCase{"MillionShortNames", "", "file", "more than one folder shows as 't/a' in EARLIER", millionShortNames, 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// ---- The changes on the lines add up to the change of the totals ----

// The figure of a field as written: grouped digits, with a sign for a change.
std::optional<qint64> figure(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^([+-]?)(\\d{1,3}(,\\d{3})*)$"));
    const QRegularExpressionMatch m = number.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const qint64 value = m.captured(2).remove(u',').toLongLong();
    return m.captured(1) == u"-" ? -value : value;
}

void makeFile(const QString& path, qint64 size) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(size));
}

TEST(cliCompare, ChangesAddUpOnARandomTree) {
    QTemporaryDir dir;
    QRandomGenerator random(20260201);
    QStringList folders{QStringLiteral("t")};
    QDir(dir.path()).mkdir("t");
    for (int i = 0; i < 60; ++i) {
        const QString folder =
            folders[random.bounded(int(folders.size()))] + QStringLiteral("/F%1").arg(i);
        ASSERT_TRUE(QDir(dir.path()).mkpath(folder));
        folders << folder;
        makeFile(dir.filePath(folder + "/f"), random.bounded(100000));
    }
    const QString tree = dir.filePath("t");
    const QString jan = dir.filePath("jan.txt");
    ASSERT_EQ(runList({"--with-subs", "-o", jan, tree}).status, 0);
    for (int i = 0; i < 20; ++i) {
        const QString folder = dir.filePath(folders[1 + random.bounded(int(folders.size()) - 1)]);
        if (!QDir(folder).exists())
            continue; // removed with a folder above it
        switch (random.bounded(3)) {
        case 0:
            makeFile(folder + "/f", random.bounded(200000));
            break;
        case 1:
            QDir(folder).removeRecursively();
            break;
        default:
            QDir(folder).mkdir(QStringLiteral("N%1").arg(i));
            makeFile(folder + QStringLiteral("/N%1/g").arg(i), random.bounded(5000));
        }
    }
    const QString feb = dir.filePath("feb.txt");
    ASSERT_EQ(runList({"--with-subs", "-o", feb, tree}).status, 0);
    for (const QStringList& later : {QStringList{tree}, QStringList{feb, "--top=3"}}) {
        const Outcome run = runList(QStringList{"--compare=" + jan} + later);
        ASSERT_EQ(run.status, 0) << run.err.data();
        const QStringList got = QString::fromUtf8(run.out).split(QStringLiteral("\r\n"));
        ASSERT_GE(got.size(), 12);
        qint64 sum = 0;
        int changed = 0;
        for (qsizetype i = 8; i < got.size() - 3; ++i) {
            if (const std::optional<qint64> change = figure(got[i].mid(73, 15))) {
                sum += *change;
                ++changed;
            }
        }
        const QString total = got[got.size() - 2];
        const std::optional<qint64> before = figure(total.mid(45, 14));
        const std::optional<qint64> now = figure(total.mid(59, 14));
        const std::optional<qint64> change = figure(total.mid(73, 15));
        ASSERT_TRUE(before && now && change) << total.toStdString();
        EXPECT_GT(changed, 0);
        EXPECT_EQ(sum, *change) << run.out.data();
        EXPECT_EQ(*now - *before, *change);
        // The totals are the lists' own, as no folder's size is unknown.
        EXPECT_EQ(figure(totalLine(readFile(jan))), before);
        EXPECT_EQ(figure(totalLine(readFile(feb))), now);
    }
}

// ---- Every list the program writes reads back as it was written ----

struct RoundTrip {
    const char* name;
    QStringList options; // how the list is written
    const char* locale = "C";
    bool huge = false; // three files of 2^63 - 1 bytes: sizes and totals past 2^64
};
void PrintTo(const RoundTrip& c, std::ostream* os) {
    *os << c.name;
}

class CompareRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(CompareRoundTrip, ComparedWithItselfAndWithItsTreeNothingChanged) {
    const RoundTrip& c = GetParam();
    // Only some file systems hold files of 2^63 - 1 bytes; tmpfs does.
    QTemporaryDir dir(c.huge ? QStringLiteral("/dev/shm/kestrix-XXXXXX") : QString());
    if (!dir.isValid())
        GTEST_SKIP() << "no temporary folder in /dev/shm";
    const QString tree = dir.filePath("T");
    // Names the lines for scripts escape, the report shows with "?", or decodes with
    // U+FFFD; a name too long for its line; a file with two names; a sparse file.
    const QByteArray names[] = {"Plain/Deeper",      "Tab\tName",   "Line\nFeed",
                                "Carriage\r",        "Back\\slash", "\xff\xfe",
                                QByteArray(90, 'L'), "Links",       "Sparse"};
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("T/Plain")));
    for (const QByteArray& name : names)
        ASSERT_EQ(::mkdir(QFile::encodeName(tree + '/').append(name).constData(), 0755), 0)
            << name.data();
    makeFile(tree + "/Plain/f", 1000);
    makeFile(tree + "/Plain/Deeper/g", 70000);
    ASSERT_EQ(::link(QFile::encodeName(tree + "/Plain/f"), QFile::encodeName(tree + "/Links/h")),
              0);
    makeFile(tree + "/Sparse/s", qint64(1) << 30);
    int folders = 9; // directly inside T
    if (c.huge) {
        ASSERT_TRUE(QDir(tree).mkpath(QStringLiteral("Huge/a")));
        for (const char* file : {"f", "g", "h"}) {
            QFile big(tree + "/Huge/a/" + file);
            if (!big.open(QIODevice::WriteOnly) || !big.resize(std::numeric_limits<qint64>::max()))
                GTEST_SKIP() << "no files of 2^63 - 1 bytes here";
        }
        folders += 1;
    }
    const bool withSubs = c.options.contains(QStringLiteral("--with-subs"));
    if (withSubs)
        folders += 2 + (c.huge ? 1 : 0); // T itself, Deeper, Huge/a
    const QString list = dir.filePath("list");
    const Outcome made = runList(c.options + QStringList{"-o", list, tree}, c.locale);
    ASSERT_EQ(made.status, 0) << made.err.data();

    // Lines for scripts do not say how they were measured: the scan is told again.
    QStringList measuring = c.options;
    measuring.removeIf([](const QString& option) {
        return option == u"--with-subs" || option == u"-0" || option.startsWith(u"--format");
    });
    const bool tsv = !readFile(list).startsWith('_');
    for (const QString& later : {list, tree}) {
        SCOPED_TRACE(later == list ? "with itself" : "with its tree");
        const bool told = tsv && later == tree;
        const Outcome run = runList(
            QStringList{"--compare=" + list, later} + (told ? measuring : QStringList()), c.locale);
        EXPECT_EQ(run.status, 0) << run.err.data();
        EXPECT_TRUE(run.out.contains(QStringLiteral("(%1 unchanged)").arg(folders).toUtf8()))
            << run.out.data() << run.err.data();
        // The head says how both were measured, as the list did or the command line.
        const bool measured = !measuring.isEmpty() && (!tsv || told);
        EXPECT_EQ(run.out.count("\r\n Measured - "), measured ? 1 : 0) << run.out.data();
        EXPECT_EQ(run.out.count("\r\n"), 11 + (measured ? 1 : 0)) << run.out.data();
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(cli, CompareRoundTrip, ::testing::Values(
    RoundTrip{"ReportNoSubs", {}},
    RoundTrip{"ReportWithSubs", {"--with-subs"}},
    RoundTrip{"ReportMeasuredGroupedByDots", {"--with-subs", "--size=disk", "--links=once", "-x",
              "--exclude=it's *.tmp", "--exclude=\x01"}, "de_DE.UTF-8"},
    RoundTrip{"ReportArabicGrouping", {"--links=once"}, "ar_EG.UTF-8"},
    RoundTrip{"ReportThinSpaces", {"--with-subs", "--size=disk"}, "fr_FR.UTF-8"},
    RoundTrip{"TsvWithSubsMeasured", {"--with-subs", "--format=tsv", "--links=once"}},
    RoundTrip{"TsvNoSubs", {"--format=tsv"}},
    RoundTrip{"NullEndedWithSubs", {"--with-subs", "-0", "--size=disk"}},
    RoundTrip{"ReportPast64Bits", {"--with-subs"}, "C", true},
    RoundTrip{"TsvPast64Bits", {"--format=tsv"}, "C", true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// ---- An interrupted comparison leaves its output as it was ----

TEST(cliCompare, InterruptedComparisonLeavesTheOutputFileAsItWas) {
    QTemporaryDir dir;
    QByteArray earlier, later;
    for (int i = 0; i < 200000; ++i) {
        earlier += QByteArray::number(i) + "\tt/d" + QByteArray::number(i) + '\n';
        later += QByteArray::number(2 * i + 1) + "\tt/d" + QByteArray::number(i) + '\n';
    }
    ASSERT_TRUE(writeFile(dir.filePath("earlier"), earlier));
    ASSERT_TRUE(writeFile(dir.filePath("later"), later));
    int interrupted = 0;
    for (const int afterMs : {100, 400, 800, 1600}) {
        SCOPED_TRACE(afterMs);
        const QString out = dir.filePath("out.txt");
        ASSERT_TRUE(writeFile(out, "the comparison of last month\n"));
        QProcess process;
        process.start(QStringLiteral(KESTRIX_LIST_BINARY),
                      {"--compare=" + dir.filePath("earlier"), "-o", out, dir.filePath("later")});
        ASSERT_TRUE(process.waitForStarted());
        QThread::msleep(afterMs);
        ::kill(pid_t(process.processId()), SIGTERM);
        ASSERT_TRUE(process.waitForFinished(60000));
        const QByteArray err = process.readAllStandardError();
        EXPECT_EQ(QDir(dir.path())
                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                      .size(),
                  3)
            << "nothing but the output beside the lists";
        if (process.exitCode() == 0) {
            EXPECT_TRUE(readFile(out).endsWith("+100.0\r\n")) << "whole, with its total";
            continue;
        }
        ++interrupted;
        EXPECT_EQ(process.exitCode(), 130) << err.data();
        EXPECT_TRUE(err.contains("interrupted: no comparison written")) << err.data();
        EXPECT_EQ(readFile(out), "the comparison of last month\n");
    }
    EXPECT_GT(interrupted, 0);
}

} // namespace
