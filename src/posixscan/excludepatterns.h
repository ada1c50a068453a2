#pragma once

#include <QByteArray>

#include <vector>

// What `--exclude` leaves out, matched as `du --exclude` matches: each pattern (fnmatch,
// '\' escaping the next character, and a '\' at the very end standing for itself) is
// tried on the whole path and on each end of it that follows a '/', so "f", "b*" and
// "a/b" all match "/srv/a/b"; '*', '?' and '[...]' match a '/' and a leading '.' too.
// The path begins with the chosen folder's own name ("/" for the root), as du's paths
// do for a folder given by its plain name: the folder is known here only by its absolute
// path, and the names above it would make "b*" leave out all of "/home/bob/x".
class ExcludePatterns {
public:
    // `top`: the chosen folder's absolute path.
    ExcludePatterns(const std::vector<QByteArray>& patterns, const QByteArray& top);

    bool empty() const { return patterns_.empty(); }
    // The path that patterns are matched against for a path below the top, each name in
    // `below` followed by "/"; a name can be appended to it.
    QByteArray pathFor(QByteArrayView below) const;
    // Whether the top itself is left out.
    bool matchesTop() const { return matches(topName_.constData()); }
    bool matches(const char* path) const;
    // Whether `folderPath` (from pathFor()) followed by `name` matches; the path is left
    // as it was.
    bool matches(QByteArray& folderPath, const char* name) const;

private:
    std::vector<QByteArray> patterns_;
    QByteArray topName_;
};
