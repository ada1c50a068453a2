#include "listing/measurement.h"

#include <QStringList>

namespace {

bool isPlain(const QByteArray& pattern) {
    if (!pattern.isValidUtf8())
        return false;
    for (const QChar c : QString::fromUtf8(pattern)) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029)
            return false;
    }
    return true;
}

QString quoted(const QByteArray& pattern) {
    if (isPlain(pattern)) {
        QString text = QString::fromUtf8(pattern);
        text.replace(u'\'', QStringLiteral("'\\''"));
        return u'\'' + text + u'\'';
    }
    QString text = QStringLiteral("$'");
    for (const char c : pattern) {
        const uchar u = uchar(c);
        if (u >= 0x20 && u < 0x7F && c != '\'' && c != '\\')
            text += QChar(u);
        else
            text += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return text + u'\'';
}

// One quoted pattern from `at`, as quoted() wrote it; moves `at` past it.
std::optional<QByteArray> unquoted(QStringView text, qsizetype& at) {
    QByteArray pattern;
    if (text.sliced(at).startsWith(u"$'")) {
        for (at += 2; at < text.size() && text[at] != u'\''; ++at) {
            if (text[at] != u'\\') {
                if (text[at].unicode() >= 0x7F)
                    return std::nullopt;
                pattern += char(text[at].unicode());
                continue;
            }
            bool ok = false;
            const int byte = at + 4 <= text.size() && text[at + 1] == u'x'
                                 ? text.sliced(at + 2, 2).toInt(&ok, 16)
                                 : 0;
            if (!ok)
                return std::nullopt;
            pattern += char(byte);
            at += 3;
        }
        if (at == text.size())
            return std::nullopt;
        ++at;
        return pattern;
    }
    // Pieces in single quotes, joined by \' for a quote.
    QString plain;
    while (at < text.size() && text[at] != u' ') {
        if (text.sliced(at).startsWith(u"\\'")) {
            plain += u'\'';
            at += 2;
            continue;
        }
        if (text[at] != u'\'')
            return std::nullopt;
        const qsizetype end = text.indexOf(u'\'', at + 1);
        if (end < 0)
            return std::nullopt;
        plain += text.sliced(at + 1, end - at - 1);
        at = end + 1;
    }
    return plain.toUtf8();
}

QString sizeOption(bool diskUsage) {
    return diskUsage ? QStringLiteral("--size=disk") : QStringLiteral("--size=apparent");
}

QString linksOption(bool linksOnce) {
    return linksOnce ? QStringLiteral("--links=once") : QStringLiteral("--links=each");
}

QString excludeOptions(const std::vector<QByteArray>& patterns) {
    QStringList options;
    for (const QByteArray& pattern : patterns)
        options << QStringLiteral("--exclude=") + quoted(pattern);
    return options.isEmpty() ? QStringLiteral("no --exclude") : options.join(u' ');
}

} // namespace

Measurement Measurement::of(const ScanOptions& options) {
    return {options.diskUsage, options.linksOnce, options.oneFileSystem, options.excludePatterns};
}

void Measurement::applyTo(ScanOptions& options) const {
    options.diskUsage = diskUsage;
    options.linksOnce = linksOnce;
    options.oneFileSystem = oneFileSystem;
    options.excludePatterns = excludePatterns;
}

QString Measurement::options() const {
    QStringList options;
    if (diskUsage)
        options << sizeOption(true);
    if (linksOnce)
        options << linksOption(true);
    if (oneFileSystem)
        options << QStringLiteral("-x");
    if (!excludePatterns.empty())
        options << excludeOptions(excludePatterns);
    return options.join(u' ');
}

std::optional<Measurement> Measurement::fromOptions(QStringView text) {
    Measurement read;
    qsizetype at = 0;
    while (at < text.size()) {
        const QStringView rest = text.sliced(at);
        const auto take = [&](QStringView option, bool& flag) {
            if (!rest.startsWith(option) || flag ||
                (rest.size() > option.size() && rest[option.size()] != u' '))
                return false;
            flag = true;
            at += option.size();
            return true;
        };
        if (!take(u"--size=disk", read.diskUsage) && !take(u"--links=once", read.linksOnce) &&
            !take(u"-x", read.oneFileSystem)) {
            if (!rest.startsWith(u"--exclude="))
                return std::nullopt;
            at += 10;
            std::optional<QByteArray> pattern = unquoted(text, at);
            if (!pattern)
                return std::nullopt;
            read.excludePatterns.push_back(std::move(*pattern));
        }
        if (at < text.size() && text[at++] != u' ')
            return std::nullopt;
    }
    // Written in one order only: any other is no text of ours.
    if (read.isDefault() || read.options() != text)
        return std::nullopt;
    return read;
}

std::pair<QString, QString> Measurement::differencesFrom(const Measurement& other) const {
    QStringList mine, theirs;
    const auto differ = [&](bool differs, const QString& my, const QString& their) {
        if (differs) {
            mine << my;
            theirs << their;
        }
    };
    differ(diskUsage != other.diskUsage, sizeOption(diskUsage), sizeOption(other.diskUsage));
    differ(linksOnce != other.linksOnce, linksOption(linksOnce), linksOption(other.linksOnce));
    differ(oneFileSystem != other.oneFileSystem,
           oneFileSystem ? QStringLiteral("-x") : QStringLiteral("no -x"),
           other.oneFileSystem ? QStringLiteral("-x") : QStringLiteral("no -x"));
    differ(excludePatterns != other.excludePatterns, excludeOptions(excludePatterns),
           excludeOptions(other.excludePatterns));
    return {mine.join(u' '), theirs.join(u' ')};
}
