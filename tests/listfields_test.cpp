#include "listing/listfields.h"

#include <gtest/gtest.h>

using namespace listfields;

namespace {

const QLocale kC = QLocale::c();

TEST(GroupedNumber, GroupsInThreesWithTheLocaleSeparator) {
    struct Case {
        ByteTotal value;
        QLocale locale;
        QString expected;
    };
    const Case cases[] = {
        {0, kC, QStringLiteral("0")},
        {999, kC, QStringLiteral("999")},
        {1000, kC, QStringLiteral("1,000")},
        {1234567, kC, QStringLiteral("1,234,567")},
        {18446744073709551615ull, kC, QStringLiteral("18,446,744,073,709,551,615")},
        {ByteTotal(1) << 64, kC, QStringLiteral("18,446,744,073,709,551,616")},
        {~ByteTotal(0), QLocale(QLocale::German, QLocale::Germany),
         QStringLiteral("340.282.366.920.938.463.463.374.607.431.768.211.455")},
        {1234567, QLocale(QLocale::German, QLocale::Germany), QStringLiteral("1.234.567")},
        // Locales that group in twos above the thousands still get threes here.
        {123456789, QLocale(QLocale::Hindi, QLocale::India), QStringLiteral("123,456,789")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(groupedNumber(c.value, c.locale), c.expected);
}

TEST(GroupedNumber, UsesTheSystemSeparatorEvenWhenTheLocaleOmitsIt) {
    QLocale omitting = QLocale::c();
    omitting.setNumberOptions(QLocale::OmitGroupSeparator);
    EXPECT_EQ(groupedNumber(1234, omitting), QStringLiteral("1,234"));
}

TEST(SizeField, RightAlignsInFourteenCharacters) {
    struct Case {
        std::optional<quint64> bytes;
        QString expected;
    };
    const Case cases[] = {
        {0, QStringLiteral("             0")},
        {1234, QStringLiteral("         1,234")},
        {9999999999ull, QStringLiteral(" 9,999,999,999")},
        {10000000000ull, QStringLiteral(" 10,000,000,000")}, // too long: written whole
        {std::nullopt, QString(14, u' ')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sizeField(c.bytes, kC), c.expected);
}

TEST(TotalField, RightAlignsInSeventeenCharacters) {
    EXPECT_EQ(totalField(0, kC), QString(16, u' ') + u'0');
    EXPECT_EQ(totalField(7159623, kC), QStringLiteral("        7,159,623"));
    EXPECT_EQ(totalField(9999999999999ull, kC), QStringLiteral("9,999,999,999,999"));
    EXPECT_EQ(totalField(10000000000000ull, kC), QStringLiteral("10,000,000,000,000"));
}

TEST(HeaderDate, UsesTheLocaleDayAndMonthNames) {
    const QDate date(2026, 12, 6);
    EXPECT_EQ(headerDate(date, kC), QStringLiteral("Sunday - Dec 6, 2026"));
    EXPECT_EQ(headerDate(QDate(2027, 3, 15), kC), QStringLiteral("Monday - Mar 15, 2027"));
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(headerDate(date, german),
              german.dayName(7, QLocale::LongFormat) + QStringLiteral(" - ") +
                  german.monthName(12, QLocale::ShortFormat) + QStringLiteral(" 6, 2026"));
    EXPECT_EQ(german.dayName(7, QLocale::LongFormat), QStringLiteral("Sonntag"));
}

TEST(CapitalisedName, FirstCharacterUpperRestLower) {
    struct Case {
        QString name;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("WINDOWS"), QStringLiteral("Windows")},
        {QStringLiteral("wINDOWS"), QStringLiteral("Windows")},
        {QStringLiteral("PROGRAM FILES"), QStringLiteral("Program files")},
        {QStringLiteral(".cache"), QStringLiteral(".cache")},
        {QStringLiteral("ÉCOLE"), QStringLiteral("École")},
        {QStringLiteral("x"), QStringLiteral("X")},
        {QStringLiteral("`a{Z[@"), QStringLiteral("`a{z[@")}, // the neighbours of the letters
        {QStringLiteral("zA"), QStringLiteral("Za")},
        {QString(), QString()},
        // A first character outside the basic plane is one character, not two halves.
        {QString::fromUtf8("\xf0\x90\x90\xb7"
                           "ABC"),
         QString::fromUtf8("\xf0\x90\x90\x8f"
                           "abc")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(capitalisedName(c.name), c.expected) << c.name.toStdString();
}

} // namespace
