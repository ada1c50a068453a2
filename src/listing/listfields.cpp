#include "listing/listfields.h"

namespace listfields {

QString groupedNumber(ByteTotal value, const QLocale& locale) {
    // QLocale and QString stop at 64 bits.
    QString digits;
    do {
        digits.prepend(QChar(u'0' + char16_t(value % 10)));
        value /= 10;
    } while (value != 0);
    const QString separator = locale.groupSeparator();
    QString grouped;
    grouped.reserve(digits.size() + digits.size() / 3 * separator.size());
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += separator;
        grouped += digits[i];
    }
    return grouped;
}

QString sizeField(std::optional<ByteTotal> bytes, const QLocale& locale) {
    if (!bytes)
        return QString(kSizeFieldWidth, u' ');
    return (u' ' + groupedNumber(*bytes, locale)).rightJustified(kSizeFieldWidth, u' ');
}

QString totalField(ByteTotal bytes, const QLocale& locale) {
    return groupedNumber(bytes, locale).rightJustified(kTotalFieldWidth, u' ');
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
