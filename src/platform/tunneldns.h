#pragma once

#include <QString>
#include <QStringList>

// Names through the tunnel: the DNS servers and search domains a tunnel
// server hands out, applied to the tunnel's interface for as long as it is
// up and undone after. Through what the machine uses, in this order:
//  1. systemd-resolved (org.freedesktop.resolve1 on the system bus):
//     SetLinkDNS, SetLinkDomains with the routing domain "~." so that every
//     name goes to the tunnel, SetLinkDefaultRoute; RevertLink after;
//  2. resolvconf, when it manages /etc/resolv.conf: a record "<iface>.kvo";
//  3. else /etc/resolv.conf itself, replaced in one rename, its original
//     kept beside it as /etc/resolv.conf.kvo-saved until it is put back.
// Needs root. Used by kvo-helper and by a client running as root.
namespace TunnelDns {

inline constexpr int kMaxServers = 3; // what the C library's resolver reads
inline constexpr int kMaxDomains = 6;

struct Settings
{
    QStringList servers; // dotted IPv4
    QStringList domains; // host names
    bool operator==(const Settings &) const = default;
};

// The acceptable values, in order, duplicates and values beyond the
// limits dropped; every refused value goes to *refused as it came.
Settings checked(const QStringList &servers, const QStringList &domains, QStringList *refused);
// Whether a set can be applied as it stands: 1 to kMaxServers dotted
// addresses, at most kMaxDomains host names.
bool valid(const Settings &settings);
// A received value fit for a log line: printable, at most 64 characters.
QString printable(const QString &value);

enum class Method { Resolved, Resolvconf, ResolvConfFile };
QString methodName(Method method); // "systemd-resolved", "resolvconf", "/etc/resolv.conf"

// What is applied for one interface, one at a time for the machine.
class Applier
{
public:
    Applier() = default;
    ~Applier(); // reverts
    Applier(const Applier &) = delete;
    Applier &operator=(const Applier &) = delete;

    // Applies to the interface, replacing what this applier applied before.
    // False with a reason; then nothing of this call is left.
    bool apply(const QString &iface, const Settings &settings, Method *how, QString *error);
    // Puts back what was there before; nothing when nothing is applied.
    void revert();
    bool active() const { return m_active; }
    QString interfaceName() const { return m_iface; }

    // At a start after a crash: undoes what an earlier process applied and
    // could not revert (the saved resolv.conf, the resolvconf record, the
    // resolved link). Returns what it did, empty for nothing.
    static QString recover();

private:
    bool m_active = false;
    Method m_method = Method::ResolvConfFile;
    QString m_iface;
    QByteArray m_written; // the resolv.conf we wrote
};

} // namespace TunnelDns
