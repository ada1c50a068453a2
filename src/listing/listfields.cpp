#include "listing/listfields.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace listfields {

namespace {

// The grouped digits of `value`, written backwards from `end`; returns where they begin.
// Every folder line asks for one, so this stays clear of allocations and, below 2^64,
// of 128-bit division.
template <typename Number>
char16_t* writeGrouped(Number value, QStringView separator, char16_t* end) {
    char16_t* at = end;
    int inGroup = 0;
    do {
        if (inGroup == 3) {
            at -= separator.size();
            std::copy(separator.utf16(), separator.utf16() + separator.size(), at);
            inGroup = 0;
        }
        *--at = char16_t(u'0' + unsigned(value % 10));
        value /= 10;
        ++inGroup;
    } while (value != 0);
    return at;
}

// Right-aligned in the width, or whole when longer; written at the end of `room`.
QStringView grouped(ByteTotal value, QStringView separator, qsizetype width, bool leadingSpace,
                    FieldRoom& room) {
    if (separator.size() > kMaxSeparatorLength)
        separator.truncate(kMaxSeparatorLength);
    char16_t* const end = room.data() + room.size();
    char16_t* begin = value <= std::numeric_limits<quint64>::max()
                          ? writeGrouped(quint64(value), separator, end)
                          : writeGrouped(value, separator, end);
    if (leadingSpace)
        *--begin = u' ';
    while (end - begin < width)
        *--begin = u' ';
    return QStringView(begin, end);
}

QString grouped(ByteTotal value, QStringView separator, qsizetype width, bool leadingSpace) {
    FieldRoom room;
    return grouped(value, separator, width, leadingSpace, room).toString();
}

} // namespace

QString groupedNumber(ByteTotal value, const QLocale& locale) {
    // QLocale and QString stop at 64 bits.
    return grouped(value, locale.groupSeparator(), 0, false);
}

QString sizeField(std::optional<ByteTotal> bytes, const QLocale& locale) {
    FieldRoom room;
    return sizeField(bytes, locale.groupSeparator(), room).toString();
}

QStringView sizeField(std::optional<ByteTotal> bytes, QStringView groupSeparator, FieldRoom& room) {
    if (!bytes) {
        std::fill(room.end() - kSizeFieldWidth, room.end(), u' ');
        return QStringView(room.data() + room.size() - kSizeFieldWidth, kSizeFieldWidth);
    }
    return grouped(*bytes, groupSeparator, kSizeFieldWidth, true, room);
}

QStringView plainNumber(ByteTotal value, FieldRoom& room) {
    return grouped(value, QStringView(), 0, false, room);
}

QString totalField(ByteTotal bytes, const QLocale& locale) {
    return grouped(bytes, locale.groupSeparator(), kTotalFieldWidth, false);
}

namespace {
constexpr QStringView kPathLead = u" Path - ";
constexpr QStringView kWithSubs = u"  (with subs)";
constexpr QStringView kNoSubs = u"  (no subs)";
} // namespace

QString pathLine(const QString& folder, bool withSubs) {
    return kPathLead.toString() + folder + (withSubs ? kWithSubs : kNoSubs).toString();
}

bool readPathLine(QStringView line, QString& folder, bool& withSubs) {
    withSubs = line.endsWith(kWithSubs);
    const QStringView mode = withSubs ? kWithSubs : kNoSubs;
    if (!line.startsWith(kPathLead) || !line.endsWith(mode) ||
        line.size() <= kPathLead.size() + mode.size())
        return false;
    folder = line.sliced(kPathLead.size(), line.size() - kPathLead.size() - mode.size()).toString();
    return true;
}

Figure readFigure(QByteArrayView text, bool grouped, ByteTotal& value) {
    value = 0;
    bool tooLarge = false;
    QByteArrayView separator;
    qsizetype i = 0;
    int groups = 0;
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < text.size()) {
        const qsizetype digitsAt = i;
        for (; i < text.size() && isDigit(text[i]); ++i) {
            const unsigned digit = unsigned(text[i] - '0');
            if (value > (kLargestSize - digit) / 10)
                tooLarge = true;
            else
                value = value * 10 + digit;
        }
        const qsizetype digits = i - digitsAt;
        if (digits == 0 || (groups > 0 && digits != 3) ||
            (groups == 0 && i < text.size() && digits > 3))
            return Figure::NotAFigure;
        ++groups;
        if (i == text.size())
            break;
        const qsizetype separatorAt = i;
        while (i < text.size() && !isDigit(text[i]))
            ++i;
        const QByteArrayView here = text.sliced(separatorAt, i - separatorAt);
        if (!grouped || here.size() > 3 * kMaxSeparatorLength || i == text.size() ||
            (groups > 1 && here != separator))
            return Figure::NotAFigure;
        separator = here;
    }
    if (groups == 0)
        return Figure::NotAFigure;
    return tooLarge ? Figure::TooLarge : Figure::Read;
}

qsizetype columnsOf(QByteArrayView utf8) {
    qsizetype columns = 0;
    for (const char c : utf8)
        columns += (uchar(c) & 0xC0) != 0x80;
    return columns;
}

qsizetype columnsOf(QStringView text) {
    qsizetype columns = 0;
    for (const QChar c : text)
        columns += !c.isLowSurrogate();
    return columns;
}

void appendEscaped(QByteArray& out, QByteArrayView path) {
    for (const char c : path) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
}

bool unescape(QByteArrayView text, QByteArray& out) {
    out.resize(0);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        const char next = i + 1 < text.size() ? text[++i] : '\0';
        switch (next) {
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            return false;
        }
    }
    return true;
}

void appendRecord(QByteArray& out, std::initializer_list<std::optional<ByteTotal>> figures,
                  QByteArrayView path, ListFormat format) {
    for (const std::optional<ByteTotal>& figure : figures) {
        if (figure) {
            FieldRoom room;
            for (const QChar digit : plainNumber(*figure, room))
                out += char(digit.unicode());
        }
        out += '\t';
    }
    if (format == ListFormat::TsvNullEnded)
        out.append(path.data(), path.size());
    else
        appendEscaped(out, path);
}

QString headerDate(const QDate& date, const QLocale& locale) {
    return QStringLiteral("%1 - %2 %3, %4")
        .arg(locale.dayName(date.dayOfWeek(), QLocale::LongFormat),
             locale.monthName(date.month(), QLocale::ShortFormat), QString::number(date.day()),
             QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0')));
}

QString capitalisedName(const QString& name) {
    if (name.isEmpty())
        return name;
    // ASCII, as most names are, needs no case tables.
    if (std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x80; })) {
        QString shown(name.size(), Qt::Uninitialized);
        char16_t* const begin = reinterpret_cast<char16_t*>(shown.data());
        const auto lower = [](QChar c) {
            const char16_t u = c.unicode();
            return u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u;
        };
        std::transform(name.begin(), name.end(), begin, lower);
        if (begin[0] >= u'a' && begin[0] <= u'z')
            begin[0] = char16_t(begin[0] - 32);
        return shown;
    }
    // The first character may be a surrogate pair.
    const qsizetype firstLength = name.at(0).isHighSurrogate() && name.size() > 1 ? 2 : 1;
    return name.left(firstLength).toUpper() + name.mid(firstLength).toLower();
}

QString shownName(const QString& name) {
    QString shown = name;
    for (QChar& c : shown) {
        if (isControlCharacter(c))
            c = u'?';
    }
    return shown;
}

} // namespace listfields
