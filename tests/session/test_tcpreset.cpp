// The reset passes against real loopback connections: only the established
// connections to a listed address on port 443 are dropped. Needs root
// (SOCK_DESTROY wants CAP_NET_ADMIN, listeners on 443 want a low port).
#include "platform/deploymentconfig.h"
#include "platform/tcpreset.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

sockaddr_in endpoint(const char *address, uint16_t port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) { }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(Fd &&o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

Fd listener(const char *address, uint16_t port, int backlog = 16)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = endpoint(address, port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0 ||
        ::listen(fd.get(), backlog) != 0)
        return Fd();
    return fd;
}

// A non-blocking connect; the handshake runs in the kernel.
Fd connectTo(const char *address, uint16_t port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    const sockaddr_in a = endpoint(address, port);
    ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&a), sizeof a);
    return fd;
}

int tcpState(const Fd &fd)
{
    tcp_info info {};
    socklen_t len = sizeof info;
    if (::getsockopt(fd.get(), IPPROTO_TCP, TCP_INFO, &info, &len) != 0)
        return -1;
    return info.tcpi_state;
}

void settle()
{
    ::usleep(100 * 1000);
}

struct Client
{
    const char *name;
    Fd fd;
    bool expectDropped;
};

} // namespace

TEST(TcpResetPass, OnlyListedEstablishedHttpsConnectionsAreDropped)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: SOCK_DESTROY and listeners on port 443";

    const char *listedA = "127.0.78.1";
    const char *unlisted = "127.0.78.2";
    const char *listedFull = "127.0.78.3"; // accept queue full: later connects stay SYN_SENT
    Fd l1 = listener(listedA, 443);
    Fd l2 = listener(unlisted, 443);
    Fd l3 = listener(listedA, 80);
    Fd l4 = listener(listedFull, 443, 0);
    ASSERT_GE(l1.get(), 0);
    ASSERT_GE(l2.get(), 0);
    ASSERT_GE(l3.get(), 0);
    ASSERT_GE(l4.get(), 0);

    std::vector<Client> clients;
    clients.push_back({"listed 443 #1", connectTo(listedA, 443), true});
    clients.push_back({"listed 443 #2", connectTo(listedA, 443), true});
    clients.push_back({"listed 443 #3", connectTo(listedA, 443), true});
    clients.push_back({"unlisted 443", connectTo(unlisted, 443), false});
    clients.push_back({"listed 80", connectTo(listedA, 80), false});
    clients.push_back({"queued, established", connectTo(listedFull, 443), true});
    settle();
    clients.push_back({"not yet established", connectTo(listedFull, 443), false});
    settle();

    ASSERT_EQ(tcpState(clients.back().fd), TCP_SYN_SENT);
    uint16_t firstPort = 0;
    for (const auto &c : clients) {
        if (std::string(c.name) != "not yet established") {
            ASSERT_EQ(tcpState(c.fd), TCP_ESTABLISHED) << c.name;
        }
        sockaddr_in local {};
        socklen_t len = sizeof local;
        ::getsockname(c.fd.get(), reinterpret_cast<sockaddr *>(&local), &len);
        if (firstPort == 0)
            firstPort = ntohs(local.sin_port);
    }

    bool ok = false;
    const QList<TcpReset::Connection> table = TcpReset::establishedConnections(&ok);
    ASSERT_TRUE(ok);
    int listedSeen = 0;
    for (const auto &c : table) {
        if (c.remoteAddress == QLatin1String(listedA) && c.remotePort == 443)
            ++listedSeen;
        if (c.localPort == firstPort) {
            EXPECT_EQ(c.remoteAddress, QLatin1String(listedA));
        }
    }
    EXPECT_EQ(listedSeen, 3);

    DeploymentConfig config = DeploymentConfig::defaults();
    config.resetHostsFirst = {QStringLiteral("203.0.113.10"), QString::fromLatin1(listedA),
                              QStringLiteral("203.0.113.11"), QString::fromLatin1(listedFull)};
    config.resetHostsSecond = {QStringLiteral("127.0.78.9")};
    NetlinkTcpResetter resetter = NetlinkTcpResetter::fromConfig(config);
    resetter.firstPass();
    settle();

    for (const auto &c : clients) {
        const int state = tcpState(c.fd);
        if (c.expectDropped) {
            EXPECT_EQ(state, TCP_CLOSE) << c.name;
            char b;
            EXPECT_EQ(::recv(c.fd.get(), &b, 1, 0), -1) << c.name;
        } else if (std::string(c.name) == "not yet established") {
            EXPECT_EQ(state, TCP_SYN_SENT) << c.name;
        } else {
            EXPECT_EQ(state, TCP_ESTABLISHED) << c.name;
        }
    }
}

TEST(TcpResetPass, SecondPassUsesItsOwnListAndNoMatchChangesNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: SOCK_DESTROY and listeners on port 443";
    Fd l = listener("127.0.78.4", 443);
    ASSERT_GE(l.get(), 0);
    Fd c = connectTo("127.0.78.4", 443);
    settle();
    ASSERT_EQ(tcpState(c), TCP_ESTABLISHED);

    NetlinkTcpResetter resetter({QStringLiteral("127.0.78.5")}, {QStringLiteral("127.0.78.4")});
    resetter.firstPass();
    settle();
    EXPECT_EQ(tcpState(c), TCP_ESTABLISHED);
    EXPECT_EQ(TcpReset::resetConnectionsTo({}, 443), 0);
    EXPECT_EQ(TcpReset::resetConnectionsTo({QStringLiteral("127.0.78.4")}, 8443), 0);
    EXPECT_EQ(tcpState(c), TCP_ESTABLISHED);
    resetter.secondPass();
    settle();
    EXPECT_EQ(tcpState(c), TCP_CLOSE);
}
