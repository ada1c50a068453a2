#include "cli/listreader.h"

#include <cstring>
#include <limits>

namespace {

constexpr int kRuleLength = 97;
constexpr int kSizeAt = 82;      // characters before the size field
constexpr int kLineColumns = 96; // a folder line's length, but for longer sizes
constexpr int kTotalAt = 79;     // characters before the total field
constexpr qsizetype kLongestLine = 1024 * 1024;

bool isRule(QByteArrayView text, char c, qsizetype before, qsizetype length) {
    if (text.size() != before + length)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != (i < before ? ' ' : c))
            return false;
    }
    return true;
}

bool isContinuation(char c) {
    return (uchar(c) & 0xC0) == 0x80;
}

// The byte at which the character `column` (from 0) begins; -1 when the line is shorter.
qsizetype byteOfColumn(QByteArrayView text, qsizetype column) {
    qsizetype seen = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isContinuation(text[i]) && ++seen == column)
            return i;
    }
    return -1;
}

qsizetype columnsOf(QByteArrayView text) {
    qsizetype columns = 0;
    for (const char c : text)
        columns += isContinuation(c) ? 0 : 1;
    return columns;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool addDigit(quint64& value, char c) {
    const quint64 digit = quint64(c - '0');
    if (value > (std::numeric_limits<quint64>::max() - 1 - digit) / 10)
        return false; // the largest value stands for "unknown" elsewhere: never a size
    value = value * 10 + digit;
    return true;
}

// Digits in groups of three with one separator of the writer's locale throughout
// ("1,234", "1.234", "1 234", "1’234"), or digits alone.
std::optional<quint64> groupedNumber(QByteArrayView text) {
    quint64 value = 0;
    QByteArrayView separator;
    qsizetype i = 0;
    int groups = 0;
    while (i < text.size()) {
        const qsizetype digitsAt = i;
        while (i < text.size() && isDigit(text[i])) {
            if (!addDigit(value, text[i]))
                return std::nullopt;
            ++i;
        }
        const qsizetype digits = i - digitsAt;
        if (digits == 0 || (groups > 0 && digits != 3) ||
            (groups == 0 && i < text.size() && digits > 3))
            return std::nullopt;
        ++groups;
        if (i == text.size())
            break;
        const qsizetype separatorAt = i;
        while (i < text.size() && !isDigit(text[i]))
            ++i;
        const QByteArrayView here = text.sliced(separatorAt, i - separatorAt);
        if (here.size() > 12 || i == text.size() || (groups > 1 && here != separator))
            return std::nullopt;
        separator = here;
    }
    return groups > 0 ? std::optional(value) : std::nullopt;
}

// A size field: one space or more, then the number; all spaces for a blank size. Holds
// `size` and returns true when it is one.
bool sizeField(QByteArrayView field, std::optional<quint64>& size) {
    qsizetype spaces = 0;
    while (spaces < field.size() && field[spaces] == ' ')
        ++spaces;
    if (spaces == 0)
        return false;
    if (spaces == field.size()) {
        size.reset();
        return columnsOf(field) == kLineColumns - kSizeAt;
    }
    size = groupedNumber(field.sliced(spaces));
    return size.has_value();
}

QByteArrayView trimmedRight(QByteArrayView text) {
    while (!text.isEmpty() && text.back() == ' ')
        text.chop(1);
    return text;
}

} // namespace

ListReader::ListReader(Folder folder) : folder_(std::move(folder)) {}

bool ListReader::fail(const QString& why) {
    if (error_.isEmpty())
        error_ = QStringLiteral("line %1: %2").arg(lineNumber_).arg(why);
    return false;
}

bool ListReader::feed(QByteArrayView bytes) {
    if (!error_.isEmpty())
        return false;
    if (form_ == Form::Unknown) {
        // The first line end tells the kind: a NUL before any LF, lines for scripts
        // ended with NUL; a rule of underscores, the report.
        carry_.append(bytes.data(), bytes.size());
        const qsizetype lf = carry_.indexOf('\n');
        const qsizetype nul = carry_.indexOf('\0');
        if (lf < 0 && nul < 0) {
            if (carry_.size() > kLongestLine) {
                lineNumber_ = 1;
                return fail(QStringLiteral("no line end in the first MiB"));
            }
            return true;
        }
        if (nul >= 0 && (lf < 0 || nul < lf)) {
            form_ = Form::TsvNullEnded;
        } else {
            QByteArrayView first = QByteArrayView(carry_).first(lf);
            if (first.endsWith('\r'))
                first.chop(1);
            form_ = isRule(first, '_', 0, kRuleLength) ? Form::Report : Form::Tsv;
        }
        const QByteArray all = std::move(carry_);
        carry_ = QByteArray();
        return feed(all);
    }
    const char end = terminator();
    const char* const data = bytes.data();
    qsizetype at = 0;
    if (!carry_.isEmpty()) {
        const qsizetype ends = bytes.indexOf(end);
        carry_.append(data, ends < 0 ? bytes.size() : ends);
        if (ends < 0)
            return carry_.size() <= kLongestLine ||
                   (++lineNumber_, fail(QStringLiteral("a line of more than a MiB")));
        const QByteArray whole = std::move(carry_);
        carry_ = QByteArray();
        if (!line(whole))
            return false;
        at = ends + 1;
    }
    while (at < bytes.size()) {
        const void* found = std::memchr(data + at, end, std::size_t(bytes.size() - at));
        if (!found) {
            carry_.append(data + at, bytes.size() - at);
            break;
        }
        const qsizetype ends = static_cast<const char*>(found) - data;
        if (!line(QByteArrayView(data + at, ends - at)))
            return false;
        at = ends + 1;
    }
    return true;
}

bool ListReader::finish() {
    if (!error_.isEmpty())
        return false;
    if (form_ == Form::Unknown && carry_.isEmpty()) {
        error_ = QStringLiteral("the file is empty");
        return false;
    }
    if (!carry_.isEmpty() || form_ == Form::Unknown) {
        ++lineNumber_;
        return fail(QStringLiteral("the list is cut short in the middle of this line"));
    }
    if (form_ == Form::Report && !done_)
        return fail(QStringLiteral("the list is cut short: it ends before its total line"));
    return true;
}

bool ListReader::line(QByteArrayView text) {
    ++lineNumber_;
    if (done_)
        return fail(QStringLiteral("text after the total line"));
    if (form_ == Form::TsvNullEnded)
        return tsvLine(text);
    if (text.contains('\0'))
        return fail(QStringLiteral("a NUL byte, as in a binary file"));
    if (form_ == Form::Tsv)
        return tsvLine(text);
    if (text.endsWith('\r'))
        text.chop(1);
    for (const char c : text) {
        if (uchar(c) >= 0x80) {
            if (!text.isValidUtf8())
                return fail(QStringLiteral("not UTF-8 text"));
            break;
        }
    }
    return reportLine(text);
}

bool ListReader::reportLine(QByteArrayView text) {
    switch (reportStep_++) {
    case 0:
    case 3:
        return isRule(text, '_', 0, kRuleLength) ||
               fail(QStringLiteral("a rule of %1 underscores was expected").arg(kRuleLength));
    case 1:
    case 4:
    case 6:
        return text.isEmpty() || fail(QStringLiteral("an empty line was expected"));
    case 2: {
        // The header text, five spaces and the date: the date holds no five spaces.
        const QString header = QString::fromUtf8(text);
        const qsizetype dateAt = header.lastIndexOf(QStringLiteral("     "));
        if (!header.startsWith(QString(19, u' ')) || dateAt < 19 || dateAt + 5 == header.size())
            return fail(QStringLiteral("a header line with a date was expected"));
        header_.date = header.mid(dateAt + 5);
        return true;
    }
    case 5: {
        const QString path = QString::fromUtf8(text);
        const QString withSubs = QStringLiteral("  (with subs)");
        const QString noSubs = QStringLiteral("  (no subs)");
        header_.withSubs = path.endsWith(withSubs);
        const qsizetype suffix = header_.withSubs ? withSubs.size() : noSubs.size();
        if (!path.startsWith(QStringLiteral(" Path - ")) ||
            !(header_.withSubs || path.endsWith(noSubs)) || path.size() < 8 + suffix + 1)
            return fail(QStringLiteral("the path line (\" Path - FOLDER  (with subs)\") was "
                                       "expected"));
        header_.folder = path.mid(8, path.size() - 8 - suffix);
        return true;
    }
    case 7:
        --reportStep_; // folder lines until the hyphen rule
        if (pendingName_.isEmpty() && isRule(text, '-', kSizeAt - 1, 15)) {
            reportStep_ = 8;
            return true;
        }
        return folderLine(text);
    default: {
        std::optional<quint64> total;
        if (!text.startsWith(QByteArray(kTotalAt, ' ')) || columnsOf(text) < kLineColumns ||
            !sizeField(text.sliced(kTotalAt - 1), total) || !total)
            return fail(QStringLiteral("the total line was expected"));
        done_ = true;
        return true;
    }
    }
}

bool ListReader::folderLine(QByteArrayView text) {
    std::optional<quint64> size;
    const qsizetype fieldAt = byteOfColumn(text, kSizeAt);
    const bool hasField =
        fieldAt >= 0 && columnsOf(text) >= kLineColumns && sizeField(text.sliced(fieldAt), size);
    if (!pendingName_.isEmpty()) {
        // The size of a name too long for its line, alone after 82 spaces.
        if (!hasField || !trimmedRight(text.first(fieldAt)).isEmpty())
            return fail(QStringLiteral("the size of the long name above was expected"));
        ++folders_;
        folder_(pendingName_, size);
        pendingName_.clear();
        return true;
    }
    const QByteArrayView name = hasField ? trimmedRight(text.first(fieldAt)) : QByteArrayView();
    const bool nameFits = !name.isEmpty() && (!header_.withSubs || name.endsWith('/'));
    if (hasField && nameFits) {
        ++folders_;
        folder_(name, size);
        return true;
    }
    const QByteArrayView whole = trimmedRight(text);
    if (!whole.isEmpty() && columnsOf(text) > kSizeAt &&
        (!header_.withSubs || whole.endsWith('/'))) {
        pendingName_ = whole.toByteArray();
        return true;
    }
    return fail(QStringLiteral("a folder line (name, then the size ending at column %1) or the "
                               "hyphen rule was expected")
                    .arg(kLineColumns));
}

bool ListReader::tsvLine(QByteArrayView text) {
    const qsizetype tab = text.indexOf('\t');
    if (tab < 0 || tab + 1 == text.size()) {
        // The first line decided the kind: say what it looked like.
        if (lineNumber_ == 1)
            return fail(form_ == Form::TsvNullEnded
                            ? QStringLiteral("binary data, not SIZE<TAB>PATH")
                            : QStringLiteral("neither the report's rule of underscores nor "
                                             "SIZE<TAB>PATH"));
        return fail(QStringLiteral("SIZE<TAB>PATH was expected"));
    }
    std::optional<quint64> size;
    if (tab > 0) {
        quint64 value = 0;
        for (const char c : text.first(tab)) {
            if (!isDigit(c) || !addDigit(value, c))
                return fail(QStringLiteral("SIZE<TAB>PATH was expected, SIZE in digits"));
        }
        size = value;
    }
    QByteArrayView path = text.sliced(tab + 1);
    if (form_ == Form::Tsv && path.contains('\\')) {
        unescaped_.resize(0);
        for (qsizetype i = 0; i < path.size(); ++i) {
            if (path[i] != '\\') {
                unescaped_ += path[i];
                continue;
            }
            const char next = i + 1 < path.size() ? path[++i] : '\0';
            if (next != 't' && next != 'n' && next != '\\')
                return fail(QStringLiteral("a backslash not written as \\t, \\n or \\\\"));
            unescaped_ += next == 't' ? '\t' : next == 'n' ? '\n' : '\\';
        }
        path = unescaped_;
    }
    ++folders_;
    folder_(path, size);
    return true;
}
