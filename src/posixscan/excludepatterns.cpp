#include "posixscan/excludepatterns.h"

#include <cstring>
#include <fnmatch.h>

ExcludePatterns::ExcludePatterns(const std::vector<QByteArray>& patterns, const QByteArray& top)
    : patterns_(patterns), topName_(top == "/" ? top : top.mid(top.lastIndexOf('/') + 1)) {
    for (QByteArray& pattern : patterns_) {
        qsizetype escapes = 0;
        while (escapes < pattern.size() && pattern[pattern.size() - 1 - escapes] == '\\')
            ++escapes;
        if (escapes % 2 == 1)
            pattern += '\\'; // fnmatch would match nothing with it left escaping nothing
    }
}

QByteArray ExcludePatterns::pathFor(QByteArrayView below) const {
    QByteArray path = topName_;
    if (!path.endsWith('/'))
        path += '/';
    return path += below;
}

bool ExcludePatterns::matches(QByteArray& folderPath, const char* name) const {
    const qsizetype length = folderPath.size();
    const bool matched = matches(folderPath.append(name).constData());
    folderPath.truncate(length);
    return matched;
}

bool ExcludePatterns::matches(const char* path) const {
    for (const QByteArray& pattern : patterns_) {
        for (const char* end = path; end;) {
            if (::fnmatch(pattern.constData(), end, 0) == 0)
                return true;
            end = std::strchr(end, '/');
            if (end)
                ++end;
        }
    }
    return false;
}
