// kestrix-list run over real folder trees. Every expected list is built here from a walk
// of our own (openat/readdir/fstatat, nothing of the program's code) and compared line by
// line with what the tool wrote; only the date on the header line is not known in advance.

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::string; // a name or path exactly as the file system holds it
using Lines = std::vector<std::string>;

constexpr uid_t kNobody = 65534;

#define SYS_OK(call) EXPECT_GE((call), 0) << #call << ": " << std::strerror(errno)

// ---- Trees on disk ----

int openFolderAt(int dirFd, const Bytes& name) {
    return ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

struct Entry {
    Bytes name;
    struct stat st;
    bool statOk;
};

// The entries of an open folder in the order readdir gives them; nothing when unreadable.
std::optional<std::vector<Entry>> readEntries(int fd) {
    const int copy = ::dup(fd);
    DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        return std::nullopt;
    }
    std::vector<Entry> entries;
    while (const dirent* e = ::readdir(dir)) {
        Entry entry{e->d_name, {}, false};
        if (entry.name != "." && entry.name != "..") {
            entry.statOk = ::fstatat(fd, e->d_name, &entry.st, AT_SYMLINK_NOFOLLOW) == 0;
            entries.push_back(entry);
        }
    }
    ::closedir(dir);
    return entries;
}

// Removes everything below an open folder, at any depth and whatever the modes.
void removeBelow(int fd) {
    for (const Entry& e : readEntries(fd).value_or(std::vector<Entry>())) {
        const bool folder = e.statOk && S_ISDIR(e.st.st_mode);
        if (folder) {
            ::fchmodat(fd, e.name.c_str(), 0700, 0);
            if (const int sub = openFolderAt(fd, e.name); sub >= 0) {
                removeBelow(sub);
                ::close(sub);
            }
        }
        ::unlinkat(fd, e.name.c_str(), folder ? AT_REMOVEDIR : 0);
    }
}

// Where scratch trees go: $TMPDIR when set, else memory-backed /dev/shm when there is one
// (tens of thousands of folders are made and removed there in a blink), else /tmp.
Bytes scratchParent() {
    if (qEnvironmentVariableIsEmpty("TMPDIR") && ::access("/dev/shm", W_OK | X_OK) == 0)
        return "/dev/shm";
    return QDir::tempPath().toStdString();
}

// A world-readable scratch folder (the tool may run as another user), removed with all it
// holds, even past PATH_MAX.
class TempTree {
public:
    TempTree() {
        Bytes pattern = scratchParent() + "/kestrix-cli-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            return;
        char* real = ::realpath(pattern.c_str(), nullptr); // as the tool sees its cwd
        base_ = real ? real : pattern;
        std::free(real);
        ::chmod(base_.c_str(), 0755);
        fd_ = ::open(base_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~TempTree() {
        if (fd_ < 0)
            return;
        removeBelow(fd_);
        ::close(fd_);
        ::rmdir(base_.c_str());
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    Bytes path(const Bytes& rel) const { return base_ + "/" + rel; }
    QString qpath(const Bytes& rel) const { return QString::fromStdString(path(rel)); }

    void folder(const Bytes& rel, mode_t mode = 0755) {
        SYS_OK(::mkdirat(fd_, rel.c_str(), mode));
        SYS_OK(::fchmodat(fd_, rel.c_str(), mode, 0)); // whatever the umask
    }
    // Files below `under`, with the folders on their way.
    void files(const Bytes& under, std::initializer_list<std::pair<Bytes, off_t>> list) {
        for (const auto& [rel, size] : list) {
            const Bytes path = under.empty() ? rel : under + "/" + rel;
            for (auto slash = path.find('/'); slash != Bytes::npos;
                 slash = path.find('/', slash + 1)) {
                if (::mkdirat(fd_, path.substr(0, slash).c_str(), 0755) == 0)
                    ::fchmodat(fd_, path.substr(0, slash).c_str(), 0755, 0);
            }
            makeFile(fd_, path, size);
        }
    }
    // Files are sparse: any size costs no disk space.
    static void makeFile(int dirFd, const Bytes& rel, off_t size) {
        const int f = ::openat(dirFd, rel.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        SYS_OK(f);
        SYS_OK(::ftruncate(f, size));
        ::close(f);
    }

private:
    Bytes base_;
    int fd_ = -1;
};

// ---- What the list should say ----

struct Folder {
    Bytes name;
    std::optional<quint64> size; // nothing when some folder of its tree cannot be read
    std::vector<Folder> subs;    // real folders only, readdir order, dot folders included
};

// Whether the user `reader` may list a folder and look at its entries (groups cleared).
bool mayEnter(const struct stat& st, uid_t reader) {
    const mode_t need = st.st_uid == reader ? (S_IRUSR | S_IXUSR) : (S_IROTH | S_IXOTH);
    return reader == 0 || (st.st_mode & need) == need;
}

// How the sizes are counted and the folders ordered, as the options ask.
struct Counting {
    bool disk = false;      // a file's st_blocks * 512 rather than its st_size
    bool linksOnce = false; // a file with several names counted at the first in the list
    char sort = 0;          // 0: as read; 's': biggest first; 'n': by the bytes of the names
    std::set<std::pair<dev_t, ino_t>> counted = {}; // with linksOnce
};

// By default a size is the st_size of every regular file at any depth, each hard link
// counted; symbolic links are never followed. A folder's own files come before those of
// its sub-folders in the list's order.
Folder scanFolder(int fd, const Bytes& name, uid_t reader, Counting& how) {
    const auto entries = readEntries(fd);
    if (!entries)
        return {name, std::nullopt, {}};
    Folder folder{name, quint64(0), {}};
    const auto add = [&folder](std::optional<quint64> size) {
        folder.size = folder.size && size ? std::optional(*folder.size + *size) : std::nullopt;
    };
    std::vector<const Entry*> subs;
    for (const Entry& e : *entries) {
        if (!e.statOk) {
            add(std::nullopt);
        } else if (S_ISREG(e.st.st_mode)) {
            const bool again = how.linksOnce && e.st.st_nlink > 1 &&
                               !how.counted.insert({e.st.st_dev, e.st.st_ino}).second;
            add(again ? 0 : how.disk ? quint64(e.st.st_blocks) * 512 : quint64(e.st.st_size));
        } else if (S_ISDIR(e.st.st_mode)) {
            subs.push_back(&e);
        }
    }
    if (how.sort == 'n')
        std::sort(subs.begin(), subs.end(), [](const Entry* a, const Entry* b) {
            return std::lexicographical_compare(a->name.begin(), a->name.end(), b->name.begin(),
                                                b->name.end(),
                                                [](char x, char y) { return uchar(x) < uchar(y); });
        });
    for (const Entry* e : subs) {
        Folder sub{e->name, std::nullopt, {}};
        if (const int subFd = mayEnter(e->st, reader) ? openFolderAt(fd, e->name) : -1;
            subFd >= 0) {
            sub = scanFolder(subFd, e->name, reader, how);
            ::close(subFd);
        }
        add(sub.size);
        folder.subs.push_back(std::move(sub));
    }
    if (how.sort == 's')
        std::stable_sort(folder.subs.begin(), folder.subs.end(),
                         [](const Folder& a, const Folder& b) {
                             return a.size && (!b.size || *a.size > *b.size);
                         });
    return folder;
}

Folder scanTree(const TempTree& tree, const Bytes& rel, uid_t reader = ::geteuid(),
                Counting how = {}) {
    const int fd = openFolderAt(tree.fd(), rel);
    EXPECT_GE(fd, 0) << rel;
    const Folder root = fd >= 0 ? scanFolder(fd, rel, reader, how) : Folder{rel, std::nullopt, {}};
    ::close(fd);
    return root;
}

// UTF-8 as names are shown: a byte that does not begin a well-formed sequence is one U+FFFD.
std::u32string decode(const Bytes& bytes) {
    std::u32string text;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const int length = b < 0x80   ? 1
                           : b < 0xC2 ? 0
                           : b < 0xE0 ? 2
                           : b < 0xF0 ? 3
                           : b < 0xF5 ? 4
                                      : 0;
        char32_t c = length == 1 ? b : b & (0x7F >> length);
        bool good = length > 0 && i + length <= bytes.size();
        for (int k = 1; good && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            good = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t lowest[] = {0, 0, 0x80, 0x800, 0x10000};
        good = good && c >= lowest[length] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        text += good ? c : U'\uFFFD';
        i += good ? length : 1;
    }
    return text;
}

QString qtext(const std::u32string& s) {
    return QString::fromUcs4(s.data(), qsizetype(s.size()));
}
QString lowerName(const Bytes& bytes) {
    return qtext(decode(bytes)).toLower();
}
QString capitalisedName(const Bytes& bytes) {
    const std::u32string text = decode(bytes);
    return qtext(text.substr(0, 1)).toUpper() + qtext(text.substr(1)).toLower();
}

QString grouped(quint64 value) {
    const std::string digits = std::to_string(value);
    QString out;
    for (std::size_t i = 0; i < digits.size(); ++i)
        out += QString(i > 0 && (digits.size() - i) % 3 == 0 ? "," : "") + QChar(digits[i]);
    return out;
}
QString padLeft(const QString& text, int width) {
    return QString(qMax(0, width - int(text.size())), u' ') + text;
}
QString sizeField(std::optional<quint64> size) {
    return size ? padLeft(u' ' + grouped(*size), 14) : QString(14, u' ');
}

// Builds lines with fields placed at columns; columns count code points, and a control
// character is shown as "?".
class ListBuilder {
public:
    void text(const QString& s) {
        for (const char32_t c : s.toUcs4())
            line_ += c < 0x20 || c == 0x7F ? U'?' : c;
    }
    void placeAt(std::size_t column) {
        if (line_.size() >= column)
            endLine();
        if (line_.size() < column - 1)
            line_.append(column - 1 - line_.size(), U' ');
    }
    void endLine() {
        lines.push_back(qtext(line_).toStdString());
        line_.clear();
    }
    void folderLine(const QString& namePart, std::optional<quint64> size) {
        text(namePart);
        placeAt(83);
        text(sizeField(size));
        endLine();
    }
    Lines lines;

private:
    std::u32string line_;
};

void withSubsLines(ListBuilder& out, const Folder& folder, const Bytes& path, quint64& total) {
    out.folderLine(lowerName(path), folder.size);
    total += folder.size.value_or(0);
    for (const Folder& sub : folder.subs) {
        if (sub.name[0] != '.')
            withSubsLines(out, sub, path + sub.name + "/", total);
    }
}

// The whole list; the header line (index 2) holds what comes before the date.
// `measuredBy`: the options of a list not measured by default, on a line of their own.
Lines expectedList(const Folder& root, const Bytes& absolutePath, bool withSubs,
                   const QString& header = QString(), const QString& measuredBy = QString()) {
    ListBuilder out;
    const QString rule(97, u'_');
    out.text(rule);
    out.endLine();
    out.endLine();
    out.placeAt(20);
    out.text(header + QStringLiteral("     "));
    out.endLine();
    out.text(rule);
    out.endLine();
    out.endLine();
    out.text(QStringLiteral(" Path - ") + lowerName(absolutePath) +
             (withSubs ? QStringLiteral("  (with subs)") : QStringLiteral("  (no subs)")));
    out.endLine();
    if (!measuredBy.isEmpty()) {
        out.text(QStringLiteral(" Measured - ") + measuredBy);
        out.endLine();
    }
    out.endLine();
    quint64 total = 0;
    if (withSubs) {
        withSubsLines(out, root, absolutePath.substr(1) + "/", total);
    } else {
        for (const Folder& sub : root.subs) {
            if (sub.name[0] != '.') {
                out.folderLine(capitalisedName(sub.name), sub.size);
                total += sub.size.value_or(0);
            }
        }
    }
    out.placeAt(82);
    out.text(QString(15, u'-'));
    out.endLine();
    out.placeAt(80);
    out.text(padLeft(grouped(total), 17));
    out.endLine();
    return out.lines;
}

// ---- Running the tool ----

struct Result {
    int exitCode = -1;
    bool crashed = true;
    QByteArray out;
    QByteArray err;
    QStringList dates; // the header dates a run over this stretch of time may show
};

QString today() {
    return QLocale::c().toString(QDate::currentDate(), u"dddd - MMM d, yyyy");
}

// `inChild` runs in the child just before the tool starts.
void startList(QProcess& process, const QStringList& args, bool asNobody = false,
               const QString& workDir = QString(), const std::function<void()>& inChild = {}) {
    if (inChild)
        process.setChildProcessModifier(inChild);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workDir);
    const QString binary = QStringLiteral(KESTRIX_LIST_BINARY);
    if (asNobody)
        process.start(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=%1").arg(kNobody),
                                  QStringLiteral("--regid=%1").arg(kNobody),
                                  QStringLiteral("--clear-groups"), binary} +
                          args);
    else
        process.start(binary, args);
}

Result finish(QProcess& process, Result result) {
    EXPECT_TRUE(process.waitForFinished(300000)) << "kestrix-list did not end";
    result.out += process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.dates << today();
    return result;
}

// Arguments and working folder as bytes, which QProcess could pass only as text.
Result runListBytes(const std::vector<Bytes>& args, const Bytes& workDir) {
    std::vector<char*> argv{const_cast<char*>(KESTRIX_LIST_BINARY)};
    for (const Bytes& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Result result;
    QProcess process;
    startList(process, {}, false, {}, [&] {
        if (::chdir(workDir.c_str()) == 0)
            ::execv(argv[0], argv.data());
        ::_exit(127);
    });
    return finish(process, result);
}

Result runList(const QStringList& args, bool asNobody = false, const QString& workDir = {}) {
    Result result;
    result.dates << today();
    QProcess process;
    startList(process, args, asNobody, workDir);
    return finish(process, result);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Splits at CR LF; a stray CR or LF, a missing last line end or a BOM is a failure.
Lines splitLines(const QByteArray& bytes) {
    EXPECT_TRUE(bytes.endsWith("\r\n")) << "the last line does not end with CR LF";
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF")) << "byte-order mark";
    Lines lines;
    for (QByteArray line : bytes.split('\n')) {
        EXPECT_TRUE(line.endsWith('\r') || line.isEmpty()) << "no CR before LF: " << line.data();
        line.chop(line.endsWith('\r') ? 1 : 0);
        EXPECT_FALSE(line.contains('\r')) << "stray CR in: " << line.data();
        lines.push_back(line.toStdString());
    }
    lines.pop_back(); // after the last line end
    return lines;
}

// Compares a whole list; with `interrupted`, the folder lines may stop early but must be
// the first ones of the expected list, and the total is not compared.
void expectList(const Result& run, const QByteArray& bytes, const Lines& want,
                bool interrupted = false) {
    const Lines got = splitLines(bytes);
    ASSERT_GE(got.size(), 9u) << bytes.data();
    ASSERT_GE(want.size(), 9u);
    bool dated = false;
    for (const QString& date : run.dates)
        dated = dated || got[2] == want[2] + date.toStdString();
    EXPECT_TRUE(dated) << "header [" << got[2] << "], wanted [" << want[2] << "<date>]";
    if (interrupted) {
        ASSERT_LE(got.size(), want.size());
    } else {
        ASSERT_EQ(got.size(), want.size()) << bytes.data();
    }
    const std::size_t lastFolderLine = got.size() - 3;
    for (std::size_t i = 0; i + (interrupted ? 1 : 0) < got.size(); ++i) {
        const std::size_t wanted = i <= lastFolderLine ? i : want.size() - (got.size() - i);
        if (i != 2) {
            EXPECT_EQ(got[i], want[wanted]) << "line " << i + 1;
        }
    }
}

// The figure of a size or total field, nothing for anything else.
std::optional<quint64> figure(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^ *(\\d{1,3}(,\\d{3})*)$"));
    const QRegularExpressionMatch m = number.match(text);
    return m.hasMatch() ? std::optional(m.captured(1).remove(u',').toULongLong()) : std::nullopt;
}

// The sum of the figures in the size column as written, and the figure on the total line.
std::pair<quint64, std::optional<quint64>> sumAndTotal(const QByteArray& bytes) {
    const Lines lines = splitLines(bytes);
    quint64 sum = 0;
    for (std::size_t i = 7; i + 2 < lines.size(); ++i) {
        const std::u32string line = QString::fromStdString(lines[i]).toStdU32String();
        sum += (line.size() >= 96 ? figure(qtext(line.substr(82))) : std::nullopt).value_or(0);
    }
    return {sum, lines.size() < 9 ? std::nullopt : figure(QString::fromStdString(lines.back()))};
}

QStringList listArgs(bool withSubs, const QStringList& rest) {
    return withSubs ? QStringList{QStringLiteral("--with-subs")} + rest : rest;
}

// ---- Lists over a tree with every kind of entry the walk must get right ----

const Bytes kMixed = "Tree-MiXed";

void buildMixedTree(TempTree& t) {
    const Bytes bad = "Bad\xff\xfeName"; // not UTF-8
    t.files("Outside", {{"a lot", 1000003}});
    // clang-format off
    t.files(kMixed, {
        {"Root File.TXT", 623}, {"Docs/report.bin", 1234}, {"Docs/Old Stuff/a", 200000},
        {".git/Objects/pack", 5003}, {".Hidden Stuff/Inside/f", 99},
        {"WINDOWS/sys", 300}, {"wINDOWS/sys", 7}, // differ only in case: reached by exact name
        {"Big/sparse", 11000000001LL}, {"Big/Deeper/huge", 4000000000007LL},
        {"Links/real", 5}, {"HardLinks/one", 4096}, {"Line\nBreak/f", 10},
        {bad + "/f", 77}, {bad + "/Sub\xc0Zone/g", 3}, {"Émoji 😀 ÄPFEL/f", 1},
        {"M" + Bytes(82, 'X') + "/f", 16777217}}); // 83 columns; 2^24+1 is not exact as a float
    // "L..." makes a no-subs name part of exactly 82 columns.
    for (const Bytes& name : {Bytes("Ctl\x01\x7fName"), Bytes("ärger MIT Umlaut"),
                              "L" + Bytes(81, 'x'), "N" + Bytes(119, 'y'), Bytes("Empty")})
        t.folder(kMixed + "/" + name);
    // Links to folders in and outside the tree, loops, and a link to a file: none counts.
    for (const auto& [target, name] : {std::pair<Bytes, Bytes>{t.path("Outside"), "to-outside"},
             {"../Docs", "to-docs"}, {"..", "up"}, {"self", "self"}, {"pong", "ping"},
             {"ping", "pong"}, {"../Root File.TXT", "to-file"}})
        SYS_OK(::symlinkat(target.c_str(), t.fd(), (kMixed + "/Links/" + name).c_str()));
    // Every hard link counts, also two of one file in one folder.
    for (const auto& [from, to] : {std::pair<Bytes, Bytes>{"HardLinks/one", "HardLinks/two"},
                                   {"Docs/report.bin", "HardLinks/report"}})
        SYS_OK(::linkat(t.fd(), (kMixed + "/" + from).c_str(), t.fd(),
                        (kMixed + "/" + to).c_str(), 0));
    // clang-format on
}

struct ListCase {
    const char* name;
    bool withSubs;
    const char* header;
    const char* folderArg; // relative to the scratch folder; empty: the absolute path
    char sort = 0;         // as in Counting
};
void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.name;
}

class MixedTreeList : public ::testing::TestWithParam<ListCase> {};

TEST_P(MixedTreeList, MatchesOwnWalkOnFileAndStandardOutput) {
    const ListCase& c = GetParam();
    TempTree t;
    ASSERT_TRUE(t.ok());
    buildMixedTree(t);
    ASSERT_FALSE(HasFailure());
    const QString folder = *c.folderArg ? QString::fromUtf8(c.folderArg) : t.qpath(kMixed);
    QStringList args =
        listArgs(c.withSubs, {QStringLiteral("--header"), QString::fromUtf8(c.header)});
    if (c.sort)
        args << (c.sort == 's' ? QStringLiteral("--sort=size") : QStringLiteral("--sort=name"));
    const QString listPath = t.qpath("list.txt");
    const Result toFile = runList(args + QStringList{QStringLiteral("--output"), listPath, folder},
                                  false, t.qpath(""));
    const Result toOut = runList(args + QStringList{folder}, false, t.qpath(""));
    ASSERT_FALSE(toFile.crashed || toOut.crashed);
    EXPECT_EQ(toFile.exitCode, 0) << toFile.err.data();
    EXPECT_EQ(toOut.exitCode, 0) << toOut.err.data();
    EXPECT_TRUE(toFile.out.isEmpty());

    const Lines want = expectedList(scanTree(t, kMixed, ::geteuid(), {.sort = c.sort}),
                                    t.path(kMixed), c.withSubs, c.header);
    const QByteArray bytes = readFile(listPath);
    expectList(toFile, bytes, want);
    expectList(toOut, toOut.out, want);
    Lines fromFile = splitLines(bytes), fromOut = splitLines(toOut.out);
    if (fromFile.size() > 2 && fromOut.size() > 2)
        fromFile[2] = fromOut[2]; // the date may turn between the two runs
    EXPECT_EQ(fromFile, fromOut);

    // The lines for scripts, unescaped, make the same folder lines: the same order, names
    // and sizes, only exact. Their paths are the folder as given, joined with the path
    // below it, and name each folder from where the tool ran.
    const Bytes given = folder.toStdString();
    for (const char* format : {"--format=tsv", "--null"}) {
        const Result tsv =
            runList(args + QStringList{QString::fromUtf8(format), folder}, false, t.qpath(""));
        EXPECT_EQ(tsv.exitCode, 0) << tsv.err.data();
        const bool nul = format[2] == 'n';
        ListBuilder fromTsv;
        for (const QByteArray& line : tsv.out.split(nul ? '\0' : '\n')) {
            const qsizetype tab = line.indexOf('\t');
            if (line.isEmpty() || tab < 0)
                continue; // after the last line end
            Bytes path;
            for (qsizetype i = tab + 1; i < line.size(); ++i) {
                const bool escaped = !nul && line[i] == '\\' && i + 1 < line.size();
                const char next = escaped ? line[++i] : line[i];
                path += !escaped ? next : next == 't' ? '\t' : next == 'n' ? '\n' : next;
            }
            struct stat st;
            EXPECT_TRUE(path.starts_with(given) && ::fstatat(t.fd(), path.c_str(), &st, 0) == 0 &&
                        S_ISDIR(st.st_mode))
                << path;
            Bytes below = path.substr(std::min(given.size(), path.size()));
            below.erase(0, below.find_first_not_of('/'));
            const Bytes shown =
                c.withSubs ? t.path(kMixed).substr(1) + "/" + (below.empty() ? below : below + "/")
                           : below;
            fromTsv.folderLine(c.withSubs ? lowerName(shown) : capitalisedName(shown),
                               tab > 0 ? std::optional(line.left(tab).toULongLong())
                                       : std::nullopt);
        }
        EXPECT_EQ(fromTsv.lines, Lines(want.begin() + 7, want.end() - 2)) << format;
    }

    // The total is the exact sum of the figures above it, as the lines give them.
    const auto [sum, total] = sumAndTotal(bytes);
    EXPECT_EQ(total, sum);
    if (c.withSubs) { // a total field longer than its 17 characters
        EXPECT_GT(sum, 10000000000000ULL);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(cli, MixedTreeList, ::testing::Values(
    ListCase{"NoSubs", false, "", ""},
    ListCase{"WithSubs", true, "Backup set 3", ""},
    ListCase{"WithSubsRelative", true, "Größe — Ünïcode", "./Tree-MiXed/"},
    ListCase{"NoSubsThroughDotDot", false, "x", "Outside/../Tree-MiXed//"},
    ListCase{"WithSubsBySize", true, "", "Tree-MiXed", 's'},
    ListCase{"NoSubsByName", false, "", "", 'n'},
    ListCase{"WithSubsByName", true, "", "./Tree-MiXed/", 'n'}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// ---- Exit status and messages ----

struct ExitCase {
    const char* name;
    QStringList args; // @TREE, @FILE, @MISSING, @OUT and @NODIR stand for paths below
    int exitCode;
    QStringList stderrHas;
    const char* stdoutMatches; // a regular expression; nullptr: nothing on standard output
    bool outCreated;
    bool stdoutClosed = false;
    bool mountInside = false; // a file system of 3 bytes at Tree/Mnt
};
void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.name;
}

class CliExit : public ::testing::TestWithParam<ExitCase> {};

TEST_P(CliExit, StatusAndMessage) {
    const ExitCase& c = GetParam();
    TempTree t;
    ASSERT_TRUE(t.ok());
    t.files("", {{"Tree/Sub/f", 5}, {"plain", 1}});
    const auto expand = [&](QString s) {
        return s.replace(QStringLiteral("@TREE"), t.qpath("Tree"))
            .replace(QStringLiteral("@FILE"), t.qpath("plain"))
            .replace(QStringLiteral("@MISSING"), t.qpath("missing"))
            .replace(QStringLiteral("@OUT"), t.qpath("out.txt"))
            .replace(QStringLiteral("@NODIR"), t.qpath("no/such/list.txt"));
    };
    QStringList args;
    for (const QString& a : c.args)
        args << expand(a);
    const Bytes mount = t.path("Tree/Mnt");
    if (c.mountInside) {
        t.folder("Tree/Mnt");
        if (::mount("kestrix-test", mount.c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
        TempTree::makeFile(t.fd(), "Tree/Mnt/f", 3);
    }
    QProcess process;
    startList(process, args, false, {}, [&c] {
        if (c.stdoutClosed)
            ::close(STDOUT_FILENO);
    });
    const Result run = finish(process, Result());
    if (c.mountInside)
        ::umount2(mount.c_str(), MNT_DETACH);
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err.data();
    for (const QString& part : c.stderrHas)
        EXPECT_TRUE(QString::fromUtf8(run.err).contains(expand(part))) << run.err.data();
    EXPECT_EQ(run.err.isEmpty(), c.exitCode == 0) << run.err.data();
    const QRegularExpression stdoutPattern(
        QString::fromUtf8(c.stdoutMatches ? c.stdoutMatches : "^$"),
        QRegularExpression::DotMatchesEverythingOption);
    EXPECT_TRUE(stdoutPattern.match(QString::fromUtf8(run.out)).hasMatch()) << run.out.data();
    EXPECT_EQ(QFile::exists(t.qpath("out.txt")), c.outCreated);
    if (c.outCreated)
        expectList(run, readFile(t.qpath("out.txt")),
                   expectedList(scanTree(t, "Tree"), t.path("Tree"), false));
}

const QString kNoEntry = QString::fromLocal8Bit(std::strerror(ENOENT));

// clang-format off
INSTANTIATE_TEST_SUITE_P(cli, CliExit, ::testing::Values(
    ExitCase{"NoFolder", {"-o", "@OUT"}, 2, {}, nullptr, false},
    ExitCase{"UnknownOption", {"--bogus", "-o", "@OUT", "@TREE"}, 2,
             {"bogus'\nTry 'kestrix-list --help' for more information.\n"}, nullptr, false},
    ExitCase{"Abbreviated", {"--out", "@OUT", "@TREE"}, 0, {}, nullptr, true},
    ExitCase{"LastWins", {"-o", "@NODIR", "-o", "@OUT", "@TREE"}, 0, {}, nullptr, true},
    ExitCase{"ClosedStdout", {"@TREE"}, 1, {"standard output is closed"}, nullptr, false, true},
    ExitCase{"Tsv", {"--with-subs", "--format=tsv", "@TREE"}, 0, {}, "^5\t/\\S+/Tree\n5\t/\\S+/Tree/Sub\n$",
             false},
    ExitCase{"NullEnded", {"-0", "@TREE"}, 0, {}, "^5\t/\\S+/Tree/Sub\\x{0}$", false},
    ExitCase{"ExcludeFile", {"--exclude=f", "--format=tsv", "@TREE"}, 0, {}, "^0\t/\\S+/Tree/Sub\n$", false},
    ExitCase{"ExcludeFolder", {"--exclude", "S*", "--format=tsv", "@TREE"}, 0, {}, nullptr, false},
    // Left out as du --exclude leaves them: whole paths from the folder's name, and their ends.
    ExitCase{"ExcludeAcrossSlash", {"--exclude=*/f", "--format=tsv", "@TREE"}, 0, {}, "^0\t/\\S+/Tree/Sub\n$",
             false},
    ExitCase{"ExcludePathEnd", {"--exclude=Sub/f", "--format=tsv", "@TREE"}, 0, {}, "^0\t/\\S+/Tree/Sub\n$",
             false},
    ExitCase{"ExcludeBelowTopName", {"--exclude=Tree/S*", "--format=tsv", "@TREE"}, 0, {}, nullptr,
             false},
    ExitCase{"ExcludeTop", {"--exclude=Tree", "--with-subs", "--format=tsv", "@TREE"}, 0, {},
             nullptr, false},
    ExitCase{"OneFileSystem", {"-x", "--format=tsv", "@TREE"}, 0, {}, "^5\t/\\S+/Tree/Sub\n$", false, false,
             true},
    ExitCase{"MissingFolder", {"-o", "@OUT", "@MISSING"}, 2, {"@MISSING: no such folder"}, nullptr, false},
    ExitCase{"FileAsFolder", {"-o", "@OUT", "@FILE"}, 2, {"@FILE: not a folder"}, nullptr, false},
    ExitCase{"FolderNameTooLong", {"-o", "@OUT", "@TREE/" + QString(300, 'n')}, 1,
             {"cannot open @TREE/", QString::fromLocal8Bit(std::strerror(ENAMETOOLONG))}, nullptr,
             false},
    ExitCase{"TwoFolders", {"-o", "@OUT", "@TREE", "@TREE"}, 2, {}, nullptr, false},
    ExitCase{"OutputWithoutFile", {"@TREE", "-o"}, 2, {}, nullptr, false},
    ExitCase{"OutputInMissingFolder", {"-o", "@NODIR", "@TREE"}, 1, {"@NODIR", kNoEntry},
             nullptr, false},
    ExitCase{"OutputMissingFolderOnly", {"-o", "@MISSING/", "@TREE"}, 1, {"@MISSING/", kNoEntry},
             nullptr, false},
    ExitCase{"OutputBelowFile", {"-o", "@FILE/", "@TREE"}, 1,
             {"@FILE/", QString::fromLocal8Bit(std::strerror(ENOTDIR))}, nullptr, false},
    ExitCase{"OutputOnDevice", {"-o", "/dev/full", "@TREE"}, 1, {"/dev/full", "not a regular file"},
             nullptr, false},
    ExitCase{"EmptyFolder", {"-o", "@OUT", ""}, 2, {"FOLDER is empty"}, nullptr, false},
    ExitCase{"EscapesInName", {"-o", "@OUT", "@MISSING\x1b[2J"}, 2, {"@MISSING?[2J"}, nullptr,
             false},
    ExitCase{"Success", {"--output", "@OUT", "@TREE"}, 0, {}, nullptr, true},
    ExitCase{"Help", {"--help"}, 0, {},
             "--with-subs.*--header.*--output.*--one-file-system.*--exclude.*--format.*--null.*"
             "--version.*\\n  3 ", false},
    ExitCase{"Version", {"--version"}, 0, {}, "^kestrix-list \\d+\\.\\d+\\S*\\n$", false},
    ExitCase{"ShortVersion", {"-V"}, 0, {}, "^kestrix-list \\d+\\.\\d+\\S*\\n$", false}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// ---- Paths that are not text, and where the list may go ----

TEST(cli, PathsKeepTheirBytes) {
    TempTree t;
    ASSERT_TRUE(t.ok());
    const Bytes odd = "Bad\xff\xfe";
    t.files(odd, {{"Sub\xc0/f", 7}, {"Two/g", 9}});
    const Lines want = expectedList(scanTree(t, odd), t.path(odd), false);
    struct Case {
        std::vector<Bytes> args;
        Bytes workDir, listFile; // the list file below the scratch folder; empty: standard output
    };
    const Case cases[] = {
        {{t.path(odd)}, "/", ""},
        {{"."}, t.path(odd), ""},
        {{"-o", "-qmljsdebugger=1", "."}, t.path(odd), odd + "/-qmljsdebugger=1"}, // Qt's own
        {{"-o", "list\xfe.txt", ".."}, t.path(odd + "/Two"), odd + "/Two/list\xfe.txt"}};
    for (const Case& c : cases) {
        Result run = runListBytes(c.args, c.workDir);
        EXPECT_EQ(run.exitCode, 0) << run.err.data();
        QFile file; // a name QFile would take only as text
        const int fd = c.listFile.empty() ? -1 : ::open(t.path(c.listFile).c_str(), O_RDONLY);
        if (fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
            run.out = file.readAll();
        expectList(run, run.out, want);
    }
}

struct TargetCase {
    const char* name;
    const char* planted; // at out/list.txt before the run: "", "file", "link", "dangling",
                         // "fifo", "folder", "uplink" (a link to ..), "hardlink" (to victim),
                         // "deleted" (open in the run, as /dev/fd/N, and removed)
    bool sharedFolder;   // world-writable and sticky, as /tmp
    bool byStranger;     // planted by another user
    const char* writes;  // the file that gets the list; nullptr: refused, nothing written
    // What -o names; out/mine and mine.txt are the user's own links to out/list.txt.
    const char* output = "out/list.txt";
    bool strangersFolder = false; // out itself belongs to the other user
};
void PrintTo(const TargetCase& c, std::ostream* os) {
    *os << c.name;
}

class CliOutputTarget : public ::testing::TestWithParam<TargetCase> {};

TEST_P(CliOutputTarget, WritesOnlyWhereItMay) {
    const TargetCase& c = GetParam();
    if (c.byStranger && ::geteuid() != 0)
        GTEST_SKIP() << "planting as another user needs root";
    TempTree t;
    ASSERT_TRUE(t.ok());
    t.files("", {{"Tree/Sub/f", 5}, {"victim", 3}});
    t.folder("out", c.sharedFolder ? 01777 : 0755);
    const Bytes planted = c.planted;
    const char* at = "out/list.txt";
    int held = -1;
    const auto closeHeld = qScopeGuard([&held] {
        if (held >= 0)
            ::close(held);
    });
    SYS_OK(::symlinkat("list.txt", t.fd(), "out/mine"));
    SYS_OK(::symlinkat("out/list.txt", t.fd(), "mine.txt"));
    if (planted == "file") {
        TempTree::makeFile(t.fd(), at, 3);
    } else if (planted == "folder") {
        t.folder(at);
    } else if (planted == "deleted") {
        held = ::openat(t.fd(), at, O_RDWR | O_CREAT, 0644); // the run inherits it
        SYS_OK(held);
        SYS_OK(::write(held, "old", 3));
        SYS_OK(::unlinkat(t.fd(), at, 0));
    } else if (planted == "hardlink") {
        SYS_OK(::linkat(t.fd(), "victim", t.fd(), at, 0));
    } else if (!planted.empty()) {
        SYS_OK(planted == "fifo" ? ::mkfifoat(t.fd(), at, 0666)
                                 : ::symlinkat(planted == "link"     ? "../victim"
                                               : planted == "uplink" ? ".."
                                                                     : "../new.txt",
                                               t.fd(), at));
    }
    const uid_t owner = c.byStranger ? kNobody : ::geteuid();
    if (!planted.empty() && planted != "hardlink" && planted != "deleted") {
        SYS_OK(::fchownat(t.fd(), at, owner, owner, AT_SYMLINK_NOFOLLOW));
    }
    if (c.strangersFolder) {
        SYS_OK(::fchownat(t.fd(), "out", kNobody, kNobody, 0));
    }

    const QString output = held >= 0 ? QStringLiteral("/dev/fd/%1").arg(held) : t.qpath(c.output);
    const Result run = runList({"-o", output, t.qpath("Tree")});
    ASSERT_FALSE(run.crashed);
    if (!c.writes) {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains(t.path(at).c_str())) << run.err.data(); // the entry refused
        EXPECT_EQ(readFile(t.qpath("victim")).size(), 3);
        EXPECT_FALSE(QFile::exists(t.qpath("new.txt")));
        return;
    }
    EXPECT_EQ(run.exitCode, 0) << run.err.data();
    QByteArray written;
    if (held >= 0) {
        const QDir out(t.qpath("out")); // no file named after the link's text
        EXPECT_EQ(out.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System),
                  QStringList{QStringLiteral("mine")});
        char buffer[4096];
        for (ssize_t got; (got = ::pread(held, buffer, sizeof buffer, written.size())) > 0;)
            written.append(buffer, got);
    } else {
        written = readFile(t.qpath(c.writes));
    }
    expectList(run, written, expectedList(scanTree(t, "Tree"), t.path("Tree"), false));
    struct stat st;
    const mode_t umask = ::umask(0);
    ::umask(umask);
    if (planted.empty() && ::stat(t.path(at).c_str(), &st) == 0) {
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~umask);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(cli, CliOutputTarget, ::testing::Values(
    TargetCase{"NewInShared", "", true, false, "out/list.txt"},
    TargetCase{"OwnFileInShared", "file", true, false, "out/list.txt"},
    TargetCase{"OwnLinkFollowed", "link", false, false, "victim"},
    TargetCase{"DanglingLinkMakesItsTarget", "dangling", false, false, "new.txt"},
    TargetCase{"StrangersFileElsewhere", "file", false, true, "out/list.txt"},
    TargetCase{"Fifo", "fifo", false, false, nullptr},
    TargetCase{"Folder", "folder", false, false, nullptr},
    TargetCase{"StrangersLinkInShared", "link", true, true, nullptr},
    TargetCase{"StrangersFileInShared", "file", true, true, nullptr},
    TargetCase{"StrangersFifoInShared", "fifo", true, true, nullptr},
    TargetCase{"OwnLinkToStrangersLinkInShared", "link", true, true, nullptr, "out/mine"},
    TargetCase{"OwnLinkElsewhereToStrangersLink", "link", true, true, nullptr, "mine.txt"},
    TargetCase{"StrangersLinkToFolderOnTheWay", "uplink", true, true, nullptr,
               "out/list.txt/victim"},
    TargetCase{"StrangersLinkInStrangersShared", "link", true, true, nullptr, "out/list.txt",
               true},
    TargetCase{"HardLinkInShared", "hardlink", true, false, nullptr},
    TargetCase{"StrangersLinkInStrangersFolder", "link", false, true, nullptr, "out/list.txt",
               true},
    TargetCase{"OpenDescriptorOfRemovedFile", "deleted", false, false, "(held)"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(cli, SizesAndTotalsPastSixtyFourBits) {
    TempTree t;
    ASSERT_TRUE(t.ok());
    for (const char* name : {"Huge/a/f", "Huge/a/g", "Huge/a/h"}) {
        t.files("", {{name, 0}});
        const int f = ::openat(t.fd(), name, O_WRONLY | O_CLOEXEC);
        if (::ftruncate(f, LLONG_MAX) != 0)
            GTEST_SKIP() << "no files of 2^63-1 bytes here: " << std::strerror(errno);
        ::close(f);
    }
    const char* threeFiles = " 27,670,116,110,564,327,421\r\n";
    for (const auto& [withSubs, total] :
         {std::pair{false, threeFiles}, std::pair{true, " 55,340,232,221,128,654,842\r\n"}}) {
        const Result run = runList(listArgs(withSubs, {t.qpath("Huge")}));
        EXPECT_EQ(run.exitCode, 0) << run.err.data();
        EXPECT_EQ(run.out.count(threeFiles), 2) << run.out.data(); // a size, and a line or total
        EXPECT_TRUE(run.out.endsWith(total)) << run.out.data();
    }
}

// ---- Trees that are hard to walk ----

TEST(cli, MoreThan33000SubFoldersInOneFolder) {
    TempTree t;
    ASSERT_TRUE(t.ok());
    t.folder("Many");
    for (int i = 0; i < 33500; ++i) {
        const Bytes name = "Many/D" + std::to_string(100000 + i);
        ASSERT_EQ(::mkdirat(t.fd(), name.c_str(), 0755), 0) << std::strerror(errno);
        if (i % 1000 == 999)
            TempTree::makeFile(t.fd(), name + "/f", i);
    }
    const Folder root = scanTree(t, "Many");
    ASSERT_EQ(root.subs.size(), 33500u);
    for (const bool withSubs : {true, false}) {
        SCOPED_TRACE(withSubs ? "with subs" : "no subs");
        const QString out = t.qpath("list.txt");
        const Result run =
            runList(listArgs(withSubs, {QStringLiteral("-o"), out, t.qpath("Many")}));
        EXPECT_EQ(run.exitCode, 0) << run.err.data();
        expectList(run, readFile(out), expectedList(root, t.path("Many"), withSubs));
    }
}

TEST(cli, PathLongerThanPathMax) {
    TempTree t;
    ASSERT_TRUE(t.ok());
    t.folder("Deep");
    // Each level is made relative to the one above: the full path soon exceeds PATH_MAX.
    int fd = openFolderAt(t.fd(), "Deep");
    Bytes path = t.path("Deep");
    int inside = -1; // a folder whose own path is too long already
    Bytes insidePath;
    for (int level = 0; level < 18 && fd >= 0; ++level) {
        const Bytes name =
            "Level" + std::to_string(level) + "-" + Bytes(240, level % 2 ? 'Q' : 'q');
        SYS_OK(::mkdirat(fd, name.c_str(), 0755));
        TempTree::makeFile(fd, "f", 1000 * level + 1);
        const int next = openFolderAt(fd, name);
        ::close(fd);
        fd = next;
        path += "/" + name;
        if (path.size() > PATH_MAX && inside < 0) {
            inside = ::dup(fd);
            insidePath = path;
        }
    }
    ASSERT_GE(fd, 0) << std::strerror(errno);
    TempTree::makeFile(fd, "deepest", 4242);
    ::close(fd);
    ASSERT_GE(inside, 0);
    Counting asRead;
    const Folder insideRoot = scanFolder(inside, "", ::geteuid(), asRead);

    struct Case {
        bool withSubs;
        bool fromInside; // "." in that folder, else "Deep" by its path
    };
    for (const Case c :
         {Case{true, false}, Case{false, false}, Case{true, true}, Case{false, true}}) {
        SCOPED_TRACE(std::string(c.withSubs ? "with subs" : "no subs") +
                     (c.fromInside ? ", from inside" : ""));
        const QStringList args =
            listArgs(c.withSubs, {c.fromInside ? QStringLiteral(".") : t.qpath("Deep")});
        QProcess process;
        startList(process, args, false, {}, [&] {
            if (c.fromInside && ::fchdir(inside) != 0)
                ::_exit(127);
        });
        const Result run = finish(process, Result());
        EXPECT_EQ(run.exitCode, 0) << run.err.data();
        const Folder root = c.fromInside ? insideRoot : scanTree(t, "Deep");
        expectList(run, run.out,
                   expectedList(root, c.fromInside ? insidePath : t.path("Deep"), c.withSubs));
        const Lines got = splitLines(run.out);
        if (c.withSubs && got.size() > 4) { // the deepest folder's size, after its long path
            EXPECT_EQ(got[got.size() - 3], std::string(82, ' ') + sizeField(4242).toStdString());
            EXPECT_GT(got[got.size() - 4].size(), std::size_t(PATH_MAX));
        }
    }
    ::close(inside);
}

TEST(cli, UnreadableFolderHasNoSizeNorHaveItsAncestors) {
    // Root reads every folder: the tool then runs as nobody.
    const bool asNobody = ::geteuid() == 0;
    if (asNobody) {
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            GTEST_SKIP() << "running as root, and setpriv is missing to run as another user";
        const Result probe = runList({QStringLiteral("--version")}, true);
        if (probe.crashed || probe.exitCode != 0)
            GTEST_SKIP() << "cannot run kestrix-list as uid " << kNobody << ": "
                         << probe.err.data();
    }
    // Small, the tree is read level by level from the top; with many top folders the
    // sub-trees are read whole, one by one: an unreadable folder must tell in both.
    for (const int padding : {0, 20}) {
        SCOPED_TRACE(padding ? "shared out" : "read from the top");
        TempTree t;
        ASSERT_TRUE(t.ok());
        // clang-format off
        t.files("Guarded", {{"Outer/f", 3}, {"Outer/Open/f", 20}, {"Outer/Locked/Inner/x", 1},
                            {"Outer/Locked/secret", 500}, {"Second/NoSearch/f", 8}, {"Sibling/f", 40},
                            {"Sibling/Child/g", 2}});
        // clang-format on
        for (int i = 0; i < padding; ++i)
            t.folder("Guarded/Pad" + std::to_string(i));
        SYS_OK(::fchmodat(t.fd(), "Guarded/Outer/Locked", 0, 0));
        // NoSearch: its names can be read, but its entries cannot be looked at.
        SYS_OK(::fchmodat(t.fd(), "Guarded/Second/NoSearch", 0644, 0));

        const Folder root = scanTree(t, "Guarded", asNobody ? kNobody : ::geteuid());
        for (const bool withSubs : {true, false}) {
            SCOPED_TRACE(withSubs ? "with subs" : "no subs");
            const Result run = runList(listArgs(withSubs, {t.qpath("Guarded")}), asNobody);
            EXPECT_EQ(run.exitCode, 3) << run.err.data();
            for (const char* locked : {"Outer/Locked", "Second/NoSearch"})
                EXPECT_TRUE(run.err.contains("Guarded/" + QByteArray(locked) +
                                             "': " + std::strerror(EACCES)))
                    << run.err.data();
            expectList(run, run.out, expectedList(root, t.path("Guarded"), withSubs));
            // Blank: Outer, Second, and with subs Guarded, Locked and NoSearch.
            const Lines got = splitLines(run.out);
            EXPECT_EQ(std::count_if(got.begin(), got.end(),
                                    [](const std::string& l) {
                                        return l.size() == 96 && l.ends_with(std::string(14, ' '));
                                    }),
                      withSubs ? 5 : 2);
        }
    }
    // A hundred are named, the rest counted.
    TempTree t;
    ASSERT_TRUE(t.ok());
    t.folder("Many");
    for (int i = 0; i < 103; ++i)
        t.folder("Many/L" + std::to_string(i), 0);
    const Result run = runList({t.qpath("Many")}, asNobody);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.err.count('\n'), 101) << run.err.data();
    EXPECT_TRUE(run.err.endsWith(": 3 more folders could not be read\n")) << run.err.data();
}

// ---- Counting as asked: the space on disk, each file once ----

TEST(cli, SizesCountedAsAskedMatchAnOwnCount) {
    // Root reads every folder: with setpriv the tool runs as nobody, and Locked is locked.
    const bool asNobody =
        ::geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
    TempTree t;
    ASSERT_TRUE(t.ok());
    // clang-format off
    t.files("Count", {{"Sparse/image", 1LL << 30}, {"Data/a", 0}, {"Data/Deeper/b", 0},
                      {"top.bin", 0}, {"Locked/secret", 0}, {"Zeta/z", 0}});
    // clang-format on
    for (const auto& [rel, length] : {std::pair<Bytes, int>{"Sparse/image", 5000},
                                      {"Data/a", 10000},
                                      {"Data/Deeper/b", 70000},
                                      {"top.bin", 3000},
                                      {"Locked/secret", 9000}}) {
        const int f = ::openat(t.fd(), ("Count/" + rel).c_str(), O_WRONLY | O_CLOEXEC);
        SYS_OK(f);
        SYS_OK(::write(f, Bytes(std::size_t(length), 'k').data(), std::size_t(length)));
        ::close(f);
    }
    t.folder("Count/Copies");
    // Names of one file in two folders, twice in one folder, below and beside its folder,
    // and beside the top.
    for (const auto& [from, to] : {std::pair<Bytes, Bytes>{"Data/a", "Copies/a2"},
                                   {"Data/a", "Copies/a3"},
                                   {"Data/a", "Zeta/a4"},
                                   {"Data/Deeper/b", "Data/b2"},
                                   {"top.bin", "Zeta/top2"},
                                   {"Locked/secret", "Zeta/secret2"}})
        SYS_OK(::linkat(t.fd(), ("Count/" + from).c_str(), t.fd(), ("Count/" + to).c_str(), 0));
    SYS_OK(::fchmodat(t.fd(), "Count/Locked", 0, 0));
    for (const bool disk : {false, true}) {
        for (const bool once : {false, true}) {
            for (const bool withSubs : {false, true}) {
                const QStringList args = {
                    disk ? QStringLiteral("--size=disk") : QStringLiteral("--size=apparent"),
                    once ? QStringLiteral("--links=once") : QStringLiteral("--links=each"),
                    t.qpath("Count")};
                SCOPED_TRACE(args.join(u' ').toStdString() + (withSubs ? " with subs" : ""));
                const Result run = runList(listArgs(withSubs, args), asNobody);
                EXPECT_EQ(run.exitCode, asNobody ? 3 : 0) << run.err.data();
                const Folder root = scanTree(t, "Count", asNobody ? kNobody : ::geteuid(),
                                             {.disk = disk, .linksOnce = once});
                const QString measuredBy =
                    QStringList{disk ? QStringLiteral("--size=disk") : QString(),
                                once ? QStringLiteral("--links=once") : QString()}
                        .join(u' ')
                        .trimmed();
                expectList(run, run.out,
                           expectedList(root, t.path("Count"), withSubs, {}, measuredBy));
            }
        }
    }
}

// ---- Running out of descriptors ----

TEST(cli, DescriptorLimitIsKeptOrTheRunStopsAndSaysWhy) {
    TempTree t;
    ASSERT_TRUE(t.ok());
    t.folder("Chain");
    int fd = openFolderAt(t.fd(), "Chain");
    for (int level = 0; level < 300 && fd >= 0; ++level) { // far more levels than descriptors
        SYS_OK(::mkdirat(fd, "l", 0755));
        TempTree::makeFile(fd, "f", level + 1);
        const int next = openFolderAt(fd, "l");
        ::close(fd);
        fd = next;
    }
    ::close(fd);
    for (int i = 0; i < 20; ++i)
        t.files("Chain", {{"side" + std::to_string(i) + "/x/f", i}});
    const Lines want = expectedList(scanTree(t, "Chain"), t.path("Chain"), true);
    const QString listPath = t.qpath("list.txt");
    const auto runUnder = [&](rlim_t limit) {
        QFile::remove(listPath);
        QProcess process;
        startList(process,
                  {QStringLiteral("--with-subs"), QStringLiteral("-o"), listPath, t.qpath("Chain")},
                  false, {}, [limit] {
                      const struct rlimit both = {limit, limit};
                      ::setrlimit(RLIMIT_NOFILE, &both);
                  });
        return finish(process, Result());
    };
    // Below the tightest limit the list cannot be created; at it, the list file and a folder
    // and no more: the lines so far, and no total. Above, the whole list.
    rlim_t tightest = 0;
    for (rlim_t limit = 3; limit < 24 && tightest == 0; ++limit) {
        SCOPED_TRACE(limit);
        const Result run = runUnder(limit);
        ASSERT_FALSE(run.crashed);
        if (run.exitCode == 127) // the loader could not open the libraries: not ours yet
            continue;
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains(std::strerror(EMFILE))) << run.err.data();
        if (!QFile::exists(listPath))
            continue;
        tightest = limit;
        const Lines got = splitLines(readFile(listPath));
        ASSERT_LE(got.size() + 2, want.size());
        for (std::size_t i = 3; i < got.size(); ++i)
            EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
    }
    ASSERT_NE(tightest, 0u) << "no limit let the list be created";
    for (const rlim_t spare : {rlim_t(9), rlim_t(253)}) {
        SCOPED_TRACE(spare);
        const Result run = runUnder(tightest + spare);
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, 0) << run.err.data();
        expectList(run, readFile(listPath), want);
    }
}

// ---- Interrupting a run ----

struct InterruptCase {
    const char* name;
    int signal;
    bool toStdout; // a pipe that is not read holds the tool back until the signal is sent
    bool ignoredAtStart = false; // as for a background job: the run must not hear it
    bool beforeStart = false;    // sent while blocked, before the program starts
    // Each letter one sending: 'p' to the process started, 'g' to each of its processes,
    // as kill(1) of a job does. One event often comes so, twice.
    const char* sends = "p";
};
void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << c.name;
}

class CliInterrupt : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(CliInterrupt, ListEndsWithTheTotalOfTheLinesWritten) {
    const InterruptCase& c = GetParam();
    TempTree t;
    ASSERT_TRUE(t.ok());
    t.folder("Wide");
    constexpr int kFolders = 4000;
    for (int i = 0; i < kFolders; ++i) {
        // Long names make long lines: the list outgrows any pipe and buffer many times.
        const Bytes name = "Wide/W" + std::to_string(10000 + i) + Bytes(150, 'n');
        ASSERT_EQ(::mkdirat(t.fd(), name.c_str(), 0755), 0) << std::strerror(errno);
        if (i % 7 == 0)
            TempTree::makeFile(t.fd(), name + "/f", 1000 + i);
    }
    const Lines want = expectedList(scanTree(t, "Wide"), t.path("Wide"), true);

    const QString listPath = t.qpath("list.txt");
    QStringList args{QStringLiteral("--with-subs"), t.qpath("Wide")};
    if (!c.toStdout)
        args << QStringLiteral("-o") << listPath;
    Result result;
    result.dates << today();
    QProcess process;
    startList(process, args, false, {}, [&c] {
        if (std::strchr(c.sends, 'g'))
            ::setpgid(0, 0);
        if (c.ignoredAtStart)
            ::signal(c.signal, SIG_IGN);
        if (c.beforeStart) {
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, c.signal);
            ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
            ::raise(c.signal);
        }
    });
    ASSERT_TRUE(process.waitForStarted());
    if (c.toStdout) {
        // Read up to the first folder lines, then nothing more until the signal is sent.
        while (result.out.count("\r\n") < 9 && process.waitForReadyRead(60000))
            result.out += process.readAllStandardOutput();
    } else {
        for (int i = 0;
             i < 30000 && QFileInfo(listPath).size() == 0 && process.state() == QProcess::Running;
             ++i)
            ::usleep(1000);
    }
    for (const char* to = c.sends; process.state() == QProcess::Running && !c.beforeStart && *to;
         ++to)
        ::kill(pid_t(process.processId()) * (*to == 'g' ? -1 : 1), c.signal);
    result = finish(process, result);
    ASSERT_FALSE(result.crashed) << result.err.data();
    const QByteArray bytes = c.toStdout ? result.out : readFile(listPath);
    if (c.ignoredAtStart || (result.exitCode == 0 && !c.toStdout)) {
        EXPECT_EQ(result.exitCode, 0) << result.err.data();
        expectList(result, bytes, want); // done before the signal came: the whole list
        return;
    }
    EXPECT_EQ(result.exitCode, 130) << result.err.data();
    expectList(result, bytes, want, true);
    const auto [sum, total] = sumAndTotal(bytes);
    EXPECT_EQ(total, sum);
    if (c.toStdout) { // held back by the pipe, the run cannot have got far
        EXPECT_LT(splitLines(bytes).size(), want.size() / 2);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    cli, CliInterrupt,
    ::testing::Values(InterruptCase{"SigintStdout", SIGINT, true},
                      InterruptCase{"SigtermStdout", SIGTERM, true},
                      InterruptCase{"SigintFile", SIGINT, false},
                      InterruptCase{"SighupFile", SIGHUP, false},
                      InterruptCase{"SighupStdout", SIGHUP, true},
                      InterruptCase{"IgnoredSigint", SIGINT, true, true},
                      InterruptCase{"SigtermBeforeStart", SIGTERM, true, false, true},
                      InterruptCase{"SigtermToGroup", SIGTERM, false, false, false, "g"},
                      // timeout(1); bash and then the kernel on a closed terminal
                      InterruptCase{"SigtermToProcessThenGroup", SIGTERM, false, false, false, "pg"},
                      InterruptCase{"SighupToGroupTwice", SIGHUP, true, false, false, "gg"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
