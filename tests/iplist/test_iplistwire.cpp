// The IP list on a real session connection: a loopback server speaks the
// frames, and the requests the client answers with are checked byte by byte.
#include "iplistfixture.h"

#include "session/sessionpeer.h"

#include <gtest/gtest.h>

namespace {

const QString kServer = QStringLiteral("127.0.0.77");

struct WireFixture
{
    WireFixture()
        : peer(kServer), host(home.file(QStringLiteral("KVOClientSetup.ini"))), sock(sessionHost),
          channel(sock),
          controller(host, rows, channel, resets, home.file(QStringLiteral("DynamicIPUse")),
                     home.file(QStringLiteral("CheckedIP")))
    {
        sessionHost.info.userId = QStringLiteral("KVO@abc");
        sessionHost.info.tunnelAddress = QStringLiteral("10.8.0.6");
        sessionHost.product = 1;
        host.f.productType = 1;
        controller.setUpForProduct(1);
        controller.connectTo(sock.dispatcher());
    }

    // Bytes the client sent after the sign-in frame.
    QByteArray requests() { return peer.last().received.mid(12 + SessionWire::kLoginPacketSize); }

    TestHome home;
    SessionPeer peer;
    IpHostState host;
    TestHost sessionHost;
    ClientSock sock;
    ClientSockChannel channel;
    MemoryIpListRows rows;
    ResetPasses resets;
    IpListController controller;
};

} // namespace

TEST(IpListOnTheWire, SignInListChangeAndConfirmation)
{
    WireFixture fx;
    ASSERT_TRUE(fx.peer.listening());
    fx.sock.open(kServer);
    ASSERT_TRUE(fx.peer.waitForBytes(0, 12 + SessionWire::kLoginPacketSize));

    fx.peer.send(encodeFrame(SM_LOGIN_OK, 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fx.requests().size() >= 12; }, 5000));
    EXPECT_EQ(fx.requests().toHex(),
              QByteArray("0c000000"
                         "02000000"
                         "00000000"));
    EXPECT_TRUE(fx.sock.replyWatchdogActive());
    EXPECT_EQ(fx.host.status, QStringLiteral("아이피 사용정보를 불러오고 있습니다."));

    fx.host.f.lastUsedIp = QStringLiteral("10.1.2.3");
    const QList<FixedIpInfo> list = {fixedRecord("10.1.2.2", 1, 5, 30, ""),
                                     fixedRecord("10.1.2.3", 1, 6, 30, "")};
    fx.peer.send(encodeFrame(SM_IP_INFO, uint32_t(list.size()), SessionEncode::fixedList(list)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fx.requests().size() >= 12 + 16 + 12; }, 5000));
    EXPECT_EQ(fx.requests().mid(12).toHex(),
              QByteArray("10000000"
                         "03000000"
                         "01000000"
                         "0a010203"
                         "0c000000"
                         "18000000"
                         "00000000"));
    EXPECT_TRUE(fx.sock.replyWatchdogActive());
    ASSERT_EQ(fx.rows.rowCount(), 2);
    EXPECT_EQ(fx.rows.text(1, 2), QStringLiteral("@6"));

    fx.peer.send(encodeFrame(SM_IP_CHANGE_OK, 0, encodeAddress(QStringLiteral("10.1.2.3"))));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return fx.host.addressLabel == QStringLiteral("10.1.2.3"); }, 5000));
    EXPECT_EQ(fx.rows.text(1, 3), IpState::InUse);
    EXPECT_EQ(fx.rows.background(1), IpRowColor::InUse);
    EXPECT_FALSE(fx.sock.replyWatchdogActive());
    EXPECT_EQ(fx.host.logLines.last(), QStringLiteral("10.1.2.3로 IP변경 완료"));
    EXPECT_EQ(fx.resets.runs, (QStringList {QStringLiteral("first"), QStringLiteral("second")}));

    // Change: the next checked usable row goes out as a request.
    fx.controller.checkAll(true);
    fx.controller.changeAddress();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fx.requests().size() >= 12 + 16 + 12 + 16; }, 5000));
    EXPECT_EQ(fx.requests().mid(40).toHex(),
              QByteArray("10000000"
                         "03000000"
                         "01000000"
                         "0a010202"));

    // A session-ending message leaves no reconnect behind.
    fx.peer.send(encodeFrame(SM_DUPLICATE_LOGIN, 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fx.host.signOuts.isEmpty(); }, 5000));
    EXPECT_EQ(fx.host.signOuts, QStringList {QStringLiteral("다른 곳에서 로그인되어 있습니다.")});
    EXPECT_FALSE(fx.sock.reconnectFlag());
}
