#pragma once

// The list file's path walk, shared by the list file written in place and its replacement.
// Internal to the platform layer.

#include "platform/system/posixcore.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/stat.h>

// The system's text for `error`.
QString systemReason(int error);

// Makes the open descriptor `fd` the file's, for writing that may wait; closes it when that
// fails, giving why, else an empty text.
QString adoptForWriting(QFile& file, int fd);

// Walks a list file's path a name at a time, each folder opened from the one before
// without following anything, so that every link met, on the way as much as at the end,
// is read here and judged by the folder that really holds it. The path is never handed
// to the system whole: what it names could change between a check and the open.
class PathWalk {
public:
    // Where a walk ended.
    struct End {
        Descriptor folder; // holds `name`; O_PATH: it can be walked from, not read
        QByteArray name;
        Descriptor file; // the file there, opened for writing; none when there is none yet
        struct stat fileStat = {};
        bool throughProc = false; // `file` was reached through /proc: it has no name to replace
    };

    explicit PathWalk(const QByteArray& path) : text_(path) {}
    // Opens the file for writing into `file`, creating it when new; gives why not, else an
    // empty text.
    QString open(Descriptor& file, off_t& oldSize);
    // Walks as open() does, with the same refusals, but creates nothing: `end` gets the
    // folder and the name the path ends at, and the file there when there is one.
    QString reach(End& end);

private:
    QString walk(End& end, bool create);
    QString enter(int fd);
    QString follow(const Descriptor& link, const struct stat& st, qsizetype start, qsizetype end);
    QString who(qsizetype end) const;
    static QString openThroughProc(End& end, int at, const QByteArray& name);

    // Before pos_, the way the walk came as the links spelled it; from pos_, what is left.
    QByteArray text_;
    qsizetype pos_ = 0;
    Descriptor folder_; // opened with O_PATH: it can be walked from, not read
    struct stat folderStat_ = {};
    int links_ = 0;
};
