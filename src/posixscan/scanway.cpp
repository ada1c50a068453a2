#include "posixscan/scanway.h"

#include "posixscan/jobhandoff.h"
#include "posixscan/scanshared.h"
#include "posixscan/vanishedfolders.h"

#include <cerrno>
#include <fcntl.h>

ScanWay::ScanWay(ScanShared& shared, std::size_t maxOpen) : s_(shared), record_(shared.record) {
    dirs.setMaxOpen(maxOpen);
}

bool ScanWay::openBase() {
    dirs.clear();
    const int fd = ::fcntl(s_.settings.topFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        s_.fail(isExhaustion(errno) ? errno : EMFILE);
        return false;
    }
    dirs.adoptBase(fd, s_.settings.topId.dev, s_.settings.topId.ino);
    return true;
}

// The way back up is gone (a folder on it was moved, maybe only for a moment): down to the
// folder to go on in again, once more by the names. False when that fails too; then what
// this thread had still to read below the folders it cannot reach again has no size, nor
// have the folders above it, and each such folder is told of.
bool ScanWay::foundAgain(int error) {
    if (!isExhaustion(error)) {
        error = reopen(1);
        if (error == 0)
            return true;
    }
    if (isExhaustion(error)) {
        s_.fail(error);
        return false;
    }
    if (floor == 0 && levels.size() > 1)
        s_.letGo(levels[1].node);
    for (std::size_t i = floor; i < levels.size(); ++i) {
        if (levels[i].next < levels[i].end)
            s_.unreadable(pathBelowTop(i), error);
        for (quint32 c = levels[i].next; c < levels[i].end; ++c)
            record_.node(c).sizeKnown = false;
    }
    levels.resize(floor + 1);
    levels.back().next = levels.back().end;
    return false;
}

int ScanWay::reopen(int tries) {
    std::vector<WayStep> steps;
    for (std::size_t i = 1; i < levels.size(); ++i)
        steps.push_back(
            {record_.nameOf(record_.node(levels[i].node)), levels[i].id.dev, levels[i].id.ino});
    opened += steps.size();
    return openWayAgain(dirs, s_.settings.topFd, s_.settings.topId.dev, s_.settings.topId.ino,
                        steps, tries);
}

QByteArray ScanWay::pathBelowTop(std::size_t level) const {
    QByteArray path;
    for (std::size_t i = 1; i <= level; ++i)
        path.append(record_.name(record_.node(levels[i].node))).append('/');
    return path;
}

bool ScanWay::startJob(const Job& job) {
    const bool started = openWayDown(job);
    if (!started && job.nodes.size() > 1)
        s_.letGo(job.nodes[1]);
    return started;
}

// Opens the way down to the job's folder, each step checked against what the other thread
// found there; once more when a folder on it was moved meanwhile.
bool ScanWay::openWayDown(const Job& job) {
    levels.assign(1, {0, 0, 0, s_.settings.topId});
    for (std::size_t i = 1; i < job.nodes.size(); ++i)
        levels.push_back({job.nodes[i], 0, 0, job.ids[i]});
    const int error = goFromHere(job) ? 0 : reopen(2);
    if (isExhaustion(error)) {
        s_.fail(error);
        return false;
    }
    if (error != 0) {
        s_.unreadable(pathBelowTop(levels.size() - 1), error);
        for (quint32 c = job.first; c < job.end; ++c)
            record_.node(c).sizeKnown = false; // moved away for good
        return false;
    }
    levels.back().next = job.first;
    levels.back().end = job.end;
    floor = levels.size() - 1;
    return true;
}

// On a file server every folder opened costs round trips: the part of the way the chain
// has open already is kept, and only the rest opened. False when that fails; the chain is
// then to be opened again from the top.
bool ScanWay::goFromHere(const Job& job) {
    if (dirs.empty())
        return false;
    std::size_t common = 1; // the top
    while (common < dirs.depth() && common < job.ids.size() &&
           dirs.at(common).dev == job.ids[common].dev && dirs.at(common).ino == job.ids[common].ino)
        ++common;
    while (dirs.depth() > common) {
        if (!dirs.pop())
            return false;
    }
    for (std::size_t i = common; i < job.nodes.size(); ++i) {
        ++opened;
        if (!openListedFolder(dirs, record_.nameOf(record_.node(job.nodes[i]))))
            return false;
        if (dirs.top().dev != job.ids[i].dev || dirs.top().ino != job.ids[i].ino)
            return false; // another folder stands there now
    }
    return true;
}
