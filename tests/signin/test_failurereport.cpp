#include "platform/launcher.h"
#include "platform/prompter.h"
#include "signin/failurereport.h"
#include "signin/servicefailurehelp.h"
#include "system/linecheck.h"
#include "web/servicepages.h"
#include "web/servicerequests.h"
#include "web/webhost.h"
#include "web/webtransport.h"

#include "recorder.h"
#include "report/reporthost.h"
#include "scenario.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

struct RecordingServices : FailureReportServices
{
    QStringList calls;
    QString killReply = QStringLiteral("SUCCESS");
    bool reachable = true;
    QList<QPair<int, QString>> reports;

    void openErrorFaq(int code) override { calls.append(QStringLiteral("faq:%1").arg(code)); }
    void openSignedInPage(SignedInTarget t, const QString &id, const QString &pw) override
    {
        calls.append(QStringLiteral("signed-in:%1:%2:%3").arg(int(t)).arg(id, pw));
    }
    QString killLoggedIn(const QString &id, const QString &pw, const QString &extra) override
    {
        calls.append(QStringLiteral("kill:%1:%2:%3").arg(id, pw, extra));
        return killReply;
    }
    bool lineCheck(const QString &server) override
    {
        calls.append(QStringLiteral("linecheck:") + server);
        return reachable;
    }
    void sendFailureReport(int code, const QString &text) override { reports.append({code, text}); }
};

FailureContext dialup()
{
    FailureContext c;
    c.tunnelType = 1;
    c.productType = 1;
    c.userId = QStringLiteral("KVO@tester");
    c.password = QStringLiteral("pw");
    c.server = QStringLiteral("10.1.2.3");
    return c;
}

const QString kLine =
    QStringLiteral("%1 : 인터넷회선이 안정적이지 못합니다. 로그인화면에서 회선점검이 가능합니다.");
const QString kRouter =
    QStringLiteral("%1 : 공유기 및 네트워크 장비의 설정 문제이거나 다른 PC에서 사용중입니다.");
const QString kService = QStringLiteral("%1 : 윈도우의 서비스 설정변경이 필요합니다.");
const QString kOther = QStringLiteral("%1 : 문제가 지속되시면 모라솔 고객상담센터에 연락주세요.");
const QString kCall = QStringLiteral("\n문제가 지속되시면 모라솔 고객상담센터에 연락주세요.");

} // namespace

// Every row of the dial-up tables: message, box, answer -> result and help.
TEST(ReportFailure, DialupCodes)
{
    struct Case
    {
        int code;
        QString message;
        unsigned flags;
        int answer;
        int result;
        QStringList calls;
    };
    const QString faqRouter = QStringLiteral("\nFAQ(공유기 설정 방법)를 보시겠습니까?");
    const QString faqService = QStringLiteral("\nFAQ(윈도우 서비스 시작 방법)를 보시겠습니까?");
    const QString faqFirewall = QStringLiteral("\nFAQ(방화벽 및 핑 체크 방법)를 보시겠습니까?");
    const QList<Case> cases = {
        {619, kRouter.arg(619) + faqRouter, 0x1044, IdYes, 0, {QStringLiteral("faq:619")}},
        {809, kRouter.arg(809) + faqRouter, 0x1044, IdNo, 0, {}},
        {711, kService.arg(711) + faqService, 0x1044, IdYes, 0, {QStringLiteral("faq:711")}},
        {678, kOther.arg(678) + faqFirewall, 0x1044, IdYes, 0, {QStringLiteral("faq:678")}},
        {678, kOther.arg(678) + faqFirewall, 0x1044, IdNo, 0, {}},
        {638,
         QStringLiteral("638 : 요청이 시간 초과되었습니다.") + kCall,
         0x1011,
         IdOk,
         1,
         {QStringLiteral("linecheck:10.1.2.3")}},
        {734, kLine.arg(734) + kCall, 0x1011, IdCancel, 0, {}},
        {668, kLine.arg(668), 0x1011, IdOk, 1, {QStringLiteral("linecheck:10.1.2.3")}},
        {769, kLine.arg(769), 0x1011, IdCancel, 0, {}},
        {691, kLine.arg(691), 0x1011, IdOk, 0, {}},
        {691, kLine.arg(691), 0x1011, IdCancel, 1, {}},
        {628, kLine.arg(628), 0x1011, IdCancel, 1, {}},
        {778,
         QStringLiteral("778 : 서버의 ID를 확인 할 수 없습니다.") + kCall,
         0x1011,
         IdOk,
         0,
         {}},
        {778,
         QStringLiteral("778 : 서버의 ID를 확인 할 수 없습니다.") + kCall,
         0x1011,
         IdCancel,
         1,
         {}},
        {632,
         QStringLiteral("632 : 모라솔 프로그램을 고객님의 OS에 맞게 재설치 해주세요.") + kCall,
         0x1010,
         IdOk,
         1,
         {}},
        {756,
         kService.arg(756) + QStringLiteral("\n문제가 지속되시면 컴퓨터를 재부팅 해주십시요."),
         0x1010,
         IdOk,
         1,
         {}},
        {720, kService.arg(720) + faqService, 0x1044, IdNo, 0, {}},
        {800, kOther.arg(800), 0x1010, IdOk, 1, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        ScriptedPrompter prompter;
        prompter.queueAnswer(c.answer);
        RecordingServices services;
        EXPECT_EQ(ReportFailure(c.code, QString(), dialup(), prompter, services), c.result);
        ASSERT_EQ(prompter.boxes().size(), 1);
        EXPECT_EQ(prompter.boxes()[0].text, c.message);
        EXPECT_EQ(prompter.boxes()[0].caption, QStringLiteral("안내메세지"));
        EXPECT_EQ(prompter.boxes()[0].flags, c.flags);
        EXPECT_EQ(services.calls, c.calls);
        ASSERT_EQ(services.reports.size(), 1);
        EXPECT_EQ(services.reports[0], qMakePair(c.code, c.message));
    }
}

TEST(ReportFailure, LineCheckAnswersForTheServerItFinds)
{
    ScriptedPrompter prompter;
    prompter.queueAnswer(IdOk);
    RecordingServices services;
    services.reachable = false;
    EXPECT_EQ(ReportFailure(668, QString(), dialup(), prompter, services), 0);
    EXPECT_EQ(services.calls, QStringList {QStringLiteral("linecheck:10.1.2.3")});
}

TEST(ReportFailure, OpenVpnStartErrors)
{
    const struct
    {
        int code;
        QString text;
    } cases[] = {{11, QStringLiteral("TAP 인터페이스에 문제가 있습니다.")},
                 {12, QStringLiteral("OPENVPN 실행에 문제가 있습니다.")},
                 {13, QStringLiteral("OPENVPN 실행에 문제가 있습니다.")}};
    for (const auto &c : cases) {
        ScriptedPrompter prompter;
        RecordingServices services;
        FailureContext ctx = dialup();
        ctx.tunnelType = 2;
        EXPECT_EQ(ReportFailure(c.code, QString(), ctx, prompter, services), 0);
        ASSERT_EQ(prompter.boxes().size(), 1);
        EXPECT_EQ(prompter.boxes()[0].text, c.text);
        EXPECT_EQ(prompter.boxes()[0].flags, 0x1010u);
        EXPECT_EQ(services.reports.value(0), qMakePair(c.code, c.text));
    }
}

TEST(ReportFailure, ReplyTokens)
{
    const QString expired = QStringLiteral("서비스 사용기간이 만료되었습니다. 연장하시겠습니까?");
    const QString wrong =
        QStringLiteral("입력하신 아이디 혹은 패스워드가 틀렸습니다. 다시 로그인 해 주십시오.");
    struct Case
    {
        QString reply;
        int productType;
        QString message; // empty: no box
        unsigned flags;
        int answer;
        int result;
        QStringList calls;
        QString token;
    };
    const QList<Case> cases = {
        {QStringLiteral("NO_EXIST_ID"),
         1,
         wrong,
         0x1010,
         IdOk,
         0,
         {},
         QStringLiteral("NO_EXIST_ID")},
        {QStringLiteral("NOT_CORRECT_PASSWORD:x"),
         1,
         wrong,
         0x1010,
         IdOk,
         0,
         {},
         QStringLiteral("NOT_CORRECT_PASSWORD")},
        {QStringLiteral("NO_IP"),
         1,
         expired,
         0x1044,
         IdYes,
         0,
         {QStringLiteral("signed-in:0:KVO@tester:pw")},
         QStringLiteral("NO_IP")},
        {QStringLiteral("NO_IP"), 1, expired, 0x1044, IdNo, 0, {}, QStringLiteral("NO_IP")},
        {QStringLiteral("DYNAMIC_NO_IP"),
         2,
         expired,
         0x1044,
         IdYes,
         0,
         {QStringLiteral("signed-in:1:KVO@tester:pw")},
         QStringLiteral("DYNAMIC_NO_IP")},
        {QStringLiteral("DYNAMIC_NO_IP"),
         1,
         expired,
         0x1044,
         IdYes,
         0,
         {QStringLiteral("signed-in:3:KVO@tester:pw")},
         QStringLiteral("DYNAMIC_NO_IP")},
        {QStringLiteral("PREMIUM_NO_IP"),
         3,
         QStringLiteral("KT고정IP 서비스 사용기간이 만료되었습니다. 연장하시겠습니까?"),
         0x1044,
         IdYes,
         0,
         {QStringLiteral("signed-in:2:KVO@tester:pw")},
         QStringLiteral("PREMIUM_NO_IP")},
        {QStringLiteral("ALEADY_USE_IP"),
         1,
         QStringLiteral("현재 사용중인 IP의 아이디 입니다."),
         0x1010,
         IdOk,
         0,
         {},
         QStringLiteral("ALEADY_USE_IP")},
        {QStringLiteral("ALEADY_LOGGED_IN:sid=7"),
         1,
         QStringLiteral("이미 연결되어 있거나 기존 연결이 종료되지 않았습니다. 강제종료 후 다시 "
                        "접속 하시겠습니까?"),
         0x1044,
         IdYes,
         1,
         {QStringLiteral("kill:KVO@tester:pw:sid=7")},
         QStringLiteral("ALEADY_LOGGED_IN")},
        {QStringLiteral("ALEADY_LOGGED_IN"),
         1,
         QStringLiteral("이미 연결되어 있거나 기존 연결이 종료되지 않았습니다. 강제종료 후 다시 "
                        "접속 하시겠습니까?"),
         0x1044,
         IdNo,
         0,
         {},
         QStringLiteral("ALEADY_LOGGED_IN")},
        {QStringLiteral("DYNAMIC_ALEADY_LOGGED_IN"),
         2,
         QStringLiteral("이미 유동IP로 로그인되어 있습니다. 강제종료 후 다시 접속 하시겠습니까?"),
         0x1044,
         IdYes,
         1,
         {QStringLiteral("kill:KVO@tester:pw:")},
         QStringLiteral("DYNAMIC_ALEADY_LOGGED_IN")},
        {QStringLiteral("no_ip"), 1, QString(), 0, IdOk, 0, {}, QStringLiteral("no_ip")},
        {QString(), 1, QString(), 0, IdOk, 0, {}, QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reply.toStdString() + " answer " + std::to_string(c.answer));
        ScriptedPrompter prompter;
        prompter.queueAnswer(c.answer);
        RecordingServices services;
        FailureContext ctx = dialup();
        ctx.productType = c.productType;
        EXPECT_EQ(ReportFailure(0, c.reply, ctx, prompter, services), c.result);
        if (c.message.isEmpty()) {
            EXPECT_TRUE(prompter.boxes().isEmpty());
        } else {
            ASSERT_EQ(prompter.boxes().size(), 1);
            EXPECT_EQ(prompter.boxes()[0].text, c.message);
            EXPECT_EQ(prompter.boxes()[0].flags, c.flags);
        }
        EXPECT_EQ(services.calls, c.calls);
        EXPECT_EQ(services.reports.value(0), qMakePair(0, c.token));
    }
}

TEST(ReportFailure, EndingTheOldConnectionNeedsExactlySuccess)
{
    for (const QString &reply : {QStringLiteral("SUCCESS\n"), QString(), QStringLiteral("FAIL")}) {
        ScriptedPrompter prompter;
        prompter.queueAnswer(IdYes);
        RecordingServices services;
        services.killReply = reply;
        EXPECT_EQ(
            ReportFailure(0, QStringLiteral("ALEADY_LOGGED_IN:k=1"), dialup(), prompter, services),
            0);
        ASSERT_EQ(prompter.boxes().size(), 2);
        EXPECT_EQ(prompter.boxes()[1].text,
                  QStringLiteral("기존 연결을 종료하는데 실패하였습니다."));
        EXPECT_EQ(prompter.boxes()[1].flags, 0x1000u);
        EXPECT_EQ(prompter.boxes()[1].caption, QStringLiteral("안내메세지"));
    }
    // Success waits a second (dispatching) before answering "try again".
    ScriptedPrompter prompter;
    prompter.queueAnswer(IdYes);
    RecordingServices services;
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(ReportFailure(0, QStringLiteral("ALEADY_LOGGED_IN"), dialup(), prompter, services),
              1);
    EXPECT_GE(t.elapsed(), 990);
}

TEST(FailureDatagram, FieldsAtTheirOffsets)
{
    const QByteArray d =
        buildFailureDatagram(-5, QStringLiteral("KVO@user"), QStringLiteral("691 : 한글"));
    ASSERT_EQ(d.size(), 380);
    EXPECT_EQ(d.left(4).toHex(), QByteArray("fbffffff"));
    EXPECT_EQ(d.mid(4, 20), QByteArray("KVO").leftJustified(20, '\0'));
    EXPECT_EQ(d.mid(24, 100), QByteArray("KVO@user").leftJustified(100, '\0'));
    EXPECT_EQ(d.mid(124, 256), QByteArray("691 : \xc7\xd1\xb1\xdb").leftJustified(256, '\0'));
}

TEST(FailureDatagram, LongTextsAreCutToTheFieldLessOneByte)
{
    const QByteArray d =
        buildFailureDatagram(0, QString(150, QLatin1Char('u')), QString(400, QLatin1Char('t')));
    ASSERT_EQ(d.size(), 380);
    EXPECT_EQ(d.mid(24, 100), QByteArray(99, 'u') + QByteArray(1, '\0'));
    EXPECT_EQ(d.mid(124, 256), QByteArray(255, 't') + QByteArray(1, '\0'));
    EXPECT_EQ(d.mid(4, 4), QByteArray("KVO\0", 4));
}

TEST(FailureDatagram, SentToTheReportHostsPort)
{
    QUdpSocket receiver;
    if (!receiver.bind(QHostAddress(QStringLiteral("127.0.0.3")), kFailureReportPort))
        GTEST_SKIP() << "port 18000 on 127.0.0.3 is taken";
    ScriptedPrompter prompter;
    SendFailureReport(0, QStringLiteral("NO_IP"), QStringLiteral("KVO@abc"),
                      QStringLiteral("127.0.0.3"), prompter);
    ASSERT_TRUE(receiver.waitForReadyRead(3000));
    const QNetworkDatagram dg = receiver.receiveDatagram();
    EXPECT_EQ(dg.data(),
              buildFailureDatagram(0, QStringLiteral("KVO@abc"), QStringLiteral("NO_IP")));
    EXPECT_TRUE(prompter.boxes().isEmpty());

    // A host that does not resolve: nothing sent, nothing shown.
    SendFailureReport(0, QStringLiteral("x"), QString(), QStringLiteral("no-such-host.invalid"),
                      prompter);
    EXPECT_FALSE(receiver.waitForReadyRead(300));
    EXPECT_TRUE(prompter.boxes().isEmpty());
}

TEST(FailureDatagram, ReachesTheSimulatedReportHostWithItsFields)
{
    Scenario scenario = Scenario::fromJson(
        QJsonObject {{QStringLiteral("report"),
                      QJsonObject {{QStringLiteral("address"), QStringLiteral("127.0.0.5")}}}});
    Recorder recorder;
    ReportHostModule host;
    QString error;
    if (!host.start(scenario, recorder, &error))
        GTEST_SKIP() << error.toStdString();
    ScriptedPrompter prompter;
    const QString longId = QString(120, QLatin1Char('i'));
    SendFailureReport(691, dialupFailureMessage(691), longId, QStringLiteral("127.0.0.5"),
                      prompter);
    QElapsedTimer t;
    t.start();
    while (recorder.entries(QStringLiteral("report")).isEmpty() && t.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const auto entries = recorder.entries(QStringLiteral("report"));
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].value(QStringLiteral("size")).toInt(), 380);
    EXPECT_EQ(entries[0].value(QStringLiteral("code")).toInt(), 691);
    EXPECT_EQ(entries[0].value(QStringLiteral("product")).toString(), QStringLiteral("KVO"));
    EXPECT_EQ(entries[0].value(QStringLiteral("userId")).toString(), QString(99, QLatin1Char('i')));
    EXPECT_EQ(entries[0].value(QStringLiteral("text")).toString(), dialupFailureMessage(691));
}

namespace {
struct NoBrowser : BrowserRegistry
{
    QString defaultBrowser() override { return {}; }
    QString program(const QString &) override { return {}; }
};
} // namespace

TEST(ServiceFailureHelp, PagesAndTheKillRequestGoToTheService)
{
    RecordingLauncher launcher;
    NoBrowser browsers;
    const WebHost host {QStringLiteral("web.example"), 443, 80};
    ServicePages pages(launcher, browsers, host);
    ScriptedWebTransport web;
    web.reply(QStringLiteral("/service/vezi/kill_loggedin.php"), QStringLiteral("SUCCESS"));
    ServiceRequests requests(web, host);
    struct Fixed : LineCheck
    {
        QString server;
        int type = 0;
        bool check(const QString &s, int t) override
        {
            server = s;
            type = t;
            return true;
        }
    } lineCheck;
    ScriptedPrompter prompter;
    ServiceFailureHelp help(
        pages, requests, lineCheck, prompter,
        {[] { return 3; }, [] { return QStringLiteral("KVO@me"); }, QStringLiteral("127.0.0.1")});

    help.openErrorFaq(678);
    EXPECT_EQ(launcher.calls.value(0),
              QStringLiteral("url:https://web.example/service/vezi/view_faq.php?error_code=678"));
    EXPECT_EQ(
        help.killLoggedIn(QStringLiteral("KVO@me"), QStringLiteral("p w"), QStringLiteral("sid=7")),
        QStringLiteral("SUCCESS"));
    ASSERT_EQ(web.calls.size(), 1);
    EXPECT_EQ(web.calls[0].body, QStringLiteral("vezi_id=KVO%40me&vezi_password=p%20w&sid=7"));
    EXPECT_TRUE(help.lineCheck(QStringLiteral("10.0.0.1")));
    EXPECT_EQ(lineCheck.server, QStringLiteral("10.0.0.1"));
    EXPECT_EQ(lineCheck.type, 3);
    EXPECT_TRUE(prompter.boxes().isEmpty());
}
