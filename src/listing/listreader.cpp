#include "listing/listreader.h"

#include <cstring>
#include <limits>

namespace {

using namespace listfields;

constexpr int kSizeAt = kSizeColumn - 1;   // characters before the size field
constexpr int kTotalAt = kTotalColumn - 1; // characters before the total field

bool isRule(QByteArrayView text, char c, qsizetype before, qsizetype length) {
    if (text.size() != before + length)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != (i < before ? ' ' : c))
            return false;
    }
    return true;
}

// The byte at which the character `column` (from 0) begins; -1 when the line is shorter.
qsizetype byteOfColumn(QByteArrayView text, qsizetype column) {
    qsizetype seen = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if ((uchar(text[i]) & 0xC0) != 0x80 && ++seen == column)
            return i;
    }
    return -1;
}

QByteArrayView trimmedRight(QByteArrayView text) {
    while (!text.isEmpty() && text.back() == ' ')
        text.chop(1);
    return text;
}

const QString kTooLarge = QStringLiteral("a size too large for a list (over 2^96 - 1 bytes)");

} // namespace

ListReader::ListReader(Folder folder) : folder_(std::move(folder)) {}

bool ListReader::sizeField(QByteArrayView field, std::optional<ByteTotal>& size,
                           QString& why) const {
    qsizetype spaces = 0;
    while (spaces < field.size() && field[spaces] == ' ')
        ++spaces;
    if (spaces == 0)
        return false;
    if (spaces == field.size()) {
        size.reset();
        return columnsOf(field) == kLineColumns - kSizeAt;
    }
    ByteTotal value = 0;
    switch (readFigure(field.sliced(spaces), true, value)) {
    case Figure::Read:
        size = value;
        return true;
    case Figure::TooLarge:
        why = kTooLarge;
        return false;
    case Figure::NotAFigure:
        break;
    }
    return false;
}

bool ListReader::hand(QByteArrayView path, std::optional<ByteTotal> size) {
    const QString why = folder_(path, size);
    return why.isEmpty() || fail(why);
}

bool ListReader::fail(const QString& why) {
    if (error_.isEmpty())
        error_ = QStringLiteral("line %1: %2").arg(lineNumber_).arg(why);
    return false;
}

bool ListReader::feed(QByteArrayView bytes) {
    if (!error_.isEmpty())
        return false;
    if (!form_) {
        carry_.append(bytes.data(), bytes.size());
        return decideForm(false) && (!form_ || feedCarried());
    }
    const char end = *form_ == ListFormat::TsvNullEnded ? '\0' : '\n';
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
        if (whole.size() > kLongestLine)
            return ++lineNumber_, fail(QStringLiteral("a line of more than a MiB"));
        if (!line(whole))
            return false;
        at = ends + 1;
    }
    while (at < bytes.size()) {
        const void* found = std::memchr(data + at, end, std::size_t(bytes.size() - at));
        if (!found) {
            carry_.append(data + at, bytes.size() - at);
            if (carry_.size() > kLongestLine)
                return ++lineNumber_, fail(QStringLiteral("a line of more than a MiB"));
            break;
        }
        const qsizetype ends = static_cast<const char*>(found) - data;
        if (ends - at > kLongestLine)
            return ++lineNumber_, fail(QStringLiteral("a line of more than a MiB"));
        if (!line(QByteArrayView(data + at, ends - at)))
            return false;
        at = ends + 1;
    }
    return true;
}

bool ListReader::decideForm(bool atEnd) {
    // A report begins with a rule of underscores. Lines for scripts ended with NUL hold a
    // NUL within their first line's length (a line feed may come first, in a name); those
    // ended with LF hold none anywhere.
    const qsizetype lf = carry_.indexOf('\n');
    const qsizetype nul = carry_.indexOf('\0');
    QByteArrayView first = QByteArrayView(carry_).first(lf < 0 ? 0 : lf);
    if (first.endsWith('\r'))
        first.chop(1);
    const bool report = lf >= 0 && isRule(first, '_', 0, kRuleLength);
    if (report)
        form_ = ListFormat::Report;
    else if (nul >= 0)
        form_ = ListFormat::TsvNullEnded;
    else if (lf >= 0 && (atEnd || carry_.size() > kLongestLine + 1))
        form_ = ListFormat::Tsv;
    else if (atEnd && carry_.isEmpty())
        form_ = ListFormat::Tsv; // lines for scripts of a folder without sub-folders
    else if (carry_.size() > kLongestLine) {
        lineNumber_ = 1;
        return fail(QStringLiteral("no line end in the first MiB"));
    }
    crLf_ = form_ == ListFormat::Tsv && lf > 0 && carry_[lf - 1] == '\r';
    return true;
}

bool ListReader::feedCarried() {
    const QByteArray all = std::move(carry_);
    carry_ = QByteArray();
    return feed(all);
}

bool ListReader::finish() {
    if (!error_.isEmpty())
        return false;
    if (!form_ && (!decideForm(true) || (form_ && !feedCarried())))
        return false;
    if (!carry_.isEmpty() || !form_) {
        ++lineNumber_;
        return fail(QStringLiteral("the list is cut short in the middle of this line"));
    }
    if (isReport() && !done_)
        return fail(QStringLiteral("the list is cut short: it ends before its total line"));
    return true;
}

bool ListReader::line(QByteArrayView text) {
    ++lineNumber_;
    if (done_)
        return fail(QStringLiteral("text after the total line"));
    if (*form_ == ListFormat::TsvNullEnded)
        return tsvLine(text);
    if (text.contains('\0'))
        return fail(QStringLiteral("a NUL byte, as in a binary file"));
    if (*form_ == ListFormat::Tsv) {
        // The writer escapes a carriage return: lines copied through another system end
        // with one each. Where the first does not, one is a name's own, as lists of
        // versions that did not escape it have it.
        if (crLf_ && !text.endsWith('\r'))
            return fail(QStringLiteral("a line ended with LF alone, where the first ended "
                                       "with CR LF"));
        return tsvLine(crLf_ ? text.chopped(1) : text);
    }
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
    case 7:
        return text.isEmpty() || fail(QStringLiteral("an empty line was expected"));
    case 2: {
        // The header text, five spaces and the date: the date holds no five spaces.
        const QString header = QString::fromUtf8(text);
        const qsizetype dateAt = header.lastIndexOf(kDateLead);
        if (!header.startsWith(QString(kHeaderColumn - 1, u' ')) || dateAt < kHeaderColumn - 1 ||
            dateAt + kDateLead.size() == header.size())
            return fail(QStringLiteral("a header line with a date was expected"));
        header_.date = header.mid(dateAt + kDateLead.size());
        return true;
    }
    case 5:
        return readPathLine(QString::fromUtf8(text), header_.folder, header_.withSubs) ||
               fail(QStringLiteral("the path line (\" Path - FOLDER  (with subs)\") was "
                                   "expected"));
    case 6: {
        // How the list was measured, when not by default; else the empty line.
        const QString line = QString::fromUtf8(text);
        if (text.isEmpty()) {
            ++reportStep_;
            return true;
        }
        std::optional<Measurement> measurement;
        if (line.startsWith(kMeasuredLead))
            measurement = Measurement::fromOptions(QStringView(line).sliced(kMeasuredLead.size()));
        if (!measurement)
            return fail(QStringLiteral("an empty line, or how the list was measured (\" Measured "
                                       "- --size=disk\"), was expected"));
        header_.measurement = std::move(*measurement);
        return true;
    }
    case 8:
        --reportStep_; // folder lines until the hyphen rule
        if (pendingName_.isEmpty() && isRule(text, '-', kSizeAt - 1, kHyphenRuleLength)) {
            reportStep_ = 9;
            return true;
        }
        return folderLine(text);
    default: {
        std::optional<ByteTotal> total;
        QString why;
        if (!text.startsWith(QByteArray(kTotalAt, ' ')) || columnsOf(text) < kLineColumns ||
            !sizeField(text.sliced(kTotalAt - 1), total, why) || !total)
            return fail(why.isEmpty() ? QStringLiteral("the total line was expected") : why);
        done_ = true;
        return true;
    }
    }
}

bool ListReader::folderLine(QByteArrayView text) {
    std::optional<ByteTotal> size;
    QString why;
    const qsizetype fieldAt = byteOfColumn(text, kSizeAt);
    const bool hasField = fieldAt >= 0 && columnsOf(text) >= kLineColumns &&
                          sizeField(text.sliced(fieldAt), size, why);
    if (!why.isEmpty())
        return fail(why);
    if (!pendingName_.isEmpty()) {
        // The size of a name too long for its line, alone after 82 spaces.
        if (!hasField || !trimmedRight(text.first(fieldAt)).isEmpty())
            return fail(QStringLiteral("the size of the long name above was expected"));
        const QByteArray name = std::move(pendingName_);
        pendingName_.clear();
        return hand(name, size);
    }
    const QByteArrayView name = hasField ? trimmedRight(text.first(fieldAt)) : QByteArrayView();
    const bool nameFits = !name.isEmpty() && (!header_.withSubs || name.endsWith('/'));
    if (hasField && nameFits)
        return hand(name, size);
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
        // The first line decided the form: say what it looked like.
        if (lineNumber_ == 1)
            return fail(*form_ == ListFormat::TsvNullEnded
                            ? QStringLiteral("binary data, not SIZE<TAB>PATH")
                            : QStringLiteral("neither the report's rule of underscores nor "
                                             "SIZE<TAB>PATH"));
        return fail(QStringLiteral("SIZE<TAB>PATH was expected"));
    }
    std::optional<ByteTotal> size;
    if (tab > 0) {
        ByteTotal value = 0;
        switch (readFigure(text.first(tab), false, value)) {
        case Figure::Read:
            size = value;
            break;
        case Figure::TooLarge:
            return fail(kTooLarge);
        case Figure::NotAFigure:
            return fail(QStringLiteral("SIZE<TAB>PATH was expected, SIZE in digits"));
        }
    }
    QByteArrayView path = text.sliced(tab + 1);
    if (*form_ == ListFormat::Tsv && path.contains('\\')) {
        if (!unescape(path, unescaped_))
            return fail(QStringLiteral("a backslash not written as \\t, \\n, \\r or \\\\"));
        path = unescaped_;
    }
    return hand(path, size);
}
