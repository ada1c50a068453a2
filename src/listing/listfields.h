#pragma once

#include "listing/filesysteminfo.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QtGlobal>

#include <array>
#include <initializer_list>
#include <optional>

// The printable report, or for scripts only the folder lines, each the size in bytes (empty
// when unknown), a tab and the folder's path exactly as on disk: its bytes, not
// lower-cased. Tsv ends a line with LF and writes a tab, a line feed, a carriage return
// and a backslash in a path as "\t", "\n", "\r" and "\\"; TsvNullEnded ends it with NUL,
// escaping nothing.
enum class ListFormat { Report, Tsv, TsvNullEnded };

// The layout of a list, written and read back here alone: its columns and rules, its
// figures, and the escapes of the lines for scripts.
namespace listfields {

inline constexpr int kHeaderColumn = 20;
inline constexpr int kTotalColumn = 80;
inline constexpr int kHyphenRuleColumn = 82;
inline constexpr int kSizeColumn = 83;
inline constexpr int kRuleLength = 97;
inline constexpr int kSizeFieldWidth = 14;
inline constexpr int kTotalFieldWidth = 17;

// What stands between the header text and the date, and before the measurement's options.
inline constexpr QStringView kDateLead = u"     ";
inline constexpr QStringView kMeasuredLead = u" Measured - ";

// " Path - FOLDER  (with subs)", or "  (no subs)"; and read back: false when it is none.
QString pathLine(const QString& folder, bool withSubs);
bool readPathLine(QStringView line, QString& folder, bool& withSubs);

// A report's folder line is this long, but for a longer size.
inline constexpr int kLineColumns = kSizeColumn - 1 + kSizeFieldWidth;
inline constexpr int kHyphenRuleLength = 15;

// The largest size a list holds, far past what a tree of files of 2^63 bytes can reach:
// the sums and changes of any number of them stay exact.
inline constexpr ByteTotal kLargestSize = (ByteTotal(1) << 96) - 1;

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

// A figure read back: digits in groups of three with one separator throughout ("1,234",
// "1.234", "1 234", "1’234", whichever the writer's locale had), or digits alone when
// `grouped` is false. TooLarge: digits, but past kLargestSize.
enum class Figure { Read, NotAFigure, TooLarge };
Figure readFigure(QByteArrayView text, bool grouped, ByteTotal& value);

// How many characters a text is: what the column rule counts.
qsizetype columnsOf(QByteArrayView utf8);
qsizetype columnsOf(QStringView text);

// A path on a line for scripts (Tsv), escaped, appended to `out`; and undone: false when
// a backslash is not one of the escapes.
void appendEscaped(QByteArray& out, QByteArrayView path);
bool unescape(QByteArrayView text, QByteArray& out);

// A line for scripts: SIZE<TAB>FIELD<TAB>...<TAB>PATH, each figure without grouping (empty
// for nothing), the path escaped as `format` wants; without its line end.
void appendRecord(QByteArray& out, std::initializer_list<std::optional<ByteTotal>> figures,
                  QByteArrayView path, ListFormat format);

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
