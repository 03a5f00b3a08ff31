// The session's messages applied to the IP list: the lists, the address to
// request, the change results and the notices about single addresses.
#include "iplistfixture.h"

#include "session/sessiondispatcher.h"

#include <gtest/gtest.h>

using IpListFixture = IpListFixtureT<MemoryIpListRows>;

namespace {
const QString kNoAddress = QStringLiteral("사용할 수 있는 IP가 없습니다.");
}

TEST(SessionSignIn, AcceptedAsksForTheListAndSaysSo)
{
    IpListFixture fx(1);
    fx.controller.onLoginAccepted();
    EXPECT_EQ(fx.session.sent, QStringList {QStringLiteral("info")});
    EXPECT_TRUE(fx.session.watchdog);
    EXPECT_EQ(fx.host.status, QStringLiteral("아이피 사용정보를 불러오고 있습니다."));
}

TEST(SessionSignIn, RefusedEndsTheSessionForGood)
{
    IpListFixture fx(1);
    fx.controller.onLoginRefused();
    EXPECT_FALSE(fx.session.reconnectFlag);
    EXPECT_EQ(fx.host.signOuts,
              QStringList {QStringLiteral("세션관리 서버에 로그인하지 못했습니다.")});
}

TEST(SessionEnds, EachTypeSignsOutWithItsText)
{
    const struct
    {
        int type;
        QString text;
    } cases[] = {
        {20, QStringLiteral("해당 서버의 용량이 다 찼습니다.\n다른 서버로 연결을 해주십시오.")},
        {21, QStringLiteral("사용 가능한 유동아이피 상품이 없습니다.")},
        {22, QStringLiteral("서버에서 연결을 끊었습니다.")},
        {23, QStringLiteral("다른 곳에서 로그인되어 있습니다.")},
    };
    for (const auto &c : cases) {
        IpListFixture fx(1);
        fx.controller.onSessionEnded(c.type);
        EXPECT_FALSE(fx.session.reconnectFlag) << c.type;
        EXPECT_EQ(fx.host.signOuts, QStringList {c.text}) << c.type;
    }
}

TEST(SessionEnds, AddressesAddedAsksAndSignsOutOnlyOnYes)
{
    IpListFixture yes(1);
    yes.host.boxes.queueAnswer(IdYes);
    yes.controller.onAddressesAdded();
    ASSERT_EQ(yes.host.boxes.boxes().size(), 1);
    EXPECT_EQ(yes.host.boxes.boxes()[0].text,
              QStringLiteral("IP가 추가 되었습니다.\n사용하시려면 다시 로그인 해야 합니다.\n다시 "
                             "로그인 하시겠습니까?"));
    EXPECT_EQ(yes.host.boxes.boxes()[0].caption, QStringLiteral("안내메세지"));
    EXPECT_EQ(yes.host.boxes.boxes()[0].flags, 0x1004u);
    EXPECT_EQ(yes.host.signOuts, QStringList {QString()});
    EXPECT_FALSE(yes.session.reconnectFlag);

    IpListFixture no(1);
    no.host.boxes.queueAnswer(IdNo);
    no.controller.onAddressesAdded();
    EXPECT_TRUE(no.host.signOuts.isEmpty());
    EXPECT_TRUE(no.session.reconnectFlag);
}

TEST(FirstFixedList, AddressToRequest)
{
    struct Case
    {
        const char *name;
        QList<FixedIpInfo> records;
        const char *lastUsed;
        QStringList checked;
        const char *expected; // empty: none
    } cases[] = {
        {"last used unavailable, next idle unchecked",
         {fixedRecord("10.0.0.1", 0), fixedRecord("10.0.0.2", 1)},
         "10.0.0.1",
         {},
         "10.0.0.2"},
        {"last used idle",
         {fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)},
         "10.0.0.2",
         {},
         "10.0.0.2"},
        {"last used in use counts",
         {fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 2)},
         "10.0.0.2",
         {},
         "10.0.0.2"},
        {"checked row first",
         {fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 0), fixedRecord("10.0.0.3", 1)},
         "",
         {QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.3")},
         "10.0.0.3"},
        {"last used missing from list", {fixedRecord("10.0.0.1", 1)}, "10.9.9.9", {}, "10.0.0.1"},
        {"state outside 0..2 does not qualify",
         {fixedRecord("10.0.0.1", 7), fixedRecord("10.0.0.2", 1)},
         "",
         {},
         "10.0.0.2"},
        {"all unavailable", {fixedRecord("10.0.0.1", 0), fixedRecord("10.0.0.2", 0)}, "", {}, ""},
        {"empty list", {}, "10.0.0.1", {}, ""},
    };
    for (const Case &c : cases) {
        IpListFixture fx(1);
        fx.host.f.lastUsedIp = QString::fromLatin1(c.lastUsed);
        for (const QString &ip : c.checked)
            fx.model().addChecked(ip);
        fx.controller.onFixedList(c.records);
        ASSERT_FALSE(fx.host.logLines.isEmpty()) << c.name;
        EXPECT_EQ(fx.host.logLines.first(), QStringLiteral("아이피 사용정보 불러옴")) << c.name;
        if (*c.expected) {
            EXPECT_EQ(fx.session.sent,
                      (QStringList {QStringLiteral("change ") + QString::fromLatin1(c.expected),
                                    QStringLiteral("badlist")}))
                << c.name;
            EXPECT_TRUE(fx.host.signOuts.isEmpty()) << c.name;
        } else {
            EXPECT_TRUE(fx.session.sent.isEmpty()) << c.name;
            EXPECT_EQ(fx.host.signOuts, QStringList {kNoAddress}) << c.name;
            // A session that merely has nothing usable now may reconnect later.
            EXPECT_TRUE(fx.session.reconnectFlag) << c.name;
        }
    }
}

TEST(FirstFixedList, RowTextsColoursAndChecks)
{
    IpListFixture fx(1);
    fx.host.user = QStringLiteral("KVO@kim77");
    fx.model().addChecked(QStringLiteral("10.0.0.2"));
    fx.controller.onFixedList({
        fixedRecord("10.0.0.1", 1, 0, 0, ""),
        fixedRecord("10.0.0.2", 2, 42, 30, "OFFICE-PC"),
        fixedRecord("10.0.0.3", 0, -3, -2, "OTHER"),
        fixedRecord("10.0.0.4", 5, 7, 1, ""),
    });
    struct Row
    {
        const char *ip;
        const char *id;
        QString state;
        QString days;
        const char *pc;
        quint32 colour;
        bool checked;
    } expected[] = {
        // Days 0 at 21:30 local time: 2 whole hours are left today.
        {"10.0.0.1", "@kim77", IpState::Idle, QStringLiteral("2시간"), "", IpListRows::kNoColor,
         false},
        {"10.0.0.2", "@42", IpState::InUse, QStringLiteral("30일"), "OFFICE-PC",
         IpListRows::kNoColor, true},
        {"10.0.0.3", "@kim77", IpState::Unavailable, QStringLiteral("-2일"), "OTHER",
         IpRowColor::Unavailable, false},
        {"10.0.0.4", "@7", QString(), QStringLiteral("1일"), "", IpListRows::kNoColor, false},
    };
    ASSERT_EQ(fx.rows.rowCount(), 4);
    for (int i = 0; i < 4; ++i) {
        const Row &e = expected[i];
        EXPECT_EQ(fx.rows.text(i, 0), QString::fromLatin1(e.ip));
        EXPECT_EQ(fx.rows.text(i, 1), QString()) << e.ip;
        EXPECT_EQ(fx.rows.text(i, 2), QString::fromLatin1(e.id)) << e.ip;
        EXPECT_EQ(fx.rows.text(i, 3), e.state) << e.ip;
        EXPECT_EQ(fx.rows.text(i, 4), e.days) << e.ip;
        EXPECT_EQ(fx.rows.text(i, 5), QString::fromLatin1(e.pc)) << e.ip;
        EXPECT_EQ(fx.rows.background(i), e.colour) << e.ip;
        EXPECT_EQ(fx.rows.isChecked(i), e.checked) << e.ip;
    }
}

TEST(FirstFixedList, IdTextAndDaysText)
{
    EXPECT_EQ(IpListController::idText(0, QStringLiteral("KVOabc")), QString());
    EXPECT_EQ(IpListController::idText(0, QStringLiteral("KVO@abc@2")), QStringLiteral("@abc@2"));
    EXPECT_EQ(IpListController::idText(12, QString()), QStringLiteral("@12"));
    const struct
    {
        QTime at;
        int days;
        QString text;
    } days[] = {
        {QTime(21, 30), 0, QStringLiteral("2시간")},
        {QTime(0, 0), 0, QStringLiteral("24시간")},
        {QTime(23, 59, 59), 0, QStringLiteral("0시간")},
        {QTime(12, 0, 1), 0, QStringLiteral("11시간")},
        {QTime(12, 0), 3, QStringLiteral("3일")},
    };
    for (const auto &d : days)
        EXPECT_EQ(IpListController::daysText(d.days, QDateTime(QDate(2026, 5, 5), d.at)), d.text)
            << d.at.toString().toStdString();
}

TEST(FirstFixedList, KtProductWritesItsLabel)
{
    IpListFixture fx(3);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1, 9, 4, "PC9")});
    EXPECT_EQ(fx.cell("10.0.0.1", 2), QStringLiteral("KT 고정IP"));
    EXPECT_EQ(fx.cell("10.0.0.1", 3), IpState::Idle);
    EXPECT_EQ(fx.cell("10.0.0.1", 4), QStringLiteral("4일"));
    EXPECT_EQ(fx.cell("10.0.0.1", 5), QString());
    EXPECT_EQ(fx.session.changes(), QStringList {QStringLiteral("10.0.0.1")});
}

TEST(FixedListUpdate, CurrentAddressStaysInUse)
{
    IpListFixture fx(1);
    fx.model().setReportedList({QStringLiteral("10.0.0.1")});
    fx.host.setCurrentAddress(QStringLiteral("10.0.0.2"));
    fx.controller.onFixedListUpdate(
        {fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1), fixedRecord("10.0.0.3", 1)});
    EXPECT_EQ(fx.cell("10.0.0.2", 3), IpState::InUse);
    EXPECT_EQ(fx.cell("10.0.0.2", 5), QStringLiteral("MYPC"));
    EXPECT_EQ(fx.color("10.0.0.2"), IpRowColor::InUse);
    EXPECT_EQ(fx.cell("10.0.0.1", 1), QStringLiteral("!"));
    EXPECT_EQ(fx.cell("10.0.0.3", 1), QString());
    EXPECT_TRUE(fx.session.sent.isEmpty());
}

TEST(FixedListUpdate, WithoutTheCurrentAddressPicksTheFirstCheckedUsableRow)
{
    IpListFixture fx(1);
    fx.host.setCurrentAddress(QStringLiteral("10.0.0.9"));
    fx.model().addChecked(QStringLiteral("10.0.0.1"));
    fx.model().addChecked(QStringLiteral("10.0.0.3"));
    fx.controller.onFixedListUpdate(
        {fixedRecord("10.0.0.1", 0), fixedRecord("10.0.0.2", 1), fixedRecord("10.0.0.3", 1)});
    EXPECT_EQ(fx.session.changes(), QStringList {QStringLiteral("10.0.0.3")});
}

TEST(FixedListUpdate, WithoutCheckedRowsChecksAndStoresTheFirstUsableRow)
{
    IpListFixture fx(1);
    fx.host.setCurrentAddress(QStringLiteral("10.0.0.9"));
    fx.controller.onFixedListUpdate({fixedRecord("10.0.0.1", 0), fixedRecord("10.0.0.2", 1)});
    EXPECT_EQ(fx.session.changes(), QStringList {QStringLiteral("10.0.0.2")});
    EXPECT_TRUE(fx.rows.isChecked(fx.findRow("10.0.0.2")));
    EXPECT_EQ(fx.home.read(QStringLiteral("CheckedIP")).toHex(), QByteArray("0a000002"));
}

TEST(FixedListUpdate, NoRowsEndsTheSession)
{
    IpListFixture fx(1);
    fx.controller.onFixedListUpdate({});
    EXPECT_EQ(fx.host.signOuts, QStringList {kNoAddress});
    EXPECT_FALSE(fx.session.reconnectFlag);
}

TEST(DynamicLists, FirstListRequestsTheLastUsedOrTheFirstRow)
{
    IpListFixture known(2);
    known.host.f.lastUsedIp = QStringLiteral("10.0.0.3");
    known.controller.onDynamicList(dynamicRecords(5));
    EXPECT_EQ(known.session.sent,
              (QStringList {QStringLiteral("change 10.0.0.3"), QStringLiteral("badlist")}));
    EXPECT_EQ(known.host.logLines, QStringList {QStringLiteral("아이피 사용정보 불러옴")});
    EXPECT_EQ(known.rows.rowCount(), 5);
    EXPECT_EQ(known.model().dynamicArray().size(), 5);

    IpListFixture unknown(2);
    unknown.host.f.lastUsedIp = QStringLiteral("10.9.9.9");
    unknown.controller.onDynamicList(dynamicRecords(5));
    EXPECT_EQ(unknown.session.changes(), QStringList {unknown.rows.text(0, 0)});

    IpListFixture empty(2);
    empty.controller.onDynamicList({});
    EXPECT_EQ(empty.host.signOuts, QStringList {kNoAddress});
}

TEST(DynamicLists, UpdateKeepsTheCurrentRowOrAsksForTheFirst)
{
    IpListFixture fx(2);
    fx.host.setCurrentAddress(QStringLiteral("10.0.0.2"));
    fx.controller.onDynamicListUpdate(dynamicRecords(3));
    EXPECT_EQ(fx.cell("10.0.0.2", 2), IpState::InUse);
    EXPECT_EQ(fx.color("10.0.0.2"), IpRowColor::InUse);
    EXPECT_TRUE(fx.session.sent.isEmpty());

    fx.host.setCurrentAddress(QStringLiteral("10.0.0.7"));
    fx.controller.onDynamicListUpdate(dynamicRecords(3));
    EXPECT_EQ(fx.session.changes(), QStringList {fx.rows.text(0, 0)});

    fx.controller.onDynamicListUpdate({});
    EXPECT_EQ(fx.host.signOuts, QStringList {kNoAddress});
    EXPECT_FALSE(fx.session.reconnectFlag);
}

TEST(DynamicLists, DynamicInfoRequestsOnlyWhenTheLastUsedIsGone)
{
    const struct
    {
        const char *last;
        int n;
        bool request;
    } cases[] = {{"", 3, true}, {"10.0.0.9", 3, true}, {"10.0.0.2", 3, false}, {"", 0, false}};
    for (const auto &c : cases) {
        IpListFixture fx(2);
        fx.host.f.lastUsedIp = QString::fromLatin1(c.last);
        fx.controller.onDynamicIpInfo(dynamicRecords(c.n));
        EXPECT_EQ(fx.session.changes().size(), c.request ? 1 : 0) << c.last << c.n;
        if (c.request) {
            EXPECT_EQ(fx.session.changes()[0], fx.rows.text(0, 0));
        }
    }
}

TEST(ReportedList, MarksRowsAndLeavesOldMarksUntilRebuilt)
{
    IpListFixture fx(1);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)});
    fx.controller.onReportedList({QStringLiteral("10.0.0.2")});
    EXPECT_EQ(fx.cell("10.0.0.1", 1), QString());
    EXPECT_EQ(fx.cell("10.0.0.2", 1), QStringLiteral("!"));
    fx.controller.onReportedList({QStringLiteral("10.0.0.1")});
    EXPECT_EQ(fx.cell("10.0.0.1", 1), QStringLiteral("!"));
    EXPECT_EQ(fx.cell("10.0.0.2", 1), QStringLiteral("!"));
    EXPECT_TRUE(fx.model().isReported(QStringLiteral("10.0.0.1")));
    EXPECT_FALSE(fx.model().isReported(QStringLiteral("10.0.0.2")));

    // An address more than once: every address counts, the list is kept.
    const QStringList repeated = {QStringLiteral("10.0.0.3"), QStringLiteral("10.0.0.3"),
                                  QStringLiteral("0.0.0.0"),  QStringLiteral("0.0.0.0"),
                                  QStringLiteral("0.0.0.0"),  QStringLiteral("10.0.0.3")};
    fx.controller.onReportedList(repeated);
    EXPECT_EQ(fx.model().reportedList(), repeated);
    EXPECT_TRUE(fx.model().isReported(QStringLiteral("10.0.0.3")));
    EXPECT_TRUE(fx.model().isReported(QStringLiteral("0.0.0.0")));
    EXPECT_FALSE(fx.model().isReported(QStringLiteral("10.0.0.1")));
}

TEST(ChangeCompleted, FixedProductFromXToY)
{
    IpListFixture fx(1);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)});
    fx.controller.onChangeCompleted(QStringLiteral("10.0.0.1"));
    fx.host.logLines.clear();
    fx.resets.runs.clear();
    fx.controller.onChangeCompleted(QStringLiteral("10.0.0.2"));

    EXPECT_EQ(fx.cell("10.0.0.1", 3), IpState::Idle);
    EXPECT_EQ(fx.cell("10.0.0.1", 5), QString());
    EXPECT_EQ(fx.color("10.0.0.1"), IpRowColor::Idle);
    EXPECT_EQ(fx.cell("10.0.0.2", 3), IpState::InUse);
    EXPECT_EQ(fx.cell("10.0.0.2", 5), QStringLiteral("MYPC"));
    EXPECT_EQ(fx.color("10.0.0.2"), IpRowColor::InUse);
    EXPECT_EQ(fx.rows.selectedRow(), fx.findRow("10.0.0.2"));
    EXPECT_EQ(fx.host.addressLabel, QStringLiteral("10.0.0.2"));
    EXPECT_EQ(fx.model().currentAddress(), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(fx.host.f.lastUsedIp, QStringLiteral("10.0.0.2"));
    EXPECT_EQ(fx.host.file.readString(SettingKeys::Entry, SettingKeys::LastUsedIP),
              QStringLiteral("10.0.0.2"));
    EXPECT_EQ(fx.host.status, QStringLiteral("- 고정 IP 연결 성공 -"));
    EXPECT_EQ(fx.host.logLines, QStringList {QStringLiteral("10.0.0.2로 IP변경 완료")});
    EXPECT_EQ(fx.resets.runs, (QStringList {QStringLiteral("first"), QStringLiteral("second")}));
    EXPECT_EQ(fx.host.controlsEnabled.last(), true);
    EXPECT_FALSE(fx.session.watchdog);
    EXPECT_FALSE(QFile::exists(fx.home.file(QStringLiteral("DynamicIPUse"))));
}

TEST(ChangeCompleted, StatusTextPerProduct)
{
    const struct
    {
        int product;
        QString text;
    } cases[] = {{1, QStringLiteral("- 고정 IP 연결 성공 -")},
                 {2, QStringLiteral("- 유동 IP 연결 성공 -")},
                 {3, QStringLiteral("- KT 고정IP 연결 성공 -")}};
    for (const auto &c : cases) {
        IpListFixture fx(c.product);
        fx.controller.onChangeCompleted(QStringLiteral("10.0.0.1"));
        EXPECT_EQ(fx.host.status, c.text);
    }
}

TEST(ChangeCompleted, DynamicProductRecordsTheUseWithItsTime)
{
    IpListFixture fx(2);
    fx.host.clockValue.set(QDateTime(QDate(2026, 7, 1), QTime(8, 9, 10)));
    fx.controller.onDynamicList(dynamicRecords(3));
    fx.controller.onChangeCompleted(QStringLiteral("10.0.0.1"));
    fx.host.clockValue.set(QDateTime(QDate(2026, 7, 1), QTime(8, 15, 0)));
    fx.controller.onChangeCompleted(QStringLiteral("10.0.0.3"));

    EXPECT_EQ(fx.cell("10.0.0.1", 2), IpState::Idle);
    EXPECT_EQ(fx.color("10.0.0.1"), IpRowColor::Unavailable);
    EXPECT_EQ(fx.cell("10.0.0.1", 3), QStringLiteral("2026-07-01 08:09:10"));
    EXPECT_EQ(fx.cell("10.0.0.3", 2), IpState::InUse);
    EXPECT_EQ(fx.cell("10.0.0.3", 3), QStringLiteral("2026-07-01 08:15:00"));
    EXPECT_EQ(fx.color("10.0.0.3"), IpRowColor::InUse);
    EXPECT_EQ(fx.cell("10.0.0.2", 3), QString());

    const auto recs = UsageHistoryFile::read(fx.home.file(QStringLiteral("DynamicIPUse")));
    ASSERT_EQ(recs.size(), 2);
    EXPECT_EQ(recs[0].address, QStringLiteral("10.0.0.1"));
    EXPECT_EQ(recs[0].time, kst(2026, 7, 1, 8, 9, 10));
    EXPECT_EQ(recs[1].address, QStringLiteral("10.0.0.3"));
    EXPECT_EQ(recs[1].time, kst(2026, 7, 1, 8, 15, 0));
}

TEST(ChangeCompleted, FirstChangeTouchesOnlyTheNewRow)
{
    IpListFixture fx(1);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 2, 0, 5, "P")});
    fx.controller.onChangeCompleted(QStringLiteral("10.0.0.1"));
    EXPECT_EQ(fx.cell("10.0.0.2", 3), IpState::InUse);
    EXPECT_EQ(fx.cell("10.0.0.2", 5), QStringLiteral("P"));
    EXPECT_EQ(fx.color("10.0.0.2"), IpListRows::kNoColor);
}

TEST(ChangeCompleted, AddressNoRowShowsStillBecomesCurrent)
{
    IpListFixture fx(1);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1)});
    fx.controller.onChangeCompleted(QStringLiteral("10.0.0.1"));
    fx.host.logLines.clear();
    fx.controller.onChangeCompleted(QStringLiteral("10.5.5.5"));
    EXPECT_EQ(fx.cell("10.0.0.1", 3), IpState::Idle);
    EXPECT_EQ(fx.model().currentAddress(), QStringLiteral("10.5.5.5"));
    EXPECT_EQ(fx.host.f.lastUsedIp, QStringLiteral("10.5.5.5"));
    EXPECT_EQ(fx.host.logLines, QStringList {QStringLiteral("10.5.5.5로 IP변경 완료")});
}

TEST(ChangeFailed, BoxLogAndControls)
{
    IpListFixture fx(1);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1)});
    fx.controller.onChangeCompleted(QStringLiteral("10.0.0.1"));
    fx.host.logLines.clear();
    fx.session.watchdog = true;
    fx.controller.onChangeFailed();
    ASSERT_EQ(fx.host.boxes.boxes().size(), 1);
    EXPECT_EQ(fx.host.boxes.boxes()[0].text, QStringLiteral("아이피 적용에 실패하였습니다."));
    EXPECT_EQ(fx.host.boxes.boxes()[0].caption, QStringLiteral("안내메세지"));
    EXPECT_EQ(fx.host.boxes.boxes()[0].flags, 0x1010u);
    EXPECT_EQ(fx.host.logLines, QStringList {QStringLiteral("IP변경 실패")});
    EXPECT_TRUE(fx.host.controlsEnabled.last());
    EXPECT_FALSE(fx.session.watchdog);
    EXPECT_EQ(fx.model().currentAddress(), QStringLiteral("10.0.0.1"));
}

TEST(AddressNotices, InUseMarksTheRowAndNamesTheAddress)
{
    IpListFixture fx(1);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)});
    fx.session.watchdog = true;
    fx.controller.onAddressInUse({QStringLiteral("10.0.0.2"), QStringLiteral("그PC")});
    EXPECT_EQ(fx.cell("10.0.0.2", 3), IpState::Unavailable);
    EXPECT_EQ(fx.cell("10.0.0.2", 5), QStringLiteral("그PC"));
    EXPECT_EQ(fx.color("10.0.0.2"), IpRowColor::Unavailable);
    EXPECT_FALSE(fx.session.watchdog);
    EXPECT_TRUE(fx.host.controlsEnabled.last());
    ASSERT_EQ(fx.host.boxes.boxes().size(), 1);
    EXPECT_EQ(fx.host.boxes.boxes()[0].text,
              QStringLiteral("10.0.0.2는 다른 PC에서 사용중입니다."));
    EXPECT_EQ(fx.host.boxes.boxes()[0].flags, 0x1010u);
}

TEST(AddressNotices, TakenReleasedSharedUnshared)
{
    struct Case
    {
        const char *name;
        const char *pcBefore;
        std::function<void(IpListController &)> apply;
        QString state; // expected column 3
        const char *pcAfter;
        quint32 colour;
    };
    const QString idle = IpState::Idle;
    const Case cases[] = {
        {"taken", "",
         [](IpListController &c) {
             c.onAddressTaken({QStringLiteral("10.0.0.1"), QStringLiteral("PC7")});
         },
         IpState::Unavailable, "PC7", IpRowColor::Unavailable},
        {"released", "PC7",
         [](IpListController &c) { c.onAddressReleased(QStringLiteral("10.0.0.1")); }, idle, "",
         IpRowColor::Idle},
        {"shared into empty", "",
         [](IpListController &c) {
             c.onAddressShared({{QStringLiteral("10.0.0.1")}, QStringLiteral("PC2")});
         },
         idle, "PC2", IpRowColor::Shared},
        {"shared name already there", "PC1,PC2",
         [](IpListController &c) {
             c.onAddressShared({{QStringLiteral("10.0.0.1")}, QStringLiteral("PC2")});
         },
         idle, "PC1,PC2", IpRowColor::Shared},
        {"shared name only a part of a listed one", "PC1,PC2",
         [](IpListController &c) {
             c.onAddressShared({{QStringLiteral("10.0.0.1")}, QStringLiteral("PC")});
         },
         idle, "PC1,PC2,PC", IpRowColor::Shared},
        {"unshared every occurrence", "PC1,PC2,PC1",
         [](IpListController &c) {
             c.onAddressUnshared({{QStringLiteral("10.0.0.1")}, QStringLiteral("PC1")});
         },
         idle, "PC2", IpRowColor::Idle},
        {"unshared a name not there", "PC1",
         [](IpListController &c) {
             c.onAddressUnshared({{QStringLiteral("10.0.0.1")}, QStringLiteral("PC")});
         },
         idle, "PC1", IpRowColor::Idle},
    };
    for (const Case &c : cases) {
        IpListFixture fx(1);
        fx.controller.onFixedList({fixedRecord("10.0.0.1", 1, 0, 3, c.pcBefore),
                                   fixedRecord("10.0.0.2", 1, 0, 3, "KEEP")});
        c.apply(fx.controller);
        EXPECT_EQ(fx.cell("10.0.0.1", 3), c.state) << c.name;
        EXPECT_EQ(fx.cell("10.0.0.1", 5), QString::fromLatin1(c.pcAfter)) << c.name;
        EXPECT_EQ(fx.color("10.0.0.1"), c.colour) << c.name;
        // The other row is never touched.
        EXPECT_EQ(fx.cell("10.0.0.2", 5), QStringLiteral("KEEP")) << c.name;
        EXPECT_EQ(fx.color("10.0.0.2"), IpListRows::kNoColor) << c.name;
        EXPECT_TRUE(fx.host.boxes.boxes().isEmpty()) << c.name;
    }
}

TEST(AddressNotices, AddressNoRowShowsChangesNothing)
{
    IpListFixture fx(1);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1, 0, 3, "A")});
    fx.controller.onAddressTaken({QStringLiteral("10.0.0.9"), QStringLiteral("PC7")});
    fx.controller.onAddressShared({{QStringLiteral("10.0.0.9")}, QStringLiteral("PC7")});
    EXPECT_EQ(fx.cell("10.0.0.1", 3), IpState::Idle);
    EXPECT_EQ(fx.cell("10.0.0.1", 5), QStringLiteral("A"));
    EXPECT_EQ(fx.color("10.0.0.1"), IpListRows::kNoColor);
}

TEST(ExpiryDate, ShownInLocalTime)
{
    IpListFixture fx(2);
    fx.controller.onExpireDate(qint64(kst(2027, 1, 31, 23, 0, 0)));
    EXPECT_EQ(fx.host.expiry, QStringLiteral("만료일: 2027-01-31 23:00:00"));
}

TEST(DispatchedFrames, ShortListReadsZeroFilledRecordsAsUnavailable)
{
    IpListFixture fx(1);
    SessionDispatcher dispatcher;
    fx.controller.connectTo(dispatcher);
    // The count announces three records, the payload carries one.
    const QByteArray bytes =
        encodeFrame(SM_IP_INFO, 3, SessionEncode::fixedList({fixedRecord("10.0.0.1", 1, 3, 9)}));
    const SessionFrame frame = decodeFrame(bytes);
    ASSERT_TRUE(frameRecordsFit(frame, 1));
    dispatcher.dispatch(frame, 1);
    ASSERT_EQ(fx.rows.rowCount(), 3);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(fx.rows.text(i, 0), QStringLiteral("0.0.0.0"));
        EXPECT_EQ(fx.rows.text(i, 3), IpState::Unavailable);
        EXPECT_EQ(fx.rows.background(i), IpRowColor::Unavailable);
    }
    EXPECT_EQ(fx.session.sent,
              (QStringList {QStringLiteral("change 10.0.0.1"), QStringLiteral("badlist")}));
}

TEST(DispatchedFrames, TypesTheClientDoesNotUseChangeNothing)
{
    IpListFixture fx(1);
    SessionDispatcher dispatcher;
    fx.controller.connectTo(dispatcher);
    fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)});
    fx.session.sent.clear();
    fx.host.logLines.clear();
    for (int type : {4, 5, 6, 24, 26, 27, 29, 30, 32}) {
        dispatcher.dispatch(decodeFrame(encodeFrame(type, 1, QByteArray(8, '\x01'))), 1);
    }
    EXPECT_EQ(fx.rows.rowCount(), 2);
    EXPECT_TRUE(fx.session.sent.isEmpty());
    EXPECT_TRUE(fx.host.signOuts.isEmpty());
    EXPECT_TRUE(fx.host.logLines.isEmpty());
    EXPECT_TRUE(fx.host.boxes.boxes().isEmpty());
}

TEST(AddressNotices, FindTheirRowAfterTheUserSortedOrTheCellChanged)
{
    IpListFixture fx(1);
    fx.controller.onFixedList(
        {fixedRecord("10.0.0.2", 1), fixedRecord("10.0.0.10", 1), fixedRecord("10.0.0.1", 1)});
    fx.rows.sortByUser(0); // 10.0.0.1, 10.0.0.2, 10.0.0.10
    fx.controller.onAddressTaken({QStringLiteral("10.0.0.10"), QStringLiteral("PC-T")});
    EXPECT_EQ(fx.rows.text(2, 0), QStringLiteral("10.0.0.10"));
    EXPECT_EQ(fx.rows.text(2, IpListModel::kPcColumn), QStringLiteral("PC-T"));
    EXPECT_EQ(fx.rows.text(0, IpListModel::kPcColumn), QString());
    fx.rows.setText(0, 0, QStringLiteral("10.0.0.77"));
    EXPECT_EQ(fx.model().findRow(QStringLiteral("10.0.0.1")), -1);
    EXPECT_EQ(fx.model().findRow(QStringLiteral("10.0.0.77")), 0);
    EXPECT_EQ(fx.model().findRow(QStringLiteral("10.0.0.10")), 2);
}
