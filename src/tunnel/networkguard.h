#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include "platform/tunneldns.h"

#include <functional>

class VPN;

// After a resume or a network change: whether the tunnel that is up still
// carries traffic. Cheap on purpose, answered within kProbeMs and never
// blocking the calling thread: the interface that
// holds the tunnel's address is still there, up and running; the driver's
// program still runs (openvpn) or its connection still reports itself
// connected (dial-up); and the tunnel server still accepts a TCP connection
// on the tunnel's port (OpenVPN 80, PPTP 1723; L2TP runs over UDP and has no
// such probe). A sleep long enough for the server to forget us, or a new
// network that cannot reach it, fails one of these.
namespace LinkCheck {
inline constexpr int kProbeMs = 3000;
// done(carries) runs later on the calling thread's event loop, once, unless
// context is destroyed first.
void checkTunnel(VPN &driver, const QString &server, QObject *context,
                 std::function<void(bool)> done);
// A TCP connection to server:port within the time, asked without blocking:
// done(false) for a name that does not resolve, a refusal or no answer.
void probeServer(const QString &server, quint16 port, int milliseconds, QObject *context,
                 std::function<void(bool)> done);
// Up to 8 IPv4 addresses of a dotted address or host name.
QStringList ipv4Addresses(const QString &server);
} // namespace LinkCheck

// "No traffic outside the tunnel" on the client's side: installs
// OutsideBlock's table once the tunnel is up (its interface found by the
// tunnel's address, the server's IPv4 addresses allowed) and removes it at
// log-out and exit. The work is done in-process when the client runs as
// root, else by kvo-helper (BlockOutside/Unblock), which also removes the
// table should the client leave the bus without doing so.
class OutsideGuard
{
public:
    // everything: the whole block; else IPv6 only (OutsideBlock::ipv6Ruleset).
    using Install = std::function<bool(const QString &iface, const QStringList &servers,
                                       bool everything, QString *error)>;
    using Remove = std::function<bool(QString *error)>;

    OutsideGuard(Install install, Remove remove);
    static OutsideGuard inProcess();
    static OutsideGuard throughHelper(QDBusConnection bus);

    // The tunnel is up (again) with this address: the table is installed or
    // replaced, the whole block or, with everything false, IPv6 only. False
    // with a reason; nothing is left half done.
    bool tunnelUp(const QString &assignedAddress, const QString &server, bool everything,
                  QString *error);
    // Removes the table when this guard installed it.
    void release();
    bool active() const { return m_active; }

private:
    Install m_install;
    Remove m_remove;
    bool m_active = false;
};

// Names through the tunnel on the client's side: with each tunnel up, the
// DNS servers and search domains its server handed out are checked and
// applied to its interface (TunnelDns); they are undone when the tunnel
// ends (a redial included), at log-out and at exit. In-process as root,
// else by kvo-helper (SetTunnelDns/RevertTunnelDns), which also undoes them
// should the client leave the bus without doing so. Each step gives the
// activity log its line.
class DnsGuard
{
public:
    using Apply = std::function<bool(const QString &iface, const TunnelDns::Settings &settings,
                                     QString *how, QString *error)>;
    using Revert = std::function<void()>;

    DnsGuard(Apply apply, Revert revert);
    static DnsGuard inProcess();
    static DnsGuard throughHelper(QDBusConnection bus);

    // The tunnel with this address is up and its server handed out these
    // values (as received). Returns the lines for the activity log: the
    // refused values, then what was applied and how, or why nothing was.
    QStringList tunnelUp(const QString &assignedAddress, const TunnelDns::Settings &pushed,
                         bool blockOutside);
    // Undoes what this guard applied.
    void release();
    // A new sign-in: the note on a server without DNS is given once again.
    void signedOut() { m_toldNoDns = false; }
    bool active() const { return m_active; }

private:
    Apply m_apply;
    Revert m_revert;
    bool m_active = false;
    bool m_toldNoDns = false;
};
