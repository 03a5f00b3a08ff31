#include "routeraddress.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>
#include <cstring>

namespace RouterAddress {

namespace {

constexpr unsigned kRouteUp = 0x0001; // RTF_UP
constexpr unsigned kRouteGateway = 0x0002; // RTF_GATEWAY
constexpr unsigned kRouteReject = 0x0200; // RTF_REJECT

struct Route
{
    QString interfaceName;
    unsigned metric = 0;
    QString gateway;
    bool ipv6 = false;
    int order = 0; // position in the tables
};

bool parseHex(const QByteArray &text, unsigned &out)
{
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok, 16);
    if (!ok || v > 0xFFFFFFFFull)
        return false;
    out = unsigned(v);
    return true;
}

bool usableDefault(unsigned flags)
{
    return (flags & kRouteUp) && (flags & kRouteGateway) && !(flags & kRouteReject);
}

// /proc/net/route: a header line, then "Iface Destination Gateway Flags
// RefCnt Use Metric Mask MTU Window IRTT" with the addresses as the
// kernel's 32-bit words in hexadecimal (network byte order in memory).
void readIpv4(const QByteArray &table, QList<Route> &routes, int &order)
{
    const QList<QByteArray> lines = table.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].simplified().split(' ');
        if (f.size() < 8)
            continue;
        unsigned destination = 0, gateway = 0, flags = 0, metric = 0, mask = 0;
        if (!parseHex(f[1], destination) || !parseHex(f[2], gateway) || !parseHex(f[3], flags) ||
            !parseHex(f[7], mask))
            continue;
        bool metricOk = false;
        metric = f[6].toUInt(&metricOk);
        if (!metricOk || destination != 0 || mask != 0 || gateway == 0 || !usableDefault(flags))
            continue;
        unsigned char bytes[4];
        std::memcpy(bytes, &gateway, sizeof bytes);
        const QString address =
            QString::asprintf("%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
        routes.append(Route {QString::fromLatin1(f[0]), metric, address, false, order++});
    }
}

// /proc/net/ipv6_route: "destination prefix source prefix next-hop metric
// refcnt use flags interface", addresses as 32 hexadecimal digits.
void readIpv6(const QByteArray &table, QList<Route> &routes, int &order)
{
    for (const QByteArray &line : table.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 10 || f[4].size() != 32)
            continue;
        unsigned prefix = 0, metric = 0, flags = 0;
        if (!parseHex(f[1], prefix) || !parseHex(f[5], metric) || !parseHex(f[8], flags))
            continue;
        if (prefix != 0 || !usableDefault(flags))
            continue;
        unsigned char raw[16];
        bool ok = true;
        bool zero = true;
        for (int b = 0; b < 16 && ok; ++b) {
            unsigned byte = 0;
            ok = parseHex(f[4].mid(2 * b, 2), byte);
            raw[b] = static_cast<unsigned char>(byte);
            zero = zero && byte == 0;
        }
        char text[INET6_ADDRSTRLEN] = {};
        if (!ok || zero || !inet_ntop(AF_INET6, raw, text, sizeof text))
            continue;
        const QString interfaceName = QString::fromLatin1(f[9]);
        QString address = QString::fromLatin1(text);
        // A link-local gateway is reached through its interface.
        if (raw[0] == 0xfe && (raw[1] & 0xc0) == 0x80)
            address += QLatin1Char('%') + interfaceName;
        routes.append(Route {interfaceName, metric, address, true, order++});
    }
}

} // namespace

QString InterfaceGateways::joined() const
{
    return (ipv4 + ipv6).join(QLatin1Char(','));
}

QList<InterfaceGateways> defaultGateways(const QByteArray &ipv4Table, const QByteArray &ipv6Table,
                                         const IndexLookup &indexOf)
{
    QList<Route> routes;
    int order = 0;
    readIpv4(ipv4Table, routes, order);
    readIpv6(ipv6Table, routes, order);
    std::stable_sort(routes.begin(), routes.end(),
                     [](const Route &a, const Route &b) { return a.metric < b.metric; });

    QList<InterfaceGateways> interfaces;
    QMap<QString, qsizetype> at;
    QMap<QString, int> firstSeen;
    for (const Route &r : routes) {
        if (!at.contains(r.interfaceName)) {
            at.insert(r.interfaceName, interfaces.size());
            InterfaceGateways g;
            g.interfaceName = r.interfaceName;
            g.index = indexOf ? indexOf(r.interfaceName) : 0;
            interfaces.append(g);
            firstSeen.insert(r.interfaceName, r.order);
        } else {
            firstSeen[r.interfaceName] = std::min(firstSeen[r.interfaceName], r.order);
        }
        InterfaceGateways &g = interfaces[at.value(r.interfaceName)];
        QStringList &list = r.ipv6 ? g.ipv6 : g.ipv4;
        if (!list.contains(r.gateway))
            list.append(r.gateway);
    }
    std::sort(interfaces.begin(), interfaces.end(),
              [&firstSeen](const InterfaceGateways &a, const InterfaceGateways &b) {
                  // Known interfaces by index, the unknown ones after them.
                  const bool aKnown = a.index != 0, bKnown = b.index != 0;
                  if (aKnown != bKnown)
                      return aKnown;
                  if (aKnown && a.index != b.index)
                      return a.index < b.index;
                  return firstSeen.value(a.interfaceName) < firstSeen.value(b.interfaceName);
              });
    return interfaces;
}

QString routerAddress(const QList<InterfaceGateways> &interfaces)
{
    QString address;
    for (const InterfaceGateways &g : interfaces) {
        // An interface with both kinds would give "a,b", which no browser
        // opens; its IPv4 gateway is the router's page.
        if (!g.ipv4.isEmpty())
            address = g.ipv4.first();
        else if (!g.ipv6.isEmpty())
            address = g.ipv6.first();
    }
    return address;
}

QString readRouterAddress(const QString &ipv4TablePath, const QString &ipv6TablePath)
{
    auto read = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    return routerAddress(
        defaultGateways(read(ipv4TablePath), read(ipv6TablePath), [](const QString &name) {
            return unsigned(if_nametoindex(name.toLocal8Bit().constData()));
        }));
}

QUrl routerPageUrl(const QString &address)
{
    // Only an address in its plain text form reaches the browser.
    const QString host = address.section(QLatin1Char('%'), 0, 0);
    const QString zone = address.section(QLatin1Char('%'), 1);
    static const QRegularExpression zoneName(QStringLiteral("^[A-Za-z0-9_.:-]{1,15}$"));
    const QByteArray hostBytes = host.toLatin1();
    unsigned char raw[16];
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    if (!address.contains(QLatin1Char('%')) &&
        inet_pton(AF_INET, hostBytes.constData(), raw) == 1) {
        url.setHost(host);
        return url;
    }
    if (inet_pton(AF_INET6, hostBytes.constData(), raw) != 1)
        return QUrl();
    if (address.contains(QLatin1Char('%')) && !zoneName.match(zone).hasMatch())
        return QUrl();
    url.setHost(address);
    return url.isValid() ? url : QUrl();
}

} // namespace RouterAddress
