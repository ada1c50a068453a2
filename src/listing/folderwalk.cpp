#include "listing/folderwalk.h"

#include "listing/listfields.h"
#include "listing/listfilewriter.h"
#include "listing/runhost.h"
#include "listing/treescan.h"

#include <algorithm>
#include <vector>

FolderWalk::FolderWalk(ByteTotal& total, std::shared_ptr<FileSystemInfo> fileSystem, RunHost& host,
                       std::stop_token stop, ListFileWriter& out, const QLocale& locale,
                       ListFormat format, TreeRead read, NativePath namedAs)
    : total_(total), fileSystem_(std::move(fileSystem)), host_(host),
      passStopOn_(std::move(stop), [this] { stop_.request_stop(); }), out_(out),
      groupSeparator_(locale.groupSeparator()), separator_(fileSystem_->separator()),
      format_(format), read_(std::move(read)), namedAs_(std::move(namedAs)) {}

void FolderWalk::startRecords(const NativePath& folderWithSeparator) {
    recordSkip_ = folderWithSeparator.size();
    if (namedAs_.isEmpty())
        namedAs_ =
            folderWithSeparator.size() > 1 ? folderWithSeparator.chopped(1) : folderWithSeparator;
}

NativePath FolderWalk::withSeparator(const NativePath& folder) const {
    return folder.endsWith(separator_) ? folder : folder + separator_;
}

bool FolderWalk::cannotGoOn() const {
    // A list file that can no longer be written ends the walk like an Abort would, and so
    // does a file system that ran out of descriptors or memory: its answers fall short.
    return stop_.stop_requested() || out_.failed() || fileSystem_->exhaustedResource() != 0;
}

void FolderWalk::whileWaiting() {
    if (!sinceProgress_.isValid() || sinceProgress_.elapsed() >= kProgressIntervalMs) {
        const ScanProgress progress = fileSystem_->scanProgress();
        if (!progress.folder.isEmpty()) {
            sinceProgress_.start();
            host_.showScanProgress(fileSystem_->decodePath(progress.folder).toLower(),
                                   progress.folders, progress.files);
        }
    }
    out_.flushIfDue();
    if (cannotGoOn())
        stop_.request_stop(); // the scan is not waited for any longer
}

bool FolderWalk::showFolder(const QString& shown) {
    if (cannotGoOn())
        return false;
    host_.setStatusText(shown);
    return !cannotGoOn();
}

void FolderWalk::WalkFolder(const NativePath& folder) {
    NativePath path = withSeparator(folder);
    QString shown = fileSystem_->decodePath(path).toLower();
    // Lines show the path below its root: the same letters after the root's own.
    const QString topBelowRoot = fileSystem_->pathBelowRoot(path).toLower();
    const qsizetype rootLength =
        shown.endsWith(topBelowRoot) ? shown.size() - topBelowRoot.size() : -1;
    topIsRoot_ = topBelowRoot.isEmpty();
    startRecords(path);

    if (!showFolder(shown))
        return;
    TreeRead read = read_;
    read.folder = path;
    TreeScan scan(fileSystem_, std::move(read), TreeScan::Kind::Record);
    if (const std::unique_ptr<RecordedFolders> recorded =
            scan.takeRecord(stop_.get_token(), [this] { whileWaiting(); }))
        walkRecorded(*recorded, path, shown, rootLength);
}

void FolderWalk::walkRecorded(RecordedFolders& recorded, NativePath& path, QString& shown,
                              qsizetype rootLength) {
    // How long the path and the path as shown are at each level down to the folder.
    struct Level {
        qsizetype pathLength;
        qsizetype shownLength;
    };
    std::vector<Level> levels;
    while (recorded.next()) {
        const int depth = recorded.depth();
        if (depth > 0) {
            const QByteArrayView name = recorded.name();
            if (fileSystem_->isHidden(name)) {
                recorded.skipBelow();
                continue;
            }
            const Level& parent = levels[std::size_t(depth) - 1];
            path.resize(parent.pathLength + name.size() + 1);
            std::copy(name.begin(), name.end(), path.begin() + parent.pathLength);
            path.back() = separator_;
            shown.truncate(parent.shownLength);
            appendLowered(shown, name);
            shown += QLatin1Char(separator_);
            if (!showFolder(shown))
                return;
        }
        levels.resize(std::size_t(depth) + 1);
        levels.back() = {path.size(), shown.size()};
        if (cannotGoOn())
            return;
        WriteFolderLine(recorded.size(), path, shownBelow(shown, rootLength));
    }
}

void FolderWalk::appendLowered(QString& shown, QByteArrayView name) const {
    const qsizetype at = shown.size();
    fileSystem_->appendDecoded(shown, name);
    // Most names are ASCII, whose lower case needs no table.
    char16_t* const text = reinterpret_cast<char16_t*>(shown.data());
    for (qsizetype i = at; i < shown.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0x80) {
            const QString lowered = QStringView(shown).sliced(at).toString().toLower();
            shown.truncate(at);
            shown += lowered;
            return;
        }
        if (u >= u'A' && u <= u'Z')
            text[i] = char16_t(u + 32);
    }
}

QStringView FolderWalk::shownBelow(const QString& shown, qsizetype rootLength) {
    return rootLength >= 0 ? QStringView(shown).sliced(rootLength) : QStringView();
}

void FolderWalk::WriteFolderLine(const std::optional<ByteTotal>& size,
                                 const NativePath& folderWithSeparator,
                                 QStringView shownBelowRoot) {
    // Stopped while the size was counted: this folder gets no line.
    if (cannotGoOn())
        return;
    if (size)
        total_ += *size;
    if (format_ != ListFormat::Report) {
        writeRecord(size, folderWithSeparator);
        return;
    }
    listfields::FieldRoom room;
    const QStringView field = listfields::sizeField(size, groupSeparator_, room);
    QString namePart;
    if (shownBelowRoot.isNull()) {
        namePart = fileSystem_->pathBelowRoot(folderWithSeparator).toLower();
        shownBelowRoot = namePart;
    }
    if (shownBelowRoot.isEmpty())
        return; // a root has no line of its own
    out_.writeLine(shownBelowRoot, listfields::kSizeColumn, field);
}

void FolderWalk::writeRecord(const std::optional<ByteTotal>& size, const NativePath& folder) {
    QByteArrayView below = QByteArrayView(folder).sliced(qMin(recordSkip_, folder.size()));
    if (below.endsWith(separator_))
        below.chop(1);
    if (below.isEmpty() && topIsRoot_)
        return; // a root has no line of its own
    path_ = namedAs_;
    if (!below.isEmpty()) {
        if (!path_.endsWith(separator_))
            path_ += separator_;
        path_ += below;
    }
    record_.resize(0);
    listfields::appendRecord(record_, {size}, path_, format_);
    out_.writeRecord(record_, format_ == ListFormat::TsvNullEnded ? '\0' : '\n');
}

void FolderWalk::ListSubFolders(const NativePath& folder) {
    const NativePath prefix = withSeparator(folder);
    startRecords(prefix);
    const QString shownPrefix = fileSystem_->decodePath(prefix).toLower();
    if (cannotGoOn())
        return;
    // Each line as soon as its folder's tree is read: an Abort keeps the lines of the
    // folders finished before it.
    TreeRead read = read_;
    read.folder = prefix;
    TreeScan scan(fileSystem_, std::move(read), TreeScan::Kind::SubFolders);
    // The path and the status text of each folder, made over in the same buffers.
    Listed listed{prefix, shownPrefix};
    while (const std::optional<TreeScan::SubFolder> next =
               scan.nextSubFolder(stop_.get_token(), [this] { whileWaiting(); })) {
        if (!listSubFolder(next->name, next->size, listed))
            return;
    }
}

bool FolderWalk::listSubFolder(QByteArrayView name, const std::optional<ByteTotal>& size,
                               Listed& listed) {
    const qsizetype prefixLength = listed.status.size() - listed.statusNameLength;
    const QString shownName = listfields::capitalisedName(
        fileSystem_->decodePath(NativePath::fromRawData(name.data(), name.size())));
    listed.status.truncate(prefixLength);
    listed.status += shownName;
    listed.statusNameLength = shownName.size();
    host_.setStatusText(listed.status);
    if (cannotGoOn())
        return false;
    const qsizetype pathPrefixLength = listed.path.size() - listed.pathNameLength;
    listed.path.resize(pathPrefixLength + name.size());
    std::copy(name.begin(), name.end(), listed.path.begin() + pathPrefixLength);
    listed.pathNameLength = name.size();
    WriteFolderLine(size, listed.path, shownName);
    return true;
}
