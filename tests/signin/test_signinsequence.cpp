#include "core/settings.h"
#include "platform/prompter.h"
#include "signin/signinsequence.h"
#include "support/testhome.h"
#include "web/servicerequests.h"
#include "web/webtransport.h"

#include <gtest/gtest.h>

namespace {

const QString kPath = QStringLiteral("/service/vezi/vezi_cs_contents.php");

// The main window as the sign-in sees it, recording what is asked of it.
struct FakeHost : SignInHost
{
    TestHome home;
    Settings settingsFile {home.file(QStringLiteral("KVOClientSetup.ini"))};
    SettingsFields f;
    AccountState a;
    QStringList calls;
    QList<int> reportAnswers; // answers of reportFailure, in turn
    int connectResult = 0;
    bool updaterTakesOver = false;

    SettingsFields &fields() override { return f; }
    Settings &settings() override { return settingsFile; }
    AccountState &account() override { return a; }
    bool checkForUpdate() override
    {
        calls.append(QStringLiteral("version"));
        return updaterTakesOver;
    }
    int reportFailure(int code, const QString &reply) override
    {
        calls.append(QStringLiteral("report:%1:%2").arg(code).arg(reply));
        return reportAnswers.isEmpty() ? 0 : reportAnswers.takeFirst();
    }
    void saveCredentials(const QString &id, const QString &pw, int flag) override
    {
        calls.append(QStringLiteral("save:%1:%2:%3").arg(id, pw).arg(flag));
    }
    void setProductLabel(const QString &name) override
    {
        calls.append(QStringLiteral("label:") + name);
    }
    void prepareForTunnel(const QString &typedId) override
    {
        calls.append(QStringLiteral("prepare:") + typedId);
    }
    int startTunnel() override
    {
        calls.append(QStringLiteral("connect:%1:%2:%3").arg(a.userId, a.password, f.server));
        return connectResult;
    }
    void showMainWindowCentred() override { calls.append(QStringLiteral("show")); }
};

struct Fixture
{
    FakeHost host;
    ScriptedWebTransport web;
    ServiceRequests requests {web, WebHost {QStringLiteral("web.example"), 443, 80}};
    ScriptedPrompter prompter;
    QStringList resolved;
    SignInSequence sequence {host, requests, prompter, [this](const QString &name) {
                                 resolved.append(name);
                                 return name == QStringLiteral("no.such.host")
                                     ? QString()
                                     : QStringLiteral("10.9.8.7");
                             }};
    Fixture() { host.settingsFile.createIfMissing(); }

    QStringList bodies() const
    {
        QStringList out;
        for (const auto &c : web.calls)
            out.append(c.body);
        return out;
    }
    SignInSequence::Input input(const QString &id, const QString &pw = QStringLiteral("pw"))
    {
        return {id, pw, true, QStringLiteral("유동A")};
    }
};

} // namespace

TEST(SignIn, FixedIpReachesConnectWithTheResolvedServer)
{
    Fixture t;
    t.host.f.credentialsSaved = 1;
    t.web.reply(kPath, QStringLiteral("OK"),
                QStringLiteral("vezi_id=abc&vezi_password=p%40ss&content=available_chk"));
    t.web.reply(kPath, QStringLiteral("parent1"),
                QStringLiteral("vezi_id=abc&content=get_parent_id"));
    t.web.reply(kPath, QStringLiteral("vpn1.example"),
                QStringLiteral("vezi_id=abc&vezi_password=p%40ss&content=goodserver"));
    EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc"), QStringLiteral("p@ss"))),
              SignInSequence::Outcome::Started);
    EXPECT_EQ(
        t.bodies(),
        (QStringList {QStringLiteral("vezi_id=abc&vezi_password=p%40ss&content=available_chk"),
                      QStringLiteral("vezi_id=abc&content=get_parent_id"),
                      QStringLiteral("vezi_id=abc&vezi_password=p%40ss&content=goodserver")}));
    EXPECT_EQ(
        t.host.calls,
        (QStringList {QStringLiteral("version"), QStringLiteral("save:abc:p@ss:1"),
                      QStringLiteral("prepare:abc"),
                      QStringLiteral("connect:KVO@abc:p@ss:10.9.8.7"), QStringLiteral("show")}));
    // SERVER keeps the name as sent; the main window dials the address.
    EXPECT_EQ(t.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::SERVER),
              QStringLiteral("vpn1.example"));
    EXPECT_EQ(t.host.a.parentId, QStringLiteral("parent1"));
    EXPECT_TRUE(t.prompter.boxes().isEmpty());
}

TEST(SignIn, DynamicIpSendsTheProductCode)
{
    Fixture t;
    t.host.f.productType = DynamicIp;
    t.host.f.productMap = {{QStringLiteral("유동A"), QStringLiteral("10")}};
    t.web.reply(kPath, QStringLiteral("dynamicOK"),
                QStringLiteral("vezi_id=abc&vezi_password=pw&dynamic=10&content=available_chk"));
    t.web.reply(kPath, QStringLiteral("127.0.0.4"),
                QStringLiteral("vezi_id=abc&vezi_password=pw&dynamic=10&content=goodserver"));
    EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc"))),
              SignInSequence::Outcome::Started);
    EXPECT_TRUE(t.host.calls.contains(QStringLiteral("label:유동A")));
    EXPECT_TRUE(t.host.calls.contains(QStringLiteral("connect:KVO@abc:pw:10.9.8.7")));
    EXPECT_EQ(t.host.a.productCode, QStringLiteral("10"));
    EXPECT_EQ(t.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::DynamicProductName),
              QStringLiteral("유동A"));
    // Not saved: the credentials-saved flag is off.
    EXPECT_FALSE(t.host.calls.join(QLatin1Char(' ')).contains(QLatin1String("save:")));
}

TEST(SignIn, FieldChecksSendNothing)
{
    const struct
    {
        QString id, pw;
        int product;
        QString message;
    } cases[] = {
        {QString(), QStringLiteral("pw"), 1, QStringLiteral("아이디를 넣어주십시오.")},
        {QStringLiteral("abc"), QString(), 1, QStringLiteral("패스워드를 넣어주십시오.")},
        {QStringLiteral("abc@x"), QStringLiteral("pw"), 2,
         QStringLiteral("유동IP나 KT고정IP는 @없이 로그인해야 합니다.")},
    };
    for (const auto &c : cases) {
        Fixture t;
        t.host.f.productType = c.product;
        EXPECT_EQ(t.sequence.runInteractive(t.input(c.id, c.pw)), SignInSequence::Outcome::Stay);
        EXPECT_EQ(t.prompter.texts(), QStringList {c.message});
        EXPECT_EQ(t.prompter.boxes()[0].flags, 0u);
        EXPECT_TRUE(t.web.calls.isEmpty());
    }
}

TEST(SignIn, SubAccountOfTheFixedProductSignsIn)
{
    Fixture t;
    t.web.reply(kPath, QStringLiteral("OK"));
    t.web.reply(kPath, QStringLiteral("vpn"),
                QStringLiteral("vezi_id=abc%40x&vezi_password=pw&content=goodserver"));
    EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc@x"))),
              SignInSequence::Outcome::Started);
    EXPECT_TRUE(t.host.calls.contains(QStringLiteral("connect:KVO@abc@x:pw:10.9.8.7")));
}

TEST(SignIn, AvailabilityReplies)
{
    const QString https = QStringLiteral("서버 HTTPS 통신에 문제가 있습니다.");
    const struct
    {
        QString reply;
        bool report;
        QString message;
    } cases[] = {
        {QStringLiteral("NO_IP:xyz"), false, https}, // not the token, no "OK"
        {QString(), false, https},
        {QStringLiteral("NO_EXIST_ID"), true, QString()},
        {QStringLiteral("PREMIUM_NO_IP"), true, QString()},
        {QStringLiteral("ALEADY_LOGGED_IN:sid=7"), true, QString()},
        {QStringLiteral("DYNAMIC_ALEADY_LOGGED_IN"), true, QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply.toStdString());
        Fixture t;
        t.web.reply(kPath, c.reply);
        EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc"))),
                  SignInSequence::Outcome::Stay);
        EXPECT_EQ(t.web.calls.size(), 1);
        EXPECT_EQ(t.host.calls.contains(QStringLiteral("report:0:") + c.reply), c.report);
        if (c.message.isEmpty()) {
            EXPECT_TRUE(t.prompter.boxes().isEmpty());
        } else {
            ASSERT_EQ(t.prompter.boxes().size(), 1);
            EXPECT_EQ(t.prompter.boxes()[0].text, c.message);
            EXPECT_EQ(t.prompter.boxes()[0].flags, 0x1010u);
            EXPECT_EQ(t.prompter.boxes()[0].caption, QStringLiteral("안내메세지"));
        }
    }
}

TEST(SignIn, ReportAnsweringTryAgainRunsTheWholeSequenceAgain)
{
    Fixture t;
    t.host.reportAnswers = {1};
    t.web.reply(kPath, QStringLiteral("ALEADY_LOGGED_IN:sid=7"),
                QStringLiteral("vezi_id=abc&vezi_password=pw&content=available_chk"));
    // After the old connection is ended the service answers OK.
    int availabilityCalls = 0;
    struct Switching : ScriptedWebTransport
    {
        int *count;
        QString postServiceForm(const QString &path, const QString &body) override
        {
            if (body.endsWith(QLatin1String("content=available_chk")) && ++*count > 1)
                return QStringLiteral("OK");
            return ScriptedWebTransport::postServiceForm(path, body);
        }
    } web;
    web.count = &availabilityCalls;
    web.reply(kPath, QStringLiteral("ALEADY_LOGGED_IN:sid=7"));
    web.reply(kPath, QStringLiteral("vpn"),
              QStringLiteral("vezi_id=abc&vezi_password=pw&content=goodserver"));
    ServiceRequests requests(web, WebHost {QStringLiteral("web.example"), 443, 80});
    SignInSequence seq(t.host, requests, t.prompter,
                       [](const QString &) { return QStringLiteral("10.0.0.1"); });
    EXPECT_EQ(seq.runInteractive(t.input(QStringLiteral("abc"))), SignInSequence::Outcome::Started);
    EXPECT_EQ(availabilityCalls, 2);
    EXPECT_EQ(t.host.calls.count(QStringLiteral("version")), 2);
    EXPECT_EQ(t.host.calls.first(2),
              (QStringList {QStringLiteral("version"),
                            QStringLiteral("report:0:ALEADY_LOGGED_IN:sid=7")}));
}

TEST(SignIn, ServerProblems)
{
    {
        Fixture t; // empty server reply
        t.web.reply(kPath, QStringLiteral("OK"));
        t.web.reply(kPath, QString(),
                    QStringLiteral("vezi_id=abc&vezi_password=pw&content=goodserver"));
        EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc"))),
                  SignInSequence::Outcome::Stay);
        EXPECT_EQ(
            t.prompter.texts(),
            QStringList {QStringLiteral("서버 주소를 받아오지 못했습니다. 다시 시도해 주십시오.")});
    }
    {
        Fixture t; // a name that does not resolve: SERVER is written all the same
        t.web.reply(kPath, QStringLiteral("OK"));
        t.web.reply(kPath, QStringLiteral("no.such.host"),
                    QStringLiteral("vezi_id=abc&vezi_password=pw&content=goodserver"));
        EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc"))),
                  SignInSequence::Outcome::Stay);
        EXPECT_EQ(t.prompter.texts(), QStringList {QStringLiteral("DNS 오류 입니다.")});
        EXPECT_EQ(t.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::SERVER),
                  QStringLiteral("no.such.host"));
    }
    {
        Fixture t; // a dynamic product missing from the map: no server request
        t.host.f.productType = DynamicIp;
        t.web.reply(kPath, QStringLiteral("dynamicOK"));
        EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc"))),
                  SignInSequence::Outcome::Stay);
        EXPECT_EQ(t.bodies(),
                  (QStringList {
                      QStringLiteral("vezi_id=abc&vezi_password=pw&dynamic=&content=available_chk"),
                      QStringLiteral("vezi_id=abc&content=get_parent_id")}));
        EXPECT_EQ(
            t.prompter.texts(),
            QStringList {QStringLiteral("서버 주소를 받아오지 못했습니다. 다시 시도해 주십시오.")});
    }
}

// The server reply reaches pppd's pty command (a shell), the swanctl and
// xl2tpd files and openvpn's command line: anything but an IPv4 address or a
// host name is no usable answer. Nothing is resolved, written or dialled.
TEST(SignIn, ServerReplyThatIsNoAddressOrNameIsNoAnswer)
{
    const QString replies[] = {
        QStringLiteral("10.0.0.1; reboot"),
        QStringLiteral("$(touch /tmp/x)"),
        QStringLiteral("vpn1.example --up"),
        QStringLiteral("-oProxyCommand=x"),
        QStringLiteral("vpn1\nlns = evil"),
        QStringLiteral("\"vpn1.example\""),
        QStringLiteral("1.2.3"),
        QStringLiteral("256.1.1.1"),
        QStringLiteral("vpn1.example:80"),
        QStringLiteral("서버.example"),
    };
    for (const QString &reply : replies) {
        SCOPED_TRACE(reply.toStdString());
        {
            Fixture t;
            t.web.reply(kPath, QStringLiteral("OK"));
            t.web.reply(kPath, reply,
                        QStringLiteral("vezi_id=abc&vezi_password=pw&content=goodserver"));
            EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc"))),
                      SignInSequence::Outcome::Stay);
            EXPECT_EQ(t.prompter.texts(),
                      QStringList {QStringLiteral(
                          "서버 주소를 받아오지 못했습니다. 다시 시도해 주십시오.")});
            EXPECT_EQ(t.prompter.boxes().first().flags, 0x1010u);
            EXPECT_TRUE(t.resolved.isEmpty());
            EXPECT_TRUE(
                t.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::SERVER).isEmpty());
            EXPECT_EQ(t.host.calls, QStringList {QStringLiteral("version")});
        }
        {
            Fixture t; // automatic: as an empty server, the dialog without a message
            t.host.a.userId = QStringLiteral("abc");
            t.host.a.password = QStringLiteral("pw");
            t.web.reply(kPath, QStringLiteral("OK"));
            t.web.reply(kPath, reply,
                        QStringLiteral("vezi_id=abc&vezi_password=pw&content=goodserver"));
            EXPECT_EQ(t.sequence.runAutomatic(), SignInSequence::Outcome::OpenDialog);
            EXPECT_TRUE(t.prompter.boxes().isEmpty());
            EXPECT_TRUE(t.host.calls.isEmpty());
            EXPECT_TRUE(t.host.f.server.isEmpty());
        }
    }
}

TEST(SignIn, AddressesAndHostNamesAreServers)
{
    for (const QString &reply :
         {QStringLiteral("10.200.0.1"), QStringLiteral("0.0.0.0"), QStringLiteral("vpn"),
          QStringLiteral("VPN-1.Example.COM"), QStringLiteral("xn--3e0b707e.example"),
          QStringLiteral("a1.b2.c3.d4e")}) {
        SCOPED_TRACE(reply.toStdString());
        Fixture t;
        t.web.reply(kPath, QStringLiteral("OK"));
        t.web.reply(kPath, reply,
                    QStringLiteral("vezi_id=abc&vezi_password=pw&content=goodserver"));
        EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc"))),
                  SignInSequence::Outcome::Started);
        EXPECT_EQ(t.resolved, QStringList {reply});
        EXPECT_EQ(t.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::SERVER), reply);
    }
}

TEST(SignIn, ConnectErrorGoesToTheReportAndTheDialogStays)
{
    Fixture t;
    t.host.connectResult = 691;
    t.host.reportAnswers = {1};
    t.web.reply(kPath, QStringLiteral("OK"));
    t.web.reply(kPath, QStringLiteral("vpn"),
                QStringLiteral("vezi_id=abc&vezi_password=pw&content=goodserver"));
    EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc"))),
              SignInSequence::Outcome::Stay);
    EXPECT_EQ(t.host.calls.last(), QStringLiteral("report:691:"));
    EXPECT_EQ(t.host.calls.count(QStringLiteral("version")), 1);
}

TEST(SignIn, UpdaterTakingOverEndsBeforeAnyRequest)
{
    Fixture t;
    t.host.updaterTakesOver = true;
    EXPECT_EQ(t.sequence.runInteractive(t.input(QStringLiteral("abc"))),
              SignInSequence::Outcome::Ending);
    EXPECT_TRUE(t.web.calls.isEmpty());
}

TEST(AutomaticSignIn, DiffersFromTheInteractiveOne)
{
    {
        Fixture t; // exact "OK", server used as sent, window shown before Connect
        t.host.a.userId = QStringLiteral("abc");
        t.host.a.password = QStringLiteral("pw");
        t.web.reply(kPath, QStringLiteral("OK"));
        t.web.reply(kPath, QStringLiteral("vpn1.example"),
                    QStringLiteral("vezi_id=abc&vezi_password=pw&content=goodserver"));
        EXPECT_EQ(t.sequence.runAutomatic(), SignInSequence::Outcome::Started);
        EXPECT_EQ(t.host.calls,
                  (QStringList {QStringLiteral("prepare:abc"), QStringLiteral("show"),
                                QStringLiteral("connect:KVO@abc:pw:vpn1.example")}));
        EXPECT_TRUE(t.resolved.isEmpty());
        EXPECT_EQ(t.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::SERVER),
                  QString());
    }
    for (const QString &reply : {QStringLiteral("OK "), QStringLiteral("xOK"), QString()}) {
        Fixture t; // anything but the two exact replies opens the dialog without a message
        t.host.a.userId = QStringLiteral("abc");
        t.host.a.password = QStringLiteral("pw");
        t.web.reply(kPath, reply);
        EXPECT_EQ(t.sequence.runAutomatic(), SignInSequence::Outcome::OpenDialog);
        EXPECT_TRUE(t.prompter.boxes().isEmpty());
        EXPECT_TRUE(t.host.calls.isEmpty());
    }
    {
        Fixture t; // a failure token: the report, then the dialog whatever it answers
        t.host.a.userId = QStringLiteral("abc");
        t.host.reportAnswers = {1};
        t.web.reply(kPath, QStringLiteral("NO_IP"));
        EXPECT_EQ(t.sequence.runAutomatic(), SignInSequence::Outcome::OpenDialog);
        EXPECT_EQ(t.host.calls, QStringList {QStringLiteral("report:0:NO_IP")});
    }
    {
        Fixture t; // dynamic: the code of the saved product name
        t.host.a.userId = QStringLiteral("abc");
        t.host.a.password = QStringLiteral("pw");
        t.host.f.productType = DynamicIp;
        t.host.f.dynamicProductName = QStringLiteral("B");
        t.host.f.productMap = {{QStringLiteral("B"), QStringLiteral("20")}};
        t.web.reply(
            kPath, QStringLiteral("dynamicOK"),
            QStringLiteral("vezi_id=abc&vezi_password=pw&dynamic=20&content=available_chk"));
        EXPECT_EQ(t.sequence.runAutomatic(), SignInSequence::Outcome::OpenDialog); // no server
        EXPECT_EQ(t.bodies().first(),
                  QStringLiteral("vezi_id=abc&vezi_password=pw&dynamic=20&content=available_chk"));
        EXPECT_EQ(
            t.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::DynamicProductName),
            QString());
    }
}
