#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

// The router's address for the options dialog's "공유기접속" button: the
// default gateways of the machine's interfaces, read from the kernel's
// routing tables (/proc/net/route, /proc/net/ipv6_route).
namespace RouterAddress {

// The default gateways of one interface, lowest metric first.
struct InterfaceGateways
{
    QString interfaceName;
    unsigned index = 0; // 0 when the interface is unknown (gone)
    QStringList ipv4;
    QStringList ipv6;
    // Every gateway joined with "," (IPv4 first), as the adapter lists them.
    QString joined() const;
};

// The interface's index; 0 when there is no such interface.
using IndexLookup = std::function<unsigned(const QString &interfaceName)>;

// Interfaces with at least one default gateway, in interface order (by
// index; unknown interfaces after the known ones, in table order).
// ipv4Table is the text of /proc/net/route, ipv6Table that of
// /proc/net/ipv6_route; malformed lines are skipped.
QList<InterfaceGateways> defaultGateways(const QByteArray &ipv4Table, const QByteArray &ipv6Table,
                                         const IndexLookup &indexOf);

// The address of the router: the last interface with a gateway wins; of its
// gateways the first IPv4 one, else its first IPv6 one. Empty when no
// interface has a gateway.
QString routerAddress(const QList<InterfaceGateways> &interfaces);

// The same from the tables in the given files (a missing file reads as an
// empty table) with the system's interface indexes.
QString readRouterAddress(const QString &ipv4TablePath = QStringLiteral("/proc/net/route"),
                          const QString &ipv6TablePath = QStringLiteral("/proc/net/ipv6_route"));

// "http://<address>" for an IPv4 address, "http://[<address>]" for an IPv6
// one (a link-local one with its interface as the zone); an invalid URL for
// anything that is not an address.
QUrl routerPageUrl(const QString &address);

} // namespace RouterAddress
