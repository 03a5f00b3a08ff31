#include "tunnel/ovpnclient.h"
#include "tunnel/ovpnoutput.h"

#include "support/testhome.h"

#include <QFile>

#include <gtest/gtest.h>

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
