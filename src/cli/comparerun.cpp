#include "cli/comparerun.h"

#include "cli/clirun.h"
#include "cli/comparereport.h"
#include "cli/comparison.h"
#include "cli/listreader.h"
#include "cli/listside.h"
#include "cli/terminalhost.h"
#include "listing/listfields.h"
#include "listing/listfilewriter.h"
#include "listing/listingjob.h"
#include "platform/system/interrupt.h"
#include "platform/system/listfile.h"
#include "platform/system/readablefile.h"
#include "posixscan/filesystem.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The lines of the new list, matched as the run writes them: the list itself is kept
// nowhere.
class ListSink final : public QFile {
public:
    explicit ListSink(ListReader& reader) : reader_(reader) {}

protected:
    qint64 writeData(const char* data, qint64 length) override {
        reader_.feed(QByteArrayView(data, length));
        return length;
    }

private:
    ListReader& reader_;
};

// One list read into the comparison, from a file or from a run.
struct ListInput {
    explicit ListInput(std::function<void(QByteArrayView, std::optional<quint64>)> folder)
        : side(std::move(folder)), reader([this](QByteArrayView path, std::optional<quint64> size) {
              if (!side.take(reader, path, size) && sideError.isEmpty())
                  sideError =
                      QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(side.error());
          }) {}
    QString error() const { return reader.error().isEmpty() ? sideError : reader.error(); }

    ListSide side;
    ListReader reader;
    QString sideError;
};

enum class ReadEnd { Read, Refused, Interrupted };

// Reads the list file into `input`; says on standard error why it is not one.
ReadEnd readListFile(const QByteArray& path, const QString& role, ListInput& input,
                     QString& shown) {
    shown = QStringLiteral("%1 '%2'").arg(role, QString::fromUtf8(path));
    QFile file;
    QString why = ReadableFile::open(file, path);
    const ReadableFile::Kind kind = ReadableFile::kindOf(path);
    if (!why.isEmpty() && kind != ReadableFile::Kind::Folder && kind != ReadableFile::Kind::Other)
        why = QStringLiteral("cannot be read: %1").arg(why); // the system's reason
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    while (why.isEmpty()) {
        if (interruptRequested())
            return ReadEnd::Interrupted;
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got < 0)
            why = QStringLiteral("cannot be read: %1").arg(file.errorString());
        else if (got == 0 ? !input.reader.finish() : !input.reader.feed(buffer.first(got)))
            why = QStringLiteral("not a whole Kestrix list: %1").arg(input.reader.error());
        else if (!input.sideError.isEmpty())
            why = QStringLiteral("not a Kestrix list: %1").arg(input.sideError);
        else if (got == 0)
            break;
    }
    if (why.isEmpty())
        return ReadEnd::Read;
    printError(QStringLiteral("%1: %2").arg(shown, why));
    return ReadEnd::Refused;
}

// The exit status when a list file could not be read whole; nothing when it was.
std::optional<int> statusAfter(ReadEnd end) {
    switch (end) {
    case ReadEnd::Interrupted:
        printError(QStringLiteral("interrupted: no comparison written"));
        return kInterrupted;
    case ReadEnd::Refused:
        return kUsage;
    case ReadEnd::Read:
        break;
    }
    return std::nullopt;
}

// The form a list file starts in, from its first line; Unknown when it says none.
ListReader::Form formOf(const QByteArray& path) {
    QFile file;
    if (!ReadableFile::open(file, path).isEmpty())
        return ListReader::Form::Unknown;
    ListReader sniff([](QByteArrayView, std::optional<quint64>) {});
    sniff.feed(file.read(64 * 1024));
    return sniff.form();
}

QString fileDate(const QByteArray& path, const QLocale& locale) {
    QFile file;
    ReadableFile::open(file, path);
    return listfields::headerDate(ReadableFile::modified(file).date(), locale);
}

ListFormat scanFormat(ListReader::Form form) {
    return form == ListReader::Form::Report ? ListFormat::Report
           : form == ListReader::Form::Tsv  ? ListFormat::Tsv
                                            : ListFormat::TsvNullEnded;
}

struct Told {
    QString earlierShown;
    bool laterIsFile = false;
    int unreadable = 0; // folders the new list could not read, named by the scan
};

// Names the clashes and the folders of unknown size on standard error, then writes the
// comparison.
int writeOut(const Comparison& comparison, const CompareReport& report, const CliOptions& options,
             int closedAtStart, const Told& told,
             const std::function<QByteArray(const Comparison::Clash&)>& clashPath) {
    for (const Comparison::Clash& clash : comparison.clashes())
        printError(QStringLiteral("more than one folder shows as '%1' in %2 (their names differ "
                                  "only in case or in control characters): they are matched in "
                                  "the order of the lists")
                       .arg(QString::fromUtf8(clashPath(clash)),
                            clash.inLater ? QStringLiteral("the later list") : told.earlierShown));
    constexpr int kNamedAtMost = 100;
    int unknown = 0;
    for (const Comparison::Line& line : comparison.lines()) {
        if (line.kind() != Comparison::Kind::Unknown || ++unknown > kNamedAtMost)
            continue;
        const bool blankBefore = line.inEarlier && line.earlier == Comparison::kUnknown;
        printError(QStringLiteral("size of '%1' unknown (%2), left out of the totals")
                       .arg(QString::fromUtf8(report.pathOf(line)),
                            blankBefore        ? QStringLiteral("blank in the earlier list")
                            : told.laterIsFile ? QStringLiteral("blank in the later list")
                                               : QStringLiteral("unreadable now")));
    }
    if (unknown > kNamedAtMost)
        printError(QStringLiteral("%1 more folders of unknown size").arg(unknown - kNamedAtMost));

    CompareReport shown = report;
    shown.form = options.format == CliOptions::Format::Report ? CompareReport::Form::Report
                 : options.nullEnded                          ? CompareReport::Form::TsvNullEnded
                                                              : CompareReport::Form::Tsv;
    shown.top = options.top;
    shown.minChange = options.minChange;
    ListFile out;
    QString target = QFile::decodeName(options.outputFile);
    if (options.outputFile.isEmpty()) {
        target = QStringLiteral("standard output");
        if (closedAtStart & (1 << 1)) {
            printError(QStringLiteral("cannot write the comparison: standard output is closed"));
            return kFailed;
        }
        if (!out.open(stdout, QIODevice::WriteOnly)) {
            printError(QStringLiteral("cannot write to %1: %2").arg(target, out.errorString()));
            return kFailed;
        }
    } else {
        std::optional<OpenedListFile> opened = askAside<OpenedListFile>(
            [path = options.outputFile] { return openListFileAside(path); });
        if (!opened)
            return kInterrupted;
        if (const QString failure = takeOverListFile(out, std::move(*opened)); !failure.isEmpty()) {
            printError(QStringLiteral("cannot create %1: %2").arg(target, failure));
            return kFailed;
        }
    }
    {
        ListFileWriter writer(out);
        writeComparison(comparison, shown, writer);
        if (!writer.flush()) {
            printError(QStringLiteral("writing %1 failed: %2").arg(target, writer.errorString()));
            return kFailed;
        }
    }
    out.close();
    if (out.error() != QFileDevice::NoError) {
        printError(QStringLiteral("writing %1 failed: %2").arg(target, out.errorString()));
        return kFailed;
    }
    return unknown > 0 || told.unreadable > 0 ? kBlankSizes : kSuccess;
}

} // namespace

int compareMain(const CliOptions& options, int closedAtStart) {
    setScanThreads(options.threads);
    const std::shared_ptr<FileSystemInfo> fileSystem = createFileSystemInfo();
    const QLocale locale = QLocale::system();
    Comparison comparison;

    // LATER is a folder to list anew, or a list file.
    struct Later {
        NativePath folder;
        int error = 0;
    };
    const std::optional<Later> later = askAside<Later>([given = options.folder] {
        Later found{absoluteFolderPath(given), 0};
        found.error = found.folder.isEmpty() ? errno : folderOpenError(found.folder);
        return found;
    });
    if (!later)
        return kInterrupted;
    const bool laterIsFile = later->error == ENOTDIR &&
                             ReadableFile::kindOf(options.folder) == ReadableFile::Kind::Regular;
    if (!laterIsFile && (later->error == ENOENT || later->error == ENOTDIR)) {
        printError(QStringLiteral("%1: neither a folder nor a list file")
                       .arg(fileSystem->decodePath(options.folder)));
        return kUsage;
    }
    if (!laterIsFile && later->error != 0) {
        printError(QStringLiteral("cannot open %1: %2")
                       .arg(fileSystem->decodePath(options.folder),
                            QString::fromLocal8Bit(std::strerror(later->error))));
        return kFailed;
    }

    // Lines for scripts are matched with a report by the text the report would show.
    const ListReader::Form laterForm =
        laterIsFile ? formOf(options.folder) : ListReader::Form::Unknown;
    const ListReader::Form earlierForm = formOf(options.compareWith);
    const auto isReport = [](ListReader::Form form) { return form == ListReader::Form::Report; };
    const bool mixed = laterIsFile && laterForm != ListReader::Form::Unknown &&
                       earlierForm != ListReader::Form::Unknown &&
                       isReport(laterForm) != isReport(earlierForm);

    ListInput earlier([&comparison](QByteArrayView below, std::optional<quint64> size) {
        comparison.addEarlier(below, size);
    });
    if (mixed)
        earlier.side.showAsReport();
    QString earlierShown;
    if (const std::optional<int> status = statusAfter(
            readListFile(options.compareWith, QStringLiteral("EARLIER"), earlier, earlierShown)))
        return *status;
    earlier.side.finish(earlier.reader, options.withSubs);
    const bool withSubs = *earlier.side.withSubs();
    if (options.withSubs && !withSubs) {
        printError(QStringLiteral("%1 is a list without subs: --with-subs does not go with it")
                       .arg(earlierShown));
        std::fputs("Try 'kestrix-list --help' for more information.\n", stderr);
        return kUsage;
    }

    ListInput latest([&comparison](QByteArrayView below, std::optional<quint64> size) {
        comparison.addLater(below, size);
    });
    if (mixed)
        latest.side.showAsReport();
    CompareReport report;
    report.headerText = options.headerText;
    report.locale = locale;
    report.withSubs = withSubs;
    report.earlierDate = earlier.side.isReport() ? earlier.reader.header().date
                                                 : fileDate(options.compareWith, locale);
    int unreadable = 0;
    if (laterIsFile) {
        QString laterShown;
        if (const std::optional<int> status = statusAfter(
                readListFile(options.folder, QStringLiteral("LATER"), latest, laterShown)))
            return *status;
        latest.side.finish(latest.reader, withSubs);
        if (*latest.side.withSubs() != withSubs) {
            printError(QStringLiteral("%1 is a list %2 subs, %3 %4: they cannot be compared")
                           .arg(earlierShown, withSubs ? u"with" : u"without", laterShown,
                                withSubs ? u"without" : u"with"));
            return kUsage;
        }
        const bool isReportList = latest.side.isReport();
        report.laterDate =
            isReportList ? latest.reader.header().date : fileDate(options.folder, locale);
        QByteArray top = latest.side.pathOf({});
        if (top.size() > 1 && top.endsWith('/'))
            top.chop(1);
        report.folder = isReportList ? latest.reader.header().folder : QString::fromUtf8(top);
    } else {
        TerminalHost host(*fileSystem, TerminalHost::ListTarget::File);
        ListRequest request;
        request.folder = later->folder;
        request.mode = withSubs ? ListMode::WithSubs : ListMode::NoSubs;
        request.format = scanFormat(earlier.reader.form());
        request.locale = QLocale::c();
        request.scanOptions = scanOptionsOf(options, host);
        request.namedAs = options.folder;
        const auto sink = std::make_shared<ListSink>(latest.reader);
        sink->setFileName(QStringLiteral("/dev/null"));
        if (!sink->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            printError(QStringLiteral("cannot list %1: %2")
                           .arg(fileSystem->decodePath(options.folder), sink->errorString()));
            return kFailed;
        }
        const ListOutcome outcome =
            runJob(host, fileSystem, request, ListingJob::Opened{sink, {}, false});
        host.stopReports();
        host.clear();
        host.reportUnnamed();
        unreadable = host.unreadableCount();
        if (host.interrupted() || interruptRequested()) {
            printError(QStringLiteral("interrupted: no comparison written"));
            return kInterrupted;
        }
        if (outcome.status != ListOutcome::Status::Written) {
            printError(QStringLiteral("listing %1 stopped (%2): no comparison written")
                           .arg(fileSystem->decodePath(options.folder), outcome.errorString));
            return kFailed;
        }
        if (!latest.reader.finish() || !latest.sideError.isEmpty()) {
            printError(QStringLiteral("the new list of %1 could not be read back: %2")
                           .arg(fileSystem->decodePath(options.folder), latest.error()));
            return kFailed;
        }
        latest.side.finish(latest.reader, withSubs);
        report.laterDate = listfields::headerDate(QDate::currentDate(), locale);
        report.folder = fileSystem->decodePath(later->folder).toLower();
    }
    comparison.finish();
    report.pathOf = [&](const Comparison::Line& line) {
        const QByteArray below = comparison.below(line.node);
        return line.inLater ? latest.side.pathOf(below) : earlier.side.pathOf(below);
    };
    return writeOut(comparison, report, options, closedAtStart,
                    {earlierShown, laterIsFile, unreadable}, [&](const Comparison::Clash& clash) {
                        const ListSide& side = clash.inLater ? latest.side : earlier.side;
                        return side.pathOf(comparison.below(clash.node));
                    });
}
