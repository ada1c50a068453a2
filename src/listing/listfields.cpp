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
