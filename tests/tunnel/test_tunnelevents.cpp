#include "tunnel/ovpnclient.h"
#include "tunnel/pptpclient.h"
#include "tunnel/tunneldrivers.h"
#include "tunnel/tunnelevents.h"

#include "platform/dialupppp.h"
#include "platform/eventwait.h"
#include "platform/prompter.h"
#include "support/testhome.h"
#include "tunneltestsupport.h"

#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QString kFakes = QStringLiteral(KVO_TUNNEL_FAKES_DIR);

// The main window's side as the tests see it: every call it receives is
// written down, in order, as a short word.
class RecordingHost : public TunnelHost
{
public:
    VPN *driver = nullptr;
    TunnelFlags flags;
    RedialSettings settings {1, 2, 3};
    QStringList status;
    QStringList logLines;
    QStringList calls;
    QString currentAddress = QStringLiteral("1.2.3.4");
    QList<int> reportAnswers;
    ScriptedPrompter boxes;
    TapAdapter *tap = nullptr;
    QTimer elapsed, redial, watchdog;
    qint64 now = 1000;
    std::function<void()> duringWait;

    VPN *tunnelDriver() override { return driver; }
    RedialSettings redialSettings() const override { return settings; }
    void setStatusText(const QString &text) override { status.append(text); }
    void setCurrentAddress(const QString &text) override { currentAddress = text; }
    void log(const QString &text) override { logLines.append(text); }
    void enableIpControls(bool enable) override
    {
        calls.append(enable ? QStringLiteral("ipOn") : QStringLiteral("ipOff"));
    }
    void clearIpList() override { calls.append(QStringLiteral("clearList")); }
    void updateTray() override { calls.append(QStringLiteral("tray")); }
    void openSession() override { calls.append(QStringLiteral("openSession")); }
    void closeSessionSocket() override { calls.append(QStringLiteral("closeSession")); }
    void logOut() override
    {
        calls.append(QStringLiteral("logOut"));
        if (driver)
            driver->Disconnect();
    }
    void returnToSignIn() override { calls.append(QStringLiteral("signIn")); }
    int reportFailure(int code, const QString &text) override
    {
        calls.append(QStringLiteral("report:%1:%2").arg(code).arg(text));
        return reportAnswers.isEmpty() ? 0 : reportAnswers.takeFirst();
    }
    void checkVersion(const QString &arg) override
    {
        calls.append(QStringLiteral("version:") + arg);
    }
    QTimer *timer(int id) override
    {
        switch (id) {
        case 1026:
            return &elapsed;
        case 1027:
            return &redial;
        case 1030:
            return &watchdog;
        default:
            return nullptr;
        }
    }
    void waitWhileDispatching(int ms) override
    {
        calls.append(QStringLiteral("wait:%1").arg(ms));
        if (duringWait)
            duringWait();
        ::waitWhileDispatching(qMin(ms, 20));
    }
    Prompter &prompter() override { return boxes; }
    TapAdapter *tapAdapter() override { return tap; }
    qint64 currentTime() override { return now; }

    int count(const QString &call) const { return int(calls.count(call)); }
};

const QString kUp = QStringLiteral("VPN터널이 연결되었습니다.");

// An OpenVPN driver over the stand-in program, and the rules on top.
struct OvpnEventsRig
{
    TestHome home;
    RecordingDownloader downloader;
    std::unique_ptr<TapAdapter> tap;
    RecordingHost host;
    std::unique_ptr<OvpnClient> driver;
    std::unique_ptr<TunnelEvents> events;

    OvpnEventsRig()
    {
        copyExecutable(kFakes + QStringLiteral("/kvo_openvpn"),
                       home.file(QStringLiteral("kvo_openvpn")));
        home.write(QStringLiteral("tun"), QByteArray());
        tap = std::make_unique<TapAdapter>(&downloader, QStringLiteral("web.test"),
                                           home.file(QStringLiteral("tun")));
        driver = std::make_unique<OvpnClient>(host.boxes, *tap, OvpnClient::QosQuery());
        host.driver = driver.get();
        host.tap = tap.get();
        events = std::make_unique<TunnelEvents>(host, host.flags);
    }
    ~OvpnEventsRig()
    {
        events.reset();
        if (driver->processId())
            driver->Disconnect();
    }
    void transcript(const QByteArray &lines, bool stay)
    {
        home.write(QStringLiteral("out.log"), lines);
        home.write(QStringLiteral("transcript"), home.file(QStringLiteral("out.log")).toUtf8());
        if (stay)
            home.write(QStringLiteral("stay"), QByteArray());
        else
            QFile::remove(home.file(QStringLiteral("stay")));
    }
};

} // namespace

TEST(TunnelOpenVpnEvents, ProgressCodesShowTheirTexts)
{
    OvpnEventsRig rig;
    const struct
    {
        int code;
        const char *text;
    } cases[] = {
        {1, "서버에 TCP연결 하였습니다."},
        {2, "인증서를 체크하고 있습니다."},
        {3, "터널 인터페이스를 만들고 있습니다."},
        {4, "라우팅 중입니다."},
    };
    for (const auto &c : cases) {
        rig.events->onOvpnEvent(c.code);
        EXPECT_EQ(rig.host.status.last(), QString::fromUtf8(c.text));
    }
    const int shown = int(rig.host.status.size());
    for (int other : {0, 9, 11, 12, 13, 15, 1031}) {
        rig.events->onOvpnEvent(other);
    }
    EXPECT_EQ(rig.host.status.size(), shown);
    EXPECT_TRUE(rig.host.calls.isEmpty());
    EXPECT_TRUE(rig.host.boxes.boxes().isEmpty());
}

TEST(TunnelOpenVpnEvents, TunnelUpActions)
{
    OvpnEventsRig rig;
    rig.events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("s"));
    rig.host.now = 1234567;
    rig.events->onOvpnEvent(5);
    EXPECT_TRUE(rig.events->tunnelUp());
    EXPECT_EQ(rig.host.logLines, QStringList {QStringLiteral("VPN터널이 연결됨")});
    EXPECT_EQ(rig.host.calls,
              (QStringList {QStringLiteral("openSession"), QStringLiteral("tray")}));
    EXPECT_EQ(rig.events->connectTime(), 1234567);
    EXPECT_TRUE(rig.host.elapsed.isActive());
    EXPECT_EQ(rig.host.elapsed.interval(), 1000);
    EXPECT_EQ(rig.host.status.last(), kUp);
    EXPECT_FALSE(rig.events->redialPending());
}

TEST(TunnelOpenVpnEvents, RefusedCredentialsNeverRedial)
{
    for (int onLinkFailure : {0, 1}) {
        OvpnEventsRig rig;
        rig.host.settings = {onLinkFailure, 5, 3};
        rig.events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("s"));
        rig.events->onOvpnEvent(5);
        rig.host.calls.clear();
        rig.events->onOvpnEvent(8);
        ASSERT_EQ(rig.host.boxes.boxes().size(), 1);
        const auto &box = rig.host.boxes.boxes().first();
        EXPECT_EQ(box.text, QStringLiteral("다른 PC에서 사용중이거나 로그인에 문제가 있습니다."));
        EXPECT_EQ(box.caption, QStringLiteral("안내메세지"));
        EXPECT_EQ(box.flags, 0x1010u);
        EXPECT_FALSE(rig.events->tunnelUp());
        EXPECT_FALSE(rig.host.redial.isActive());
        EXPECT_FALSE(rig.host.elapsed.isActive());
        EXPECT_TRUE(rig.host.currentAddress.isEmpty());
        EXPECT_EQ(rig.host.calls,
                  (QStringList {QStringLiteral("tray"), QStringLiteral("ipOff"),
                                QStringLiteral("signIn")}));
    }
}

TEST(TunnelOpenVpnEvents, OldAdapterAsksForTheUpdate)
{
    const struct
    {
        int answer;
        int downloadResult;
        QStringList texts;
        int downloads;
    } cases[] = {
        {IdYes,
         0,
         {QStringLiteral("TAP 인터페이스 드라이버 버전이 낮습니다. 업데이트 하시겠습니까?"),
          QStringLiteral("업데이트 하였습니다. 다시 로그인 해주십시오.")},
         1},
        {IdYes,
         -1,
         {QStringLiteral("TAP 인터페이스 드라이버 버전이 낮습니다. 업데이트 하시겠습니까?")},
         1},
        {IdNo,
         0,
         {QStringLiteral("TAP 인터페이스 드라이버 버전이 낮습니다. 업데이트 하시겠습니까?")},
         0},
    };
    for (const auto &c : cases) {
        OvpnEventsRig rig;
        rig.host.boxes.queueAnswer(c.answer);
        rig.downloader.results = {c.downloadResult};
        rig.events->onOvpnEvent(14);
        EXPECT_EQ(rig.host.boxes.texts(), c.texts);
        EXPECT_EQ(rig.host.boxes.boxes().first().flags, 0x1044u);
        if (c.texts.size() == 2) {
            EXPECT_EQ(rig.host.boxes.boxes().last().flags, 0x1040u);
        }
        EXPECT_EQ(rig.downloader.requests.size(), c.downloads);
        if (c.downloads) {
            EXPECT_TRUE(rig.downloader.requests.first().endsWith(QStringLiteral(" fresh")));
        }
        EXPECT_EQ(rig.host.calls.last(), QStringLiteral("signIn"));
        EXPECT_FALSE(rig.host.redial.isActive());
    }
}

// The redial decision after a lost tunnel, by source and state.
TEST(TunnelRedialDecision, Table)
{
    enum Source { LinkLost, Ended, Refused };
    const struct
    {
        Source source;
        int onLinkFailure;
        int attempts;
        bool loggingOut;
        bool countdown;
        bool logOut;
    } cases[] = {
        {LinkLost, 1, 2, false, true, false}, {LinkLost, 1, 0, false, false, true},
        {LinkLost, 0, 2, false, false, true}, {LinkLost, 1, 2, true, false, false},
        {LinkLost, 0, 2, true, false, false}, {Ended, 1, 2, false, true, false},
        {Ended, 1, 0, false, false, true},    {Ended, 1, 2, true, false, false},
        {Ended, 0, 2, false, false, true},    {Ended, 0, 2, true, false, false},
        {Refused, 1, 1, false, true, false},  {Refused, 1, 0, false, false, true},
        {Refused, 1, 1, true, false, false},  {Refused, 0, 1, false, false, true},
        {Refused, 0, 1, true, false, false},
    };
    TestHome home;
    ScriptedPrompter prompter;
    PppDialUp dialUp;
    RecordingDownloader downloader;
    TapAdapter tap(&downloader, QStringLiteral("web.test"), home.file(QStringLiteral("tun")));
    for (const auto &c : cases) {
        const std::string row = "source " + std::to_string(c.source) + " on " +
            std::to_string(c.onLinkFailure) + " attempts " + std::to_string(c.attempts) + " out " +
            std::to_string(c.loggingOut);
        RecordingHost host;
        PptpClient dial(1, dialUp, prompter);
        OvpnClient ovpn(prompter, tap, {});
        host.driver = c.source == LinkLost ? static_cast<VPN *>(&dial) : &ovpn;
        host.settings = {c.onLinkFailure, c.attempts, 3};
        TunnelEvents events(host, host.flags);
        events.prepareSignIn(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("s"));
        events.setLoggingOut(c.loggingOut);
        host.calls.clear();
        host.status.clear();
        if (c.source == LinkLost)
            events.onRasDialEvent(1031, 0);
        else
            events.onOvpnEvent(c.source == Ended ? 6 : 7);
        EXPECT_EQ(host.redial.isActive(), c.countdown) << row;
        EXPECT_EQ(events.redialPending(), c.countdown) << row;
        EXPECT_EQ(host.count(QStringLiteral("logOut")), c.logOut ? 1 : 0) << row;
        if (c.countdown) {
            EXPECT_FALSE(events.loggingOut()) << row;
        }
        if (c.logOut) {
            EXPECT_TRUE(events.loggingOut()) << row;
        }
        EXPECT_EQ(host.count(QStringLiteral("ipOff")), 1) << row; // teardown in every case
        const QStringList expectStatus = c.source == LinkLost
            ? QStringList {QStringLiteral("서버에서 연결이 끊어졌습니다."),
                           QStringLiteral("모라솔 서비스가 끊어졌습니다.")}
            : c.source == Ended ? QStringList {QStringLiteral("서비스가 끊어졌습니다.")}
                                : QStringList {QStringLiteral("서버에 연결할 수 없습니다.")};
        EXPECT_EQ(host.status, expectStatus) << row;
        EXPECT_EQ(host.logLines,
                  QStringList {c.source == Refused ? QStringLiteral("서버에 연결 실패")
                                                   : QStringLiteral("VPN터널이 끊어짐")})
            << row;
        EXPECT_EQ(host.count(QStringLiteral("closeSession")), c.source == Refused ? 0 : 1) << row;
    }
}

TEST(TunnelRedialCountdown, CountsDownAndAttemptsWithTheVersionCheck)
{
    OvpnEventsRig rig;
    rig.host.settings = {1, 2, 3};
    rig.events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("10.0.0.1"));
    rig.transcript("Initialization Sequence Completed\n", true);
    rig.events->onOvpnEvent(6);
    ASSERT_TRUE(rig.host.redial.isActive());
    rig.host.status.clear();
    rig.host.calls.clear();
    rig.events->onRedialTimer();
    rig.events->onRedialTimer();
    EXPECT_TRUE(rig.host.calls.isEmpty());
    rig.events->onRedialTimer();
    EXPECT_EQ(rig.host.status,
              (QStringList {QStringLiteral("3 초 후에 다시 접속을 시도 합니다."),
                            QStringLiteral("2 초 후에 다시 접속을 시도 합니다."),
                            QStringLiteral("1 초 후에 다시 접속을 시도 합니다.")}));
    EXPECT_FALSE(rig.host.redial.isActive());
    EXPECT_EQ(rig.host.calls,
              (QStringList {QStringLiteral("closeSession"), QStringLiteral("wait:1000"),
                            QStringLiteral("version:boot"), QStringLiteral("ipOff"),
                            QStringLiteral("clearList")}));
    EXPECT_EQ(rig.events->remainingAttempts(), 1);
    EXPECT_EQ(rig.events->redialTick(), 0);
    EXPECT_TRUE(rig.events->redialPending());
    // The attempt ran the driver with the sign-in's values; a success brings
    // the tunnel up again with a new session and a new connect time.
    rig.host.now = 5000;
    ASSERT_TRUE(waitUntil([&] { return rig.events->tunnelUp(); }));
    EXPECT_EQ(rig.home.read(QStringLiteral("stdin.out")), QByteArray("u\np\n"));
    EXPECT_EQ(rig.host.count(QStringLiteral("openSession")), 1);
    EXPECT_EQ(rig.events->connectTime(), 5000);
    EXPECT_FALSE(rig.events->redialPending());
    EXPECT_EQ(rig.events->remainingAttempts(), 1); // only a new session restores them
    rig.events->resetRedialAttempts();
    EXPECT_EQ(rig.events->remainingAttempts(), 2);
}

TEST(TunnelRedialCountdown, ALogOutDuringTheWaitStopsTheAttempt)
{
    OvpnEventsRig rig;
    rig.host.settings = {1, 2, 1};
    rig.events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("s"));
    rig.events->onOvpnEvent(6);
    rig.host.duringWait = [&] {
        rig.events->setLoggingOut(true);
    };
    rig.events->onRedialTimer();
    EXPECT_EQ(rig.host.count(QStringLiteral("version:boot")), 0);
    EXPECT_TRUE(rig.home.read(QStringLiteral("args.out")).isEmpty()); // no Connect
    EXPECT_EQ(rig.events->remainingAttempts(), 2);
}

namespace {
struct DialEventsRig
{
    TestHome home;
    QTemporaryDir log;
    ScriptedPrompter prompter;
    PppDialUp dialUp {{kFakes + QStringLiteral("/pppd"), QStringLiteral("/usr/sbin/pptp"),
                       kFakes + QStringLiteral("/xl2tpd"), kFakes + QStringLiteral("/swanctl"),
                       QString()}};
    PptpClient driver {1, dialUp, prompter};
    RecordingHost host;
    std::unique_ptr<TunnelEvents> events;

    DialEventsRig()
    {
        qputenv("KVO_FAKE_LOG", log.path().toUtf8());
        host.driver = &driver;
        events = std::make_unique<TunnelEvents>(host, host.flags);
    }
    ~DialEventsRig()
    {
        events.reset();
        driver.Disconnect();
        qunsetenv("KVO_FAKE_LOG");
    }
};
} // namespace

TEST(TunnelDialUpEvents, StateTextsThenTunnelUpWithALinkWatcher)
{
    DialEventsRig rig;
    rig.events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("up.srv"));
    ASSERT_EQ(rig.events->connectTunnel(), 0);
    ASSERT_TRUE(waitUntil([&] { return rig.events->tunnelUp(); }));
    EXPECT_EQ(
        rig.host.status,
        (QStringList {QString(), QStringLiteral("초기화하는 중 입니다."),
                      QStringLiteral("장치가 연결되었습니다."),
                      QStringLiteral("로그인 하고있습니다."), QStringLiteral("로그인 되었습니다."),
                      QStringLiteral("컴퓨터를 네트워크에 등록중입니다.."),
                      QStringLiteral("컴퓨터를 네트워크에 등록했습니다.."), kUp}));
    EXPECT_EQ(rig.host.count(QStringLiteral("openSession")), 1);
    // The log says how the link is encrypted.
    EXPECT_EQ(rig.host.logLines,
              (QStringList {QStringLiteral("VPN터널이 연결됨"),
                            QStringLiteral("터널 암호화: MPPE 128-bit stateless")}));

    // A log-out hangs up: the watcher reports no loss.
    rig.events->setLoggingOut(true);
    rig.driver.Disconnect();
    QTest::qWait(300);
    EXPECT_FALSE(rig.host.status.contains(QStringLiteral("모라솔 서비스가 끊어졌습니다.")));
}

TEST(TunnelDialUpEvents, FirstDialFailureGoesToTheFailureReport)
{
    // The report's answer: 0 back to sign-in, otherwise dial again at once.
    DialEventsRig rig;
    rig.host.reportAnswers = {1, 0};
    rig.events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"),
                              QStringLiteral("authfail.srv"));
    ASSERT_EQ(rig.events->connectTunnel(), 0);
    ASSERT_TRUE(waitUntil([&] { return rig.host.count(QStringLiteral("signIn")) == 1; }));
    EXPECT_EQ(rig.host.count(QStringLiteral("report:691:")), 2);
    EXPECT_FALSE(rig.host.status.contains(QStringLiteral("에러(691): 연결실패..")));
    EXPECT_FALSE(rig.host.redial.isActive());
}

TEST(TunnelDialUpEvents, ALinkGoneBeforeItsConnectedNoticeCountsAsLost)
{
    DialEventsRig rig;
    rig.host.settings = {1, 1, 3};
    rig.events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("s"));
    rig.host.status.clear();
    rig.events->onRasDialEvent(0x2000, 0); // the connection has already ended
    EXPECT_FALSE(rig.events->tunnelUp());
    EXPECT_EQ(rig.host.count(QStringLiteral("openSession")), 0);
    EXPECT_EQ(rig.host.status,
              (QStringList {QStringLiteral("서버에서 연결이 끊어졌습니다."),
                            QStringLiteral("모라솔 서비스가 끊어졌습니다.")}));
    EXPECT_TRUE(rig.host.redial.isActive());
}

TEST(TunnelDialUpEvents, ErrorWhileLoggingOutReportsNothing)
{
    DialEventsRig rig;
    rig.events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("s"));
    rig.events->setLoggingOut(true);
    rig.events->onRasDialEvent(3, 678);
    EXPECT_TRUE(rig.host.calls.isEmpty());
    EXPECT_TRUE(rig.host.status.size() == 1); // only the sign-in's clearing
}

// The documented example: RedialOnLinkFailure 1, RedialCount 2, RedialSeconds
// 3, a dial-up tunnel whose server stays away after the link is lost.
TEST(TunnelRedialExample, DialUpEndsInTheFailureReport)
{
    DialEventsRig rig;
    rig.events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"),
                              QStringLiteral("flaky.srv"));
    ASSERT_EQ(rig.events->connectTunnel(), 0);
    ASSERT_TRUE(waitUntil([&] { return rig.events->tunnelUp(); }));
    rig.host.status.clear();
    // The link drops; the watcher reports it; the real countdown runs.
    ASSERT_TRUE(waitUntil([&] { return rig.host.count(QStringLiteral("signIn")) == 1; }, 20000));
    const QString c3 = QStringLiteral("3 초 후에 다시 접속을 시도 합니다.");
    const QString c2 = QStringLiteral("2 초 후에 다시 접속을 시도 합니다.");
    const QString c1 = QStringLiteral("1 초 후에 다시 접속을 시도 합니다.");
    const QString lost = QStringLiteral("모라솔 서비스가 끊어졌습니다.");
    const QString failed = QStringLiteral("에러(678): 연결실패..");
    QStringList shown = rig.host.status;
    shown.removeAll(QStringLiteral("초기화하는 중 입니다.")); // each attempt's progress
    EXPECT_EQ(shown,
              (QStringList {QStringLiteral("서버에서 연결이 끊어졌습니다."), lost, c3, c2, c1,
                            failed, c3, c2, c1}));
    EXPECT_EQ(rig.host.count(QStringLiteral("report:678:")), 1);
    EXPECT_EQ(rig.host.count(QStringLiteral("version:boot")), 2);
    EXPECT_EQ(rig.host.count(QStringLiteral("logOut")), 0);
    EXPECT_EQ(rig.host.calls.last(), QStringLiteral("signIn"));
    EXPECT_EQ(rig.events->remainingAttempts(), 0);
    EXPECT_FALSE(rig.host.redial.isActive());
}

// The same situation with OpenVPN (event 7 after each attempt): a log-out.
TEST(TunnelRedialExample, OpenVpnEndsInALogOut)
{
    OvpnEventsRig rig;
    rig.events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("10.0.0.1"));
    rig.transcript("TCP connection established with [AF_INET]10.0.0.1:80\n"
                   "Initialization Sequence Completed\n",
                   true);
    ASSERT_EQ(rig.events->connectTunnel(), 0);
    ASSERT_TRUE(waitUntil([&] { return rig.events->tunnelUp(); }));
    const pid_t first = pid_t(rig.driver->processId());
    // From now on the server refuses; openvpn would retry for ever.
    rig.transcript("Attempting to establish TCP connection with [AF_INET]10.0.0.1:80\n"
                   "TCP: connect to [AF_INET]10.0.0.1:80 failed: Connection refused\n"
                   "SIGUSR1[connection failed(soft),connection-failed] received, process "
                   "restarting\n",
                   true);
    rig.host.status.clear();
    ::kill(first, SIGTERM); // the tunnel ends: event 6
    ASSERT_TRUE(waitUntil([&] { return rig.host.count(QStringLiteral("logOut")) == 1; }, 20000));
    const QString c3 = QStringLiteral("3 초 후에 다시 접속을 시도 합니다.");
    const QString c2 = QStringLiteral("2 초 후에 다시 접속을 시도 합니다.");
    const QString c1 = QStringLiteral("1 초 후에 다시 접속을 시도 합니다.");
    const QString refused = QStringLiteral("서버에 연결할 수 없습니다.");
    EXPECT_EQ(rig.host.status,
              (QStringList {QStringLiteral("서비스가 끊어졌습니다."), c3, c2, c1, refused, c3, c2,
                            c1, refused}));
    EXPECT_EQ(rig.host.count(QStringLiteral("version:boot")), 2);
    EXPECT_TRUE(rig.host.calls.filter(QStringLiteral("report")).isEmpty());
    EXPECT_EQ(rig.host.logLines.count(QStringLiteral("서버에 연결 실패")), 2);
    // The refused runs were stopped, not left retrying.
    EXPECT_TRUE(waitUntil([&] { return rig.driver->processId() == 0; }, 3000));
}

TEST(TunnelDrivers, OneDriverPerTunnelType)
{
    TestHome home;
    ScriptedPrompter prompter;
    PppDialUp dialUp;
    RecordingDownloader downloader;
    TapAdapter tap(&downloader, QStringLiteral("web.test"));
    const TunnelServices services {prompter, dialUp, tap, {}};
    const struct
    {
        int setting;
        int kind;
        bool openVpn;
    } cases[] = {{1, 1, false}, {2, 2, true}, {3, 3, false}, {0, 0, false}, {7, 0, false}};
    for (const auto &c : cases) {
        const auto driver = createTunnelDriver(c.setting, services);
        if (c.kind == 0) {
            EXPECT_EQ(driver, nullptr) << c.setting;
            continue;
        }
        ASSERT_NE(driver, nullptr) << c.setting;
        EXPECT_EQ(driver->tunnelType(), c.kind) << c.setting;
        EXPECT_EQ(dynamic_cast<OvpnClient *>(driver.get()) != nullptr, c.openVpn) << c.setting;
    }
}

// After a resume or a network change the tunnel is checked: a tunnel that no
// longer carries traffic is ended and its end goes through the lost-link
// rules (countdown with RedialOnLinkFailure, else the log-out); one that
// does, or a check while the tunnel is down or a log-out runs, changes
// nothing. Both drivers: OpenVPN's end (6) and the dial-up watcher's 1031.
TEST(TunnelNetworkReturn, AStaleTunnelIsALostLink)
{
    const struct
    {
        bool dialUp;
        bool carries;
        bool loggingOut;
        int onLinkFailure;
        bool checked;
        bool ended;
        bool countdown;
        bool logOut;
        bool outWhileChecking = false; // the log-out begins before the answer
    } cases[] = {
        {false, false, false, 1, true, false, false, false, true},
        {true, false, false, 0, true, false, false, false, true},
        {false, false, false, 1, true, true, true, false},
        {false, false, false, 0, true, true, false, true},
        {false, true, false, 1, true, false, false, false},
        {false, false, true, 1, false, false, false, false},
        {true, false, false, 1, true, true, true, false},
        {true, false, false, 0, true, true, false, true},
        {true, true, false, 1, true, false, false, false},
        {true, false, true, 1, false, false, false, false},
    };
    for (const auto &c : cases) {
        const std::string row = std::string(c.dialUp ? "dial-up" : "openvpn") + " carries " +
            std::to_string(c.carries) + " out " + std::to_string(c.loggingOut) + " on " +
            std::to_string(c.onLinkFailure) + (c.outWhileChecking ? " out while checking" : "");
        std::unique_ptr<OvpnEventsRig> ovpn;
        std::unique_ptr<DialEventsRig> dial;
        TunnelEvents *events = nullptr;
        RecordingHost *host = nullptr;
        if (c.dialUp) {
            dial = std::make_unique<DialEventsRig>();
            events = dial->events.get();
            host = &dial->host;
        } else {
            ovpn = std::make_unique<OvpnEventsRig>();
            ovpn->transcript("Initialization Sequence Completed\n", true);
            events = ovpn->events.get();
            host = &ovpn->host;
        }
        host->settings = {c.onLinkFailure, 2, 3};
        int checks = 0;
        // Answers later, as the real check does.
        events->setLinkCheck([&](std::function<void(bool)> done) {
            ++checks;
            QTimer::singleShot(50, events, [done, carries = c.carries] { done(carries); });
        });
        // Before the tunnel is up nothing is checked.
        events->networkReturned();
        EXPECT_EQ(checks, 0) << row;

        events->prepareSignIn(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("up.srv"));
        ASSERT_EQ(events->connectTunnel(), 0) << row;
        ASSERT_TRUE(waitUntil([&] { return events->tunnelUp(); })) << row;
        events->setLoggingOut(c.loggingOut);
        host->status.clear();
        host->calls.clear();

        events->networkReturned();
        if (c.outWhileChecking)
            events->setLoggingOut(true);
        EXPECT_EQ(checks, c.checked ? 1 : 0) << row;
        if (c.ended) {
            ASSERT_TRUE(waitUntil([&] { return !events->tunnelUp(); })) << row;
            ASSERT_TRUE(waitUntil([&] {
                return host->redial.isActive() || host->count(QStringLiteral("logOut")) > 0;
            })) << row;
            EXPECT_EQ(host->logLines.last(), QStringLiteral("VPN터널이 끊어짐")) << row;
        } else {
            QTest::qWait(300);
            EXPECT_TRUE(events->tunnelUp()) << row;
        }
        EXPECT_EQ(host->redial.isActive(), c.countdown) << row;
        EXPECT_EQ(host->count(QStringLiteral("logOut")), c.logOut ? 1 : 0) << row;
        host->redial.stop();
        events->setLoggingOut(true); // the rig's end is no loss
    }
}
