#include "tcpreset.h"

#include "deploymentconfig.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

constexpr unsigned kTcpEstablished = 1; // TCP_ESTABLISHED in the kernel's numbering

class NetlinkSocket
{
public:
    NetlinkSocket() : m_fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG))
    {
        if (m_fd >= 0) {
            timeval tv {2, 0}; // a kernel that never answers must not hang the thread
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        }
    }
    ~NetlinkSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    NetlinkSocket(const NetlinkSocket &) = delete;
    NetlinkSocket &operator=(const NetlinkSocket &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

struct DiagRequest
{
    nlmsghdr header;
    inet_diag_req_v2 body;
};

DiagRequest makeRequest(uint16_t type, uint16_t flags, uint32_t seq)
{
    DiagRequest r;
    std::memset(&r, 0, sizeof r);
    r.header.nlmsg_len = sizeof r;
    r.header.nlmsg_type = type;
    r.header.nlmsg_flags = flags;
    r.header.nlmsg_seq = seq;
    r.body.sdiag_family = AF_INET;
    r.body.sdiag_protocol = IPPROTO_TCP;
    r.body.idiag_states = 1u << kTcpEstablished;
    return r;
}

bool sendRequest(int fd, DiagRequest &r)
{
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(fd, &r, sizeof r, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) ==
        ssize_t(sizeof r);
}

// Dumps the established IPv4 sockets with their kernel ids.
bool dump(std::vector<inet_diag_msg> &out)
{
    NetlinkSocket nl;
    if (nl.fd() < 0)
        return false;
    DiagRequest req = makeRequest(SOCK_DIAG_BY_FAMILY, NLM_F_REQUEST | NLM_F_DUMP, 1);
    if (!sendRequest(nl.fd(), req))
        return false;
    std::vector<char> buf(64 * 1024);
    for (;;) {
        const ssize_t n = ::recv(nl.fd(), buf.data(), buf.size(), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        int left = int(n);
        for (auto *h = reinterpret_cast<nlmsghdr *>(buf.data()); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE)
                return true;
            if (h->nlmsg_type == NLMSG_ERROR)
                return false;
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            out.push_back(*static_cast<const inet_diag_msg *>(NLMSG_DATA(h)));
        }
    }
}

// SOCK_DESTROY for one socket; the kernel's answer is read but, as every
// failure here, not acted on.
bool destroy(int fd, const inet_diag_msg &msg, uint32_t seq)
{
    DiagRequest req = makeRequest(SOCK_DESTROY, NLM_F_REQUEST | NLM_F_ACK, seq);
    req.body.id = msg.id;
    if (!sendRequest(fd, req))
        return false;
    char buf[1024];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < ssize_t(NLMSG_LENGTH(sizeof(nlmsgerr))))
        return false;
    const auto *h = reinterpret_cast<const nlmsghdr *>(buf);
    if (h->nlmsg_type != NLMSG_ERROR)
        return false;
    return static_cast<const nlmsgerr *>(NLMSG_DATA(h))->error == 0;
}

QString dotted(const uint32_t be[4])
{
    in_addr a {};
    a.s_addr = be[0];
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return QString::fromLatin1(text);
}

bool listed(const QStringList &hosts, const QString &address)
{
    for (const QString &h : hosts) {
        if (h.trimmed().compare(address, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

namespace TcpReset {

QList<Connection> establishedConnections(bool *ok)
{
    std::vector<inet_diag_msg> msgs;
    const bool read = dump(msgs);
    if (ok)
        *ok = read;
    QList<Connection> out;
    for (const auto &m : msgs) {
        if (m.idiag_family != AF_INET || m.idiag_state != kTcpEstablished)
            continue;
        out.append({dotted(m.id.idiag_src), ntohs(m.id.idiag_sport), dotted(m.id.idiag_dst),
                    ntohs(m.id.idiag_dport)});
    }
    return out;
}

int resetConnectionsTo(const QStringList &hosts, uint16_t port, qint64 ownerUid)
{
    if (hosts.isEmpty())
        return 0;
    std::vector<inet_diag_msg> msgs;
    if (!dump(msgs))
        return 0;
    NetlinkSocket nl;
    if (nl.fd() < 0)
        return 0;
    int destroyed = 0;
    uint32_t seq = 2;
    for (const auto &m : msgs) {
        if (m.idiag_family != AF_INET || m.idiag_state != kTcpEstablished ||
            ntohs(m.id.idiag_dport) != port || !listed(hosts, dotted(m.id.idiag_dst)) ||
            (ownerUid >= 0 && qint64(m.idiag_uid) != ownerUid))
            continue;
        if (destroy(nl.fd(), m, seq++))
            ++destroyed;
    }
    return destroyed;
}

} // namespace TcpReset

NetlinkTcpResetter::NetlinkTcpResetter(const QStringList &firstHosts,
                                       const QStringList &secondHosts)
    : m_first(firstHosts), m_second(secondHosts)
{ }

NetlinkTcpResetter NetlinkTcpResetter::fromConfig(const DeploymentConfig &config)
{
    return NetlinkTcpResetter(config.resetHostsFirst, config.resetHostsSecond);
}

void NetlinkTcpResetter::firstPass()
{
    TcpReset::resetConnectionsTo(m_first, 443);
}

void NetlinkTcpResetter::secondPass()
{
    TcpReset::resetConnectionsTo(m_second, 443);
}
