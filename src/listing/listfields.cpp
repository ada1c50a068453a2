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

// 2^128 has 39 digits, so 12 separators at most; a separator is a character or two.
constexpr qsizetype kMaxSeparatorLength = 4;
constexpr qsizetype kGroupedCapacity = 39 + 12 * kMaxSeparatorLength;

QString grouped(ByteTotal value, QStringView separator, qsizetype width, bool leadingSpace) {
    if (separator.size() > kMaxSeparatorLength)
        separator.truncate(kMaxSeparatorLength);
    char16_t buffer[kGroupedCapacity + 1];
    char16_t* const end = buffer + std::size(buffer);
    char16_t* begin = value <= std::numeric_limits<quint64>::max()
                          ? writeGrouped(quint64(value), separator, end)
                          : writeGrouped(value, separator, end);
    if (leadingSpace)
        *--begin = u' ';
    const qsizetype length = end - begin;
    // Right-aligned in the width, or whole when longer.
    QString field(qMax(width, length), u' ');
    std::copy(begin, end, reinterpret_cast<char16_t*>(field.data()) + field.size() - length);
    return field;
}

} // namespace

QString groupedNumber(ByteTotal value, const QLocale& locale) {
    // QLocale and QString stop at 64 bits.
    return grouped(value, locale.groupSeparator(), 0, false);
}

QString sizeField(std::optional<ByteTotal> bytes, const QLocale& locale) {
    return sizeField(bytes, QStringView(locale.groupSeparator()));
}

QString sizeField(std::optional<ByteTotal> bytes, QStringView groupSeparator) {
    if (!bytes)
        return QString(kSizeFieldWidth, u' ');
    return grouped(*bytes, groupSeparator, kSizeFieldWidth, true);
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
