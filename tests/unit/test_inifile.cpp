#include "platform/inifile.h"
#include "support/testhome.h"

#include <gtest/gtest.h>

namespace {
const QString S = QStringLiteral("Entry");
}

TEST(IniFile, NamesCompareWithoutCaseAndValueIsTextAfterFirstEquals)
{
    TestHome home;
    home.write(QStringLiteral("a.ini"), "[ENTRY]\r\nserver=a=b=c\r\nId = spaced \r\n");
    IniFile ini(home.file(QStringLiteral("a.ini")));
    EXPECT_EQ(ini.readString(S, QStringLiteral("SERVER")), QStringLiteral("a=b=c"));
    EXPECT_EQ(ini.readString(QStringLiteral("entry"), QStringLiteral("ID")),
              QStringLiteral("spaced"));
}

TEST(IniFile, MissingFileSectionOrKeyReadsTheDefault)
{
    TestHome home;
    IniFile missing(home.file(QStringLiteral("none.ini")));
    EXPECT_EQ(missing.readString(S, QStringLiteral("K"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_EQ(missing.readInt(S, QStringLiteral("K"), 42), 42);
    home.write(QStringLiteral("b.ini"), "[Option]\nK=1\n");
    IniFile ini(home.file(QStringLiteral("b.ini")));
    EXPECT_EQ(ini.readInt(S, QStringLiteral("K"), 7), 7);
    EXPECT_EQ(ini.readInt(QStringLiteral("Option"), QStringLiteral("Other"), 9), 9);
    EXPECT_EQ(ini.readInt(QStringLiteral("Option"), QStringLiteral("K"), 9), 1);
}

TEST(IniFile, IntegersReadTheirLeadingDigits)
{
    EXPECT_EQ(leadingInt(QStringLiteral("300")), 300);
    EXPECT_EQ(leadingInt(QStringLiteral("12abc")), 12);
    EXPECT_EQ(leadingInt(QStringLiteral("abc")), 0);
    EXPECT_EQ(leadingInt(QStringLiteral("")), 0);
    EXPECT_EQ(leadingInt(QStringLiteral("-1")), -1);
    EXPECT_EQ(leadingInt(QStringLiteral(" 2 ")), 2);
}

TEST(IniFile, WriteCreatesFileAndSectionButNotFolder)
{
    TestHome home;
    IniFile ini(home.file(QStringLiteral("new.ini")));
    ASSERT_TRUE(ini.writeString(S, QStringLiteral("ID"), QStringLiteral("abc")));
    EXPECT_EQ(home.read(QStringLiteral("new.ini")), QByteArray("[Entry]\r\nID=abc\r\n"));

    IniFile nowhere(home.file(QStringLiteral("missing/dir/x.ini")));
    EXPECT_FALSE(nowhere.writeString(S, QStringLiteral("ID"), QStringLiteral("abc")));
    EXPECT_FALSE(QDir(home.file(QStringLiteral("missing"))).exists());
}

TEST(IniFile, WriteReplacesInPlaceAndKeepsEverythingElse)
{
    TestHome home;
    home.write(QStringLiteral("c.ini"),
               "; comment\r\n[Option]\r\nA=1\r\n\r\n[Entry]\r\nid=old\r\nB=2\r\n");
    IniFile ini(home.file(QStringLiteral("c.ini")));
    ASSERT_TRUE(ini.writeString(S, QStringLiteral("ID"), QStringLiteral("new")));
    ASSERT_TRUE(
        ini.writeString(QStringLiteral("option"), QStringLiteral("C"), QStringLiteral("3")));
    ASSERT_TRUE(ini.writeString(QStringLiteral("Third"), QStringLiteral("D"), QStringLiteral("4")));
    EXPECT_EQ(home.read(QStringLiteral("c.ini")),
              QByteArray("; comment\r\n[Option]\r\nA=1\r\nC=3\r\n\r\n[Entry]\r\nid=new\r\nB=2\r\n"
                         "[Third]\r\nD=4\r\n"));
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files), QStringList {QStringLiteral("c.ini")});
}

TEST(IniFile, KoreanValuesAndLineBreaksInValues)
{
    TestHome home;
    IniFile ini(home.file(QStringLiteral("k.ini")));
    ini.writeString(S, QStringLiteral("DynamicProductName"), QStringLiteral("유동 상품"));
    ini.writeString(S, QStringLiteral("ID"), QStringLiteral("a\r\n[Option]\nx"));
    EXPECT_EQ(ini.readString(S, QStringLiteral("DynamicProductName")), QStringLiteral("유동 상품"));
    // A line break cannot smuggle a section or key into the file.
    EXPECT_EQ(ini.readString(S, QStringLiteral("ID")), QStringLiteral("a[Option]x"));
    EXPECT_FALSE(ini.snapshot().contains(QStringLiteral("Option"), QStringLiteral("x")));
}
