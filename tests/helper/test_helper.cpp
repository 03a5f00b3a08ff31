// kvo-helper over a private bus: the test runs its own dbus-daemon, answers
// polkit's CheckAuthorization itself (yes, no or challenge) and starts the
// helper on that bus with an install folder holding the fake openvpn.
#include "platform/outsideblock.h"
#include "platform/processlist.h"
#include "platform/prompter.h"
#include "platform/tcpreset.h"
#include "system/netnsscope.h"
#include "tunnel/helperdialup.h"
#include "tunnel/helpertunnel.h"
#include "tunnel/netnsrig.h"
#include "tunnel/ovpnclient.h"
#include "tunnel/ovpnoutput.h"
#include "tunnel/tunnelcommand.h"
#include "tunnel/tunneltestsupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

const QString kHelper = QStringLiteral("org.kvo.Helper1");
const QString kPath = QStringLiteral("/org/kvo/Helper1");
const QString kNotAuthorized = QStringLiteral("org.kvo.Helper1.Error.NotAuthorized");
const QString kNoSuchTunnel = QStringLiteral("org.kvo.Helper1.Error.NoSuchTunnel");
const QString kInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");

bool waitFor(const std::function<bool()> &done, int ms = 10000)
{
    for (int waited = 0; waited < ms; waited += 20) {
        if (done())
            return true;
        QTest::qWait(20);
    }
    return done();
}

// polkit's authority as the helper sees it: answers every
// CheckAuthorization with the scenario's answer and records what it was
// asked.
class StandInAuthority : public QDBusVirtualObject
{
public:
    // Hang: no answer until cancelled; Error: a bus error instead of one.
    enum Answer { Yes, No, Challenge, Hang, Error };
    Answer answer = Yes;
    QStringList actions;
    QStringList subjects; // "kind:name"
    QList<QDBusMessage> held; // the checks not answered (Hang)
    QStringList cancelled; // the cancellation ids of CancelCheckAuthorization

    QString introspect(const QString &) const override { return QString(); }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() == QLatin1String("CancelCheckAuthorization")) {
            const QString id = message.arguments().value(0).toString();
            cancelled.append(id);
            for (qsizetype i = 0; i < held.size(); ++i) {
                if (held.at(i).arguments().at(4).toString() == id) {
                    connection.send(held.takeAt(i).createErrorReply(
                        QStringLiteral("org.freedesktop.PolicyKit1.Error.Cancelled"),
                        QStringLiteral("cancelled")));
                    break;
                }
            }
            connection.send(message.createReply());
            return true;
        }
        if (message.member() != QLatin1String("CheckAuthorization") ||
            message.signature() != QLatin1String("(sa{sv})sa{ss}us"))
            return false;
        const QDBusArgument subject = message.arguments().at(0).value<QDBusArgument>();
        QString kind;
        QVariantMap details;
        subject.beginStructure();
        subject >> kind >> details;
        subject.endStructure();
        subjects.append(kind + QLatin1Char(':') + details.value(QStringLiteral("name")).toString());
        actions.append(message.arguments().at(1).toString());
        if (answer == Hang) {
            held.append(message);
            return true;
        }
        if (answer == Error) {
            connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded"),
                QStringLiteral("full")));
            return true;
        }
        QDBusArgument result;
        result.beginStructure();
        result << (answer == Yes) << (answer == Challenge) << QMap<QString, QString>();
        result.endStructure();
        connection.send(message.createReply(QVariant::fromValue(result)));
        return true;
    }
};

// Every signal that reaches one bus connection.
class SignalLog : public QObject
{
    Q_OBJECT
public:
    QList<QDBusMessage> received;
    QStringList members() const
    {
        QStringList out;
        for (const QDBusMessage &m : received)
            out.append(m.member());
        return out;
    }
public Q_SLOTS:
    void onSignal(const QDBusMessage &m) { received.append(m); }
};

class HelperTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_install = m_dir.filePath(QStringLiteral("install"));
        m_log = m_dir.filePath(QStringLiteral("log"));
        QDir().mkpath(m_install);
        QDir().mkpath(m_log);
        // The install folder: the fake openvpn (it records its command line
        // and input beside itself) and the files openvpn is pointed at.
        ASSERT_TRUE(QFile::link(QStringLiteral(KVO_TUNNEL_FAKES_DIR "/kvo_openvpn"),
                                m_install + QStringLiteral("/kvo_openvpn")));
        for (const char *name : {"client.ovpn", "ca.crt", "cl1.key", "cl1.crt", "stay"})
            writeFile(m_install + QLatin1Char('/') + QLatin1String(name), "client\n");
        writeFile(m_install + u"/KVOService.ini"_s,
                  "[Service]\nResetHostsFirst=127.0.0.1,10.9.9.1\nResetHostsSecond=10.9.9.2\n");
        writeFile(m_install + QStringLiteral("/lines"),
                  "Initialization Sequence Completed\nsecond line\n");
        writeFile(m_install + QStringLiteral("/transcript"), (m_install + u"/lines"_s).toUtf8());

        startBus();
        m_authorityBus = QDBusConnection::connectToBus(m_address, QStringLiteral("authority"));
        ASSERT_TRUE(m_authorityBus.isConnected());
        ASSERT_TRUE(m_authorityBus.registerVirtualObject(
            QStringLiteral("/org/freedesktop/PolicyKit1/Authority"), &m_authority));
        ASSERT_TRUE(m_authorityBus.registerService(QStringLiteral("org.freedesktop.PolicyKit1")));
    }

    void TearDown() override
    {
        for (const QString &name : std::as_const(m_clients))
            QDBusConnection::disconnectFromBus(name);
        QDBusConnection::disconnectFromBus(QStringLiteral("authority"));
        if (m_helper.state() != QProcess::NotRunning) {
            m_helper.terminate();
            m_helper.waitForFinished(5000);
        }
        // The helper's children end with it; make sure before the folder goes.
        waitFor([this] { return openVpnPid() == 0; }, 5000);
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void startBus()
    {
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        writeFile(config,
                  QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/>
    <allow own="*"/>
    <allow receive_sender="*"/>
    <allow user="*"/>
  </policy>
</busconfig>
)")
                      .arg(m_dir.filePath(QStringLiteral("bus")))
                      .toUtf8());
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
        ASSERT_TRUE(m_daemon.waitForStarted(5000)) << "dbus-daemon is not installed";
        ASSERT_TRUE(waitFor([this] { return m_daemon.canReadLine(); }, 5000));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }

    // wrapper: a command the helper runs under (its arguments follow).
    void startHelper(int idleSeconds = 60, const QStringList &wrapper = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"),
                   QStringLiteral(KVO_TUNNEL_FAKES_DIR ":") + env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("KVO_FAKE_LOG"), m_log);
        m_helper.setProcessEnvironment(env);
        m_helper.setProcessChannelMode(QProcess::ForwardedChannels);
        QStringList arguments {QStringLiteral(KVO_HELPER_BIN),
                               QStringLiteral("--bus"),
                               m_address,
                               QStringLiteral("--install-dir"),
                               m_install,
                               QStringLiteral("--idle-seconds"),
                               QString::number(idleSeconds)};
        arguments = wrapper + arguments;
        m_helper.start(arguments.takeFirst(), arguments);
        ASSERT_TRUE(m_helper.waitForStarted(5000));
        QDBusConnection watcher = client(QStringLiteral("watcher"));
        ASSERT_TRUE(
            waitFor([&] { return watcher.interface()->isServiceRegistered(kHelper).value(); }));
    }

    QDBusConnection client(const QString &name)
    {
        if (!m_clients.contains(name))
            m_clients.append(name);
        return QDBusConnection::connectToBus(m_address, name);
    }

    void listen(QDBusConnection &bus, SignalLog *log)
    {
        for (const char *member : {"OpenVpnOutput", "OpenVpnEnded", "LinkStateChanged"})
            ASSERT_TRUE(bus.connect(QString(), kPath, kHelper, QLatin1String(member), log,
                                    SLOT(onSignal(QDBusMessage))));
    }

    // Calls while the event loop runs, so that the authority can answer.
    static QDBusMessage call(QDBusConnection &bus, const QString &member, const QVariantList &args)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(kHelper, kPath, kHelper, member);
        m.setArguments(args);
        return bus.call(m, QDBus::BlockWithGui, 15000);
    }

    static QVariantList startArgs(const QString &server, uint port = 80, uint shaper = 0,
                                  const QString &password = QStringLiteral("kvopass"))
    {
        return {server, port, shaper, QStringLiteral("kvouser"), password};
    }

    // The fake openvpn started from this test's install folder (a script:
    // argv[0] is the shell, argv[1] the script).
    pid_t openVpnPid() const
    {
        for (const ProcessEntry &p : ProcessList::snapshot())
            if (p.arguments.mid(0, 2).contains(m_install + u"/kvo_openvpn"_s) &&
                ProcessList::isRunning(p.pid))
                return p.pid;
        return 0;
    }

    QTemporaryDir m_dir;
    QString m_install;
    QString m_log;
    QProcess m_daemon;
    QProcess m_helper;
    QString m_address;
    QDBusConnection m_authorityBus {QString()};
    StandInAuthority m_authority;
    QStringList m_clients;
};

TEST_F(HelperTest, AuthorisedCallerStartsOpenVpnWithBuiltCommandLineAndOnlyItStopsIt)
{
    startHelper();
    QDBusConnection a = client(QStringLiteral("a"));
    QDBusConnection b = client(QStringLiteral("b"));
    SignalLog logA, logB;
    listen(a, &logA);
    listen(b, &logB);

    const QDBusMessage started =
        call(a, QStringLiteral("StartOpenVpn"),
             startArgs(QStringLiteral("vpn1.example.net"), 1194, 131072, QStringLiteral("pa ss")));
    ASSERT_EQ(started.type(), QDBusMessage::ReplyMessage) << qPrintable(started.errorMessage());
    const uint id = started.arguments().at(0).toUInt();
    EXPECT_EQ(m_authority.actions, QStringList {QStringLiteral("org.kvo.helper.connect")});
    EXPECT_EQ(m_authority.subjects,
              QStringList {QStringLiteral("system-bus-name:") + a.baseService()});

    // The command line is the helper's own: the install folder's files, the
    // credentials on standard input only, scripts off.
    ASSERT_TRUE(waitFor([this] { return QFile::exists(m_install + u"/stdin.out"_s); }));
    ASSERT_TRUE(
        waitFor([&] { return logA.members().count(QStringLiteral("OpenVpnOutput")) == 2; }));
    const QStringList args = QString::fromUtf8(readFile(m_install + u"/args.out"_s))
                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString in = m_install + QLatin1Char('/');
    EXPECT_EQ(args,
              (QStringList {u"--remote"_s,
                            u"vpn1.example.net"_s,
                            u"1194"_s,
                            u"--config"_s,
                            in + u"client.ovpn"_s,
                            u"--ca"_s,
                            in + u"ca.crt"_s,
                            u"--key"_s,
                            in + u"cl1.key"_s,
                            u"--cert"_s,
                            in + u"cl1.crt"_s,
                            u"--auth-user-pass"_s,
                            u"/dev/stdin"_s,
                            u"--reneg-sec"_s,
                            u"0"_s,
                            u"--shaper"_s,
                            u"131072"_s,
                            u"--script-security"_s,
                            u"1"_s,
                            u"--remote-cert-tls"_s,
                            u"server"_s}));
    EXPECT_EQ(readFile(m_install + u"/stdin.out"_s), QByteArray("kvouser\npa ss\n"));
    EXPECT_EQ(logA.received.at(0).arguments(),
              (QVariantList {id, QStringLiteral("Initialization Sequence Completed")}));

    // Another caller can neither stop nor hear it.
    const QDBusMessage foreign = call(b, QStringLiteral("StopOpenVpn"), {id});
    EXPECT_EQ(foreign.errorName(), kNoSuchTunnel);
    QTest::qWait(300);
    EXPECT_NE(openVpnPid(), 0);
    EXPECT_TRUE(logB.received.isEmpty());

    const QDBusMessage stopped = call(a, QStringLiteral("StopOpenVpn"), {id});
    EXPECT_EQ(stopped.type(), QDBusMessage::ReplyMessage) << qPrintable(stopped.errorMessage());
    ASSERT_TRUE(waitFor([&] { return logA.members().contains(QStringLiteral("OpenVpnEnded")); }));
    EXPECT_EQ(openVpnPid(), 0);
    EXPECT_TRUE(logB.received.isEmpty());
}

TEST_F(HelperTest, RefusedCallerChangesNothing)
{
    startHelper();
    QDBusConnection a = client(QStringLiteral("a"));
    for (const auto answer : {StandInAuthority::No, StandInAuthority::Challenge}) {
        m_authority.answer = answer;
        m_authority.actions.clear();
        const QDBusMessage start =
            call(a, QStringLiteral("StartOpenVpn"), startArgs(QStringLiteral("10.200.0.1")));
        EXPECT_EQ(start.errorName(), kNotAuthorized);
        const QDBusMessage dial =
            call(a, QStringLiteral("Dial"),
                 {1u, QStringLiteral("up.example"), QStringLiteral("u"), QStringLiteral("p")});
        EXPECT_EQ(dial.errorName(), kNotAuthorized);
        EXPECT_EQ(call(a, QStringLiteral("TunDeviceAvailable"), {}).errorName(), kNotAuthorized);
        const QDBusMessage reset = call(a, QStringLiteral("ResetConnections"),
                                        {QStringList {QStringLiteral("127.0.0.1")}, 443u});
        EXPECT_EQ(reset.errorName(), kNotAuthorized);
        EXPECT_EQ(
            m_authority.actions,
            (QStringList {u"org.kvo.helper.connect"_s, u"org.kvo.helper.connect"_s,
                          u"org.kvo.helper.connect"_s, u"org.kvo.helper.reset-connections"_s}));
    }
    QTest::qWait(300);
    EXPECT_FALSE(QFile::exists(m_install + u"/args.out"_s));
    EXPECT_FALSE(QFile::exists(m_log + u"/pppd.args"_s));
    EXPECT_EQ(openVpnPid(), 0);
}

TEST_F(HelperTest, BadValuesAreRefusedBeforeAnythingIsAskedOrStarted)
{
    startHelper();
    QDBusConnection a = client(QStringLiteral("a"));
    const QString user = QStringLiteral("kvouser");
    const struct
    {
        const char *member;
        QVariantList args;
    } cases[] = {
        {"StartOpenVpn", startArgs(QStringLiteral("10.0.0.1 --up /tmp/x"))},
        {"StartOpenVpn", startArgs(QStringLiteral("vpn\".example"))},
        {"StartOpenVpn", startArgs(QStringLiteral("/etc/passwd"))},
        {"StartOpenVpn", startArgs(QStringLiteral("--config"))},
        {"StartOpenVpn", startArgs(QString())},
        {"StartOpenVpn", startArgs(QStringLiteral("10.0.0.1"), 0)},
        {"StartOpenVpn", startArgs(QStringLiteral("10.0.0.1"), 65536)},
        {"StartOpenVpn", startArgs(QStringLiteral("10.0.0.1"), 80, 99)},
        {"StartOpenVpn", startArgs(QStringLiteral("10.0.0.1"), 80, 100000001)},
        {"StartOpenVpn",
         startArgs(QStringLiteral("10.0.0.1"), 80, 0, QStringLiteral("p\nauth-nocache"))},
        {"StartOpenVpn", {QStringLiteral("10.0.0.1"), QStringLiteral("80"), 0u, user, user}},
        {"Dial", {2u, QStringLiteral("up.example"), user, user}},
        {"Dial", {1u, QStringLiteral("up.example; reboot"), user, user}},
        {"Dial", {1u, QStringLiteral("up.example"), user, QString()}},
        {"Dial", {3u, QStringLiteral("up.example"), QString(), user}},
        {"ResetConnections", {QStringList {QStringLiteral("example.com")}, 443u}},
        {"ResetConnections", {QStringList {QStringLiteral("127.0.0.1")}, 0u}},
        {"ResetConnections", {QStringList {QStringLiteral("127.0.0.1")}, 4443u}},
        {"ResetConnections", {QStringList {QStringLiteral("127.0.0.2")}, 443u}},
        {"SetTunnelDns", {u"tun0\n"_s, QStringList {u"10.8.0.1"_s}, QStringList {}}},
        {"SetTunnelDns",
         {u"tun0"_s, QStringList {u"10.8.0.1\nnameserver 6.6.6.6"_s}, QStringList {}}},
        {"SetTunnelDns",
         {u"tun0"_s, QStringList {u"10.8.0.1"_s}, QStringList {u"a.test; reboot"_s}}},
        {"SetTunnelDns", {u"tun0"_s, QStringList {}, QStringList {}}},
        {"BlockIpv6", {u"tun0\" accept"_s}},
        {"BlockIpv6", {QString()}},
    };
    for (const auto &c : cases) {
        const QDBusMessage reply = call(a, QLatin1String(c.member), c.args);
        EXPECT_EQ(reply.errorName(), kInvalidArgs)
            << c.member << " " << qPrintable(c.args.value(0).toString());
    }
    EXPECT_TRUE(m_authority.actions.isEmpty());
    QTest::qWait(300);
    EXPECT_FALSE(QFile::exists(m_install + u"/args.out"_s));
    EXPECT_FALSE(QFile::exists(m_log + u"/pppd.args"_s));
}

// Only a client's directives start openvpn as root, read as openvpn reads
// them (quotes, a leading "--", comments, inline files).
TEST_F(HelperTest, InstalledConfigurationWithOtherDirectivesIsNotStarted)
{
    startHelper();
    QDBusConnection a = client(QStringLiteral("a"));
    const struct
    {
        const char *text;
        bool starts;
    } cases[] = {
        {"up /tmp/x.sh\n", false},
        {"plugin /tmp/x.so\n", false},
        {"  --down /tmp/x.sh\n", false},
        {"\"plugin\" /tmp/x.so\n", false},
        {"'up' /tmp/x.sh\n", false},
        {"p\\lugin /tmp/x.so\n", false},
        {"config /tmp/other.conf\n", false},
        {"iproute /tmp/ip\n", false},
        {"log /tmp/kvo.log\n", false},
        {"setenv opt up /tmp/x.sh\n", false},
        {"management 127.0.0.1 7505\n", false},
        {"<connection>\nremote 10.0.0.1\n</connection>\n", false},
        {"# up /tmp/x.sh\n; plugin /tmp/x.so\n", true},
        {"<ca>\nup /tmp/x.sh\n</ca>\nremote-cert-tls server\n", true},
        {"proto tcp-client\nnobind\n\"verb\" 3\n--persist-key\n", true},
    };
    for (const auto &c : cases) {
        QFile::remove(m_install + u"/args.out"_s);
        writeFile(m_install + u"/client.ovpn"_s, QByteArray("client\ndev tun\n") + c.text);
        const QDBusMessage reply =
            call(a, QStringLiteral("StartOpenVpn"), startArgs(QStringLiteral("10.200.0.1")));
        if (c.starts) {
            EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << c.text;
            EXPECT_TRUE(waitFor([&] { return QFile::exists(m_install + u"/args.out"_s); }))
                << c.text;
            call(a, QStringLiteral("StopOpenVpn"), {reply.arguments().value(0)});
            EXPECT_TRUE(waitFor([&] { return openVpnPid() == 0; })) << c.text;
        } else {
            EXPECT_EQ(reply.errorName(), u"org.kvo.Helper1.Error.Failed"_s) << c.text;
            QTest::qWait(100);
            EXPECT_FALSE(QFile::exists(m_install + u"/args.out"_s)) << c.text;
        }
    }
}

// Four tunnels per user, over all of its bus connections (one user's ten
// connections would otherwise hold forty root openvpns); a stop frees one.
// Repeated stops of one tunnel do nothing more than the first: the helper's
// descriptors stay where they were while openvpn takes its time to end.
TEST_F(HelperTest, OneUserHoldsAtMostFourTunnelsAndRepeatedStopsCostNothing)
{
    startHelper();
    QDBusConnection a = client(QStringLiteral("a"));
    QDBusConnection b = client(QStringLiteral("b"));
    const QVariantList args = startArgs(QStringLiteral("10.200.0.1"));
    writeFile(m_install + u"/ignore-term"_s, ""); // each stop takes the whole grace
    QVariantList ids;
    for (int i = 0; i < 3; ++i) {
        const QDBusMessage started = call(a, QStringLiteral("StartOpenVpn"), args);
        EXPECT_EQ(started.type(), QDBusMessage::ReplyMessage);
        ids.append(started.arguments().value(0));
    }
    EXPECT_EQ(call(b, QStringLiteral("StartOpenVpn"), args).type(), QDBusMessage::ReplyMessage);
    for (QDBusConnection *bus : {&a, &b}) {
        const QDBusMessage refused = call(*bus, QStringLiteral("StartOpenVpn"), args);
        EXPECT_EQ(refused.errorName(), u"org.kvo.Helper1.Error.Failed"_s);
        EXPECT_EQ(refused.errorMessage(), u"too many tunnels for this user"_s);
    }

    auto descriptors = [this] {
        return QDir(u"/proc/%1/fd"_s.arg(m_helper.processId()))
            .entryList(QDir::NoDotAndDotDot | QDir::System)
            .size();
    };
    const qsizetype before = descriptors();
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(call(a, QStringLiteral("StopOpenVpn"), {ids.at(0)}).type(),
                  QDBusMessage::ReplyMessage);
    EXPECT_LE(descriptors(), before + 2);
    // Ended after the grace: its place is free again.
    EXPECT_TRUE(waitFor([&] {
        return call(b, QStringLiteral("StartOpenVpn"), args).type() == QDBusMessage::ReplyMessage;
    }));
}

TEST_F(HelperTest, CallerThatLeavesHasItsTunnelEnded)
{
    startHelper();
    {
        QDBusConnection a = client(QStringLiteral("a"));
        const QDBusMessage started =
            call(a, QStringLiteral("StartOpenVpn"), startArgs(QStringLiteral("10.200.0.1")));
        ASSERT_EQ(started.type(), QDBusMessage::ReplyMessage) << qPrintable(started.errorMessage());
    }
    ASSERT_TRUE(waitFor([this] { return openVpnPid() != 0; }));
    QDBusConnection::disconnectFromBus(QStringLiteral("a"));
    EXPECT_TRUE(waitFor([this] { return openVpnPid() == 0; }));
    EXPECT_EQ(m_helper.state(), QProcess::Running);
}

TEST_F(HelperTest, LeavesAfterQuietTimeOnlyWithNothingToManage)
{
    startHelper(1);
    QDBusConnection a = client(QStringLiteral("a"));
    const QDBusMessage started =
        call(a, QStringLiteral("StartOpenVpn"), startArgs(QStringLiteral("10.200.0.1")));
    ASSERT_EQ(started.type(), QDBusMessage::ReplyMessage) << qPrintable(started.errorMessage());
    // Three quiet times with a tunnel up: it stays.
    QTest::qWait(3000);
    ASSERT_EQ(m_helper.state(), QProcess::Running)
        << "helper ended: " << m_helper.exitCode() << " " << int(m_helper.exitStatus());
    EXPECT_NE(openVpnPid(), 0);
    call(a, QStringLiteral("StopOpenVpn"), {started.arguments().at(0)});
    EXPECT_TRUE(m_helper.waitForFinished(10000));
    EXPECT_EQ(m_helper.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_helper.exitCode(), 0);
}

TEST_F(HelperTest, DialUsesTheFixedEntryAndReportsTheLinkToItsOwner)
{
    startHelper();
    QDBusConnection a = client(QStringLiteral("a"));
    QDBusConnection b = client(QStringLiteral("b"));
    SignalLog logA;
    listen(a, &logA);
    const QDBusMessage dialled = call(
        a, QStringLiteral("Dial"),
        {1u, QStringLiteral("up.example"), QStringLiteral("kvouser"), QStringLiteral("kvo pass")});
    ASSERT_EQ(dialled.type(), QDBusMessage::ReplyMessage) << qPrintable(dialled.errorMessage());
    ASSERT_EQ(dialled.arguments().at(0).toUInt(), 0u);
    const uint link = dialled.arguments().at(1).toUInt();
    ASSERT_TRUE(waitFor([&] {
        for (const QDBusMessage &m : logA.received)
            if (m.arguments().value(1).toInt() == 0x2000)
                return true;
        return false;
    }));
    // The credentials are in the 0600 options file, not on pppd's command line.
    const QByteArray args = readFile(m_log + u"/pppd.args"_s);
    EXPECT_TRUE(args.contains("KVO"));
    EXPECT_FALSE(args.contains("kvo pass"));
    EXPECT_EQ(readFile(m_log + u"/pppd.optmode"_s).trimmed(), QByteArray("600"));
    EXPECT_TRUE(readFile(m_log + u"/pppd.options"_s).contains("kvo pass"));

    const QDBusMessage address = call(a, QStringLiteral("LinkAddress"), {link});
    EXPECT_EQ(address.arguments(), (QVariantList {0u, QStringLiteral("10.7.0.5")}));
    EXPECT_EQ(call(b, QStringLiteral("LinkAddress"), {link}).errorName(), kNoSuchTunnel);
    EXPECT_EQ(call(b, QStringLiteral("HangUp"), {link}).errorName(), kNoSuchTunnel);

    EXPECT_EQ(call(a, QStringLiteral("HangUp"), {link}).arguments(), QVariantList {0u});
    ASSERT_TRUE(waitFor([&] {
        const QDBusMessage s = call(a, QStringLiteral("LinkStatus"), {link});
        return s.errorName() == kNoSuchTunnel || s.arguments().value(0).toUInt() == 6u;
    }));
}

TEST_F(HelperTest, StoppedHelperHangsUpItsLinks)
{
    startHelper();
    QDBusConnection a = client(QStringLiteral("a"));
    const QDBusMessage dialled = call(
        a, QStringLiteral("Dial"),
        {1u, QStringLiteral("up.example"), QStringLiteral("kvouser"), QStringLiteral("kvopass")});
    ASSERT_EQ(dialled.arguments().value(0).toUInt(), 0u) << qPrintable(dialled.errorMessage());
    ASSERT_TRUE(waitFor([this] { return QFile::exists(m_log + u"/pppd.pid"_s); }));
    const pid_t pppd = pid_t(readFile(m_log + u"/pppd.pid"_s).trimmed().toInt());
    ASSERT_TRUE(ProcessList::isRunning(pppd));
    m_helper.terminate();
    ASSERT_TRUE(m_helper.waitForFinished(10000));
    EXPECT_TRUE(waitFor([pppd] { return !ProcessList::isRunning(pppd); }));
}

// The client's dial-up layer over the helper: the same states, address,
// connection list and end notice as the local layer, from a user's process.
TEST_F(HelperTest, HelperDialUpDialsThroughTheHelper)
{
    EXPECT_FALSE(HelperDialUp::available(client(QStringLiteral("a"))));
    startHelper();
    EXPECT_TRUE(HelperDialUp::available(client(QStringLiteral("a"))));
    HelperDialUp dialUp(client(QStringLiteral("a")));
    const QString book = m_dir.filePath(QStringLiteral("KVORasEntry"));
    const QString entry = TunnelCommand::dialEntryName();
    ASSERT_EQ(dialUp.setEntryProperties(book, entry,
                                        TunnelCommand::dialEntry(1, QStringLiteral("up.example"))),
              0u);
    QList<int> states;
    Ras::Handle handle = 0;
    ASSERT_EQ(dialUp.dial(
                  book, {entry, QStringLiteral("kvouser"), QStringLiteral("kvo pass")},
                  [&](int state, unsigned error) {
                      EXPECT_EQ(error, 0u);
                      states.append(state);
                  },
                  &handle),
              0u);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(waitFor([&] { return states.contains(Ras::Connected); }));
    EXPECT_EQ(states.first(), int(Ras::PortOpened));
    QString address;
    EXPECT_EQ(dialUp.getProjectedIp(handle, &address), 0u);
    EXPECT_EQ(address, u"10.7.0.5"_s);
    QString protection;
    EXPECT_EQ(dialUp.getProtection(handle, &protection), 0u);
    EXPECT_EQ(protection, u"MPPE 128-bit stateless"_s);
    QStringList dns;
    EXPECT_EQ(dialUp.getPeerDns(handle, &dns), 0u);
    EXPECT_EQ(dns, QStringList {u"10.7.0.53"_s});
    QList<Ras::Connection> connections;
    int count = 0;
    EXPECT_EQ(dialUp.enumConnections(&connections, 20, &count), 0u);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(connections.at(0).entryName, entry);
    EXPECT_FALSE(readFile(m_log + u"/pppd.args"_s).contains("kvo pass"));

    auto gone = std::make_shared<AutoResetEvent>();
    EXPECT_EQ(dialUp.notifyOnDisconnection(handle, gone), 0u);
    EXPECT_EQ(dialUp.hangUp(handle), 0u);
    EXPECT_TRUE(waitFor([&] { return gone->waitFor(0) == AutoResetEvent::Signalled; }));
    EXPECT_EQ(dialUp.enumConnections(&connections, 20, &count), 0u);
    EXPECT_EQ(count, 0);
    Ras::ConnStatus status;
    EXPECT_EQ(dialUp.getConnectStatus(handle, &status), unsigned(Ras::InvalidHandle));
    EXPECT_EQ(dialUp.getProtection(handle, &protection), unsigned(Ras::InvalidHandle));
    EXPECT_EQ(dialUp.getPeerDns(handle, &dns), unsigned(Ras::InvalidHandle));
}

// Only the caller's own HTTPS connections to a listed host are dropped:
// another user's stays.
TEST_F(HelperTest, ResetConnectionsDropsOnlyTheCallersListedConnections)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "SOCK_DESTROY and port 443 need root";
    startHelper();
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(443);
    if (::bind(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        GTEST_SKIP() << "127.0.0.1:443 is taken";
    ASSERT_EQ(::listen(server, 4), 0);

    // Another user's connection, held by a child as nobody.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t other = ::fork();
    if (other == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(1);
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
            ::_exit(1);
        (void)!::write(ready[1], "c", 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    sockaddr_in otherPeer {};
    socklen_t len = sizeof otherPeer;
    const int otherAccepted = ::accept(server, reinterpret_cast<sockaddr *>(&otherPeer), &len);
    const int own = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(own, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    const int ownAccepted = ::accept(server, nullptr, nullptr);

    QDBusConnection a = client(QStringLiteral("a"));
    const QDBusMessage reply = call(a, QStringLiteral("ResetConnections"),
                                    {QStringList {QStringLiteral("127.0.0.1")}, 443u});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
    EXPECT_EQ(m_authority.actions,
              QStringList {QStringLiteral("org.kvo.helper.reset-connections")});
    EXPECT_EQ(reply.arguments().at(0).toInt(), 1);
    char byte = 0;
    EXPECT_LT(::send(own, &byte, 1, MSG_NOSIGNAL), 0);
    bool otherStays = false;
    for (const TcpReset::Connection &conn : TcpReset::establishedConnections())
        otherStays |= conn.remotePort == 443 && conn.localPort == ntohs(otherPeer.sin_port);
    EXPECT_TRUE(otherStays) << "another user's connection was dropped";
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    for (int fd : {ownAccepted, own, otherAccepted, server})
        ::close(fd);
}

// OvpnClient over the helper's runner and over its own child, fed the same
// transcripts: the same events reach the main window, the same address is
// taken, openvpn gets the same command line (the helper's with
// "--script-security 1" after it) and the credentials on its standard input
// only; a stop ends the child also when it ignores SIGTERM, and the end is
// posted once it has been reaped.
TEST_F(HelperTest, OvpnClientThroughTheHelperPostsWhatItsOwnChildPosts)
{
    startHelper();
    QDBusConnection bus = client(QStringLiteral("driver"));
    QByteArray upTo;
    for (const QByteArray &l :
         readFile(QStringLiteral(KVO_TEST_DATA_DIR "/openvpn/up-then-sigterm.log")).split('\n')) {
        upTo += l + '\n';
        if (l.contains("Initialization Sequence Completed"))
            break;
    }
    writeFile(m_install + u"/up.log"_s, upTo);

    struct Scenario
    {
        const char *name;
        QString transcript;
        bool stay; // runs until stopped
        bool ignoreTerm;
    };
    const QString data = QStringLiteral(KVO_TEST_DATA_DIR "/openvpn/");
    const Scenario scenarios[] = {
        {"up, then Disconnect", m_install + u"/up.log"_s, true, false},
        {"refused credentials", data + u"auth-failed.log"_s, false, false},
        {"up, then ended by itself", data + u"up-then-sigterm.log"_s, false, false},
        {"server restart, then ended", data + u"server-restart-then-sigterm.log"_s, false, false},
        {"up, SIGTERM ignored, then Disconnect", m_install + u"/up.log"_s, true, true},
    };
    struct Outcome
    {
        QList<int> events;
        QString address;
        QStringList args;
        QByteArray input;
    };
    const QByteArray oldHome = qgetenv("KVO_HOME");
    // The direct run reads the same folder the helper is pointed at.
    qputenv("KVO_HOME", m_install.toUtf8());
    for (const Scenario &sc : scenarios) {
        SCOPED_TRACE(sc.name);
        writeFile(m_install + u"/transcript"_s, sc.transcript.toUtf8());
        QFile::remove(m_install + u"/stay"_s);
        QFile::remove(m_install + u"/ignore-term"_s);
        if (sc.stay)
            writeFile(m_install + u"/stay"_s, {});
        if (sc.ignoreTerm)
            writeFile(m_install + u"/ignore-term"_s, {});
        auto run = [&](OvpnProcessFactory processes) {
            QFile::remove(m_install + u"/args.out"_s);
            QFile::remove(m_install + u"/stdin.out"_s);
            ScriptedPrompter prompter;
            // Any node that opens stands for the tun device.
            TapAdapter tap(nullptr, QStringLiteral("web.test"), m_install + u"/client.ovpn"_s);
            TunnelNotifier notifier;
            NoticeLog notices(notifier);
            OvpnClient driver(
                prompter, tap, [](const QString &) { return QStringLiteral("8"); }, processes);
            EXPECT_EQ(driver.Connect(&notifier, QStringLiteral("kvouser"),
                                     QStringLiteral("p@ss word"), QStringLiteral("10.200.0.1")),
                      0);
            if (sc.stay) {
                EXPECT_TRUE(waitFor([&] { return notices.ovpn.contains(5); }));
                EXPECT_TRUE(driver.running());
                driver.Disconnect();
            }
            EXPECT_TRUE(waitFor([&] { return !driver.running(); }));
            // Whatever is still queued.
            QTest::qWait(100);
            EXPECT_EQ(openVpnPid(), 0);
            return Outcome {notices.ovpn, driver.GetAssignedIp(),
                            QString::fromUtf8(readFile(m_install + u"/args.out"_s))
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                            readFile(m_install + u"/stdin.out"_s)};
        };
        const Outcome direct = run({});
        const Outcome helper =
            run([&bus](QObject *owner) { return new HelperOvpnProcess(bus, owner); });
        EXPECT_FALSE(direct.events.isEmpty());
        EXPECT_EQ(helper.events, direct.events);
        EXPECT_EQ(helper.address, direct.address);
        EXPECT_EQ(
            helper.args,
            (direct.args +
             QStringList {u"--script-security"_s, u"1"_s, u"--remote-cert-tls"_s, u"server"_s}));
        EXPECT_EQ(helper.input, QByteArray("kvouser\np@ss word\n"));
        EXPECT_EQ(helper.input, direct.input);
    }

    // A refused start: 13, nothing runs, nothing is posted.
    m_authority.answer = StandInAuthority::No;
    QFile::remove(m_install + u"/args.out"_s);
    ScriptedPrompter prompter;
    TapAdapter tap(nullptr, QStringLiteral("web.test"), m_install + u"/client.ovpn"_s);
    TunnelNotifier notifier;
    NoticeLog notices(notifier);
    OvpnClient driver(prompter, tap, {},
                      [&bus](QObject *owner) { return new HelperOvpnProcess(bus, owner); });
    EXPECT_EQ(driver.Connect(&notifier, QStringLiteral("kvouser"), QStringLiteral("p"),
                             QStringLiteral("10.200.0.1")),
              13);
    EXPECT_FALSE(driver.running());
    QTest::qWait(100);
    EXPECT_TRUE(notices.ovpn.isEmpty());
    EXPECT_FALSE(QFile::exists(m_install + u"/args.out"_s));
    if (oldHome.isEmpty())
        qunsetenv("KVO_HOME");
    else
        qputenv("KVO_HOME", oldHome);
}

// The tun check asked of the helper, and the two reset passes after a
// switch carried out by it, each with its own list of hosts.
TEST_F(HelperTest, TunCheckAndResetPassesGoThroughTheHelper)
{
    startHelper();
    QDBusConnection bus = client(QStringLiteral("a"));
    TapAdapter tap(nullptr, QStringLiteral("web.test"), m_dir.filePath(u"no-such-node"_s));
    tap.setDeviceCheck([&bus] { return HelperBus::tunDeviceAvailable(bus); });
    const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    const bool helperCanOpen = fd >= 0 && ::geteuid() == 0; // the helper runs as we do
    if (fd >= 0)
        ::close(fd);
    EXPECT_EQ(tap.find(), helperCanOpen);
    m_authority.answer = StandInAuthority::No;
    EXPECT_FALSE(tap.find());
    m_authority.answer = StandInAuthority::Yes;

    if (::geteuid() != 0)
        GTEST_SKIP() << "SOCK_DESTROY and port 443 need root";
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(443);
    if (::bind(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(server);
        GTEST_SKIP() << "127.0.0.1:443 is taken";
    }
    ASSERT_EQ(::listen(server, 4), 0);
    struct Pass
    {
        QStringList first, second;
        bool secondPass;
    };
    // 127.0.0.1 is a reset host of the installed KVOService.ini; 10.9.9.1
    // is one too, but no connection goes there.
    const Pass passes[] = {
        {{u"127.0.0.1"_s}, {u"10.9.9.2"_s}, false},
        {{u"10.9.9.1"_s}, {u"127.0.0.1"_s}, true},
    };
    for (const Pass &pass : passes) {
        SCOPED_TRACE(pass.secondPass ? "second pass" : "first pass");
        const int clientFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::connect(clientFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        const int accepted = ::accept(server, nullptr, nullptr);
        // The other pass, over hosts this connection does not go to, first:
        // it must leave the connection alone.
        HelperTcpResetter resetter(bus, pass.first, pass.second);
        const qsizetype asked = m_authority.actions.size();
        if (pass.secondPass)
            resetter.firstPass();
        else
            resetter.secondPass();
        ASSERT_TRUE(waitFor([&] { return m_authority.actions.size() > asked; }));
        // A round trip after the helper's work.
        call(bus, QStringLiteral("TunDeviceAvailable"), {});
        char byte = 0;
        EXPECT_EQ(::send(clientFd, &byte, 1, MSG_NOSIGNAL), 1);
        if (pass.secondPass)
            resetter.secondPass();
        else
            resetter.firstPass();
        EXPECT_TRUE(waitFor([&] { return ::send(clientFd, &byte, 1, MSG_NOSIGNAL) < 0; }));
        ::close(accepted);
        ::close(clientFd);
    }
    ::close(server);
}

// The real openvpn 2.6 started by the helper in the rig's client namespace:
// the helper's command line (with --script-security 1 after the
// configuration) brings the tunnel up, and the caller's leaving ends it.
TEST_F(HelperTest, RealOpenVpnThroughTheHelperComesUpAndEndsWhenTheCallerLeaves)
{
    const QString why = NetnsRig::unavailableReason();
    if (!why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    NetnsRig rig;
    QString error;
    ASSERT_TRUE(rig.up(&error)) << error.toStdString();
    ASSERT_TRUE(rig.installClientFiles(m_install));
    ASSERT_TRUE(rig.enterClientNamespace());
    startHelper(); // forked from this thread: in the client namespace
    rig.leaveClientNamespace();

    {
        QDBusConnection a = client(QStringLiteral("a"));
        SignalLog log;
        listen(a, &log);
        const QDBusMessage started =
            call(a, QStringLiteral("StartOpenVpn"), startArgs(rig.serverAddress()));
        ASSERT_EQ(started.type(), QDBusMessage::ReplyMessage) << qPrintable(started.errorMessage());
        QString address;
        const bool up = waitFor(
            [&] {
                for (const QDBusMessage &m : log.received) {
                    const QString line = m.arguments().value(1).toString();
                    OvpnOutput::assignedAddress(line, &address);
                    if (line.contains(QLatin1String("Initialization Sequence Completed")))
                        return true;
                }
                return false;
            },
            30000);
        ASSERT_TRUE(up) << qPrintable(log.members().join(QLatin1Char(' ')));
        EXPECT_TRUE(address.startsWith(QLatin1String("10."))) << qPrintable(address);
        EXPECT_NE(openVpnPid(), 0);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("a"));
    EXPECT_TRUE(waitFor([this] { return openVpnPid() == 0; }));
}

// Whether the outside block drops a datagram to address:9 (the output
// chain's drop fails it at once with EPERM), from the calling thread's
// namespace.
bool blockedTo(const char *address)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    ::inet_pton(AF_INET, address, &to.sin_addr);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool blocked =
        ::sendto(fd, "x", 1, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0 && errno == EPERM;
    ::close(fd);
    return blocked;
}

// The outside block through the helper, in a namespace of its own (the
// helper and its nft run there): only checked values are taken, the table
// belongs to its caller, a leftover table goes at the helper's start, and
// the caller's leaving the bus removes the table.
// Only the caller's own tunnel gets the DNS; the machine's resolver is not
// touched for an interface it does not hold.
TEST_F(HelperTest, TunnelDnsOnlyForTheCallersOwnTunnel)
{
    startHelper();
    QDBusConnection a = client(QStringLiteral("a"));
    QFile conf(u"/etc/resolv.conf"_s);
    const QByteArray before = conf.open(QIODevice::ReadOnly) ? conf.readAll() : QByteArray();
    conf.close();
    for (const QString &iface : {u"lo"_s, u"tun0"_s}) {
        const QDBusMessage reply =
            call(a, u"SetTunnelDns"_s, {iface, QStringList {u"10.8.0.1"_s}, QStringList {}});
        EXPECT_EQ(reply.errorName(), u"org.kvo.Helper1.Error.NoSuchTunnel"_s) << qPrintable(iface);
    }
    EXPECT_EQ(call(a, u"RevertTunnelDns"_s, {}).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
    EXPECT_EQ(conf.readAll(), before);
    EXPECT_FALSE(QFile::exists(u"/etc/resolv.conf.kvo-saved"_s));
}

TEST_F(HelperTest, OutsideBlockBelongsToItsCallerAndGoesWhenItLeaves)
{
    if (::geteuid() != 0 || OutsideBlock::nftProgram().isEmpty())
        GTEST_SKIP() << "needs root and nft";
    NetnsScope ns;
    ASSERT_TRUE(ns.made());
    ASSERT_TRUE(ns.in({u"link"_s, u"add"_s, u"kvlan0"_s, u"type"_s, u"veth"_s, u"peer"_s, u"name"_s,
                       u"kvlan1"_s}));
    ASSERT_TRUE(ns.in({u"link"_s, u"set"_s, u"kvlan1"_s, u"up"_s}));
    ASSERT_TRUE(ns.in({u"addr"_s, u"add"_s, u"10.77.0.2/24"_s, u"dev"_s, u"kvlan0"_s}));
    ASSERT_TRUE(ns.in({u"link"_s, u"set"_s, u"kvlan0"_s, u"up"_s}));
    auto inNs = [&](const std::function<bool()> &f) {
        ns.enter();
        const bool r = f();
        ns.leave();
        return r;
    };
    // A table left by a helper that did not end in order.
    QString error;
    ASSERT_TRUE(inNs([&] { return OutsideBlock::install(u"tun9"_s, {u"10.77.0.3"_s}, &error); }))
        << error.toStdString();
    ASSERT_TRUE(inNs([] { return blockedTo("10.77.0.1"); }));
    ns.enter();
    startHelper();
    ns.leave();
    EXPECT_TRUE(waitFor([&] { return inNs([] { return !OutsideBlock::installed(); }); }));

    {
        QDBusConnection a = client(QStringLiteral("a"));
        QDBusConnection b = client(QStringLiteral("b"));
        for (const QVariantList &bad :
             {QVariantList {u"tun0\" accept"_s, QStringList {u"10.77.0.3"_s}},
              QVariantList {u"tun0"_s, QStringList {u"vpn.example.net"_s}},
              QVariantList {u"tun0"_s, QStringList {}}}) {
            EXPECT_EQ(call(a, u"BlockOutside"_s, bad).errorName(),
                      u"org.freedesktop.DBus.Error.InvalidArgs"_s);
        }
        EXPECT_FALSE(inNs([] { return OutsideBlock::installed(); }));

        const QDBusMessage blocked =
            call(a, u"BlockOutside"_s, {u"tun0"_s, QStringList {u"10.77.0.3"_s}});
        ASSERT_EQ(blocked.type(), QDBusMessage::ReplyMessage) << qPrintable(blocked.errorMessage());
        EXPECT_TRUE(inNs([] { return blockedTo("10.77.0.1"); }));
        EXPECT_FALSE(inNs([] { return blockedTo("10.77.0.3"); }));
        EXPECT_FALSE(inNs([] { return blockedTo("127.0.0.1"); }));
        // Another client neither lifts nor replaces it.
        EXPECT_EQ(call(b, u"Unblock"_s, {}).errorName(), u"org.kvo.Helper1.Error.NoSuchTunnel"_s);
        EXPECT_TRUE(inNs([] { return blockedTo("10.77.0.1"); }));
        // Its owner lifts it, and sets it again.
        EXPECT_EQ(call(a, u"Unblock"_s, {}).type(), QDBusMessage::ReplyMessage);
        EXPECT_FALSE(inNs([] { return blockedTo("10.77.0.1"); }));
        ASSERT_EQ(call(a, u"BlockOutside"_s, {u"tun0"_s, QStringList {u"10.77.0.3"_s}}).type(),
                  QDBusMessage::ReplyMessage);
        EXPECT_TRUE(inNs([] { return blockedTo("10.77.0.1"); }));
    }

    // The client goes without a word: the helper removes the table.
    QDBusConnection::disconnectFromBus(QStringLiteral("a"));
    EXPECT_TRUE(waitFor([&] { return inNs([] { return !OutsideBlock::installed(); }); }));
    EXPECT_FALSE(inNs([] { return blockedTo("10.77.0.1"); }));
    EXPECT_EQ(m_helper.state(), QProcess::Running);
}

// Sends a call and does not wait for its answer.
void sendOnly(QDBusConnection &bus, const QString &member, const QVariantList &args)
{
    QDBusMessage m = QDBusMessage::createMethodCall(kHelper, kPath, kHelper, member);
    m.setArguments(args);
    bus.send(m);
}

// A caller that floods the helper with checks polkit never answers (an
// authentication agent that never replies) gets two asked and the rest
// refused at once; another caller is still asked and answered; the flood's
// checks are cancelled at polkit when it leaves. An error instead of
// polkit's answer is reported as a failure, not as a refusal.
TEST_F(HelperTest, PendingChecksAreCappedPerCallerAndCancelledWhenItLeaves)
{
    startHelper();
    m_authority.answer = StandInAuthority::Hang;
    {
        QDBusConnection attacker = client(u"attacker"_s);
        QList<QDBusPendingCall> flood;
        for (int i = 0; i < 100; ++i) {
            QDBusMessage m =
                QDBusMessage::createMethodCall(kHelper, kPath, kHelper, u"TunDeviceAvailable"_s);
            m.setInteractiveAuthorizationAllowed(true);
            flood.append(attacker.asyncCall(m, 60000));
        }
        ASSERT_TRUE(waitFor([&] {
            return std::count_if(flood.begin(), flood.end(),
                                 [](const QDBusPendingCall &c) { return c.isFinished(); }) == 98;
        }));
        for (const QDBusPendingCall &c : flood) {
            if (c.isFinished()) {
                EXPECT_EQ(c.error().name(), u"org.kvo.Helper1.Error.Failed"_s);
            }
        }
        // The two asked reach polkit in their own time.
        ASSERT_TRUE(waitFor([&] { return m_authority.held.size() == 2; }));
        QTest::qWait(100);
        EXPECT_EQ(m_authority.held.size(), 2);
    }
    m_authority.answer = StandInAuthority::Yes;
    QDBusConnection other = client(u"other"_s);
    EXPECT_EQ(call(other, u"TunDeviceAvailable"_s, {}).type(), QDBusMessage::ReplyMessage);

    QStringList heldIds;
    for (const QDBusMessage &m : std::as_const(m_authority.held))
        heldIds.append(m.arguments().at(4).toString());
    EXPECT_FALSE(heldIds.contains(QString())); // a cancellation id each
    QDBusConnection::disconnectFromBus(u"attacker"_s);
    ASSERT_TRUE(waitFor([&] { return m_authority.cancelled.size() == 2; }));
    EXPECT_EQ(QSet<QString>(m_authority.cancelled.begin(), m_authority.cancelled.end()),
              QSet<QString>(heldIds.begin(), heldIds.end()));
    EXPECT_TRUE(m_authority.held.isEmpty());

    m_authority.answer = StandInAuthority::Error;
    EXPECT_EQ(call(other, u"TunDeviceAvailable"_s, {}).errorName(),
              u"org.kvo.Helper1.Error.Failed"_s);
}

// A caller that leaves while the helper carries out its call is seen to
// leave: what the call set up is undone, and the helper, with nothing left,
// leaves when idle. The helper is held in the middle of the call: here by
// the installed client.ovpn, a pipe it reads before it starts openvpn.
TEST_F(HelperTest, ACallerThatLeavesDuringStartOpenVpnLeavesNoTunnel)
{
    const QString config = m_install + u"/client.ovpn"_s;
    QFile::remove(config);
    ASSERT_EQ(::mkfifo(QFile::encodeName(config).constData(), 0644), 0);
    startHelper(1);
    const QString caller = [&] {
        QDBusConnection a = client(u"a"_s);
        sendOnly(a, u"StartOpenVpn"_s, startArgs(u"10.0.0.1"_s));
        return a.baseService();
    }();
    // polkit has said yes; the helper checks the caller and waits in the
    // configuration's open until something writes to it.
    ASSERT_TRUE(waitFor([&] { return m_authority.actions.size() == 1; }));
    QTest::qWait(300);
    QDBusConnection::disconnectFromBus(u"a"_s);
    QDBusConnection watcher = client(u"watcher"_s);
    ASSERT_TRUE(waitFor([&] { return !watcher.interface()->isServiceRegistered(caller).value(); }));
    const int fd = ::open(QFile::encodeName(config).constData(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ::close(fd); // an empty configuration: the helper goes on
    QFile::remove(config); // a plain file again, for whoever reads it next
    writeFile(config, "client\n");
    QTest::qWait(500); // the helper starts openvpn (and, seeing the caller gone, ends it)
    EXPECT_TRUE(waitFor([&] { return openVpnPid() == 0; }, 10000)) << "openvpn outlived its caller";
    EXPECT_TRUE(m_helper.waitForFinished(10000)) << "the helper stays busy";
}

// The same for the outside block, the helper held while nft runs (a slower
// nft laid over the system's in the helper's own mount namespace).
TEST_F(HelperTest, ACallerThatLeavesDuringBlockOutsideLeavesNoTable)
{
    const QString nft = OutsideBlock::nftProgram();
    if (::geteuid() != 0 || nft.isEmpty() || QStandardPaths::findExecutable(u"unshare"_s).isEmpty())
        GTEST_SKIP() << "needs root, nft and unshare";
    NetnsScope ns;
    ASSERT_TRUE(ns.made());
    const QString real = m_dir.filePath(u"real-nft"_s);
    const QString slow = m_dir.filePath(u"slow-nft"_s);
    const QString started = m_dir.filePath(u"nft-started"_s);
    ASSERT_TRUE(QFile::copy(nft, real));
    writeFile(slow,
              QStringLiteral("#!/bin/sh\ntouch '%1'\nsleep 1\nexec '%2' \"$@\"\n")
                  .arg(started, real)
                  .toUtf8());
    ASSERT_TRUE(QFile::setPermissions(slow,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther));
    ns.enter();
    startHelper(1,
                {u"unshare"_s, u"--mount"_s, u"--propagation"_s, u"private"_s, u"sh"_s, u"-c"_s,
                 QStringLiteral("mount --bind '%1' '%2' && exec \"$0\" \"$@\"").arg(slow, nft)});
    ns.leave();
    // The helper removes a leftover table at its start: that nft call first.
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(started); }));
    QFile::remove(started);
    QTest::qWait(1500);
    const QString caller = [&] {
        QDBusConnection a = client(u"a"_s);
        sendOnly(a, u"BlockOutside"_s, {u"tun0"_s, QStringList {u"10.77.0.3"_s}});
        return a.baseService();
    }();
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(started); }));
    QDBusConnection::disconnectFromBus(u"a"_s);
    QDBusConnection watcher = client(u"watcher"_s);
    ASSERT_TRUE(waitFor([&] { return !watcher.interface()->isServiceRegistered(caller).value(); }));

    auto installed = [&] {
        ns.enter();
        const bool r = OutsideBlock::installed();
        ns.leave();
        return r;
    };
    EXPECT_TRUE(m_helper.waitForFinished(15000)) << "the helper stays busy";
    EXPECT_FALSE(installed()) << "the table outlived its caller";
}

} // namespace

#include "test_helper.moc"
