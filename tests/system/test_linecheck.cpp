#include "system/linecheck.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>

#include "support/testhome.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

TEST(LineCheck, PortsByTunnelType)
{
    EXPECT_EQ(lineCheckPort(1), 1723);
    EXPECT_EQ(lineCheckPort(2), 80);
    EXPECT_EQ(lineCheckPort(3), 1701);
    EXPECT_EQ(lineCheckPort(7), 0);
}

TEST(LineCheck, TimeOutSplitsIntoSecondsAndMicroseconds)
{
    const timeval a = CSocketWithTimeout::splitTimeout(2.5);
    EXPECT_EQ(a.tv_sec, 2);
    EXPECT_EQ(a.tv_usec, 500000);
    const timeval b = CSocketWithTimeout::splitTimeout(5.0);
    EXPECT_EQ(b.tv_sec, 5);
    EXPECT_EQ(b.tv_usec, 0);
}

TEST(LineCheck, ConnectsToAListenerAndFailsOnARefusal)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    CSocketWithTimeout s;
    EXPECT_TRUE(s.Connect(QStringLiteral("127.0.0.1"), server.serverPort(), 2.0));
    const quint16 port = server.serverPort();
    server.close();
    CSocketWithTimeout refused;
    EXPECT_FALSE(refused.Connect(QStringLiteral("127.0.0.1"), port, 2.0));
    EXPECT_FALSE(refused.Connect(QStringLiteral("not an address"), port, 2.0));
}

TEST(LineCheck, ServerOnItsTunnelPort)
{
    // L2TP's check is a TCP attempt on 1701.
    QTcpServer l2tp;
    if (!l2tp.listen(QHostAddress(QStringLiteral("127.0.0.9")), 1701))
        GTEST_SKIP() << "cannot listen on 127.0.0.9:1701";
    LineCheck check;
    EXPECT_TRUE(check.check(QStringLiteral("127.0.0.9"), 3));
    EXPECT_FALSE(check.check(QStringLiteral("127.0.0.9"), 1)); // nothing on 1723
    EXPECT_FALSE(check.check(QStringLiteral("no-such-host.invalid"), 3));
}

TEST(LineCheck, WebHostCheckUsesTheDeploymentHttpPort)
{
    // Without a server the check connects to the web host's plain-HTTP
    // port, which the deployment may move off 80.
    QTcpServer web;
    ASSERT_TRUE(web.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    TestHome home;
    home.write(QStringLiteral("KVOService.ini"),
               QStringLiteral("[Service]\r\nWebHost=127.0.0.1:1\r\nWebHttpPort=%1\r\n")
                   .arg(web.serverPort())
                   .toLatin1());
    LineCheck check;
    EXPECT_TRUE(check.check(QString(), 2));
    const quint16 port = web.serverPort();
    web.close();
    EXPECT_FALSE(check.check(QString(), 2)) << "nothing listens on " << port;
}

TEST(LineCheck, UnansweredConnectGivesUpAfterTheTimeOut)
{
    // A loopback listener whose accept queue is full drops further SYNs, so
    // only the time-out ends the attempt.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    socklen_t len = sizeof sa;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&sa), &len);
    ASSERT_EQ(::listen(listener, 0), 0);
    const int port = ntohs(sa.sin_port);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        fillers.push_back(fd);
    }
    ::usleep(200000);
    CSocketWithTimeout s;
    QElapsedTimer t;
    t.start();
    const bool ok = s.Connect(QStringLiteral("127.0.0.1"), port, 0.5);
    const qint64 elapsed = t.elapsed();
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
    if (ok)
        GTEST_SKIP() << "the kernel accepted past the full queue";
    EXPECT_GE(elapsed, 450);
    EXPECT_LT(elapsed, 2000);
}
