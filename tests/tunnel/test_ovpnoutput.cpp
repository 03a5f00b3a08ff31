#include "tunnel/networkguard.h"
#include "tunnel/ovpnclient.h"
#include "tunnel/ovpnoutput.h"

#include "support/testhome.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray transcript(const char *name)
{
    QFile f(QStringLiteral(KVO_TEST_DATA_DIR "/openvpn/") + QLatin1String(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

struct Read
{
    QList<int> codes;
    QString address;
};

// Feeds output in chunks of the given size, as the pipe may deliver it.
Read readOutput(const QByteArray &bytes, int chunk)
{
    Read r;
    OvpnOutput::LineSplitter splitter;
    QStringList lines;
    for (qsizetype at = 0; at < bytes.size(); at += chunk)
        lines += splitter.feed(bytes.mid(at, chunk));
    lines += splitter.finish();
    for (const QString &line : lines) {
        QString a;
        if (OvpnOutput::assignedAddress(line, &a))
            r.address = a;
        if (const int code = OvpnOutput::classify(line))
            r.codes.append(code);
    }
    return r;
}

} // namespace

TEST(OvpnTranscripts, TunnelUpGivesTheStepsInOrderAndTheAddress)
{
    for (int chunk : {1, 7, 1024, 1 << 20}) {
        const Read r = readOutput(transcript("up-then-sigterm.log"), chunk);
        EXPECT_EQ(r.codes, (QList<int> {1, 2, 2, 3, 4, 5})) << "chunk " << chunk;
        EXPECT_EQ(r.address, QStringLiteral("10.8.0.2"));
    }
}

TEST(OvpnTranscripts, RefusedCredentialsGiveEightAndNothingAfter)
{
    const Read r = readOutput(transcript("auth-failed.log"), 1024);
    EXPECT_EQ(r.codes, (QList<int> {1, 2, 2, 8}));
    EXPECT_TRUE(r.address.isEmpty());
}

TEST(OvpnTranscripts, ServerRestartReportsEachRefusalThenTheNewTunnel)
{
    const Read r = readOutput(transcript("server-restart-then-sigterm.log"), 333);
    EXPECT_EQ(r.codes, (QList<int> {1, 2, 2, 3, 4, 5, 7, 7, 1, 2, 2, 3, 4, 5}));
}

TEST(OvpnClassify, TextsAndTheirCodesInFirstMatchOrder)
{
    const struct
    {
        const char *line;
        int code;
    } cases[] = {
        {"2026-12-09 05:30:13 TCP connection established with [AF_INET]10.200.0.1:80", 1},
        {"Thu Mar 01 10:00:00 2012 VERIFY OK: depth=1, CN=kvo-ca", 2},
        {"VERIFY KU OK", 0},
        {"VERIFY EKU OK", 0},
        {"Notified TAP-Windows driver to set a DHCP IP/netmask of 10.3.0.6/255.255.255.252 on "
         "interface {X} [DHCP-serv: 10.3.0.5, lease-time: 31536000]",
         3},
        {"net_addr_v4_add: 10.8.0.2/24 dev tun0", 3},
        {"net_addr_ptp_v4_add: 10.8.1.6 peer 10.8.1.5 dev tun0", 3},
        {"net_addr_v4_del: 10.8.0.2 dev tun0", 0},
        {"C:\\WINDOWS\\system32\\route.exe ADD 10.9.0.0 MASK 255.255.255.0 10.8.0.1", 4},
        {"net_route_v4_add: 10.9.0.0/24 via 10.8.0.1 dev [NULL] table 0 metric -1", 4},
        {"net_route_v4_best_gw query: dst 0.0.0.0", 0},
        {"Initialization Sequence Completed", 5},
        {"TCP: connect to [AF_INET]10.200.0.1:80 failed: Connection refused", 7},
        {"AUTH: Received control message: AUTH_FAILED", 8},
        {"ERROR:  This version of OpenVPN requires a TAP-Windows driver that is at least version "
         "9.9",
         14},
        {"ERROR: This version of OpenVPN requires a TAP-Windows driver", 0}, // one blank
        // First match wins: 2 is tested before 7.
        {"VERIFY OK: depth=0 ... Connection refused", 2},
        {"Connection refused ... AUTH_FAILED", 7},
        {"tcp connection established", 0}, // case-sensitive
        {"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OvpnOutput::classify(QString::fromUtf8(c.line)), c.code) << c.line;
}

TEST(OvpnAddress, TakenFromTheDhcpAndTheLinuxAddressLines)
{
    const struct
    {
        const char *line;
        const char *address; // nullptr: none
    } cases[] = {
        {"Notified TAP-Windows driver to set a DHCP IP/netmask of 10.3.0.6/255.255.255.252 on "
         "interface",
         "10.3.0.6"},
        {"set a DHCP IP/netmask of   10.3.0.7   /255.0.0.0", "10.3.0.7"},
        {"set a DHCP IP/netmask of 10.3.0.8", "10.3.0.8"}, // no slash: the whole rest
        {"2026-12-09 05:30:13 net_addr_v4_add: 10.8.0.2/24 dev tun0", "10.8.0.2"},
        {"net_addr_ptp_v4_add: 10.8.1.6 peer 10.8.1.5 dev tun0", "10.8.1.6"},
        {"net_addr_v4_del: 10.8.0.2 dev tun0", nullptr},
        {"net_addr_v4_add:", nullptr},
    };
    for (const auto &c : cases) {
        QString a = QStringLiteral("unchanged");
        const bool found = OvpnOutput::assignedAddress(QString::fromUtf8(c.line), &a);
        EXPECT_EQ(found, c.address != nullptr) << c.line;
        if (c.address) {
            EXPECT_EQ(a, QString::fromUtf8(c.address)) << c.line;
        }
    }
}

TEST(OvpnSplitter, ALineCutByTheChunkIsClassifiedOnceWhenItsRestArrives)
{
    OvpnOutput::LineSplitter s;
    EXPECT_TRUE(s.feed("Initialization Seq").isEmpty());
    EXPECT_TRUE(s.feed("uence Comp").isEmpty());
    const QStringList lines = s.feed("leted\r\nData Channel: ci");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(OvpnOutput::classify(lines.first()), 5);
    EXPECT_EQ(s.feed("pher\n\n\n"), QStringList {QStringLiteral("Data Channel: cipher")});
    EXPECT_TRUE(s.finish().isEmpty());
}

TEST(OvpnSplitter, TheLastLineWithoutLineFeedStillCountsAtTheEnd)
{
    OvpnOutput::LineSplitter s;
    EXPECT_TRUE(s.feed("AUTH: Received control message: AUTH_FAILED").isEmpty());
    EXPECT_EQ(s.finish(),
              QStringList {QStringLiteral("AUTH: Received control message: AUTH_FAILED")});
}

TEST(OvpnQos, ReplyAndShaperRate)
{
    const struct
    {
        const char *reply;
        quint32 qos;
        quint32 shaper;
    } cases[] = {
        {"8", 8, 1048576},
        {"0", 0, 0},
        {"", 0, 0},
        {"abc", 0, 0},
        {"  12kbps", 12, 12 * 131072},
        {"-3", 0, 0},
        {"1", 1, 131072},
        {"762", 762, 99876864},
        {"763", 763, 100000000}, // openvpn's ceiling
        {"4096", 4096, 100000000}, // no wrap to 0
        {"99999999999", 0xFFFFFFFFu, 100000000},
    };
    for (const auto &c : cases) {
        const quint32 qos = OvpnOutput::qosFromReply(QString::fromUtf8(c.reply));
        EXPECT_EQ(qos, c.qos) << c.reply;
        EXPECT_EQ(OvpnOutput::shaperRate(qos), c.shaper) << c.reply;
    }
}

TEST(OvpnCommandLine, FixedOptionsAndTheShaperAtTheEnd)
{
    TestHome home;
    const QString p = home.path() + QLatin1Char('/');
    const QStringList base {QStringLiteral("--remote"),
                            QStringLiteral("10.200.0.1"),
                            QStringLiteral("80"),
                            QStringLiteral("--config"),
                            p + QStringLiteral("client.ovpn"),
                            QStringLiteral("--ca"),
                            p + QStringLiteral("ca.crt"),
                            QStringLiteral("--key"),
                            p + QStringLiteral("cl1.key"),
                            QStringLiteral("--cert"),
                            p + QStringLiteral("cl1.crt"),
                            QStringLiteral("--auth-user-pass"),
                            QStringLiteral("/dev/stdin"),
                            QStringLiteral("--reneg-sec"),
                            QStringLiteral("0")};
    EXPECT_EQ(OvpnClient::arguments(QStringLiteral("10.200.0.1"), 0), base);
    EXPECT_EQ(OvpnClient::arguments(QStringLiteral("10.200.0.1"), 8),
              base + (QStringList {QStringLiteral("--shaper"), QStringLiteral("1048576")}));
}

namespace {

// A push reply as openvpn 2.6 prints it, with these options in the middle.
QString pushReply(const QString &options)
{
    return QStringLiteral("2026-12-11 01:50:35 PUSH: Received control message: "
                          "'PUSH_REPLY,route 10.9.0.0 255.255.255.0,%1,route-gateway 10.8.0.1,"
                          "topology subnet,ifconfig 10.8.0.2 255.255.255.0,peer-id 0'")
        .arg(options);
}

} // namespace

// What the server pushes is checked before anything applies it: what is
// kept, what is refused, and the activity log's lines for each.
TEST(TunnelDnsPushed, CheckedValuesAndTheLogLines)
{
    const QString longName = QString(40, QLatin1Char('a')) + QStringLiteral(".") +
        QString(70, QLatin1Char('b')) + QStringLiteral(".test");
    const struct
    {
        QString options;
        QStringList servers;
        QStringList domains;
        QStringList lines;
    } cases[] = {
        {u"dhcp-option DNS 10.8.0.1,dhcp-option DOMAIN kvo.test"_s,
         {u"10.8.0.1"_s},
         {u"kvo.test"_s},
         {u"터널 DNS 적용: 10.8.0.1, 도메인 kvo.test (lo, test)"_s}},
        {u"dhcp-option DNS 10.8.0.1,dhcp-option DNS 10.8.0.1,dhcp-option DNS 10.8.0.2,"
         "dhcp-option DNS 10.8.0.3,dhcp-option DNS 10.8.0.4,dhcp-option DOMAIN-SEARCH a.test"_s,
         {u"10.8.0.1"_s, u"10.8.0.2"_s, u"10.8.0.3"_s},
         {u"a.test"_s},
         {u"터널 DNS 적용: 10.8.0.1 10.8.0.2 10.8.0.3, 도메인 a.test (lo, test)"_s}},
        {u"dhcp-option DNS 10.8.0.1 6.6.6.6,dhcp-option DNS 10.8.0.256,dhcp-option DNS 0.0.0.0,"
         "dhcp-option DNS fd00::1,dhcp-option DNS6 fd00::1,dhcp-option DNS 10.8.0.9"_s,
         {u"10.8.0.9"_s},
         {},
         {u"터널 DNS 값 거부: \"10.8.0.1 6.6.6.6\""_s, u"터널 DNS 값 거부: \"10.8.0.256\""_s,
          u"터널 DNS 값 거부: \"0.0.0.0\""_s, u"터널 DNS 값 거부: \"fd00::1\""_s,
          u"터널 DNS 적용: 10.8.0.9 (lo, test)"_s}},
        {u"dhcp-option DNS 10.8.0.1,dhcp-option DOMAIN kvo.test;rm -rf /,dhcp-option DOMAIN "
         "-x.test,dhcp-option DOMAIN 10.0.0.1,dhcp-option DOMAIN "_s +
             longName + u",dhcp-option DOMAIN a\tb"_s,
         {u"10.8.0.1"_s},
         {},
         {u"터널 DNS 값 거부: \"kvo.test;rm -rf /\""_s, u"터널 DNS 값 거부: \"-x.test\""_s,
          u"터널 DNS 값 거부: \"10.0.0.1\""_s,
          u"터널 DNS 값 거부: \""_s + longName.left(64) + u"...\""_s,
          u"터널 DNS 값 거부: \"a\\x09b\""_s, u"터널 DNS 적용: 10.8.0.1 (lo, test)"_s}},
        {u"dhcp-option DOMAIN kvo.test"_s,
         {},
         {u"kvo.test"_s},
         {u"터널 서버가 DNS 서버를 알려주지 않았습니다: 이름은 이 컴퓨터의 DNS 서버로 조회합니다"_s}},
    };
    for (const auto &c : cases) {
        TunnelDns::Settings pushed;
        ASSERT_TRUE(OvpnOutput::pushedDns(pushReply(c.options), &pushed.servers, &pushed.domains));
        QList<TunnelDns::Settings> applied;
        DnsGuard guard(
            [&](const QString &iface, const TunnelDns::Settings &s, QString *how, QString *) {
                EXPECT_EQ(iface, u"lo"_s);
                applied.append(s);
                *how = u"test"_s;
                return true;
            },
            [] {});
        const QStringList lines = guard.tunnelUp(u"127.0.0.1"_s, pushed, false);
        EXPECT_EQ(lines, c.lines) << qPrintable(c.options);
        if (c.servers.isEmpty()) {
            EXPECT_TRUE(applied.isEmpty());
            // Said once per sign-in, not at every redial.
            EXPECT_TRUE(guard.tunnelUp(u"127.0.0.1"_s, pushed, false).isEmpty());
        } else {
            ASSERT_EQ(applied.size(), 1);
            EXPECT_EQ(applied[0].servers, c.servers);
            EXPECT_EQ(applied[0].domains, c.domains.isEmpty() ? QStringList() : c.domains);
        }
    }
    // Neither a line without a push reply nor one with no DNS gives values.
    QStringList servers;
    QStringList domains;
    EXPECT_FALSE(OvpnOutput::pushedDns(u"dhcp-option DNS 10.8.0.1"_s, &servers, &domains));
    EXPECT_TRUE(OvpnOutput::pushedDns(pushReply(u"ping 10"_s), &servers, &domains));
    EXPECT_TRUE(servers.isEmpty() && domains.isEmpty());
}

// The helper's values are checked as the client's: a set with a line break,
// a blank or a non-address is not applied at all.
TEST(TunnelDnsPushed, OnlyWholeValidSetsAreApplied)
{
    EXPECT_TRUE(TunnelDns::valid({{u"10.8.0.1"_s}, {u"kvo.test"_s}}));
    for (const TunnelDns::Settings &bad : {
             TunnelDns::Settings {{}, {}},
             TunnelDns::Settings {{u"10.8.0.1\nnameserver 6.6.6.6"_s}, {}},
             TunnelDns::Settings {{u"10.8.0.1"_s}, {u"kvo.test\nnameserver 6.6.6.6"_s}},
             TunnelDns::Settings {{u"10.8.0.1"_s}, {u"kvo test"_s}},
             TunnelDns::Settings {{u"10.8.0.1"_s, u"10.8.0.2"_s, u"10.8.0.3"_s, u"10.8.0.4"_s}, {}},
             TunnelDns::Settings {{u"vpn.example"_s}, {}},
         })
        EXPECT_FALSE(TunnelDns::valid(bad)) << qPrintable(bad.servers.join(u'|'));
    // The note on a server without DNS with the block on.
    DnsGuard guard(
        [](const QString &, const TunnelDns::Settings &, QString *, QString *) { return true; },
        [] {});
    EXPECT_EQ(
        guard.tunnelUp(u"127.0.0.1"_s, {}, true),
        QStringList {u"터널 서버가 DNS 서버를 알려주지 않았습니다: 이름은 이 컴퓨터의 DNS 서버로 "
                     "조회하며, 터널 밖 통신 차단 중에는 터널 안에서 닿는 DNS 서버만 답할 수 "
                     "있습니다"_s});
}
