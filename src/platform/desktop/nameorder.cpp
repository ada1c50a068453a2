#include "platform/desktop/nameorder.h"

#include <QLocale>

QCollator nameCollator() {
    // Qt compares by code points in the C locale, numbers digit by digit: there the
    // order is English's, which has the numbers and cases as every language does.
    const QLocale locale = QLocale().language() == QLocale::C
                               ? QLocale(QLocale::English, QLocale::UnitedStates)
                               : QLocale();
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    return collator;
}
