// The switching commands: Change and its choice of the next address, the
// double-click, the hot key, random order, reset of the usage history,
// check all, the automatic change and its interval.
#include "iplistfixture.h"

#include "platform/hotkey.h"

#include <gtest/gtest.h>

#include <QFile>

using IpListFixture = IpListFixtureT<MemoryIpListRows>;

namespace {

const QString kOneRow = QStringLiteral("IP를 2개 이상 사용할 때 가능합니다.\n연장/추가/결제 버튼을 "
                                       "클릭하셔서 IP를 추가하시면 가능합니다.");
const QString kNothingQualifies = QStringLiteral("체크된 IP가 없거나 대기인 IP가 없습니다.");

// R1 checked idle, R2 unchecked idle, R3 checked unavailable, R4 checked idle.
void fourRows(IpListFixture &fx)
{
    for (const char *ip : {"10.0.0.1", "10.0.0.3", "10.0.0.4"})
        fx.model().addChecked(QString::fromLatin1(ip));
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1),
                               fixedRecord("10.0.0.3", 0), fixedRecord("10.0.0.4", 1)});
    fx.session.sent.clear();
}

} // namespace

TEST(Change, WalksTheQualifyingRowsAndWraps)
{
    const struct
    {
        const char *current;
        const char *expected;
    } cases[] = {
        {"10.0.0.1", "10.0.0.4"},
        {"10.0.0.4", "10.0.0.1"},
        {"10.0.0.2", "10.0.0.1"},
        {"", "10.0.0.1"},
    };
    for (const auto &c : cases) {
        IpListFixture fx(1);
        fourRows(fx);
        fx.host.setCurrentAddress(QString::fromLatin1(c.current));
        fx.host.controlsEnabled.clear();
        fx.controller.changeAddress();
        EXPECT_EQ(fx.session.changes(), QStringList {QString::fromLatin1(c.expected)}) << c.current;
        EXPECT_EQ(fx.host.controlsEnabled, QList<bool> {false}) << c.current;
        EXPECT_TRUE(fx.host.boxes.boxes().isEmpty());
    }
}

TEST(Change, UsesTheDynamicStateColumn)
{
    IpListFixture fx(2);
    fx.model().addChecked(QStringLiteral("10.0.0.1"));
    fx.model().addChecked(QStringLiteral("10.0.0.2"));
    fx.model().setDynamicArray(dynamicRecords(3));
    fx.host.setCurrentAddress(QStringLiteral("10.0.0.1"));
    fx.model().rebuildDynamicRows(false);
    fx.controller.changeAddress();
    EXPECT_EQ(fx.session.changes(), QStringList {QStringLiteral("10.0.0.2")});
}

TEST(Change, RefusalsAndTheLoneCurrentRow)
{
    struct Case
    {
        const char *name;
        QList<FixedIpInfo> rows;
        QStringList checked;
        const char *current;
        QString box; // empty: no box
    } cases[] = {
        {"one checked idle row",
         {fixedRecord("10.0.0.1", 1)},
         {QStringLiteral("10.0.0.1")},
         "",
         kOneRow},
        {"nothing checked",
         {fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)},
         {},
         "",
         kNothingQualifies},
        {"checked rows all unavailable",
         {fixedRecord("10.0.0.1", 0), fixedRecord("10.0.0.2", 1)},
         {QStringLiteral("10.0.0.1")},
         "",
         kNothingQualifies},
        {"only the current row qualifies",
         {fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)},
         {QStringLiteral("10.0.0.2")},
         "10.0.0.2",
         QString()},
    };
    for (const Case &c : cases) {
        IpListFixture fx(1);
        for (const QString &ip : c.checked)
            fx.model().addChecked(ip);
        fx.controller.onFixedList(c.rows);
        fx.session.sent.clear();
        fx.host.controlsEnabled.clear();
        fx.host.setCurrentAddress(QString::fromLatin1(c.current));
        fx.controller.changeAddress();
        EXPECT_TRUE(fx.session.sent.isEmpty()) << c.name;
        EXPECT_TRUE(fx.host.controlsEnabled.isEmpty()) << c.name;
        if (c.box.isEmpty()) {
            EXPECT_TRUE(fx.host.boxes.boxes().isEmpty()) << c.name;
        } else {
            ASSERT_EQ(fx.host.boxes.boxes().size(), 1) << c.name;
            EXPECT_EQ(fx.host.boxes.boxes()[0].text, c.box) << c.name;
            EXPECT_EQ(fx.host.boxes.boxes()[0].caption, QStringLiteral("안내메세지"));
            EXPECT_EQ(fx.host.boxes.boxes()[0].flags, 0x1030u);
        }
    }
}

TEST(Change, EmptyListGivesTheSecondMessage)
{
    IpListFixture fx(1);
    fx.controller.changeAddress();
    EXPECT_EQ(fx.host.boxes.texts(), QStringList {kNothingQualifies});
}

TEST(DoubleClick, IdleRowIsRequestedWhateverItsCheckBox)
{
    IpListFixture fx(1);
    fourRows(fx);
    fx.host.controlsEnabled.clear();
    fx.rows.selectRow(fx.findRow("10.0.0.2"));
    fx.controller.doubleClickChange();
    EXPECT_EQ(fx.session.changes(), QStringList {QStringLiteral("10.0.0.2")});
    EXPECT_TRUE(fx.host.controlsEnabled.isEmpty());
}

TEST(DoubleClick, OtherRowsAreRefused)
{
    const struct
    {
        const char *name;
        int row; // -1: none selected
    } cases[] = {{"in use", 0}, {"unavailable", 1}, {"empty state", 2}, {"no selection", -1}};
    for (const auto &c : cases) {
        IpListFixture fx(1);
        fx.controller.onFixedList(
            {fixedRecord("10.0.0.1", 2), fixedRecord("10.0.0.2", 0), fixedRecord("10.0.0.3", 9)});
        fx.session.sent.clear();
        fx.rows.selectRow(c.row);
        fx.controller.doubleClickChange();
        EXPECT_TRUE(fx.session.sent.isEmpty()) << c.name;
        EXPECT_EQ(fx.host.boxes.texts(), QStringList {QStringLiteral("사용중인 IP 입니다.")})
            << c.name;
        EXPECT_EQ(fx.host.boxes.boxes()[0].flags, 0x1030u);
    }
}

TEST(HotKey, PressChangesOnlyWhileConnectedWithSeveralRows)
{
    const struct
    {
        bool connected;
        int rows;
        bool change;
    } cases[] = {{true, 2, true}, {false, 2, false}, {true, 1, false}, {true, 0, false}};
    for (const auto &c : cases) {
        IpListFixture fx(1);
        ManualGlobalHotKey key;
        fx.controller.setHotKey(&key);
        fx.host.f.useHotKey = 1;
        fx.host.f.hotKey = 'P';
        fx.controller.applyHotKey();
        ASSERT_EQ(key.registeredKey(), int('P'));
        QList<FixedIpInfo> recs;
        for (int i = 1; i <= c.rows; ++i) {
            recs.append(fixedRecord(qPrintable(QStringLiteral("10.0.0.%1").arg(i)), 1));
            fx.model().addChecked(QStringLiteral("10.0.0.%1").arg(i));
        }
        fx.controller.onFixedListUpdate(recs);
        fx.session.sent.clear();
        fx.host.boxes.clear();
        fx.session.isConnected = c.connected;
        key.press();
        EXPECT_EQ(fx.session.changes().size(), c.change ? 1 : 0) << c.connected << c.rows;
        EXPECT_TRUE(fx.host.boxes.boxes().isEmpty());
    }
}

TEST(HotKey, RegistrationFollowsTheSettingAndReportsATakenKey)
{
    IpListFixture fx(1);
    ManualGlobalHotKey key;
    fx.controller.setHotKey(&key);
    fx.host.f.useHotKey = 1;
    fx.host.f.hotKey = 'K';
    key.setTaken('K');
    fx.controller.applyHotKey();
    EXPECT_FALSE(key.isRegistered());
    ASSERT_EQ(fx.host.boxes.boxes().size(), 1);
    EXPECT_EQ(fx.host.boxes.boxes()[0].text, QStringLiteral("핫키 등록 실패!"));
    EXPECT_EQ(fx.host.boxes.boxes()[0].flags, 0u);
    EXPECT_EQ(fx.host.boxes.boxes()[0].caption, QStringLiteral("KVOClient"));

    fx.host.f.hotKey = 'L';
    fx.controller.applyHotKey();
    EXPECT_EQ(key.registeredKey(), int('L'));
    fx.host.f.useHotKey = 0;
    fx.controller.applyHotKey();
    EXPECT_FALSE(key.isRegistered());
    EXPECT_EQ(fx.host.boxes.boxes().size(), 1);
}

TEST(RandomOrder, ShufflesRemovesTheArrowAndSendsNothing)
{
    IpListFixture fx(2);
    fx.controller.onDynamicIpInfo(dynamicRecords(30));
    fx.session.sent.clear();
    fx.rows.sortByUser(0);
    ASSERT_TRUE(fx.rows.sortArrowShown());
    fx.host.clockValue.advanceSeconds(17);
    fx.controller.randomOrder();
    EXPECT_FALSE(fx.rows.sortArrowShown());
    EXPECT_TRUE(fx.session.sent.isEmpty());
    ASSERT_EQ(fx.rows.rowCount(), 30);
    bool sorted = true;
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(fx.rows.text(i, 0), fx.model().dynamicArray()[i].address);
        sorted = sorted && fx.rows.text(i, 0) == QStringLiteral("10.0.0.%1").arg(i + 1);
    }
    EXPECT_FALSE(sorted);
}

TEST(ResetHistory, LeavesOneRecordForTheCurrentAddress)
{
    IpListFixture fx(2);
    fx.model().recordUse(QStringLiteral("10.0.0.1"), 1000);
    fx.model().recordUse(QStringLiteral("10.0.0.3"), 2000);
    fx.controller.onDynamicIpInfo(dynamicRecords(3));
    fx.controller.onChangeCompleted(QStringLiteral("10.0.0.2"));
    fx.host.boxes.clear();
    fx.host.clockValue.set(QDateTime(QDate(2026, 8, 15), QTime(6, 7, 8)));
    fx.controller.resetUsageHistory();

    const QByteArray file = fx.home.read(QStringLiteral("DynamicIPUse"));
    ASSERT_EQ(file.size(), 16);
    EXPECT_EQ(file.toHex(),
              UsageHistoryFile::encodeRecord(QStringLiteral("10.0.0.2"), kst(2026, 8, 15, 6, 7, 8))
                  .toHex());
    EXPECT_EQ(fx.cell("10.0.0.2", 3), QStringLiteral("2026-08-15 06:07:08"));
    EXPECT_EQ(fx.color("10.0.0.2"), IpRowColor::InUse);
    for (const char *ip : {"10.0.0.1", "10.0.0.3"}) {
        EXPECT_EQ(fx.cell(ip, 3), QString()) << ip;
        EXPECT_EQ(fx.color(ip), IpRowColor::Idle) << ip;
    }
    EXPECT_EQ(fx.model().usageHistory().size(), 1);
    EXPECT_EQ(fx.host.boxes.texts(),
              QStringList {QStringLiteral("유동IP 사용이력을 초기화 하였습니다.")});
    EXPECT_EQ(fx.host.boxes.boxes()[0].flags, 0x1030u);
}

TEST(ResetHistory, WithoutAnAddressInUseTheFileGoes)
{
    IpListFixture fx(2);
    fx.model().recordUse(QStringLiteral("10.0.0.1"), 1000);
    fx.controller.resetUsageHistory();
    EXPECT_FALSE(QFile::exists(fx.home.file(QStringLiteral("DynamicIPUse"))));
    EXPECT_TRUE(fx.model().usageHistory().isEmpty());
}

TEST(CheckAll, CheckingThenClearingLeavesNoneOfTheRows)
{
    IpListFixture fx(1);
    fx.model().addChecked(QStringLiteral("192.168.0.1")); // not in this list
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 0)});
    fx.controller.checkAll(true);
    EXPECT_TRUE(fx.rows.isChecked(0));
    EXPECT_TRUE(fx.rows.isChecked(1));
    EXPECT_EQ(fx.home.read(QStringLiteral("CheckedIP")).toHex(),
              QByteArray("c0a800010a0000010a000002"));
    fx.controller.checkAll(false);
    EXPECT_FALSE(fx.rows.isChecked(0));
    EXPECT_EQ(fx.home.read(QStringLiteral("CheckedIP")).toHex(), QByteArray("c0a80001"));
}

TEST(AutoChange, BoxStartsAndStopsTimer1034)
{
    IpListFixture fx(1);
    fx.model().addChecked(QStringLiteral("10.0.0.2"));
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)});
    fx.controller.autoChangeBoxClicked(true);
    EXPECT_TRUE(fx.host.timer1034.isActive());
    EXPECT_EQ(fx.host.timer1034.interval(), 300000);
    EXPECT_EQ(fx.host.file.readString(SettingKeys::Entry, SettingKeys::IsAutoChange),
              QStringLiteral("1"));
    EXPECT_EQ(fx.host.f.autoChange, 1);
    EXPECT_TRUE(fx.host.enabledControls.value(1075));
    EXPECT_TRUE(fx.host.enabledControls.value(1074));

    // Moving the slider to 2 restarts the period at 120 s and stores 120.
    fx.controller.intervalSliderDrawn(2);
    EXPECT_EQ(fx.host.timer1034.interval(), 120000);
    EXPECT_TRUE(fx.host.timer1034.isActive());
    EXPECT_EQ(fx.host.file.readInt(SettingKeys::Entry, SettingKeys::AutoChangeSec, 0), 120);
    EXPECT_EQ(fx.host.intervalText, QStringLiteral("2분"));

    fx.controller.autoChangeBoxClicked(false);
    EXPECT_FALSE(fx.host.timer1034.isActive());
    EXPECT_EQ(fx.host.file.readString(SettingKeys::Entry, SettingKeys::IsAutoChange),
              QStringLiteral("0"));
    EXPECT_FALSE(fx.host.enabledControls.value(1075, true));
}

TEST(AutoChange, WithoutCheckedRowsTheBoxIsClearedAgain)
{
    IpListFixture fx(1);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)});
    fx.host.autoBox = true;
    fx.controller.autoChangeBoxClicked(true);
    EXPECT_FALSE(fx.host.timer1034.isActive());
    EXPECT_FALSE(fx.host.autoBox);
    EXPECT_FALSE(fx.host.enabledControls.value(1075, true));
    EXPECT_FALSE(fx.host.enabledControls.value(1074, true));
    ASSERT_EQ(fx.host.boxes.boxes().size(), 1);
    EXPECT_EQ(fx.host.boxes.boxes()[0].text, QStringLiteral("체크된 IP가 없습니다."));
    EXPECT_EQ(fx.host.boxes.boxes()[0].flags, 0u);
    EXPECT_EQ(fx.host.file.readString(SettingKeys::Entry, SettingKeys::IsAutoChange),
              QStringLiteral("0"));
}

TEST(AutoChange, SliderReplacesAnOffGridIntervalWhenItIsApplied)
{
    // The stored interval is applied with the list's set-up: the slider's
    // whole minutes replace it in the file and in memory at once.
    const struct
    {
        const char *stored;
        int loaded; // after the load's bounds
        int slider;
        int after;
        QString text;
    } cases[] = {
        {"500", 500, 8, 480, QStringLiteral("8분")},
        {"3600", 1800, 30, 1800, QStringLiteral("30분")},
        {"30", 60, 1, 60, QStringLiteral("1분")},
        {"0", 60, 1, 60, QStringLiteral("1분")},
        {"abc", 60, 1, 60, QStringLiteral("1분")},
        {"300", 300, 5, 300, QStringLiteral("5분")},
    };
    for (const auto &c : cases) {
        IpListFixture fx(1);
        fx.host.file.write(SettingKeys::Entry, SettingKeys::AutoChangeSec,
                           QString::fromLatin1(c.stored));
        fx.host.f = fx.host.file.load();
        EXPECT_EQ(fx.host.f.autoChangeSeconds, c.loaded) << c.stored;
        fx.controller.setUpForProduct(1);
        EXPECT_EQ(fx.host.sliderMinutes, c.slider) << c.stored;
        EXPECT_EQ(fx.host.file.readString(SettingKeys::Entry, SettingKeys::AutoChangeSec),
                  QString::number(c.after))
            << c.stored;
        EXPECT_EQ(fx.host.f.autoChangeSeconds, c.after) << c.stored;
        EXPECT_EQ(fx.host.intervalText, c.text) << c.stored;
        // Not running: applying the interval does not start the timer.
        EXPECT_FALSE(fx.host.timer1034.isActive());
    }
}

TEST(AutoChange, SetUpChecksTheBoxWhenTheSettingIsOn)
{
    TestHome home;
    IpHostState host(home.file(QStringLiteral("KVOClientSetup.ini")));
    host.f.autoChange = 1;
    MemoryIpListRows rows;
    SentRequests session;
    ResetPasses resets;
    IpListController c(host, rows, session, resets, home.file(QStringLiteral("DynamicIPUse")),
                       home.file(QStringLiteral("CheckedIP")));
    c.setUpForProduct(1);
    EXPECT_TRUE(host.autoBox);
    EXPECT_EQ(host.sliderMinutes, 5);
    EXPECT_EQ(host.intervalText, QStringLiteral("5분"));
}

TEST(HotKey, StartUpSetUpRegistersItOnce)
{
    TestHome home;
    IpHostState host(home.file(QStringLiteral("KVOClientSetup.ini")));
    host.f.useHotKey = 1;
    host.f.hotKey = 'P';
    MemoryIpListRows rows;
    SentRequests session;
    ResetPasses resets;
    ManualGlobalHotKey key;
    key.setTaken('P');
    IpListController c(host, rows, session, resets, home.file(QStringLiteral("DynamicIPUse")),
                       home.file(QStringLiteral("CheckedIP")));
    c.setHotKey(&key);
    c.setUpForProduct(1);
    EXPECT_EQ(host.boxes.texts(), QStringList {QStringLiteral("핫키 등록 실패!")});
    // Set-ups of later sign-ins leave the hot key alone.
    c.setUpForProduct(2);
    EXPECT_EQ(host.boxes.boxes().size(), 1);

    key.setTaken(0);
    IpListController d(host, rows, session, resets, home.file(QStringLiteral("DynamicIPUse")),
                       home.file(QStringLiteral("CheckedIP")));
    d.setHotKey(&key);
    d.setUpForProduct(1);
    EXPECT_EQ(key.registeredKey(), int('P'));
}
