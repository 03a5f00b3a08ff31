// No traffic outside the tunnel (the nftables table) and the network-return
// watcher (resume from sleep, default route's interface down and up). The
// table's text is checked everywhere; what it does, and the netlink side,
// in namespaces of their own as root.
#include "platform/networkreturn.h"
#include "platform/outsideblock.h"

#include "netnsscope.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(OutsideBlockRuleset, OnlyCheckedValuesMakeATable)
{
    const QString whole = OutsideBlock::ruleset(
        QStringLiteral("tun0"), {QStringLiteral("10.200.0.1"), QStringLiteral("192.168.7.254")});
    EXPECT_EQ(whole,
              QStringLiteral("add table inet kvo_block\n"
                             "delete table inet kvo_block\n"
                             "table inet kvo_block {\n"
                             "\tchain output {\n"
                             "\t\ttype filter hook output priority 0; policy drop;\n"
                             "\t\toifname \"lo\" accept\n"
                             "\t\toifname \"tun0\" accept\n"
                             "\t\tmeta nfproto ipv6 udp sport 546 udp dport 547 accept\n"
                             "\t\tip daddr { 10.200.0.1, 192.168.7.254 } accept\n"
                             "\t\tudp sport 68 udp dport 67 accept\n"
                             "\t}\n"
                             "}\n"));

    const QStringList eight(8, QStringLiteral("1.2.3.4"));
    const struct
    {
        const char *iface;
        QStringList servers;
        bool made;
    } cases[] = {
        {"ppp0", {QStringLiteral("1.2.3.4")}, true},
        {"tun.vpn-1_a", {QStringLiteral("0.0.0.0")}, true},
        {"abcdefghijklmno", eight, true}, // 15 characters, 8 servers
        {"abcdefghijklmnop", {QStringLiteral("1.2.3.4")}, false}, // 16
        {"", {QStringLiteral("1.2.3.4")}, false},
        {".", {QStringLiteral("1.2.3.4")}, false},
        {"..", {QStringLiteral("1.2.3.4")}, false},
        {"tun0\" accept", {QStringLiteral("1.2.3.4")}, false},
        {"tun0;flush", {QStringLiteral("1.2.3.4")}, false},
        {"tun 0", {QStringLiteral("1.2.3.4")}, false},
        {"tun0\n", {QStringLiteral("1.2.3.4")}, false},
        {"tun0", {}, false},
        {"tun0", eight + QStringList {QStringLiteral("1.2.3.4")}, false},
        {"tun0", {QStringLiteral("vpn.example.net")}, false},
        {"tun0", {QStringLiteral("1.2.3.256")}, false},
        {"tun0", {QStringLiteral("1.2.3")}, false},
        {"tun0", {QStringLiteral(" 1.2.3.4")}, false},
        {"tun0", {QStringLiteral("1.2.3.4 } accept; ip daddr { 0.0.0.0/0")}, false},
        {"tun0", {QStringLiteral("01.2.3.4")}, false},
        {"tun0", {QStringLiteral("1.2.3.4\n")}, false},
        {"tun0", {QStringLiteral("::1")}, false},
    };
    for (const auto &c : cases) {
        const QString text = OutsideBlock::ruleset(QString::fromUtf8(c.iface), c.servers);
        EXPECT_EQ(!text.isEmpty(), c.made)
            << c.iface << " " << qPrintable(c.servers.join(QLatin1Char(' ')));
    }
}

enum class Reach { Blocked, Answered, Other };

// Where a packet to address:port gets: a datagram the output chain drops
// fails at once with EPERM (Blocked); otherwise a TCP connection attempt
// that the peer, listening nowhere, answers with a reset (Answered).
Reach reach(const char *address, int port)
{
    sockaddr_storage to {};
    socklen_t size = sizeof(sockaddr_in);
    auto *v4 = reinterpret_cast<sockaddr_in *>(&to);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&to);
    if (::inet_pton(AF_INET, address, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(quint16(port));
    } else {
        ::inet_pton(AF_INET6, address, &v6->sin6_addr);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(quint16(port));
        size = sizeof(sockaddr_in6);
    }
    const int udp = ::socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool dropped =
        ::sendto(udp, "x", 1, 0, reinterpret_cast<sockaddr *>(&to), size) < 0 && errno == EPERM;
    ::close(udp);
    if (dropped)
        return Reach::Blocked;
    const int fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int result = ::connect(fd, reinterpret_cast<sockaddr *>(&to), size) == 0 ? 0 : errno;
    if (result == EINPROGRESS) {
        pollfd p {fd, POLLOUT, 0};
        result = ETIMEDOUT;
        if (::poll(&p, 1, 10000) == 1) {
            socklen_t len = sizeof result;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &len);
        }
    }
    ::close(fd);
    return result == ECONNREFUSED || result == 0 ? Reach::Answered : Reach::Other;
}

QString whyNoRoot()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root for network namespaces and nftables");
    if (OutsideBlock::nftProgram().isEmpty())
        return QStringLiteral("nft is not installed");
    return QString();
}

// A namespace with a "local network" (veth to a peer namespace holding an
// outside host 10.77.0.1 and the tunnel server 10.77.0.3) and a tunnel
// interface stand-in (kvotun0, 10.66.0.2/24, a veth to 10.66.0.9 there).
TEST(OutsideBlockNetns, DropsOutsideTrafficOnlyWhileInstalled)
{
    const QString why = whyNoRoot();
    if (!why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    NetnsScope host, peer;
    ASSERT_TRUE(host.made() && peer.made());
    const QString a = QStringLiteral("kvta") + host.name().right(4);
    const QString b = QStringLiteral("kvtb") + host.name().right(4);
    ASSERT_TRUE(NetnsScope::ip({u"link"_s, u"add"_s, a, u"netns"_s, host.name(), u"type"_s,
                                u"veth"_s, u"peer"_s, u"name"_s, b, u"netns"_s, peer.name()}));
    ASSERT_TRUE(host.in({u"addr"_s, u"add"_s, u"10.77.0.2/24"_s, u"dev"_s, a}));
    ASSERT_TRUE(peer.in({u"addr"_s, u"add"_s, u"10.77.0.1/24"_s, u"dev"_s, b}));
    ASSERT_TRUE(peer.in({u"addr"_s, u"add"_s, u"10.77.0.3/24"_s, u"dev"_s, b}));
    for (const NetnsScope *ns : {&host, &peer})
        ASSERT_TRUE(ns->in({u"link"_s, u"set"_s, u"lo"_s, u"up"_s}));
    ASSERT_TRUE(host.in({u"link"_s, u"set"_s, a, u"up"_s}));
    ASSERT_TRUE(peer.in({u"link"_s, u"set"_s, b, u"up"_s}));
    ASSERT_TRUE(host.in({u"link"_s, u"add"_s, u"kvotun0"_s, u"type"_s, u"veth"_s, u"peer"_s,
                         u"name"_s, u"kvotun1"_s, u"netns"_s, peer.name()}));
    ASSERT_TRUE(peer.in({u"addr"_s, u"add"_s, u"10.66.0.9/24"_s, u"dev"_s, u"kvotun1"_s}));
    ASSERT_TRUE(peer.in({u"link"_s, u"set"_s, u"kvotun1"_s, u"up"_s}));
    ASSERT_TRUE(host.in({u"addr"_s, u"add"_s, u"10.66.0.2/24"_s, u"dev"_s, u"kvotun0"_s}));
    ASSERT_TRUE(host.in({u"link"_s, u"set"_s, u"kvotun0"_s, u"up"_s}));
    ASSERT_TRUE(host.enter());

    EXPECT_EQ(reach("10.77.0.1", 9), Reach::Answered);
    EXPECT_FALSE(OutsideBlock::installed());
    QString error;
    ASSERT_TRUE(
        OutsideBlock::install(QStringLiteral("kvotun0"), {QStringLiteral("10.77.0.3")}, &error))
        << error.toStdString();
    EXPECT_TRUE(OutsideBlock::installed());
    EXPECT_EQ(reach("10.77.0.1", 9), Reach::Blocked); // outside the tunnel
    EXPECT_EQ(reach("10.77.0.3", 9), Reach::Answered); // the tunnel server
    EXPECT_EQ(reach("127.0.0.1", 9), Reach::Answered); // loopback
    EXPECT_EQ(reach("10.66.0.9", 9), Reach::Answered); // through the tunnel
    // Installing again (a redial, an address change) replaces it in one step.
    ASSERT_TRUE(
        OutsideBlock::install(QStringLiteral("kvotun0"), {QStringLiteral("10.77.0.3")}, &error));
    EXPECT_EQ(reach("10.77.0.1", 9), Reach::Blocked);
    // Refused values change nothing.
    EXPECT_FALSE(
        OutsideBlock::install(QStringLiteral("tun0\""), {QStringLiteral("10.77.0.1")}, &error));
    EXPECT_EQ(reach("10.77.0.1", 9), Reach::Blocked);

    ASSERT_TRUE(OutsideBlock::remove(&error)) << error.toStdString();
    EXPECT_FALSE(OutsideBlock::installed());
    EXPECT_EQ(reach("10.77.0.1", 9), Reach::Answered);
    EXPECT_TRUE(OutsideBlock::remove(&error)); // nothing there: fine

    // Without the block only IPv6 is held back, except through the tunnel.
    host.leave();
    ASSERT_TRUE(host.in({u"addr"_s, u"add"_s, u"2001:db8:77::2/64"_s, u"dev"_s, a, u"nodad"_s}));
    ASSERT_TRUE(peer.in({u"addr"_s, u"add"_s, u"2001:db8:77::1/64"_s, u"dev"_s, b, u"nodad"_s}));
    ASSERT_TRUE(
        host.in({u"addr"_s, u"add"_s, u"fd66::2/64"_s, u"dev"_s, u"kvotun0"_s, u"nodad"_s}));
    ASSERT_TRUE(
        peer.in({u"addr"_s, u"add"_s, u"fd66::9/64"_s, u"dev"_s, u"kvotun1"_s, u"nodad"_s}));
    ASSERT_TRUE(host.enter());
    EXPECT_EQ(reach("2001:db8:77::1", 9), Reach::Answered);
    ASSERT_TRUE(OutsideBlock::installIpv6Only(u"kvotun0"_s, &error)) << error.toStdString();
    EXPECT_EQ(reach("2001:db8:77::1", 9), Reach::Blocked); // IPv6 outside the tunnel
    EXPECT_EQ(reach("fd66::9", 9), Reach::Answered); // IPv6 through it
    EXPECT_EQ(reach("::1", 9), Reach::Answered);
    EXPECT_EQ(reach("10.77.0.1", 9), Reach::Answered); // IPv4 untouched
    EXPECT_FALSE(OutsideBlock::installIpv6Only(u"tun0\" accept"_s, &error));
    ASSERT_TRUE(OutsideBlock::remove(&error));
    EXPECT_EQ(reach("2001:db8:77::1", 9), Reach::Answered);
    host.leave();
}

TEST(OutsideBlockRuleset, Ipv6OnlyTableAndTheIpv6DefaultRoute)
{
    EXPECT_EQ(OutsideBlock::ipv6Ruleset(u"ppp0"_s),
              u"add table inet kvo_block\n"
              "delete table inet kvo_block\n"
              "table inet kvo_block {\n"
              "\tchain output {\n"
              "\t\ttype filter hook output priority 0; policy accept;\n"
              "\t\toifname \"lo\" accept\n"
              "\t\toifname \"ppp0\" accept\n"
              "\t\tmeta nfproto ipv6 udp sport 546 udp dport 547 accept\n"
              "\t\tmeta nfproto ipv6 drop\n"
              "\t}\n"
              "}\n"_s);
    EXPECT_TRUE(OutsideBlock::ipv6Ruleset(u"tun0;flush"_s).isEmpty());
    const QByteArray zero(32, '0');
    const struct
    {
        QByteArray table;
        bool route;
    } cases[] = {
        {zero + " 00 " + zero +
             " 00 fe800000000000000000000000000001 00000400 00000001 00000000 "
             "00000003     eth0\n",
         true},
        {zero + " 00 " + zero + " 00 " + zero + " 00000400 00000001 00000000 00000001  wlan0\n",
         true}, // a default route without a gateway
        {zero + " 00 " + zero + " 00 " + zero + " ffffffff 00000001 00000000 00200200       lo\n",
         false}, // the kernel's unreachable route
        {zero + " 00 " + zero + " 00 " + zero + " 00000400 00000001 00000000 00000200     eth0\n",
         false}, // rejecting
        {"20010db8000000000000000000000000 40 " + zero + " 00 " + zero +
             " 00000100 00000001 00000000 00000001     eth0\n",
         false}, // a network's route only
        {"garbage\n", false},
        {"", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OutsideBlock::hasIpv6DefaultRoute(c.table), c.route) << c.table.constData();
}

// A private bus standing in for the system bus; the test owns logind's name
// on a connection of its own and sends the signal a resume sends.
TEST(NetworkReturnWatcher, ResumeFromSleepIsReportedOnlyFromLogind)
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("bus.conf"));
    {
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                               "Configuration 1.0//EN\"\n"
                               " \"http://www.freedesktop.org/standards/dbus/1.0/"
                               "busconfig.dtd\">\n<busconfig><type>session</type>"
                               "<listen>unix:path=%1</listen><auth>EXTERNAL</auth>"
                               "<policy context=\"default\"><allow send_destination=\"*\"/>"
                               "<allow own=\"*\"/><allow receive_sender=\"*\"/>"
                               "<allow user=\"*\"/></policy></busconfig>\n")
                    .arg(dir.filePath(QStringLiteral("bus")))
                    .toUtf8());
    }
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1")});
    ASSERT_TRUE(daemon.waitForStarted(5000)) << "dbus-daemon is not installed";
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon.canReadLine(); }, 5000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    {
        QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
        QDBusConnection logind = QDBusConnection::connectToBus(address, QStringLiteral("logind"));
        QDBusConnection other = QDBusConnection::connectToBus(address, QStringLiteral("other"));
        ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));

        NetworkReturnWatcher watcher;
        watcher.setSettleMs(0);
        ASSERT_TRUE(watcher.watchSleep(client));
        QSignalSpy reports(&watcher, &NetworkReturnWatcher::networkReturned);

        auto send = [](QDBusConnection &from, bool sleeping) {
            QDBusMessage m =
                QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                           QStringLiteral("org.freedesktop.login1.Manager"),
                                           QStringLiteral("PrepareForSleep"));
            m << sleeping;
            from.send(m);
        };
        // Going to sleep, and a resume sent by someone else: nothing. Then
        // logind's resume: reported once. The bus keeps the order.
        send(logind, true);
        send(other, false);
        send(logind, false);
        ASSERT_TRUE(reports.wait(5000));
        QTest::qWait(100); // anything queued behind it arrives too
        ASSERT_EQ(reports.size(), 1);
        EXPECT_EQ(reports.at(0).at(0).toString(), QStringLiteral("resume"));
    }
    for (const char *name : {"client", "logind", "other"})
        QDBusConnection::disconnectFromBus(QLatin1String(name));
    daemon.kill();
    daemon.waitForFinished();
}

// The default route's interface (one end of a veth pair) taken down and up
// in a namespace, after an interface without the default route did the same.
TEST(NetworkReturnWatcher, DefaultRouteInterfaceDownAndUpIsReported)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for network namespaces";
    NetnsScope ns;
    ASSERT_TRUE(ns.made());
    const QString a = QStringLiteral("kvra") + ns.name().right(4);
    const QString b = QStringLiteral("kvrb") + ns.name().right(4);
    ASSERT_TRUE(ns.in({u"link"_s, u"add"_s, a, u"type"_s, u"veth"_s, u"peer"_s, u"name"_s, b}));
    ASSERT_TRUE(ns.in({u"addr"_s, u"add"_s, u"10.78.0.2/24"_s, u"dev"_s, a}));
    ASSERT_TRUE(ns.in({u"link"_s, u"set"_s, a, u"up"_s}));
    ASSERT_TRUE(ns.in({u"link"_s, u"set"_s, b, u"up"_s}));
    ASSERT_TRUE(ns.in({u"route"_s, u"add"_s, u"default"_s, u"via"_s, u"10.78.0.1"_s}));
    ASSERT_TRUE(ns.in({u"link"_s, u"add"_s, u"kvrother"_s, u"type"_s, u"veth"_s, u"peer"_s,
                       u"name"_s, u"kvrpeer"_s}));
    ASSERT_TRUE(ns.in({u"link"_s, u"set"_s, u"kvrpeer"_s, u"up"_s}));
    ASSERT_TRUE(ns.in({u"link"_s, u"set"_s, u"kvrother"_s, u"up"_s}));

    ASSERT_TRUE(ns.enter());
    NetworkReturnWatcher watcher;
    watcher.setSettleMs(0);
    const bool watching = watcher.watchLinks();
    EXPECT_EQ(NetworkReturnWatcher::defaultRouteInterfaces(), QSet<QString> {a});
    ns.leave();
    ASSERT_TRUE(watching);
    QSignalSpy reports(&watcher, &NetworkReturnWatcher::networkReturned);

    ASSERT_TRUE(ns.in({u"link"_s, u"set"_s, u"kvrother"_s, u"down"_s}));
    ASSERT_TRUE(ns.in({u"link"_s, u"set"_s, u"kvrother"_s, u"up"_s}));
    ASSERT_TRUE(ns.in({u"link"_s, u"set"_s, a, u"down"_s}));
    ASSERT_TRUE(ns.in({u"link"_s, u"set"_s, a, u"up"_s}));
    ASSERT_TRUE(reports.wait(5000));
    EXPECT_EQ(reports.at(0).at(0).toString(), QStringLiteral("link ") + a);
}

} // namespace
