#include "listing/listfields.h"

namespace listfields {

QString groupedNumber(quint64 value, const QLocale& locale) {
    const QString digits = QString::number(value);
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

QString sizeField(std::optional<quint64> bytes, const QLocale& locale) {
    if (!bytes)
        return QString(kSizeFieldWidth, u' ');
    return (u' ' + groupedNumber(*bytes, locale)).rightJustified(kSizeFieldWidth, u' ');
}

QString totalField(quint64 bytes, const QLocale& locale) {
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

} // namespace listfields
