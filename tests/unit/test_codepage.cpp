#include "platform/codepage.h"
#include "platform/ipv4.h"

#include <gtest/gtest.h>

TEST(CodePage, KoreanTextTakesItsTwoByteCodes)
{
    EXPECT_EQ(CodePage::fromUnicode(QStringLiteral("한글 ab")).toHex(),
              QByteArray("c7d1b1db206162"));
    EXPECT_EQ(CodePage::toUnicode(QByteArray::fromHex("c7d1b1db206162")),
              QStringLiteral("한글 ab"));
    // A syllable outside the 2350 common ones is still in code page 949.
    const QString rare = QStringLiteral("똠");
    EXPECT_EQ(CodePage::toUnicode(CodePage::fromUnicode(rare)), rare);
}

TEST(CodePage, UnmappableAndInvalidInput)
{
    EXPECT_EQ(CodePage::fromUnicode(QStringLiteral("a\u0e01b")), QByteArray("a?b"));
    EXPECT_EQ(CodePage::fromUnicode(QString()), QByteArray());
    // A lead byte without its trail byte at the end, and a stray byte.
    EXPECT_EQ(CodePage::toUnicode(QByteArray::fromHex("61c7")), QStringLiteral("a\ufffd"));
    EXPECT_EQ(CodePage::toUnicode(QByteArray::fromHex("ff61")), QStringLiteral("\ufffda"));
    const char field[6] = {'a', 'b', '\0', 'c', 'd', 'e'};
    EXPECT_EQ(CodePage::toUnicodeZ(field, 6), QStringLiteral("ab"));
    const char full[3] = {'x', 'y', 'z'};
    EXPECT_EQ(CodePage::toUnicodeZ(full, 3), QStringLiteral("xyz"));
}

TEST(Ipv4, TextAndNetworkOrder)
{
    bool ok = false;
    EXPECT_EQ(Ipv4::numericValue(QStringLiteral("1.2.3.4"), &ok), 0x01020304u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Ipv4::numericValue(QStringLiteral("x"), &ok), 0xFFFFFFFFu);
    EXPECT_FALSE(ok);
    const uint32_t n = Ipv4::toNetworkOrderBytes(QStringLiteral("10.20.30.40"));
    const auto *b = reinterpret_cast<const unsigned char *>(&n);
    EXPECT_EQ(Ipv4::fromBytes(b), QStringLiteral("10.20.30.40"));
    // Every digit count, as "%d.%d.%d.%d" writes them.
    const unsigned char edges[4] = {0, 9, 100, 255};
    EXPECT_EQ(Ipv4::fromBytes(edges), QStringLiteral("0.9.100.255"));
    const unsigned char tens[4] = {10, 99, 199, 250};
    EXPECT_EQ(Ipv4::fromBytes(tens), QStringLiteral("10.99.199.250"));
}
