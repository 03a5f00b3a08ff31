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
    EXPECT_EQ(f.redialSeconds, 30); // a countdown needs at least a second
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

// Every number of the file is bounded by the load: a value that would stop
// a countdown from ending or start a timer without period gets a defined one.
TEST(Settings, NumbersAreBoundedWhenRead)
{
    struct Case
    {
        const char *section;
        const char *key;
        const char *stored;
        int SettingsFields::*field;
        int expected;
    };
    const Case cases[] = {
        {"Entry", "AutoChangeSec", "0", &SettingsFields::autoChangeSeconds, 60},
        {"Entry", "AutoChangeSec", "abc", &SettingsFields::autoChangeSeconds, 60},
        {"Entry", "AutoChangeSec", "-300", &SettingsFields::autoChangeSeconds, 60},
        {"Entry", "AutoChangeSec", "30", &SettingsFields::autoChangeSeconds, 60},
        {"Entry", "AutoChangeSec", "500", &SettingsFields::autoChangeSeconds, 500},
        {"Entry", "AutoChangeSec", "3600", &SettingsFields::autoChangeSeconds, 1800},
        {"Entry", "AutoChangeSec", "2147483647", &SettingsFields::autoChangeSeconds, 1800},
        {"Option", "RedialSeconds", "0", &SettingsFields::redialSeconds, 30},
        {"Option", "RedialSeconds", "-5", &SettingsFields::redialSeconds, 30},
        {"Option", "RedialSeconds", "x", &SettingsFields::redialSeconds, 30},
        {"Option", "RedialSeconds", "1", &SettingsFields::redialSeconds, 1},
        {"Option", "RedialSeconds", "86400", &SettingsFields::redialSeconds, 3600},
        {"Option", "RedialCount", "-1", &SettingsFields::redialCount, 0},
        {"Option", "RedialCount", "2", &SettingsFields::redialCount, 2},
        {"Option", "RedialCount", "2147483647", &SettingsFields::redialCount, 999},
        {"Option", "RedialOnLinkFailure", "-1", &SettingsFields::redialOnLinkFailure, 0},
        {"Option", "RedialOnLinkFailure", "7", &SettingsFields::redialOnLinkFailure, 1},
        {"Option", "BootStart", "-1", &SettingsFields::bootStart, 1},
        {"Option", "BootStart", "2", &SettingsFields::bootStart, 1},
        {"Entry", "PharamSave", "5", &SettingsFields::credentialsSaved, 1},
        {"Entry", "IsPPTP", "2", &SettingsFields::tunnelType, 2},
        {"Entry", "IsPPTP", "9", &SettingsFields::tunnelType, 0},
        {"Entry", "IsPPTP", "-2", &SettingsFields::tunnelType, 0},
        {"Entry", "ServiceType", "3", &SettingsFields::productType, 3},
        {"Entry", "ServiceType", "0", &SettingsFields::productType, 1},
        {"Entry", "ServiceType", "12", &SettingsFields::productType, 1},
        {"Option", "HotKey", "90", &SettingsFields::hotKey, 90},
        {"Option", "HotKey", "0", &SettingsFields::hotKey, 80},
        {"Option", "HotKey", "1000", &SettingsFields::hotKey, 80},
        {"Option", "BlockOutside", "1", &SettingsFields::blockOutside, 1},
        {"Option", "BlockOutside", "3", &SettingsFields::blockOutside, 1},
        {"Option", "BlockOutside", "0", &SettingsFields::blockOutside, 0},
        {"Option", "BlockOutside", "-1", &SettingsFields::blockOutside, 0},
        {"Option", "BlockOutside", "on", &SettingsFields::blockOutside, 0},
    };
    for (const Case &c : cases) {
        TestHome home;
        home.write(QStringLiteral("KVOClientSetup.ini"),
                   QStringLiteral("[%1]\r\n%2=%3\r\n")
                       .arg(QLatin1String(c.section), QLatin1String(c.key), QLatin1String(c.stored))
                       .toUtf8());
        const SettingsFields f = settingsIn(home).load();
        EXPECT_EQ(f.*c.field, c.expected) << c.key << "=" << c.stored;
    }
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

// [Option] VerifyUrl is kept only as an http or https address with a host;
// anything else turns the check off rather than reaching the web client.
TEST(Settings, VerifyUrlIsAWebAddressOrNothing)
{
    const QString tooLong =
        QStringLiteral("http://h/") + QString(kMaxVerifyUrlLength, QLatin1Char('a'));
    const struct
    {
        QString value;
        QString kept;
    } cases[] {
        {QStringLiteral("http://10.0.0.1:8080/myip"), QStringLiteral("http://10.0.0.1:8080/myip")},
        {QStringLiteral("https://echo.example/ip?x=1"),
         QStringLiteral("https://echo.example/ip?x=1")},
        {QString(), QString()},
        {QStringLiteral("file:///etc/passwd"), QString()},
        {QStringLiteral("ftp://h/ip"), QString()},
        {QStringLiteral("http:///ip"), QString()},
        {QStringLiteral("http://h/ip x"), QString()},
        {QStringLiteral("http://h/\u00e9"), QString()},
        {QStringLiteral("//h/ip"), QString()},
        {tooLong, QString()},
    };
    for (const auto &c : cases) {
        TestHome home;
        home.write(QStringLiteral("KVOClientSetup.ini"),
                   "[Option]\r\nVerifyUrl=" + c.value.toUtf8() + "\r\n");
        EXPECT_EQ(settingsIn(home).load().verifyUrl, c.kept) << c.value.toStdString();
    }
}
