#include "listing/listingrun.h"

#include "listing/folderwalk.h"
#include "listing/listfields.h"
#include "listing/listfilewriter.h"
#include "listing/measurement.h"
#include "listing/runhost.h"

#include <QFile>

ListingRun::ListingRun(std::shared_ptr<FileSystemInfo> fileSystem, RunHost& host,
                       std::stop_token stop)
    : fileSystem_(std::move(fileSystem)), host_(host), stop_(std::move(stop)) {}

ListOutcome ListingRun::createAndWrite(const QString& listFilePath, const ListRequest& request) {
    QFile file(listFilePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {ListOutcome::Status::CreateFailed, file.errorString()};
    return writeAndClose(file, request);
}

ListOutcome ListingRun::writeAndClose(QFileDevice& file, const ListRequest& request) {
    // All the file will hold is this list, so it counts as empty in the sizes of the
    // folders that hold it: they are counted before the lines are written, and an old
    // list in it may still be being emptied beside the listing.
    ListOutcome outcome = writeList(file, request, file.handle());
    file.close();
    if (outcome.status == ListOutcome::Status::Written && file.error() != QFileDevice::NoError)
        outcome = {ListOutcome::Status::WriteFailed, file.errorString()};
    return outcome;
}

ListOutcome ListingRun::write(QFileDevice& file, const ListRequest& request) {
    return writeList(file, request, -1);
}

ListOutcome ListingRun::writeList(QFileDevice& file, const ListRequest& request, int listFile) {
    using namespace listfields;
    const NativePath& nativeFolder = request.folder;
    const QString folder = fileSystem_->decodePath(nativeFolder);
    ListFileWriter out(file);

    // Lines for scripts are the folder lines alone.
    const bool report = request.format == ListFormat::Report;
    if (report)
        writeReportHead(out, {request.headerText, headerDate(request.date, request.locale),
                              folder.toLower(), request.mode == ListMode::WithSubs,
                              Measurement::of(request.scanOptions).options()});

    ListTotal_ = 0;
    if (!nativeFolder.isEmpty()) {
        FolderWalk walk(ListTotal_, fileSystem_, host_, stop_, out, request.locale, request.format,
                        {{}, request.scanOptions, listFile, {}}, request.namedAs);
        if (request.mode == ListMode::NoSubs)
            walk.ListSubFolders(nativeFolder);
        else
            walk.WalkFolder(nativeFolder);
    }

    // The program is closing: the lines finished stay, and nothing comes after them.
    if (host_.closing()) {
        out.flush();
        return {};
    }

    if (const int error = fileSystem_->exhaustedResource()) {
        out.flush();
        return {ListOutcome::Status::ResourcesRanOut, qt_error_string(error)};
    }

    if (report) {
        // Only a root keeps its trailing separator in the chosen folder.
        const bool isRoot = nativeFolder.endsWith(fileSystem_->separator());
        const ByteTotal total = isRoot ? fileSystem_->usedSpace(nativeFolder) : ListTotal_;
        out.placeAt(kHyphenRuleColumn);
        out.append(QString(kHyphenRuleLength, u'-'));
        out.endLine();
        out.placeAt(kTotalColumn);
        out.append(totalField(total, request.locale));
        out.endLine();
    }

    if (!out.flush())
        return {ListOutcome::Status::WriteFailed, out.errorString()};
    return {};
}
