#include "platform/routeraddress.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace RouterAddress;

namespace {

const QByteArray kHeader = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\t"
                           "Window\tIRTT\n";

// One line of /proc/net/route as the kernel writes it on this machine.
QByteArray v4(const char *iface, const char *dest, const char *gw, const char *flags, int metric,
              const char *mask)
{
    return QByteArray(iface) + '\t' + dest + '\t' + gw + '\t' + flags + "\t0\t0\t" +
        QByteArray::number(metric) + '\t' + mask + "\t0\t0\t0\n";
}

// One line of /proc/net/ipv6_route.
QByteArray v6(const char *dest, const char *prefix, const char *nextHop, const char *metric,
              const char *flags, const char *iface)
{
    return QByteArray(dest) + ' ' + prefix + " 00000000000000000000000000000000 00 " + nextHop +
        ' ' + metric + " 00000001 00000000 " + flags + "     " + iface + '\n';
}

const char *kZero = "00000000000000000000000000000000";

unsigned indexOf(const QString &name)
{
    if (name == QLatin1String("lo"))
        return 1;
    if (name == QLatin1String("eth0"))
        return 2;
    if (name == QLatin1String("wlan0"))
        return 3;
    if (name == QLatin1String("tun0"))
        return 9;
    return 0; // gone
}

struct Case
{
    const char *name;
    QByteArray ipv4;
    QByteArray ipv6;
    const char *joined; // the gateways per interface, "|" between interfaces
    const char *router;
};

} // namespace

TEST(RouterAddress, DefaultGatewaysOfFixedTables)
{
    const QByteArray eth0Default = v4("eth0", "00000000", "0101A8C0", "0003", 100, "00000000");
    const Case cases[] = {
        {"no tables", {}, {}, "", ""},
        {"one IPv4 default route", kHeader + eth0Default, {}, "192.168.1.1", "192.168.1.1"},
        {"routes that are not default routes or are down are not gateways",
         kHeader + v4("eth0", "0001A8C0", "0101A8C0", "0003", 0, "00FFFFFF") // a network
             + v4("eth0", "00000000", "00000000", "0001", 0, "00000000") // no gateway
             + v4("wlan0", "00000000", "FE01A8C0", "0002", 0, "00000000") // not up
             + v4("tun0", "00000000", "0100080A", "0203", 0, "00000000"), // reject
         {},
         "",
         ""},
        {"the last interface in index order wins, not the last line",
         kHeader + v4("wlan0", "00000000", "0100000A", "0003", 600, "00000000") + eth0Default,
         {},
         "192.168.1.1|10.0.0.1",
         "10.0.0.1"},
        {"an interface with both kinds opens its IPv4 gateway", kHeader + eth0Default,
         v6(kZero, "00", "fe800000000000000000000000000001", "00000400", "00000003", "eth0"),
         "192.168.1.1,fe80::1%eth0", "192.168.1.1"},
        {"an IPv6 gateway alone is the router",
         {},
         v6(kZero, "00", "20010db8000000000000000000000001", "00000400", "00000003", "wlan0") +
             v6("fd000000000000000000000000000000", "40", kZero, "00000100", "00000001", "wlan0") +
             v6(kZero, "00", kZero, "ffffffff", "00200200", "lo"), // the unreachable route
         "2001:db8::1",
         "2001:db8::1"},
        {"lowest metric first within an interface",
         kHeader + v4("eth0", "00000000", "FE01A8C0", "0003", 200, "00000000") + eth0Default,
         {},
         "192.168.1.1,192.168.1.254",
         "192.168.1.1"},
        {"an interface that is gone comes after the known ones",
         kHeader + v4("ppp9", "00000000", "0100A8C0", "0003", 0, "00000000") + eth0Default,
         {},
         "192.168.1.1|192.168.0.1",
         "192.168.0.1"},
        {"malformed lines are skipped",
         kHeader + "eth0\tzz\t0101A8C0\n" + "wlan0 00000000 0100000A\n" +
             v4("eth0", "00000000", "0101A8C0", "xyz", 0, "00000000") + eth0Default,
         "garbage\n" + QByteArray(20, ' ') + "\n", "192.168.1.1", "192.168.1.1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QList<InterfaceGateways> found = defaultGateways(c.ipv4, c.ipv6, indexOf);
        QStringList joined;
        for (const InterfaceGateways &g : found)
            joined.append(g.joined());
        EXPECT_EQ(joined.join(QLatin1Char('|')).toStdString(), std::string(c.joined));
        EXPECT_EQ(routerAddress(found).toStdString(), std::string(c.router));
    }
}

TEST(RouterAddress, TablesAreReadFromFilesAndTheRouterPageAddressIsBuilt)
{
    QTemporaryDir dir;
    const QString route = dir.filePath(QStringLiteral("route"));
    QFile f(route);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(kHeader + v4("lo", "00000000", "0101A8C0", "0003", 0, "00000000"));
    f.close();
    EXPECT_EQ(readRouterAddress(route, dir.filePath(QStringLiteral("missing"))),
              QStringLiteral("192.168.1.1"));
    EXPECT_EQ(readRouterAddress(dir.filePath(QStringLiteral("none")),
                                dir.filePath(QStringLiteral("none"))),
              QString());

    EXPECT_EQ(routerPageUrl(QStringLiteral("192.168.1.1")).toString(),
              QStringLiteral("http://192.168.1.1"));
    EXPECT_EQ(routerPageUrl(QStringLiteral("2001:db8::1")).toString(),
              QStringLiteral("http://[2001:db8::1]"));
    EXPECT_EQ(routerPageUrl(QStringLiteral("fe80::1%eth0")).toString(),
              QStringLiteral("http://[fe80::1%25eth0]"));
    for (const char *bad : {"", "192.168.1.1,fe80::1", "router; rm -rf /", "1.2.3.4/x"})
        EXPECT_FALSE(routerPageUrl(QString::fromLatin1(bad)).isValid()) << bad;
}
