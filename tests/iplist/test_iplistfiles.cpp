// "DynamicIPUse" and "CheckedIP" byte for byte, the column layouts, the
// dynamic rebuild with its colours and times, the shuffle and the check-box rule.
#include "iplistfixture.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSet>

using IpListFixture = IpListFixtureT<MemoryIpListRows>;

namespace {

QByteArray record(unsigned char a, unsigned char b, unsigned char c, unsigned char d, quint64 time,
                  char pad = 0)
{
    QByteArray r;
    r.append(char(a)).append(char(b)).append(char(c)).append(char(d));
    r.append(QByteArray(4, pad));
    for (int i = 0; i < 8; ++i)
        r.append(char((time >> (8 * i)) & 0xFF));
    return r;
}

} // namespace

TEST(UsageHistoryFile, RecordLayoutIsNetworkOrderAddressAndLittleEndianTime)
{
    const QByteArray r =
        UsageHistoryFile::encodeRecord(QStringLiteral("192.168.1.20"), 0x0102030405060708ull);
    const QByteArray expected = QByteArray::fromHex("c0a80114"
                                                    "00000000"
                                                    "0807060504030201");
    EXPECT_EQ(r.toHex(), expected.toHex());
}

TEST(UsageHistoryFile, FortyBytesYieldTwoRecordsAndIgnoreTheTail)
{
    TestHome home;
    const QByteArray bytes = record(10, 0, 0, 1, 1000, 'P') + record(10, 0, 0, 2, 2000, 'Q') +
        QByteArray("\x0a\x00\x00\x03zzzz", 8);
    home.write(QStringLiteral("DynamicIPUse"), bytes);
    const auto recs = UsageHistoryFile::read(home.file(QStringLiteral("DynamicIPUse")));
    ASSERT_EQ(recs.size(), 2);
    EXPECT_EQ(recs[0].address, QStringLiteral("10.0.0.1"));
    EXPECT_EQ(recs[0].time, 1000u);
    EXPECT_EQ(recs[1].address, QStringLiteral("10.0.0.2"));
    EXPECT_EQ(recs[1].time, 2000u);
}

TEST(UsageHistoryFile, KnownAddressIsRewrittenInPlaceNewOneAppended)
{
    TestHome home;
    const QString path = home.file(QStringLiteral("DynamicIPUse"));
    const QByteArray start = record(10, 0, 0, 1, 1000, 'P') + record(10, 0, 0, 2, 2000, 'Q');
    home.write(QStringLiteral("DynamicIPUse"), start);

    ASSERT_TRUE(UsageHistoryFile::recordUse(path, QStringLiteral("10.0.0.2"), 5000));
    QByteArray now = home.read(QStringLiteral("DynamicIPUse"));
    ASSERT_EQ(now.size(), 32);
    // Only the second record changed; the first, padding included, is untouched.
    EXPECT_EQ(now.left(16), start.left(16));
    EXPECT_EQ(now.mid(16).toHex(), record(10, 0, 0, 2, 5000).toHex());

    ASSERT_TRUE(UsageHistoryFile::recordUse(path, QStringLiteral("10.0.0.3"), 7000));
    now = home.read(QStringLiteral("DynamicIPUse"));
    ASSERT_EQ(now.size(), 48);
    EXPECT_EQ(now.mid(32).toHex(), record(10, 0, 0, 3, 7000).toHex());
}

TEST(UsageHistoryFile, TornTailFromACrashIsOverwrittenNotAppendedAfter)
{
    TestHome home;
    const QString path = home.file(QStringLiteral("DynamicIPUse"));
    home.write(QStringLiteral("DynamicIPUse"),
               record(10, 0, 0, 1, 1000) + QByteArray("\x0a\x00\x00", 3));
    ASSERT_TRUE(UsageHistoryFile::recordUse(path, QStringLiteral("10.0.0.9"), 9000));
    const QByteArray now = home.read(QStringLiteral("DynamicIPUse"));
    ASSERT_EQ(now.size(), 32);
    const auto recs = UsageHistoryFile::read(path);
    ASSERT_EQ(recs.size(), 2);
    EXPECT_EQ(recs[1].address, QStringLiteral("10.0.0.9"));
    EXPECT_EQ(recs[1].time, 9000u);
}

TEST(IpListModelFiles, LaterRecordOfAnAddressWinsOnLoad)
{
    IpListFixture fx(2);
    fx.home.write(QStringLiteral("DynamicIPUse"),
                  record(10, 0, 0, 1, 1000) + record(10, 0, 0, 1, 3000));
    fx.model().loadUsageHistory();
    EXPECT_EQ(fx.model().usageHistory().value(QStringLiteral("10.0.0.1")), 3000u);
}

TEST(IpListModelFiles, CheckedFileListedTwiceLoadsOnceAndSavesInListOrder)
{
    IpListFixture fx(1);
    fx.home.write(QStringLiteral("CheckedIP"),
                  QByteArray::fromHex("0a000002"
                                      "0a000001"
                                      "0a000002"
                                      "0a00"));
    fx.model().loadCheckedList();
    EXPECT_EQ(fx.model().checkedList(),
              (QStringList {QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.1")}));
    fx.model().addChecked(QStringLiteral("1.2.3.4"));
    fx.model().saveCheckedList();
    EXPECT_EQ(fx.home.read(QStringLiteral("CheckedIP")).toHex(),
              QByteArray("0a0000020a00000101020304"));
}

TEST(IpListModelFiles, MissingFilesAreEmpty)
{
    IpListFixture fx(2);
    fx.model().loadUsageHistory();
    fx.model().loadCheckedList();
    EXPECT_TRUE(fx.model().usageHistory().isEmpty());
    EXPECT_TRUE(fx.model().checkedList().isEmpty());
}

TEST(IpListModelFiles, FirstSetUpLoadsBothFiles)
{
    TestHome home;
    home.write(QStringLiteral("CheckedIP"), QByteArray::fromHex("0a000005"));
    home.write(QStringLiteral("DynamicIPUse"), record(10, 0, 0, 5, 4242));
    IpHostState host(home.file(QStringLiteral("KVOClientSetup.ini")));
    MemoryIpListRows rows;
    SentRequests session;
    ResetPasses resets;
    IpListController c(host, rows, session, resets, home.file(QStringLiteral("DynamicIPUse")),
                       home.file(QStringLiteral("CheckedIP")));
    c.setUpForProduct(2);
    EXPECT_TRUE(c.model().isChecked(QStringLiteral("10.0.0.5")));
    EXPECT_EQ(c.model().usageHistory().value(QStringLiteral("10.0.0.5")), 4242u);
}

TEST(IpListColumns, LayoutPerProduct)
{
    struct Case
    {
        int product;
        QStringList headings;
        QList<int> widths;
    } cases[] = {
        {1,
         {QStringLiteral("IP"), QStringLiteral("!"), QStringLiteral("ID"), QStringLiteral("상태"),
          QStringLiteral("일수"), QStringLiteral("PC")},
         {125, 17, 40, 36, 45, 60}},
        {2,
         {QStringLiteral("IP"), QStringLiteral("!"), QStringLiteral("상태"),
          QStringLiteral("사용시간")},
         {150, 17, 36, 120}},
    };
    for (const Case &c : cases) {
        IpListFixture fx(c.product);
        ASSERT_EQ(fx.rows.columns().size(), c.headings.size()) << c.product;
        for (int i = 0; i < c.headings.size(); ++i) {
            EXPECT_EQ(fx.rows.columns()[i].heading, c.headings[i]);
            EXPECT_EQ(fx.rows.columns()[i].width, c.widths[i]);
        }
        EXPECT_EQ(fx.rows.columns()[0].sortKind, IpListRows::SortKind::Address);
        EXPECT_EQ(fx.rows.secondHeaderTip(), QStringLiteral("IP불량신고한 아이피"));
    }
}

TEST(IpListColumns, SetUpShowsTheProductsControls)
{
    IpListFixture dyn(2);
    for (int id : {1082, 1067, 1068, 1076})
        EXPECT_TRUE(dyn.host.shownControls.value(id)) << id;
    EXPECT_FALSE(dyn.host.shownControls.value(1087, true));
    EXPECT_TRUE(dyn.host.status.isEmpty());

    IpListFixture fixed(1);
    for (int id : {1082, 1067, 1068, 1076})
        EXPECT_FALSE(fixed.host.shownControls.value(id, true)) << id;
    for (int id : {1087, 1069, 1075, 1074})
        EXPECT_TRUE(fixed.host.shownControls.value(id)) << id;
}

TEST(DynamicRebuild, HistoryColoursAndTimes)
{
    IpListFixture fx(2);
    fx.model().recordUse(QStringLiteral("10.0.0.1"), kst(2026, 3, 1, 9, 5, 7));
    fx.model().recordUse(QStringLiteral("10.0.0.2"), kst(2026, 3, 2, 23, 59, 59));
    fx.host.setCurrentAddress(QStringLiteral("10.0.0.2"));
    fx.model().setReportedList({QStringLiteral("10.0.0.3")});
    fx.model().addChecked(QStringLiteral("10.0.0.4"));
    fx.model().setDynamicArray(dynamicRecords(4));
    fx.model().rebuildDynamicRows(false);

    struct Row
    {
        const char *ip;
        const char *mark;
        QString state;
        const char *time;
        quint32 colour;
        bool checked;
    } expected[] = {
        {"10.0.0.1", "", IpState::Idle, "2026-03-01 09:05:07", IpRowColor::Unavailable, false},
        {"10.0.0.2", "", IpState::InUse, "2026-03-02 23:59:59", IpRowColor::InUse, false},
        {"10.0.0.3", "!", IpState::Idle, "", IpListRows::kNoColor, false},
        {"10.0.0.4", "", IpState::Idle, "", IpListRows::kNoColor, true},
    };
    ASSERT_EQ(fx.rows.rowCount(), 4);
    for (int i = 0; i < 4; ++i) {
        const Row &e = expected[i];
        EXPECT_EQ(fx.rows.text(i, 0), QString::fromLatin1(e.ip));
        EXPECT_EQ(fx.rows.text(i, 1), QString::fromLatin1(e.mark)) << e.ip;
        EXPECT_EQ(fx.rows.text(i, 2), e.state) << e.ip;
        EXPECT_EQ(fx.rows.text(i, 3), QString::fromLatin1(e.time)) << e.ip;
        EXPECT_EQ(fx.rows.background(i), e.colour) << e.ip;
        EXPECT_EQ(fx.rows.isChecked(i), e.checked) << e.ip;
    }
}

TEST(DynamicRebuild, ResortKeepsTheUsersOrderWithoutItArrayOrder)
{
    IpListFixture fx(2);
    fx.model().setDynamicArray(dynamicRecords(3));
    fx.model().rebuildDynamicRows(false);
    fx.rows.sortByUser(0); // ascending
    fx.rows.sortByUser(0); // descending
    fx.model().rebuildDynamicRows(true);
    EXPECT_EQ(fx.rows.text(0, 0), QStringLiteral("10.0.0.3"));
    EXPECT_EQ(fx.rows.text(2, 0), QStringLiteral("10.0.0.1"));
    fx.model().rebuildDynamicRows(false);
    EXPECT_EQ(fx.rows.text(0, 0), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(fx.rows.text(2, 0), QStringLiteral("10.0.0.3"));
}

TEST(DynamicShuffle, PermutesKeepsLeadBytesAndFollowsTheSeed)
{
    IpListFixture fx(2);
    QList<DynamicIpList> recs;
    for (int i = 0; i < 50; ++i)
        recs.append(dynamicRecord(QStringLiteral("10.1.0.%1").arg(i), char('A' + i % 26)));
    fx.model().setDynamicArray(recs);
    fx.model().shuffleDynamic(1700000000);
    const QList<DynamicIpList> a = fx.model().dynamicArray();
    QSet<QString> seen;
    int moved = 0;
    for (int i = 0; i < a.size(); ++i) {
        seen.insert(a[i].address);
        const int original = a[i].address.section(QLatin1Char('.'), 3).toInt();
        EXPECT_EQ(QByteArray(a[i].lead.data(), 64), QByteArray(64, char('A' + original % 26)));
        moved += original != i ? 1 : 0;
    }
    EXPECT_EQ(seen.size(), 50);
    EXPECT_GT(moved, 25);

    fx.model().setDynamicArray(recs);
    fx.model().shuffleDynamic(1700000000);
    for (int i = 0; i < a.size(); ++i)
        EXPECT_EQ(fx.model().dynamicArray()[i].address, a[i].address);
    fx.model().setDynamicArray(recs);
    fx.model().shuffleDynamic(1700000001);
    int same = 0;
    for (int i = 0; i < a.size(); ++i)
        same += fx.model().dynamicArray()[i].address == a[i].address ? 1 : 0;
    EXPECT_LT(same, 50);

    // The order itself is the one the runtime's generator gives for the seed.
    fx.model().setDynamicArray(recs.mid(0, 10));
    fx.model().shuffleDynamic(1700000000);
    QList<int> order;
    for (const DynamicIpList &r : fx.model().dynamicArray())
        order.append(r.address.section(QLatin1Char('.'), 3).toInt());
    EXPECT_EQ(order, QList<int>({1, 9, 0, 3, 4, 7, 2, 5, 6, 8}));
}

TEST(CheckBoxRule, OnlyAClickOnTheBoxIsStored)
{
    IpListFixture fx(1);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)});
    const QString path = fx.home.file(QStringLiteral("CheckedIP"));

    // The keyboard (pointer elsewhere) changes the box but not the file.
    fx.rows.setChecked(0, true);
    fx.model().checkBoxChanged(0, true, false);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(fx.model().isChecked(QStringLiteral("10.0.0.1")));

    fx.model().checkBoxChanged(1, true, true);
    EXPECT_EQ(fx.home.read(QStringLiteral("CheckedIP")).toHex(), QByteArray("0a000002"));
    fx.model().checkBoxChanged(0, true, true);
    EXPECT_EQ(fx.home.read(QStringLiteral("CheckedIP")).toHex(), QByteArray("0a0000020a000001"));
    fx.model().checkBoxChanged(1, false, true);
    EXPECT_EQ(fx.home.read(QStringLiteral("CheckedIP")).toHex(), QByteArray("0a000001"));
}
