#include "widgets/listsort.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

int sign(int v)
{
    return (v > 0) - (v < 0);
}

struct Case
{
    const char16_t *a;
    const char16_t *b;
    int expected; // sign of compare(a, b)
};

void expectOrder(ListSort::Kind kind, std::initializer_list<Case> cases)
{
    for (const Case &c : cases) {
        const QString a = QString::fromUtf16(c.a);
        const QString b = QString::fromUtf16(c.b);
        EXPECT_EQ(sign(ListSort::compare(kind, a, b)), c.expected)
            << a.toStdString() << " vs " << b.toStdString();
        // The comparison is antisymmetric.
        EXPECT_EQ(sign(ListSort::compare(kind, b, a)), -c.expected)
            << b.toStdString() << " vs " << a.toStdString();
    }
}

} // namespace

TEST(ListSort, TextComparesUtf16CodeUnitsCaseSensitively)
{
    expectOrder(ListSort::Kind::Text,
                {
                    {u"@10", u"@2", -1}, // text order, not numbers
                    {u"abc", u"abd", -1},
                    {u"ab", u"abc", -1}, // a shorter prefix sorts first
                    {u"B", u"a", -1}, // upper case before lower case
                    {u"가", u"나", -1},
                    {u"same", u"same", 0},
                    {u"", u"a", -1},
                    // A surrogate pair (U+1F600) starts with 0xD83D, below U+FF5E:
                    // code units, not code points, decide.
                    {u"\U0001F600", u"\uFF5E", -1},
                });
}

TEST(ListSort, NumberOrTextUsesNumbersOnlyForExactNonZeroWholeNumbers)
{
    expectOrder(ListSort::Kind::NumberOrText,
                {
                    {u"9", u"10", -1}, // numbers
                    {u"-3", u"-1", -1}, // numbers (as text "-1" would sort first)
                    {u"2", u"11", -1},
                    {u"05", u"4", -1}, // "05" is not written as 5: text
                    {u" 50", u"40", -1}, // leading blank: text
                    {u"12abc", u"9", -1}, // not a whole number: text
                    {u"+70", u"8", -1}, // "+70" is not the form of 70: text
                    {u"0", u"10", -1}, // zero never counts as a number: text
                    {u"5", u"5", 0}, // equal numbers fall back to text
                    {u"@10", u"@2", -1},
                });
}

TEST(ListSort, WholeNumberConversionSaturatesAndChecksTheWrittenForm)
{
    EXPECT_EQ(ListSort::parseWholeNumber(QStringLiteral("42")).value, 42);
    EXPECT_TRUE(ListSort::parseWholeNumber(QStringLiteral("42")).exact);
    EXPECT_EQ(ListSort::parseWholeNumber(QStringLiteral("-42")).value, -42);
    EXPECT_TRUE(ListSort::parseWholeNumber(QStringLiteral("-42")).exact);
    EXPECT_EQ(ListSort::parseWholeNumber(QStringLiteral("  17x")).value, 17);
    EXPECT_FALSE(ListSort::parseWholeNumber(QStringLiteral("  17x")).exact);
    const ListSort::WholeNumber big = ListSort::parseWholeNumber(QStringLiteral("99999999999"));
    EXPECT_EQ(big.value, std::numeric_limits<int32_t>::max());
    EXPECT_FALSE(big.exact);
    const ListSort::WholeNumber low = ListSort::parseWholeNumber(QStringLiteral("-99999999999"));
    EXPECT_EQ(low.value, std::numeric_limits<int32_t>::min());
    EXPECT_FALSE(low.exact);
    EXPECT_TRUE(ListSort::parseWholeNumber(QStringLiteral("-2147483648")).exact);
    EXPECT_EQ(ListSort::parseWholeNumber(QStringLiteral("abc")).value, 0);
}

TEST(ListSort, AddressComparesNumericallyAndNonAddressesAsBroadcast)
{
    expectOrder(ListSort::Kind::Address,
                {
                    {u"9.0.0.1", u"10.0.0.1", -1}, // text order would say otherwise
                    {u"10.0.0.2", u"10.0.0.10", -1},
                    {u"192.168.0.1", u"192.168.0.1", 0},
                    {u"255.255.255.254", u"없음", -1},
                    {u"255.255.255.255", u"없음", 0}, // a non-address is 255.255.255.255
                    {u"", u"abc", 0},
                    {u"1.2.3", u"1.2.0.4", -1}, // the short form 1.2.3 is 1.2.0.3
                });
}
