// OpenVPN end to end: the driver against a real openvpn server in a network
// namespace (scripts/netns-rig). Runs as root; skips elsewhere.
#include "tunnel/networkguard.h"
#include "tunnel/ovpnclient.h"

#include "platform/networkreturn.h"

#include "netnsrig.h"
#include "platform/processlist.h"
#include "platform/prompter.h"
#include "support/testhome.h"
#include "tunneltestsupport.h"

#include <QSignalSpy>

#include <optional>

#include <csignal>

#include <gtest/gtest.h>

#include <memory>

namespace {

class OvpnNetns : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_skip = NetnsRig::unavailableReason();
        if (!s_skip.isEmpty())
            return;
        s_rig = new NetnsRig;
        QString error;
        if (!s_rig->up(&error))
            s_setupError = error.isEmpty() ? QStringLiteral("netns-rig up failed") : error;
    }
    static void TearDownTestSuite()
    {
        delete s_rig; // stops the server and removes the namespaces
        s_rig = nullptr;
    }

    void SetUp() override
    {
        if (!s_skip.isEmpty())
            GTEST_SKIP() << "OpenVPN rig not available: " << s_skip.toStdString();
        ASSERT_TRUE(s_setupError.isEmpty()) << s_setupError.toStdString();
        ASSERT_TRUE(s_rig->installClientFiles(home.path()));
        ASSERT_TRUE(s_rig->enterClientNamespace());
        tap = std::make_unique<TapAdapter>(&downloader, QStringLiteral("web.test"));
        client = std::make_unique<OvpnClient>(prompter, *tap, OvpnClient::QosQuery());
    }
    void TearDown() override
    {
        if (client && client->processId()) {
            client->Disconnect();
            waitUntil([&] { return client->processId() == 0; }, 5000);
        }
        client.reset();
        if (s_rig)
            s_rig->leaveClientNamespace();
    }

    // The addresses of this namespace's tunnel interfaces.
    static QString tunAddresses()
    {
        QProcess ip;
        ip.start(QStringLiteral("ip"),
                 {QStringLiteral("-o"), QStringLiteral("-4"), QStringLiteral("addr"),
                  QStringLiteral("show")});
        ip.waitForFinished();
        QStringList out;
        for (const QString &line : QString::fromUtf8(ip.readAll()).split(QLatin1Char('\n'))) {
            if (line.contains(QLatin1String("tun")))
                out.append(line.section(QLatin1String("inet "), 1).section(QLatin1Char('/'), 0, 0));
        }
        return out.join(QLatin1Char(','));
    }

    static NetnsRig *s_rig;
    static QString s_skip;
    static QString s_setupError;

    TestHome home;
    ScriptedPrompter prompter;
    RecordingDownloader downloader;
    std::unique_ptr<TapAdapter> tap;
    std::unique_ptr<OvpnClient> client;
    TunnelNotifier notifier;
    NoticeLog notices {notifier};
};

NetnsRig *OvpnNetns::s_rig = nullptr;
QString OvpnNetns::s_skip;
QString OvpnNetns::s_setupError;

} // namespace

TEST_F(OvpnNetns, ConnectReachesTheTunnelWithItsAddressAndDisconnectEndsIt)
{
    ASSERT_EQ(client->Connect(&notifier, QStringLiteral("kvouser"), QStringLiteral("kvopass"),
                              s_rig->serverAddress()),
              0);
    ASSERT_TRUE(waitUntil([&] { return notices.ovpn.contains(5); }, 30000))
        << "events so far: " << notices.ovpn.size();
    EXPECT_EQ(notices.ovpn, (QList<int> {1, 2, 2, 3, 4, 5}));
    const QString address = client->GetAssignedIp();
    EXPECT_TRUE(address.startsWith(QLatin1String("10.8.0."))) << address.toStdString();
    EXPECT_EQ(tunAddresses(), address);
    // The process carries the program folder's name, so CloseExisting finds it.
    EXPECT_EQ(ProcessList::findFirstNamed(QStringLiteral("kvo_openvpn")).pid,
              pid_t(client->processId()));

    const pid_t pid = pid_t(client->processId());
    client->Disconnect();
    ASSERT_TRUE(waitUntil([&] { return notices.ovpn.size() == 7; }, 5000));
    EXPECT_EQ(notices.ovpn.last(), 6);
    EXPECT_FALSE(ProcessList::isRunning(pid));
    EXPECT_TRUE(tunAddresses().isEmpty()); // openvpn removed its address on the way out
}

TEST_F(OvpnNetns, WrongPasswordGivesEightAndNoSix)
{
    ASSERT_EQ(client->Connect(&notifier, QStringLiteral("kvouser"), QStringLiteral("wrong"),
                              s_rig->serverAddress()),
              0);
    ASSERT_TRUE(waitUntil([&] { return notices.ovpn.contains(8); }, 30000));
    // openvpn ends by itself after the refusal.
    ASSERT_TRUE(waitUntil([&] { return client->processId() == 0; }, 10000));
    QTest::qWait(200);
    EXPECT_EQ(notices.ovpn.last(), 8);
    EXPECT_FALSE(notices.ovpn.contains(6));
    EXPECT_FALSE(notices.ovpn.contains(5));
}

TEST_F(OvpnNetns, ClosedPortGivesSevenAndCloseExistingStopsTheRetries)
{
    // Our own address: nothing listens on port 80 there.
    ASSERT_EQ(client->Connect(&notifier, QStringLiteral("kvouser"), QStringLiteral("kvopass"),
                              QStringLiteral("10.200.0.2")),
              0);
    ASSERT_TRUE(waitUntil([&] { return notices.ovpn.contains(7); }, 30000));
    EXPECT_EQ(notices.ovpn.first(), 7);
    const pid_t pid = pid_t(client->processId());
    ASSERT_GT(pid, 0); // openvpn itself would go on trying
    client->CloseExisting();
    ASSERT_TRUE(waitUntil([&] { return client->processId() == 0; }, 5000));
    QTest::qWait(200);
    EXPECT_FALSE(notices.ovpn.contains(6));
    EXPECT_FALSE(ProcessList::isRunning(pid));
}

TEST_F(OvpnNetns, KillingTheClientLeavesNoOpenvpnBehind)
{
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KVO_HOME"), home.path());
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(KVO_CONNECT_PROBE),
                {s_rig->serverAddress(), QStringLiteral("kvouser"), QStringLiteral("kvopass")});
    ASSERT_TRUE(probe.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return probe.canReadLine(); }, 30000));
    const QString line = QString::fromUtf8(probe.readLine()).trimmed();
    ASSERT_TRUE(line.startsWith(QLatin1String("UP "))) << line.toStdString();
    const pid_t openvpn = pid_t(line.mid(3).toLongLong());
    ASSERT_TRUE(ProcessList::isRunning(openvpn));

    ::kill(pid_t(probe.processId()), SIGKILL);
    probe.waitForFinished();
    EXPECT_TRUE(waitUntil([&] { return !ProcessList::isRunning(openvpn); }, 5000));
    EXPECT_EQ(ProcessList::findFirstNamed(QStringLiteral("kvo_openvpn")).pid, 0);
    EXPECT_TRUE(tunAddresses().isEmpty());
}

namespace {

bool run(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The client namespace's end of the rig's veth pair.
QString clientLink(const QString &ns)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"),
             {QStringLiteral("-n"), ns, QStringLiteral("-o"), QStringLiteral("link"),
              QStringLiteral("show")});
    ip.waitForFinished();
    for (const QString &line : QString::fromUtf8(ip.readAll()).split(QLatin1Char('\n'))) {
        const QString name =
            line.section(QLatin1String(": "), 1, 1).section(QLatin1Char('@'), 0, 0);
        if (name.startsWith(QLatin1String("kvc")))
            return name;
    }
    return QString();
}

} // namespace

// The default route's interface (the rig's veth) goes down and comes back,
// as on a network change or a resume: the watcher reports it, and the link
// check finds the tunnel good while the server still answers and stale once
// the server's side has gone silent (its packets from us dropped), long
// before openvpn's own ping-restart.
TEST_F(OvpnNetns, AfterTheLinkComesBackTheCheckTellsAStaleTunnel)
{
    if (QStandardPaths::findExecutable(QStringLiteral("nft"),
                                       {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
            .isEmpty())
        GTEST_SKIP() << "nft is not installed";
    const QString ns = s_rig->clientNamespace();
    const QString link = clientLink(ns);
    ASSERT_FALSE(link.isEmpty());
    ASSERT_TRUE(run(QStringLiteral("ip"),
                    {QStringLiteral("-n"), ns, QStringLiteral("route"), QStringLiteral("replace"),
                     QStringLiteral("default"), QStringLiteral("via"), s_rig->serverAddress()}));
    NetworkReturnWatcher watcher; // in the client namespace (this thread is there)
    watcher.setSettleMs(0);
    ASSERT_TRUE(watcher.watchLinks());
    QSignalSpy reports(&watcher, &NetworkReturnWatcher::networkReturned);

    ASSERT_EQ(client->Connect(&notifier, QStringLiteral("kvouser"), QStringLiteral("kvopass"),
                              s_rig->serverAddress()),
              0);
    ASSERT_TRUE(waitUntil([&] { return notices.ovpn.contains(5); }, 30000));
    const QString server = s_rig->serverAddress();
    auto bounce = [&] {
        reports.clear();
        const QStringList set {QStringLiteral("-n"), ns, QStringLiteral("link"),
                               QStringLiteral("set"), link};
        return run(QStringLiteral("ip"), set + QStringList {QStringLiteral("down")}) &&
            run(QStringLiteral("ip"), set + QStringList {QStringLiteral("up")}) &&
            reports.wait(5000) && reports.at(0).at(0).toString() == QStringLiteral("link ") + link;
    };

    // The check's answer, waited for on this thread's event loop.
    auto carries = [&] {
        std::optional<bool> answer;
        QObject context;
        LinkCheck::checkTunnel(*client, server, &context, [&](bool ok) { answer = ok; });
        waitUntil([&] { return answer.has_value(); }, 2 * LinkCheck::kProbeMs);
        return answer;
    };
    ASSERT_TRUE(bounce());
    EXPECT_EQ(carries(), std::optional<bool>(true));

    // The server's side goes silent (a sleep long enough for it to forget
    // us looks the same from here).
    const QByteArray silence = "table inet kvo_test_silence {\n"
                               "\tchain input {\n"
                               "\t\ttype filter hook input priority 0; policy accept;\n"
                               "\t\tip saddr 10.200.0.2 drop\n"
                               "\t}\n"
                               "}\n";
    ASSERT_TRUE(run(QStringLiteral("ip"),
                    {QStringLiteral("netns"), QStringLiteral("exec"), s_rig->serverNamespace(),
                     QStringLiteral("nft"), QStringLiteral("-f"), QStringLiteral("-")},
                    silence));
    ASSERT_TRUE(bounce());
    EXPECT_EQ(carries(), std::optional<bool>(false));
    EXPECT_FALSE(notices.ovpn.contains(6)); // openvpn itself has not noticed
    run(QStringLiteral("ip"),
        {QStringLiteral("netns"), QStringLiteral("exec"), s_rig->serverNamespace(),
         QStringLiteral("nft"), QStringLiteral("delete"), QStringLiteral("table"),
         QStringLiteral("inet"), QStringLiteral("kvo_test_silence")});
}
