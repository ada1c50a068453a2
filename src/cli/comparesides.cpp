#include "cli/comparesides.h"

#include "cli/clirun.h"
#include "listing/listfields.h"
#include "platform/system/interrupt.h"
#include "platform/system/readablefile.h"

#include <QFile>

int interruptedComparison() {
    printError(QStringLiteral("interrupted: no comparison written"));
    return kInterrupted;
}

ListInput::ListInput(ListSide::Folder folder)
    : side(std::move(folder)), reader([this](QByteArrayView path, std::optional<ByteTotal> size) {
          return side.take(reader, path, size);
      }) {}

QString ListInput::finish(bool withSubs) {
    const QString why = side.finish(reader, withSubs);
    return why.isEmpty() ? why : QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(why);
}

namespace {

constexpr qsizetype kPieceSize = 1 << 20;

// A list file being read: each call that reaches the file system is made on a thread of
// its own, as the file may be on a server that stopped answering; what it shares with
// this thread is held by both.
struct ListFileRead {
    std::shared_ptr<QFile> file = std::make_shared<QFile>();
    QString why; // why it cannot be read; empty while it can
    QDate modified;
};

std::optional<ListFileRead> openListFile(const QByteArray& path) {
    ListFileRead read;
    return askAside<ListFileRead>([read, path]() mutable {
        read.why = ReadableFile::open(*read.file, path);
        const ReadableFile::Kind kind = ReadableFile::kindOf(path);
        if (!read.why.isEmpty() && kind != ReadableFile::Kind::Folder &&
            kind != ReadableFile::Kind::Other)
            read.why = QStringLiteral("cannot be read: %1").arg(read.why); // the system's reason
        if (read.why.isEmpty())
            read.modified = ReadableFile::modified(*read.file).date();
        return read;
    });
}

// The next piece of the file, empty at its end; nothing when a request came first.
std::optional<QByteArray> nextPiece(const ListFileRead& read, QString& why) {
    struct Piece {
        QByteArray bytes;
        QString why;
    };
    const std::optional<Piece> piece = askAside<Piece>([file = read.file] {
        Piece piece{QByteArray(kPieceSize, Qt::Uninitialized), {}};
        const qint64 got = file->read(piece.bytes.data(), piece.bytes.size());
        if (got < 0)
            piece.why = QStringLiteral("cannot be read: %1").arg(file->errorString());
        piece.bytes.truncate(std::max<qint64>(got, 0));
        return piece;
    });
    if (piece)
        why = piece->why;
    return piece ? std::optional(piece->bytes) : std::nullopt;
}

// What a list file's start says: its form (nothing when it says none) and, for a
// report, its mode and whether its folder is the root.
struct Sniffed {
    std::optional<ListFormat> form;
    bool withSubs = false;
    bool root = false;
    bool isReport() const { return form == ListFormat::Report; }
};

// Nothing when a request came first.
std::optional<Sniffed> sniff(const QByteArray& path) {
    const std::optional<ListFileRead> read = openListFile(path);
    if (!read)
        return std::nullopt;
    QString why;
    const std::optional<QByteArray> start =
        read->why.isEmpty() ? nextPiece(*read, why) : std::optional(QByteArray());
    if (!start)
        return std::nullopt;
    // A first piece short of a whole one is the whole file.
    ListReader reader([](QByteArrayView, std::optional<ByteTotal>) { return QString(); });
    if (reader.feed(*start) && !reader.form() && start->size() < kPieceSize)
        reader.finish();
    return Sniffed{reader.form(), reader.header().withSubs,
                   reader.header().folder == QStringLiteral("/")};
}

QString shownList(const char* role, const QByteArray& path) {
    return QStringLiteral("%1 '%2'").arg(QLatin1StringView(role), QFile::decodeName(path));
}

} // namespace

Sides::Sides(const CliOptions& options, bool laterIsFile)
    : earlier([this](QByteArrayView below, std::optional<ByteTotal> size) {
          return comparison.addEarlier(below, size);
      }),
      later([this](QByteArrayView below, std::optional<ByteTotal> size) {
          return comparison.addLater(below, size);
      }),
      laterIsFile_(laterIsFile), earlierShown_(shownList("EARLIER", options.compareWith)),
      laterShown_(
          laterIsFile
              ? shownList("LATER", options.folder)
              : QStringLiteral("the new list of %1").arg(QFile::decodeName(options.folder))) {}

std::optional<int> Sides::matchForms(const CliOptions& options) {
    if (!laterIsFile_)
        return std::nullopt;
    // Lines for scripts are matched with a report by the text the report would show.
    const std::optional<Sniffed> before = sniff(options.compareWith);
    const std::optional<Sniffed> now = before ? sniff(options.folder) : std::nullopt;
    if (!before || !now)
        return interruptedComparison();
    if (before->form && now->form && before->isReport() != now->isReport()) {
        const Sniffed& report = before->isReport() ? *before : *now;
        earlier.side.showAsReport(report.withSubs, report.root);
        later.side.showAsReport(report.withSubs, report.root);
    }
    return std::nullopt;
}

std::optional<int> Sides::readListFile(const QByteArray& path, const QString& shown,
                                       ListInput& input, QString& fileDate) {
    const std::optional<ListFileRead> read = openListFile(path);
    if (!read)
        return interruptedComparison();
    QString why = read->why;
    while (why.isEmpty()) {
        if (interruptRequested())
            return interruptedComparison();
        const std::optional<QByteArray> piece = nextPiece(*read, why);
        if (!piece)
            return interruptedComparison();
        if (!why.isEmpty())
            break;
        if (piece->isEmpty() ? !input.reader.finish() : !input.reader.feed(*piece))
            why = QStringLiteral("not a whole Kestrix list: %1").arg(input.reader.error());
        else if (piece->isEmpty())
            break;
    }
    if (!why.isEmpty()) {
        printError(QStringLiteral("%1: %2").arg(shown, why));
        return kUsage;
    }
    // Lines for scripts carry no date: the file's own stands for it.
    fileDate = input.reader.isReport() ? input.reader.header().date
                                       : listfields::headerDate(read->modified, locale);
    return std::nullopt;
}

std::optional<int> Sides::readEarlier(const CliOptions& options) {
    if (const std::optional<int> status =
            readListFile(options.compareWith, earlierShown_, earlier, earlierDate_))
        return status;
    if (const QString why = earlier.finish(options.withSubs); !why.isEmpty()) {
        printError(QStringLiteral("%1: not a whole Kestrix list: %2").arg(earlierShown_, why));
        return kUsage;
    }
    withSubs = *earlier.side.withSubs();
    if (options.withSubs && !withSubs)
        return usageError(QStringLiteral("%1 is a list without subs: --with-subs does not go "
                                         "with it")
                              .arg(earlierShown_));
    return laterIsFile_ ? std::nullopt : settleMeasurement(options);
}

std::optional<int> Sides::readLater(const CliOptions& options) {
    if (const std::optional<int> status =
            readListFile(options.folder, laterShown_, later, laterDate))
        return status;
    if (const QString why = later.finish(withSubs); !why.isEmpty()) {
        printError(QStringLiteral("%1: not a whole Kestrix list: %2").arg(laterShown_, why));
        return kUsage;
    }
    if (*later.side.withSubs() != withSubs) {
        printError(QStringLiteral("%1 is a list %2 subs, %3 %4: they cannot be compared")
                       .arg(earlierShown_, withSubs ? u"with" : u"without", laterShown_,
                            withSubs ? u"without" : u"with"));
        return kUsage;
    }
    laterFolder = later.side.folder(later.reader);
    return settleMeasurement(options);
}

std::optional<int> Sides::settleMeasurement(const CliOptions& options) {
    std::optional<Measurement> said;
    QString saidBy;
    const std::pair<const ListInput*, QString> lists[] = {{&earlier, earlierShown_},
                                                          {&later, laterShown_}};
    for (const auto& [input, shown] : lists) {
        if (input == &later && !laterIsFile_)
            break;
        if (!input->reader.isReport()) {
            unmeasured_ << shown;
            continue;
        }
        const Measurement& measured = input->reader.header().measurement;
        if (said && measured != *said) {
            const auto [mine, theirs] = measured.differencesFrom(*said);
            printError(QStringLiteral("%1 was measured with %2, %3 with %4: they cannot be "
                                      "compared")
                           .arg(shown, mine, saidBy, theirs));
            return kUsage;
        }
        said = measured;
        saidBy = shown;
    }
    measurement = said.value_or(measurementOf(options));
    Measurement asked = measurement;
    if (options.given.size)
        asked.diskUsage = options.diskUsage;
    if (options.given.links)
        asked.linksOnce = options.linksOnce;
    if (options.given.oneFileSystem)
        asked.oneFileSystem = true;
    if (options.given.exclude)
        asked.excludePatterns = measurementOf(options).excludePatterns;
    if (asked != measurement) {
        const auto [mine, theirs] = asked.differencesFrom(measurement);
        return usageError(QStringLiteral("the command line asks for %1, but %2 was measured with "
                                         "%3: leave the option out to measure as the list "
                                         "was")
                              .arg(mine, saidBy, theirs));
    }
    if (!unmeasured_.isEmpty())
        printError(QStringLiteral("%1 %2 lines for scripts, which do not say how they were "
                                  "measured: taken as measured %3")
                       .arg(unmeasured_.join(QStringLiteral(" and ")),
                            unmeasured_.size() > 1 ? u"are" : u"is",
                            measurement.isDefault()
                                ? QStringLiteral("by default (--size=apparent --links=each)")
                                : QStringLiteral("with ") + measurement.options()));
    return std::nullopt;
}

void Sides::warnOfOtherFolders() const {
    // Only paths from the root tell a folder: lines for scripts may name it as given, or
    // begin at the root whatever folder they are of.
    const QString before = earlier.side.folder(earlier.reader);
    if (earlier.side.isRootStyle() || (laterIsFile_ && later.side.isRootStyle()))
        return;
    if (before.startsWith(u'/') && laterFolder.startsWith(u'/') &&
        before.toLower() != laterFolder.toLower())
        printError(QStringLiteral("%1 is a list of %2, not of %3: they are compared all the same")
                       .arg(earlierShown_, before, laterFolder));
}

void Sides::tellClashesAndUnknowns() const {
    const std::pair<const ListInput*, QString> lists[] = {{&earlier, earlierShown_},
                                                          {&later, laterShown_}};
    for (const auto& [input, shown] : lists) {
        const Comparison::Clashes& clashes =
            input == &earlier ? comparison.earlierClashes() : comparison.laterClashes();
        if (!clashes.first)
            continue;
        printError(
            QStringLiteral("more than one folder shows as '%1' in %2%3 (their names differ "
                           "only in case or in control characters): they are matched in "
                           "the order of the lists")
                .arg(QString::fromUtf8(input->side.pathOf(comparison.below(*clashes.first))), shown,
                     clashes.count > 1
                         ? QStringLiteral(", and %1 more such folders").arg(clashes.count - 1)
                         : QString()));
    }
    constexpr quint64 kNamedAtMost = 100;
    quint64 unknown = 0;
    const CompareReport shown = report(CliOptions());
    for (const Comparison::Line& line : comparison.lines()) {
        if (line.kind() != Comparison::Kind::Unknown || ++unknown > kNamedAtMost)
            continue;
        const bool blankBefore = line.inEarlier && line.earlier == Comparison::kUnknown;
        printError(QStringLiteral("size of '%1' unknown (%2), left out of the totals")
                       .arg(QString::fromUtf8(shown.pathOf(line)),
                            blankBefore    ? QStringLiteral("blank in the earlier list")
                            : laterIsFile_ ? QStringLiteral("blank in the later list")
                                           : QStringLiteral("unreadable now")));
    }
    if (unknown > kNamedAtMost)
        printError(QStringLiteral("%1 more folders of unknown size").arg(unknown - kNamedAtMost));
}

quint64 Sides::unknownCount() const {
    quint64 unknown = 0;
    for (const Comparison::Line& line : comparison.lines())
        unknown += line.kind() == Comparison::Kind::Unknown;
    return unknown;
}

CompareReport Sides::report(const CliOptions& options) const {
    CompareReport report;
    report.form = options.format;
    report.headerText = options.headerText;
    report.locale = locale;
    report.withSubs = withSubs;
    report.earlierDate = earlierDate_;
    report.laterDate = laterDate;
    report.folder = laterFolder;
    report.measuredBy = measurement.options();
    report.top = options.top;
    report.minChange = options.minChange;
    // Every line in the later list's style; a report without subs names the folders alone.
    const bool namesAlone = options.format == ListFormat::Report && !withSubs;
    report.pathOf = [this, namesAlone](const Comparison::Line& line) {
        const QByteArray below = comparison.below(line.node);
        return namesAlone ? below : later.side.pathOf(below);
    };
    return report;
}
