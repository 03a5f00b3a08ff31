#pragma once

#include "platform/dialup.h"

#include <QString>
#include <QStringList>

// What a tunnel program is started with, built in one place from values
// that were checked before: the OpenVPN driver running openvpn itself and the
// privileged helper running it for an unprivileged client give it the same
// command line, and both dial the same phone-book entry.
namespace TunnelCommand {

// openvpn's command line after the program: the remote (an address or a host
// name, checked by the caller) on port, the configuration, certificates and
// key from folder, the credentials from standard input, and the shaper when
// shaperRate (bytes per second) is not 0.
QStringList ovpnArguments(const QString &folder, const QString &server, quint16 port,
                          quint32 shaperRate);

// The dial-up entry for a tunnel type (1 PPTP, 3 L2TP) and server.
Ras::Entry dialEntry(unsigned type, const QString &server);

// The entry's name, "KVO" (pppd carries it as its ipparam).
QString dialEntryName();
// The pre-shared key of the service's L2TP/IPsec servers.
QString preSharedKey();

} // namespace TunnelCommand
