#include "listing/folderwalk.h"

#include "listing/listfields.h"
#include "listing/listfilewriter.h"
#include "listing/runhost.h"
#include "listing/runstate.h"

#include <vector>

FolderWalk::FolderWalk(RunState& state, FileSystemInfo& fileSystem, RunHost& host,
                       ListFileWriter& out, const QLocale& locale)
    : state_(state), fileSystem_(fileSystem), host_(host), out_(out), locale_(locale),
      separator_(fileSystem.separator()) {}

NativePath FolderWalk::withSeparator(const NativePath& folder) const {
    return folder.endsWith(separator_) ? folder : folder + separator_;
}

bool FolderWalk::stopped() const {
    // A list file that can no longer be written ends the walk like an Abort would.
    return state_.AbortRequested || !state_.RunActive || out_.failed();
}

KeepGoing FolderWalk::keepGoing() {
    // A long query lets events through too, so that Abort is not held up by it.
    return [this] {
        host_.pumpEvents();
        return !stopped();
    };
}

void FolderWalk::WalkFolder(const NativePath& folder) {
    // Depth first with an explicit stack: trees nest deeper than the call stack would
    // allow. Each level keeps the sub-folder names it has still to visit and how long
    // the path was at that level; the one path buffer grows and shrinks with the walk.
    struct Level {
        qsizetype pathLength;
        std::vector<NativePath> subFolders;
        std::size_t next = 0;
    };
    std::vector<Level> levels;
    NativePath path = withSeparator(folder);

    while (true) {
        if (state_.AbortRequested || out_.failed())
            return;
        host_.setStatusText(fileSystem_.decodePath(path).toLower());
        host_.pumpEvents();
        if (!state_.RunActive)
            return;

        std::vector<NativePath> subFolders = fileSystem_.subFolders(path, keepGoing());
        std::erase_if(subFolders, [](const NativePath& name) { return name.startsWith('.'); });
        WriteFolderLine(path);
        levels.push_back({path.size(), std::move(subFolders)});

        // Find the next folder to visit: the next name at the deepest level that has one.
        while (!levels.empty() && levels.back().next == levels.back().subFolders.size())
            levels.pop_back();
        if (levels.empty())
            return;
        Level& level = levels.back();
        path.truncate(level.pathLength);
        path += level.subFolders[level.next++];
        path += separator_;
    }
}

void FolderWalk::WriteFolderLine(const NativePath& folderWithSeparator) {
    // Stopped while the sub-folders were read: no line would be written, so the size
    // need not be asked for.
    if (stopped())
        return;
    const std::optional<ByteTotal> size = fileSystem_.folderSize(folderWithSeparator, keepGoing());
    if (state_.AbortRequested || out_.failed())
        return;
    if (size)
        state_.ListTotal += *size;
    const QString field = listfields::sizeField(size, locale_);
    const QString namePart = fileSystem_.pathBelowRoot(folderWithSeparator).toLower();
    if (namePart.isEmpty())
        return; // a root has no line of its own
    writeLine(namePart, field);
}

void FolderWalk::writeLine(const QString& namePart, const QString& sizeField) {
    out_.append(namePart);
    out_.placeAt(listfields::kSizeColumn);
    out_.append(sizeField);
    out_.endLine();
}

void FolderWalk::ListSubFolders(const NativePath& folder) {
    const NativePath prefix = withSeparator(folder);
    const QString shownPrefix = fileSystem_.decodePath(prefix).toLower();
    for (const NativePath& name : fileSystem_.visibleSubFolders(prefix)) {
        if (name == "." || name == "..")
            continue;
        const QString shownName = listfields::capitalisedName(fileSystem_.decodePath(name));
        host_.setStatusText(shownPrefix + shownName);
        host_.pumpEvents();
        if (!state_.RunActive || out_.failed())
            return;
        const std::optional<ByteTotal> size = fileSystem_.folderSize(prefix + name, keepGoing());
        if (stopped())
            return; // stopped while the size was being counted: this folder gets no line
        const QString field = listfields::sizeField(size, locale_);
        if (size)
            state_.ListTotal += *size;
        writeLine(shownName, field);
    }
}
