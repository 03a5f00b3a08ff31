#pragma once

#include <QString>
#include <QStringList>

// "No traffic outside the tunnel": an nftables table of our own
// ("inet kvo_block") whose output chain drops the machine's outgoing IPv4
// and IPv6 packets except those leaving through the tunnel interface or
// loopback, those to the tunnel servers, and the local network's DHCP
// (v4 and v6). The ruleset is built here from checked values only and fed
// to "nft -f -" as one transaction (no shell, no file), so installing again
// replaces the table without a moment unblocked. Used by kvo-helper and, for
// a client running as root, by the client itself.
namespace OutsideBlock {

inline constexpr int kMaxServers = 8;

// The table's family and name.
QString tableName(); // "kvo_block"

// A kernel interface name: 1 to 15 of A-Z a-z 0-9 _ . - and not "." or "..".
bool isInterfaceName(const QString &name);

// The whole nft input for the table; empty when the interface name is not
// one or a server is not a dotted IPv4 address (1 to kMaxServers of them).
QString ruleset(const QString &tunnelInterface, const QStringList &servers);
// The table while the tunnel is up without the block: none of these tunnels
// carries IPv6, so IPv6 may leave only through the tunnel interface or
// loopback (and as DHCPv6); IPv4 is untouched. Empty for a bad name.
QString ipv6Ruleset(const QString &tunnelInterface);
// Whether the machine has an IPv6 default route, read from the text of
// /proc/net/ipv6_route (routes that are up, not rejecting, not on "lo").
bool hasIpv6DefaultRoute(const QByteArray &ipv6RouteTable);
bool hasIpv6DefaultRoute(); // the machine's own table
// The nft input that removes the table, whether or not it is there.
QString removal();

// nft from /usr/sbin, /sbin or PATH; empty when it is not installed.
QString nftProgram();
// Runs nft with the input on its standard input; false with nft's message.
bool runNft(const QString &input, QString *error);

// Installs (or replaces) the table; false with a reason, nothing changed.
bool install(const QString &tunnelInterface, const QStringList &servers, QString *error);
// Installs (or replaces) the table with ipv6Ruleset.
bool installIpv6Only(const QString &tunnelInterface, QString *error);
// Removes the table when it is there.
bool remove(QString *error);
// Whether the table is there now.
bool installed();

} // namespace OutsideBlock
