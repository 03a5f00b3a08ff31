// The session connection against a real loopback peer on port 10010: what
// the peer receives, what the client dispatches, and when it reconnects.
#include "sessionpeer.h"

#include "platform/tcpreset.h"
#include "session/sessioncodec.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <cerrno>
#include <cstring>

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// Each test has an address of its own, so that they never meet.
QString address(int n)
{
    return QStringLiteral("127.0.77.%1").arg(n);
}

LoginInfo signInState()
{
    LoginInfo s;
    s.parentId = QStringLiteral("parent");
    s.userId = QStringLiteral("user1");
    s.tunnelAddress = QStringLiteral("10.8.0.6");
    s.pcName = QStringLiteral("PC-A");
    s.tunnelType = 2;
    s.productType = 1;
    return s;
}

uint32_t u32At(const QByteArray &b, qsizetype off)
{
    const auto *u = reinterpret_cast<const unsigned char *>(b.constData() + off);
    return uint32_t(u[0]) | (uint32_t(u[1]) << 8) | (uint32_t(u[2]) << 16) | (uint32_t(u[3]) << 24);
}

struct Fixture
{
    explicit Fixture(int n) : peer(address(n)), sock(host)
    {
        host.info = signInState();
        QObject::connect(&sock, &ClientSock::statusTextRequested,
                         [this](const QString &t) { status.append(t); });
        QObject::connect(&sock, &ClientSock::sessionNotify,
                         [this](int w, int) { notices.append(w); });
        QObject::connect(
            &sock.dispatcher(), &SessionDispatcher::changeCompleted,
            [this](const QString &a) { dispatched.append(QStringLiteral("12 ") + a); });
        QObject::connect(
            &sock.dispatcher(), &SessionDispatcher::addressReleased,
            [this](const QString &a) { dispatched.append(QStringLiteral("16 ") + a); });
        QObject::connect(&sock.dispatcher(), &SessionDispatcher::fixedListReceived,
                         [this](const QList<FixedIpInfo> &l) {
                             dispatched.append(QStringLiteral("10 x%1").arg(l.size()));
                         });
        QObject::connect(&sock.dispatcher(), &SessionDispatcher::sessionEnded, [this](int t) {
            dispatched.append(QStringLiteral("end %1").arg(t));
            sock.setReconnectFlag(false);
            sock.close();
        });
    }
    bool signedIn(int connection = 0)
    {
        return peer.waitForBytes(connection, 12 + 812) &&
            QTest::qWaitFor([&] { return sock.connected(); }, 2000);
    }

    TestHost host;
    SessionPeer peer;
    ClientSock sock;
    QStringList status;
    QList<int> notices;
    QStringList dispatched;
};

QByteArray changeOk(const QString &a)
{
    return encodeFrame(SM_IP_CHANGE_OK, 0, encodeAddress(a));
}

} // namespace

TEST(ClientSockConnect, SignInFrameIsTheFirstThingSent)
{
    Fixture f(1);
    ASSERT_TRUE(f.peer.listening());
    f.sock.open(address(1));
    ASSERT_TRUE(f.signedIn());
    const QByteArray got = f.peer.at(0).received;
    ASSERT_EQ(got.size(), 824);
    EXPECT_EQ(u32At(got, 0), 824u);
    EXPECT_EQ(u32At(got, 4), 1u);
    EXPECT_EQ(u32At(got, 8), 1u);
    EXPECT_EQ(got.mid(12), LoginPacket::fromState(signInState()).encode());
    EXPECT_TRUE(f.sock.reconnectFlag());
}

TEST(ClientSockConnect, NoTunnelAddressMeansConnectedButSilent)
{
    Fixture f(2);
    f.host.info.tunnelAddress.clear();
    f.sock.open(address(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.sock.connected(); }, 5000));
    QTest::qWait(200);
    EXPECT_EQ(f.peer.at(0).received.size(), 0);
}

TEST(ClientSockConnect, NothingHappensWhileTheTunnelIsDown)
{
    Fixture f(3);
    f.host.up = false;
    f.sock.open(address(3));
    QTest::qWait(300);
    EXPECT_EQ(f.peer.count(), 0);
}

TEST(ClientSockReceive, TwoFramesInOneSegmentAreDispatchedInOrder)
{
    Fixture f(4);
    f.sock.open(address(4));
    ASSERT_TRUE(f.signedIn());
    f.peer.send(changeOk(QStringLiteral("1.1.1.1")) +
                encodeFrame(SM_IP_RELEASED, 0, encodeAddress(QStringLiteral("2.2.2.2"))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.dispatched.size() == 2; }, 3000));
    EXPECT_EQ(f.dispatched,
              (QStringList {QStringLiteral("12 1.1.1.1"), QStringLiteral("16 2.2.2.2")}));
}

TEST(ClientSockReceive, AFrameInPiecesIsDispatchedOnceWhole)
{
    Fixture f(5);
    f.sock.open(address(5));
    ASSERT_TRUE(f.signedIn());
    QList<FixedIpInfo> list;
    for (int i = 0; i < 50; ++i)
        list.append({QStringLiteral("10.0.0.%1").arg(i), i, 1, 3, {}});
    const QByteArray frame = encodeFrame(SM_IP_INFO, 50, SessionEncode::fixedList(list));
    for (qsizetype at = 0; at < frame.size(); at += 1000) {
        f.peer.send(frame.mid(at, 1000));
        QTest::qWait(20);
        if (at + 1000 < frame.size()) {
            EXPECT_TRUE(f.dispatched.isEmpty());
        }
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.dispatched.isEmpty(); }, 3000));
    EXPECT_EQ(f.dispatched, QStringList {QStringLiteral("10 x50")});
    EXPECT_TRUE(f.sock.connected());
}

TEST(ClientSockReceive, BadFramesCloseWithNothingDispatchedAndReconnect)
{
    struct Case
    {
        const char *name;
        QByteArray bytes;
    };
    QByteArray tooMany = encodeFrame(SM_IP_INFO, 1808, QByteArray(272, '\0'));
    const Case cases[] = {
        {"length below 12", QByteArray::fromHex("0b00000007000000000000")},
        {"body above the buffer",
         QByteArray::fromHex("0d800700"
                             "0a000000"
                             "00000000")},
        {"records beyond the capacity", tooMany},
    };
    int n = 10;
    for (const auto &c : cases) {
        Fixture f(n);
        f.sock.open(address(n));
        ++n;
        ASSERT_TRUE(f.signedIn()) << c.name;
        // A good frame after the bad one must not be reached either.
        f.peer.send(c.bytes + changeOk(QStringLiteral("3.3.3.3")));
        ASSERT_TRUE(QTest::qWaitFor([&] { return f.peer.closedByClient() == 1; }, 3000)) << c.name;
        EXPECT_FALSE(f.sock.connected()) << c.name;
        // About one second later a new connection signs in again.
        QElapsedTimer t;
        t.start();
        ASSERT_TRUE(f.signedIn(1)) << c.name;
        EXPECT_GE(t.elapsed(), 800) << c.name;
        EXPECT_TRUE(f.dispatched.isEmpty()) << c.name;
        EXPECT_EQ(f.notices, QList<int> {SessionNotify::Reconnect}) << c.name;
        EXPECT_EQ(f.status, QStringList {QStringLiteral("세션 관리서버 재연결중..")}) << c.name;
    }
}

TEST(ClientSockReconnect, PeerCloseLeadsToANewSignIn)
{
    Fixture f(20);
    f.sock.open(address(20));
    ASSERT_TRUE(f.signedIn());
    f.peer.at(0).socket->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.sock.connected(); }, 3000));
    // On a loaded machine the one-second reconnect may already have run.
    EXPECT_TRUE(f.sock.reconnectPending() || f.peer.count() > 1);
    ASSERT_TRUE(f.signedIn(1));
    EXPECT_EQ(f.status, QStringList {QStringLiteral("세션 관리서버 재연결중..")});
    EXPECT_EQ(f.peer.at(1).received.left(824), f.peer.at(0).received.left(824));
}

TEST(ClientSockReconnect, SessionEndingMessageBeforeTheCloseStopsReconnecting)
{
    Fixture f(21);
    f.sock.open(address(21));
    ASSERT_TRUE(f.signedIn());
    f.peer.send(encodeFrame(SM_SERVER_DISCONNECT, 0));
    f.peer.at(0).socket->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.dispatched.isEmpty(); }, 3000));
    QTest::qWait(1500);
    EXPECT_EQ(f.dispatched, QStringList {QStringLiteral("end 22")});
    EXPECT_EQ(f.peer.count(), 1);
    EXPECT_TRUE(f.status.isEmpty());
}

TEST(ClientSockReconnect, NoReconnectOnceTheTunnelIsDownOrTheFlagIsCleared)
{
    {
        Fixture f(22);
        f.sock.open(address(22));
        ASSERT_TRUE(f.signedIn());
        f.host.up = false;
        f.peer.at(0).socket->disconnectFromHost();
        QTest::qWait(1500);
        EXPECT_EQ(f.peer.count(), 1);
        EXPECT_TRUE(f.notices.isEmpty());
    }
    {
        Fixture f(23);
        f.sock.open(address(23));
        ASSERT_TRUE(f.signedIn());
        f.sock.setReconnectFlag(false);
        f.peer.at(0).socket->disconnectFromHost();
        QTest::qWait(1500);
        EXPECT_EQ(f.peer.count(), 1);
    }
}

TEST(ClientSockReconnect, UnreachableServerAlternatesStatusTextsUntilSignOut)
{
    Fixture f(24);
    f.peer.stopListening();
    f.sock.open(address(24));
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.status.size() >= 5; }, 6000));
    f.sock.close();
    const QString failed = QStringLiteral("아이피 사용셋팅에 실패하였습니다.");
    const QString again = QStringLiteral("세션 관리서버 재연결중..");
    EXPECT_EQ(f.status.mid(0, 5), (QStringList {failed, again, failed, again, failed}));
    const auto before = f.status.size();
    QTest::qWait(1500);
    EXPECT_EQ(f.status.size(), before);
}

TEST(ClientSockWatchdog, RequestsArmItAndAnyFrameStopsIt)
{
    Fixture f(25);
    QTimer mainWindowTimer;
    f.sock.setReplyWatchdogTimer(&mainWindowTimer);
    f.sock.open(address(25));
    ASSERT_TRUE(f.signedIn());
    EXPECT_FALSE(mainWindowTimer.isActive());
    EXPECT_EQ(f.sock.sendIpChangeRequest(QStringLiteral("10.1.2.3")), 16);
    EXPECT_TRUE(mainWindowTimer.isActive());
    EXPECT_EQ(mainWindowTimer.interval(), 30000);
    ASSERT_TRUE(f.peer.waitForBytes(0, 824 + 16));
    EXPECT_EQ(f.peer.at(0).received.mid(824).toHex(),
              QByteArray("10000000"
                         "03000000"
                         "01000000"
                         "0a010203"));
    f.peer.send(encodeFrame(99, 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mainWindowTimer.isActive(); }, 3000));

    EXPECT_EQ(f.sock.sendIpInfoRequest(), 12);
    EXPECT_TRUE(mainWindowTimer.isActive());
    f.sock.close();
    EXPECT_FALSE(mainWindowTimer.isActive());
    EXPECT_EQ(f.sock.sendBadIpListRequest(), -1);
}

TEST(ClientSockReceive, StallMidFrameClosesAfterTenSecondsAndReconnects)
{
    Fixture f(26);
    f.sock.open(address(26));
    ASSERT_TRUE(f.signedIn());
    const QByteArray frame = changeOk(QStringLiteral("4.4.4.4"));
    QElapsedTimer t;
    t.start();
    f.peer.send(frame.left(10));
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.peer.closedByClient() == 1; }, 15000));
    EXPECT_GE(t.elapsed(), 9500);
    EXPECT_LE(t.elapsed(), 12000);
    EXPECT_TRUE(f.dispatched.isEmpty());
    ASSERT_TRUE(f.signedIn(1));
}

TEST(ClientSockConnect, NoDescriptorLeftReportsTheSocketFailureWithoutRetrying)
{
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' own checks open pipes; with no descriptor left they
    // misreport every virtual call as a bad object.
    GTEST_SKIP() << "needs free descriptors for the sanitizer runtime";
#endif
    Fixture f(27);
    bool failed = false;
    QObject::connect(&f.sock, &ClientSock::socketCreateFailed, [&] { failed = true; });
    rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    // The lowest free descriptor number is how many are open below it.
    const int next = ::dup(0);
    ::close(next);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(next);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    f.sock.open(address(27));
    setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed; }, 3000));
    QTest::qWait(1500);
    EXPECT_FALSE(f.sock.reconnectPending());
    EXPECT_EQ(f.peer.count(), 0);
    EXPECT_TRUE(f.status.isEmpty());
}

// Errors on an established connection: an ended connection reconnects, only
// a network that is itself unusable signs out.
TEST(ClientSockErrors, EndedConnectionsReconnectAndADeadNetworkSignsOut)
{
    using Kind = ClientSock::ErrorKind;
    const auto text = [](int code) {
        return QString::fromLocal8Bit(std::strerror(code));
    };
    const struct
    {
        QAbstractSocket::SocketError error;
        QString text;
        Kind kind;
    } cases[] = {
        {QAbstractSocket::RemoteHostClosedError, text(ECONNRESET), Kind::Close},
        {QAbstractSocket::SocketTimeoutError, text(ETIMEDOUT), Kind::Close},
        {QAbstractSocket::NetworkError, text(ECONNABORTED), Kind::Close},
        {QAbstractSocket::NetworkError, text(ETIMEDOUT), Kind::Close},
        {QAbstractSocket::NetworkError, text(EPIPE), Kind::Close},
        {QAbstractSocket::UnknownSocketError, QString(), Kind::Close},
        {QAbstractSocket::NetworkError, text(ENETDOWN), Kind::ReadError},
        {QAbstractSocket::NetworkError, text(ENETUNREACH), Kind::ReadError},
        {QAbstractSocket::NetworkError, text(EHOSTUNREACH), Kind::ReadError},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ClientSock::classifyEstablishedError(c.error, c.text), c.kind)
            << int(c.error) << " " << c.text.toStdString();
}

TEST(ClientSockErrors, AbortedConnectionReconnectsWithoutSigningOut)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "destroying a connection needs CAP_NET_ADMIN";
    Fixture f(28);
    f.sock.open(address(28));
    ASSERT_TRUE(f.signedIn());
    // The kernel aborts our end (ECONNABORTED), as a reset pass would.
    ASSERT_EQ(TcpReset::resetConnectionsTo({address(28)}, ClientSock::kPort), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.sock.connected(); }, 3000));
    ASSERT_TRUE(f.signedIn(1));
    EXPECT_EQ(f.notices, QList<int> {SessionNotify::Reconnect});
}
