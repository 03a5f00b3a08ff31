#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

struct DeploymentConfig;

// Dropping the machine's HTTPS connections to a few fixed hosts after every
// address switch, so that the programs holding them reconnect under the new
// address. Linux: a NETLINK_SOCK_DIAG dump of the established IPv4 TCP
// sockets, each match destroyed with SOCK_DESTROY (needs CAP_NET_ADMIN).
// Every failure is silent; a pass then simply does less.
namespace TcpReset {

struct Connection
{
    QString localAddress;
    uint16_t localPort = 0;
    QString remoteAddress;
    uint16_t remotePort = 0;
};

// The established IPv4 TCP connections; *ok is false when the table could
// not be read.
QList<Connection> establishedConnections(bool *ok = nullptr);

// Destroys every established connection whose remote address text equals
// one of hosts (ignoring case) and whose remote port is port, and, with
// ownerUid 0 or more, whose socket belongs to that user. Returns how many
// were destroyed.
int resetConnectionsTo(const QStringList &hosts, uint16_t port = 443, qint64 ownerUid = -1);

} // namespace TcpReset

// The two reset passes run after a confirmed switch, behind an interface so
// that tests of the switch can record them instead.
class TcpConnectionResetter
{
public:
    virtual ~TcpConnectionResetter() = default;
    virtual void firstPass() = 0;
    virtual void secondPass() = 0;
};

// The real passes over the deployment's ResetHostsFirst/ResetHostsSecond.
class NetlinkTcpResetter : public TcpConnectionResetter
{
public:
    explicit NetlinkTcpResetter(const QStringList &firstHosts, const QStringList &secondHosts);
    static NetlinkTcpResetter fromConfig(const DeploymentConfig &config);
    void firstPass() override;
    void secondPass() override;

private:
    QStringList m_first;
    QStringList m_second;
};
