#pragma once

#include "listing/filesysteminfo.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

namespace listfields {

inline constexpr int kHeaderColumn = 20;
inline constexpr int kTotalColumn = 80;
inline constexpr int kHyphenRuleColumn = 82;
inline constexpr int kSizeColumn = 83;
inline constexpr int kRuleLength = 97;
inline constexpr int kSizeFieldWidth = 14;
inline constexpr int kTotalFieldWidth = 17;

// Digits grouped in threes with the locale's group separator, whatever the locale's
// own grouping habits; the C locale groups with ",".
QString groupedNumber(ByteTotal value, const QLocale& locale);

// Room for any field below: 39 digits, 12 separators of up to 4 characters, a space.
inline constexpr qsizetype kMaxSeparatorLength = 4;
using FieldRoom = std::array<char16_t, 39 + 12 * kMaxSeparatorLength + 1>;

// " 1,234" right-aligned in 14 characters; 14 spaces for a size that could not be had.
QString sizeField(std::optional<ByteTotal> bytes, const QLocale& locale);
// The same with the locale's separator fetched once and written into `room`, without an
// allocation, for a field on every line; the view is into `room`.
QStringView sizeField(std::optional<ByteTotal> bytes, QStringView groupSeparator, FieldRoom& room);

// The digits alone, without grouping or padding, for lines that scripts read; the view is
// into `room`.
QStringView plainNumber(ByteTotal value, FieldRoom& room);

// The figure of the total line, right-aligned in 17 characters.
QString totalField(ByteTotal bytes, const QLocale& locale);

// "Sunday - Dec 6, 2026", with the locale's day and month names.
QString headerDate(const QDate& date, const QLocale& locale);

// First character upper case, the rest lower case: "PROGRAM FILES" gives "Program files".
QString capitalisedName(const QString& name);

// Characters that would break a line or steer a terminal: C0 and C1 controls, DEL and
// the Unicode line and paragraph separators. Names show them as "?".
inline bool isControlCharacter(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029;
}

// A name as messages show it: the control characters of the list file's rule as "?".
QString shownName(const QString& name);

} // namespace listfields
