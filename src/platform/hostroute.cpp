#include "hostroute.h"

#include "ipv4.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One request and its answer on a NETLINK_ROUTE socket of its own.
class RouteSocket
{
public:
    RouteSocket() : m_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE))
    {
        if (m_fd >= 0) {
            timeval tv {2, 0}; // a kernel that never answers must not hang the caller
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        }
    }
    ~RouteSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RouteSocket(const RouteSocket &) = delete;
    RouteSocket &operator=(const RouteSocket &) = delete;

    bool ok() const { return m_fd >= 0; }

    // Sends the message and reads the answer into buffer. Returns the
    // answer's length, or -errno (the kernel's error answer included).
    int exchange(nlmsghdr *message, char *buffer, int size)
    {
        message->nlmsg_seq = ++m_seq;
        sockaddr_nl kernel {};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(m_fd, message, message->nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel),
                     sizeof kernel) < 0)
            return -errno;
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, size_t(size), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -errno;
            auto *h = reinterpret_cast<nlmsghdr *>(buffer);
            if (!NLMSG_OK(h, unsigned(n)) || h->nlmsg_seq != m_seq)
                continue; // not the answer to this request
            if (h->nlmsg_type == NLMSG_ERROR) {
                if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr)))
                    return -EPROTO;
                const int error = reinterpret_cast<nlmsgerr *>(NLMSG_DATA(h))->error;
                return error < 0 ? error : int(n);
            }
            return int(n);
        }
    }

private:
    int m_fd;
    quint32 m_seq = 0;
};

struct RouteRequest
{
    nlmsghdr header;
    rtmsg route;
    char attributes[64];
};

void addAttribute(RouteRequest &r, unsigned short type, const void *data, unsigned short length)
{
    auto *a =
        reinterpret_cast<rtattr *>(reinterpret_cast<char *>(&r) + NLMSG_ALIGN(r.header.nlmsg_len));
    a->rta_type = type;
    a->rta_len = RTA_LENGTH(length);
    std::memcpy(RTA_DATA(a), data, length);
    r.header.nlmsg_len = NLMSG_ALIGN(r.header.nlmsg_len) + RTA_ALIGN(a->rta_len);
}

RouteRequest request(unsigned short type, unsigned short flags, quint32 destination)
{
    RouteRequest r;
    std::memset(&r, 0, sizeof r);
    r.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    r.header.nlmsg_type = type;
    r.header.nlmsg_flags = NLM_F_REQUEST | flags;
    r.route.rtm_family = AF_INET;
    r.route.rtm_dst_len = 32;
    addAttribute(r, RTA_DST, &destination, sizeof destination);
    return r;
}

// The route the kernel takes to destination now: the gateway and interface
// it resolves to, or (fibEntry) the routing table's entry that matches, with
// its prefix length and protocol.
struct Lookup
{
    int error = 0;
    unsigned char type = 0;
    unsigned char protocol = 0;
    unsigned char destinationLength = 0;
    quint32 gateway = 0;
    int interface = 0;
};

Lookup lookUp(RouteSocket &socket, quint32 destination, bool fibEntry)
{
    RouteRequest r = request(RTM_GETROUTE, 0, destination);
    if (fibEntry)
        r.route.rtm_flags = RTM_F_FIB_MATCH;
    char answer[4096];
    Lookup found;
    const int n = socket.exchange(&r.header, answer, sizeof answer);
    if (n < 0) {
        found.error = -n;
        return found;
    }
    auto *h = reinterpret_cast<nlmsghdr *>(answer);
    if (h->nlmsg_type != RTM_NEWROUTE || h->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
        found.error = EPROTO;
        return found;
    }
    const auto *route = static_cast<const rtmsg *>(NLMSG_DATA(h));
    found.type = route->rtm_type;
    found.protocol = route->rtm_protocol;
    found.destinationLength = route->rtm_dst_len;
    int left = int(RTM_PAYLOAD(h));
    for (auto *a = RTM_RTA(route); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type == RTA_GATEWAY && RTA_PAYLOAD(a) == sizeof(quint32))
            std::memcpy(&found.gateway, RTA_DATA(a), sizeof(quint32));
        else if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) == sizeof(int))
            std::memcpy(&found.interface, RTA_DATA(a), sizeof(int));
    }
    return found;
}

void deleteRoute(RouteSocket &socket, quint32 destination, quint32 gateway, int interface)
{
    RouteRequest r = request(RTM_DELROUTE, NLM_F_ACK, destination);
    r.route.rtm_table = RT_TABLE_MAIN;
    r.route.rtm_protocol = HostRoute::kProtocol;
    r.route.rtm_scope = RT_SCOPE_NOWHERE;
    if (gateway)
        addAttribute(r, RTA_GATEWAY, &gateway, sizeof gateway);
    if (interface)
        addAttribute(r, RTA_OIF, &interface, sizeof interface);
    char answer[1024];
    socket.exchange(&r.header, answer, sizeof answer);
}

QString dotted(quint32 networkOrder)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &networkOrder, text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

bool HostRoute::add(const QString &address, QString *error)
{
    remove();
    if (!isDottedIpv4(address)) {
        if (error)
            *error = QStringLiteral("not an IPv4 address: %1").arg(address);
        return false;
    }
    const quint32 destination = htonl(Ipv4::numericValue(address));
    RouteSocket socket;
    if (!socket.ok()) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // One of ours left behind by a process that was killed: it goes, and the
    // new one follows today's way there.
    const Lookup entry = lookUp(socket, destination, true);
    if (entry.error == 0 && entry.destinationLength == 32 && entry.protocol == kProtocol)
        deleteRoute(socket, destination, entry.gateway, entry.interface);
    else if (entry.error == 0 && entry.destinationLength == 32)
        return true; // a host route someone else keeps
    const Lookup now = lookUp(socket, destination, false);
    if (now.error == ENETUNREACH || now.error == EHOSTUNREACH)
        return true; // no way there to keep; the dial will say so
    if (now.error != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(now.error));
        return false;
    }
    if (now.type != RTN_UNICAST)
        return true; // one of the machine's own addresses, or a blackhole

    RouteRequest r = request(RTM_NEWROUTE, NLM_F_ACK | NLM_F_CREATE | NLM_F_EXCL, destination);
    r.route.rtm_table = RT_TABLE_MAIN;
    r.route.rtm_protocol = kProtocol;
    r.route.rtm_type = RTN_UNICAST;
    r.route.rtm_scope = now.gateway ? RT_SCOPE_UNIVERSE : RT_SCOPE_LINK;
    if (now.gateway)
        addAttribute(r, RTA_GATEWAY, &now.gateway, sizeof now.gateway);
    addAttribute(r, RTA_OIF, &now.interface, sizeof now.interface);
    char answer[1024];
    const int n = socket.exchange(&r.header, answer, sizeof answer);
    if (n < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(-n));
        return false;
    }
    m_active = true;
    m_destination = destination;
    m_gatewayAddress = now.gateway;
    m_interface = now.interface;
    m_gateway = now.gateway ? dotted(now.gateway) : QString();
    return true;
}

void HostRoute::remove()
{
    if (!m_active)
        return;
    m_active = false;
    RouteSocket socket;
    if (socket.ok()) // gone with its interface: fine
        deleteRoute(socket, m_destination, m_gatewayAddress, m_interface);
}
