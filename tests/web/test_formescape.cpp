#include "web/formescape.h"

#include <gtest/gtest.h>

namespace {

struct EscapeCase
{
    const char *input; // UTF-8
    const char *escaped;
};

class EscapeFormValueTest : public ::testing::TestWithParam<EscapeCase>
{
};

TEST_P(EscapeFormValueTest, EscapesTheUnsafeBytesWithSmallHexDigits)
{
    const EscapeCase c = GetParam();
    EXPECT_EQ(EscapeFormValue(QString::fromUtf8(c.input)), QString::fromLatin1(c.escaped));
}

INSTANTIATE_TEST_SUITE_P(
    DocumentedExamples, EscapeFormValueTest,
    ::testing::Values(EscapeCase {"a b@c&d=e+f", "a%20b%40c%26d%3de%2bf"},
                      EscapeCase {"id.name_1-2:3/4~", "id.name_1-2:3/4~"},
                      // One Korean syllable: its three UTF-8 bytes.
                      EscapeCase {"\xed\x95\x9c", "%ed%95%9c"}, EscapeCase {"100%", "100%25"},
                      EscapeCase {"!'()*", "!'()*"},
                      EscapeCase {"\"#$,;<>?[\\]^`{|}",
                                  "%22%23%24%2c%3b%3c%3e%3f%5b%5c%5d%5e%60%7b%7c%7d"},
                      EscapeCase {"\t\n\x7f", "%09%0a%7f"}, EscapeCase {"", ""},
                      EscapeCase {"ABCXYZabcxyz0189", "ABCXYZabcxyz0189"}));

TEST(EscapeFormValueLimit, TwoThousandFortySixEscapedBytesAreSentLongerValuesAreDropped)
{
    // 682 "@" escape to 2046 bytes.
    const QString atSigns(682, QLatin1Char('@'));
    EXPECT_EQ(EscapeFormValue(atSigns).size(), 2046);
    EXPECT_EQ(EscapeFormValue(QString(2046, QLatin1Char('x'))), QString(2046, QLatin1Char('x')));

    // One more byte, escaped or plain, drops the value instead of cutting it.
    EXPECT_EQ(EscapeFormValue(atSigns + QLatin1Char('x')), QString());
    EXPECT_EQ(EscapeFormValue(QString(2047, QLatin1Char('x'))), QString());
    EXPECT_EQ(EscapeFormValue(QString(683, QLatin1Char('@'))), QString());
}

TEST(UnescapeFormValue, UndoesEscapingAndReadsBrowserForms)
{
    const QString original = QString::fromUtf8("pw 한@&=+%x");
    EXPECT_EQ(unescapeFormValue(EscapeFormValue(original)), original);
    EXPECT_EQ(unescapeFormValue(QStringLiteral("a+b%2B%41")), QStringLiteral("a b+A"));
    // A broken escape stays as it came.
    EXPECT_EQ(unescapeFormValue(QStringLiteral("50%z%4")), QStringLiteral("50%z%4"));
}

} // namespace
