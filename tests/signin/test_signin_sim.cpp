// The sign-in against the simulated service over the real HTTPS transport:
// what reaches the tunnel driver, what the service receives, and how every
// availability reply is explained.
#include "core/settings.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "signin/failurereport.h"
#include "signin/servicefailurehelp.h"
#include "signin/signinsequence.h"
#include "simweb.h"
#include "support/testhome.h"
#include "system/linecheck.h"
#include "web/servicepages.h"
#include "web/servicerequests.h"
#include "web/webtransport.h"

#include <QJsonArray>

#include <gtest/gtest.h>

namespace {

QJsonObject scenario()
{
    auto account = [](const char *id, QJsonObject extra) {
        extra.insert(QStringLiteral("id"), QString::fromLatin1(id));
        extra.insert(QStringLiteral("password"), QStringLiteral("pw1"));
        extra.insert(QStringLiteral("server"), QStringLiteral("localhost"));
        return extra;
    };
    QJsonArray accounts;
    accounts.append(account(
        "fixed",
        {{QStringLiteral("productType"), 1}, {QStringLiteral("parentId"), QStringLiteral("par")}}));
    accounts.append(
        account("dyn",
                {{QStringLiteral("productType"), 2},
                 {QStringLiteral("dynamicProducts"), QJsonArray {QStringLiteral("D30")}}}));
    accounts.append(account("busy",
                            {{QStringLiteral("productType"), 1},
                             {QStringLiteral("loggedIn"), true},
                             {QStringLiteral("loggedInExtra"), QStringLiteral("sid=7")}}));
    for (const char *token :
         {"NO_IP", "DYNAMIC_NO_IP", "PREMIUM_NO_IP", "ALEADY_USE_IP", "DYNAMIC_ALEADY_LOGGED_IN"})
        accounts.append(
            account(token, {{QStringLiteral("availability"), QString::fromLatin1(token)}}));
    return {{QStringLiteral("accounts"), accounts}};
}

struct NoBrowser : BrowserRegistry
{
    QString defaultBrowser() override { return {}; }
    QString program(const QString &) override { return {}; }
};

struct Unreachable : LineCheck
{
    bool check(const QString &, int) override { return false; }
};

// The main window as the sign-in sees it, with the real failure report.
struct SimHost : SignInHost
{
    TestHome home;
    Settings settingsFile {home.file(QStringLiteral("KVOClientSetup.ini"))};
    SettingsFields f;
    AccountState a;
    QStringList connects;
    ScriptedPrompter prompter;
    RecordingLauncher launcher;
    NoBrowser browsers;
    Unreachable lineCheck;
    std::unique_ptr<ServicePages> pages;
    std::unique_ptr<ServiceFailureHelp> help;

    SettingsFields &fields() override { return f; }
    Settings &settings() override { return settingsFile; }
    AccountState &account() override { return a; }
    bool checkForUpdate() override { return false; }
    int reportFailure(int code, const QString &reply) override
    {
        FailureContext ctx {f.tunnelType, f.productType, a.userId, a.password, f.server};
        return ReportFailure(code, reply, ctx, prompter, *help);
    }
    void saveCredentials(const QString &, const QString &, int) override { }
    void setProductLabel(const QString &) override { }
    void prepareForTunnel(const QString &) override { }
    int startTunnel() override
    {
        connects.append(QStringLiteral("%1:%2:%3").arg(a.userId, a.password, f.server));
        return 0;
    }
    void showMainWindowCentred() override { }
};

struct SignInRun
{
    SimWeb sim {scenario()};
    SimHost host;
    std::unique_ptr<CurlWebTransport> transport;
    std::unique_ptr<ServiceRequests> requests;
    std::unique_ptr<SignInSequence> sequence;

    SignInRun()
    {
        transport = std::make_unique<CurlWebTransport>(sim.config(), host.prompter);
        requests = std::make_unique<ServiceRequests>(*transport, sim.host());
        host.pages = std::make_unique<ServicePages>(host.launcher, host.browsers, sim.host());
        host.help = std::make_unique<ServiceFailureHelp>(
            *host.pages, *requests, host.lineCheck, host.prompter,
            ServiceFailureHelp::Sources {[] { return 1; }, [] { return QString(); },
                                         QStringLiteral("127.0.0.250")});
        sequence =
            std::make_unique<SignInSequence>(host, *requests, host.prompter, resolveFirstIpv4);
        host.settingsFile.createIfMissing();
        host.f = host.settingsFile.load();
    }
    SignInSequence::Outcome signIn(const QString &id, const QString &product = QString())
    {
        return sequence->runInteractive({id, QStringLiteral("pw1"), false, product});
    }
    QStringList bodies() const
    {
        QStringList out;
        for (const QJsonObject &r : sim.requests())
            out.append(r.value(QStringLiteral("body")).toString());
        return out;
    }
};

} // namespace

TEST(SignInAgainstTheService, FixedAndDynamicReachConnect)
{
    {
        SignInRun r;
        ASSERT_TRUE(r.sim.started()) << r.sim.error().toStdString();
        EXPECT_EQ(r.signIn(QStringLiteral("fixed")), SignInSequence::Outcome::Started);
        EXPECT_EQ(r.host.connects, QStringList {QStringLiteral("KVO@fixed:pw1:127.0.0.1")});
        EXPECT_EQ(r.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::SERVER),
                  QStringLiteral("localhost"));
        EXPECT_EQ(r.host.a.parentId, QStringLiteral("par"));
        EXPECT_EQ(
            r.bodies(),
            (QStringList {QStringLiteral("vezi_id=fixed&vezi_password=pw1&content=available_chk"),
                          QStringLiteral("vezi_id=fixed&content=get_parent_id"),
                          QStringLiteral("vezi_id=fixed&vezi_password=pw1&content=goodserver")}));
        EXPECT_TRUE(r.host.prompter.boxes().isEmpty());
    }
    {
        SignInRun r;
        ASSERT_TRUE(r.sim.started());
        r.host.f.productType = DynamicIp;
        r.host.f.productMap = {{QStringLiteral("유동IP 30일"), QStringLiteral("D30")}};
        EXPECT_EQ(r.signIn(QStringLiteral("dyn"), QStringLiteral("유동IP 30일")),
                  SignInSequence::Outcome::Started);
        EXPECT_EQ(r.host.connects, QStringList {QStringLiteral("KVO@dyn:pw1:127.0.0.1")});
        EXPECT_EQ(r.bodies().value(2),
                  QStringLiteral("vezi_id=dyn&vezi_password=pw1&dynamic=D30&content=goodserver"));
    }
}

TEST(SignInAgainstTheService, AlreadyLoggedInAnsweredYesEndsTheOldConnectionAndSignsIn)
{
    SignInRun r;
    ASSERT_TRUE(r.sim.started());
    r.host.prompter.queueAnswer(IdYes);
    EXPECT_EQ(r.signIn(QStringLiteral("busy")), SignInSequence::Outcome::Started);
    const QStringList bodies = r.bodies();
    ASSERT_GE(bodies.size(), 2);
    EXPECT_EQ(bodies[0], QStringLiteral("vezi_id=busy&vezi_password=pw1&content=available_chk"));
    EXPECT_TRUE(bodies[1].endsWith(QStringLiteral("&sid=7")));
    EXPECT_EQ(r.sim.requests()[1].value(QStringLiteral("path")).toString(),
              QStringLiteral("/service/vezi/kill_loggedin.php"));
    // The whole sequence ran again and reached the tunnel.
    EXPECT_EQ(bodies.count(QStringLiteral("vezi_id=busy&vezi_password=pw1&content=available_chk")),
              2);
    EXPECT_EQ(r.host.connects, QStringList {QStringLiteral("KVO@busy:pw1:127.0.0.1")});
    EXPECT_EQ(r.host.prompter.boxes().size(), 1);
}

TEST(SignInAgainstTheService, EveryRefusalReachesItsMessage)
{
    const struct
    {
        QString id;
        QString message;
        int answer;
        QString page; // opened by a Yes, or empty
    } cases[] = {
        {QStringLiteral("nobody"),
         QStringLiteral("입력하신 아이디 혹은 패스워드가 틀렸습니다. 다시 로그인 해 주십시오."),
         IdOk,
         {}},
        {QStringLiteral("NO_IP"),
         QStringLiteral("서비스 사용기간이 만료되었습니다. 연장하시겠습니까?"),
         IdNo,
         {}},
        {QStringLiteral("DYNAMIC_NO_IP"),
         QStringLiteral("서비스 사용기간이 만료되었습니다. 연장하시겠습니까?"), IdYes,
         QStringLiteral("url:http://127.0.0.1")},
        {QStringLiteral("PREMIUM_NO_IP"),
         QStringLiteral("KT고정IP 서비스 사용기간이 만료되었습니다. 연장하시겠습니까?"),
         IdNo,
         {}},
        {QStringLiteral("ALEADY_USE_IP"),
         QStringLiteral("현재 사용중인 IP의 아이디 입니다."),
         IdOk,
         {}},
        {QStringLiteral("DYNAMIC_ALEADY_LOGGED_IN"),
         QStringLiteral("이미 유동IP로 로그인되어 있습니다. 강제종료 후 다시 접속 하시겠습니까?"),
         IdNo,
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id.toStdString());
        SignInRun r;
        ASSERT_TRUE(r.sim.started());
        r.host.prompter.queueAnswer(c.answer);
        EXPECT_EQ(r.signIn(c.id), SignInSequence::Outcome::Stay);
        ASSERT_EQ(r.host.prompter.boxes().size(), 1);
        EXPECT_EQ(r.host.prompter.boxes()[0].text, c.message);
        EXPECT_TRUE(r.host.connects.isEmpty());
        if (c.page.isEmpty())
            EXPECT_TRUE(r.host.launcher.calls.isEmpty());
        else
            EXPECT_TRUE(r.host.launcher.calls.value(0).startsWith(c.page))
                << r.host.launcher.calls.join(u' ').toStdString();
    }
}
