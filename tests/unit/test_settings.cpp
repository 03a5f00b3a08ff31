#include "core/settings.h"
#include "support/testhome.h"

#include <gtest/gtest.h>

using namespace SettingKeys;

namespace {
Settings settingsIn(const TestHome &home)
{
    return Settings(home.file(QStringLiteral("KVOClientSetup.ini")));
}
} // namespace

TEST(Settings, FirstStartWritesExactlyTheFourteenCreationValues)
{
    TestHome home;
    Settings s = settingsIn(home);
    EXPECT_TRUE(s.createIfMissing());
    EXPECT_EQ(home.read(QStringLiteral("KVOClientSetup.ini")),
              QByteArray("[Option]\r\n"
                         "RedialSeconds=30\r\n"
                         "RedialOnLinkFailure=1\r\n"
                         "BootStart=0\r\n"
                         "UseHotKey=0\r\n"
                         "HotKey=80\r\n"
                         "[Entry]\r\n"
                         "ServiceType=1\r\n"
                         "IsPPTP=1\r\n"
                         "PharamSave=0\r\n"
                         "ID=\r\n"
                         "SERVER=\r\n"
                         "LastUsedIP=\r\n"
                         "CheckedIP=\r\n"
                         "IsAutoChange=0\r\n"
                         "AutoChangeSec=300\r\n"));
    const SettingsFields f = s.load();
    EXPECT_EQ(f.redialCount, 0);
    EXPECT_EQ(f.redialSeconds, 30);
    EXPECT_EQ(f.redialOnLinkFailure, 1);
    EXPECT_EQ(f.autoChangeSeconds, 300);
    EXPECT_EQ(f.hotKey, 80);
    EXPECT_EQ(f.tunnelType, 1);
    EXPECT_EQ(f.productType, 1);
    EXPECT_TRUE(f.productMap.isEmpty());
}

TEST(Settings, ExistingFileIsNeverCompleted)
{
    TestHome home;
    home.write(QStringLiteral("KVOClientSetup.ini"), "[Entry]\r\nIsPPTP=2\r\n");
    Settings s = settingsIn(home);
    EXPECT_FALSE(s.createIfMissing());
    EXPECT_EQ(home.read(QStringLiteral("KVOClientSetup.ini")),
              QByteArray("[Entry]\r\nIsPPTP=2\r\n"));
}

TEST(Settings, MissingKeysReadTheirReadDefaultsNotTheCreationValues)
{
    TestHome home;
    home.write(QStringLiteral("KVOClientSetup.ini"), "[Option]\r\n[Entry]\r\n");
    const SettingsFields f = settingsIn(home).load();
    EXPECT_EQ(f.redialSeconds, 0);
    EXPECT_EQ(f.redialOnLinkFailure, 0);
    EXPECT_EQ(f.autoChangeSeconds, 500);
    EXPECT_EQ(f.hotKey, 80);
    EXPECT_EQ(f.productType, 1);
    EXPECT_EQ(f.tunnelType, 1);
    EXPECT_EQ(f.useHotKey, 0);
}

TEST(Settings, FlagsAboveZeroCountAsOn)
{
    TestHome home;
    home.write(QStringLiteral("KVOClientSetup.ini"),
               "[Entry]\r\nIsAutoChange=2\r\n[Option]\r\nUseHotKey=-1\r\nHotKey=77x\r\n");
    SettingsFields f = settingsIn(home).load();
    EXPECT_EQ(f.autoChange, 1);
    EXPECT_EQ(f.useHotKey, 0);
    EXPECT_EQ(f.hotKey, 77);

    home.write(QStringLiteral("KVOClientSetup.ini"), "[Entry]\r\nIsAutoChange=-1\r\n");
    f = settingsIn(home).load();
    EXPECT_EQ(f.autoChange, 0);
}

TEST(Settings, ProductListGivesTheMapAndTheOfferedProducts)
{
    TestHome home;
    home.write(QStringLiteral("KVOClientSetup.ini"),
               "[Entry]\r\nDynamicProductList=A:10,B:,C:30\r\nDynamicProductName=C\r\n");
    const SettingsFields f = settingsIn(home).load();
    EXPECT_EQ(f.productMap.size(), 3);
    EXPECT_EQ(f.productMap.value(QStringLiteral("A")), QStringLiteral("10"));
    EXPECT_TRUE(f.productMap.contains(QStringLiteral("B")));
    EXPECT_EQ(f.productMap.value(QStringLiteral("B")), QString());
    EXPECT_EQ(f.dynamicProductName, QStringLiteral("C"));

    const auto offered = offeredProducts(QStringLiteral("A:10,B:,C:30"));
    ASSERT_EQ(offered.size(), 2);
    EXPECT_EQ(offered[0].first, QStringLiteral("A"));
    EXPECT_EQ(offered[1].second, QStringLiteral("30"));

    // A later entry with the same name replaces an earlier one; empty entries
    // and a name without ":" are kept as the rules say.
    const auto map = parseProductMap(QStringLiteral("유동A:1,,유동A:2,X"));
    EXPECT_EQ(map.size(), 2);
    EXPECT_EQ(map.value(QStringLiteral("유동A")), QStringLiteral("2"));
    EXPECT_EQ(map.value(QStringLiteral("X"), QStringLiteral("?")), QString());
}

TEST(Settings, LegacyCheckedListSplitsWithoutRepeats)
{
    EXPECT_EQ(splitLegacyCheckedList(QStringLiteral("1.2.3.4,5.6.7.8,1.2.3.4")),
              (QStringList {QStringLiteral("1.2.3.4"), QStringLiteral("5.6.7.8")}));
    EXPECT_TRUE(splitLegacyCheckedList(QString()).isEmpty());
}

TEST(Settings, WritesReachTheFileAtOnce)
{
    TestHome home;
    Settings s = settingsIn(home);
    s.createIfMissing();
    s.write(Entry, LastUsedIP, QStringLiteral("10.0.0.7"));
    s.write(Option, RedialCount, 3);
    const SettingsFields f = settingsIn(home).load();
    EXPECT_EQ(f.lastUsedIp, QStringLiteral("10.0.0.7"));
    EXPECT_EQ(f.redialCount, 3);
    EXPECT_TRUE(home.read(QStringLiteral("KVOClientSetup.ini"))
                    .contains("HotKey=80\r\nRedialCount=3\r\n[Entry]"));
}
