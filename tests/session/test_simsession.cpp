// The simulator's session server, driven as the client drives it: frames
// over a real loopback connection, and what it records.
#include "sessionpeer.h"

#include "recorder.h"
#include "scenario.h"
#include "session/sessionservermodule.h"

#include <QJsonDocument>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

const char *kScenario = R"({
  "accounts": [
    { "id": "fixuser", "password": "pw", "server": "127.0.79.1", "productType": 1,
      "session": {
        "expire": 1767225600,
        "fixed": [
          { "address": "211.1.1.1", "userNumber": 11, "state": 1, "days": 30 },
          { "address": "211.1.1.2", "userNumber": 12, "state": 0, "days": 3, "pc": "OTHER-PC" },
          { "address": "211.1.1.3", "userNumber": 13, "state": 1, "days": 0 },
          { "address": "211.1.1.4", "userNumber": 14, "state": 1, "days": 9 }
        ],
        "reported": ["211.1.1.3"],
        "memos": [ { "userNumber": 11, "text": "첫 메모" } ],
        "refuseChange": ["211.1.1.4"],
        "events": [
          { "after": "change", "nth": 2, "action": "share", "addresses": ["211.1.1.3"], "pc": "PC9" },
          { "after": "change", "nth": 2, "action": "unshare", "addresses": ["211.1.1.3"], "pc": "PC9" },
          { "after": "change", "nth": 2, "action": "take", "address": "211.1.1.4", "pc": "PC7" },
          { "after": "change", "nth": 2, "action": "end", "type": 23, "close": true }
        ]
      } },
    { "id": "dynuser", "password": "pw", "server": "127.0.79.1", "productType": 2,
      "session": { "dynamic": ["61.2.0.1", "61.2.0.2"] } },
    { "id": "refused", "password": "pw", "server": "127.0.79.2",
      "session": { "refuseLogin": true } },
    { "id": "broken", "password": "pw", "server": "127.0.79.2",
      "session": { "events": [ { "after": "login", "action": "raw", "hex": "05000000" } ] } },
    { "id": "nousable", "password": "pw", "server": "127.0.79.2",
      "session": { "noUsableAddress": true,
                   "fixed": [ { "address": "211.9.9.1", "userNumber": 1, "state": 1 },
                              { "address": "211.9.9.2", "userNumber": 2, "state": 2 } ] } }
  ]
})";

class RawClient
{
public:
    explicit RawClient(const QString &address)
    {
        m_socket.connectToHost(address, ClientSock::kPort);
        m_socket.waitForConnected(3000);
    }
    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void send(int type, uint32_t param, const QByteArray &payload = {})
    {
        m_socket.write(encodeFrame(type, param, payload));
        m_socket.flush();
    }
    void signIn(const QString &user, int product, const QString &pc = QStringLiteral("MYPC"))
    {
        LoginInfo s;
        s.parentId = QStringLiteral("parent");
        s.userId = user;
        s.tunnelAddress = QStringLiteral("10.8.0.2");
        s.pcName = pc;
        s.tunnelType = 2;
        s.productType = product;
        send(SM_LOGIN, 1, LoginPacket::fromState(s).encode());
    }
    // The next frame, or type -1 when none arrives in time.
    SessionFrame next(int ms = 3000)
    {
        const bool whole = QTest::qWaitFor(
            [&] {
                m_buffer += m_socket.readAll();
                return scanFrame(m_buffer, nullptr) == FrameScan::Complete;
            },
            ms);
        if (!whole)
            return {-1, 0, {}};
        qint64 length = 0;
        scanFrame(m_buffer, &length);
        return takeFrame(m_buffer, length);
    }
    bool closedByPeer(int ms = 3000)
    {
        return QTest::qWaitFor(
            [&] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

struct Sim
{
    Sim() : scenario(Scenario::fromJson(QJsonDocument::fromJson(kScenario).object()))
    {
        QString error;
        started = module.start(scenario, recorder, &error);
        EXPECT_TRUE(started) << error.toStdString();
    }
    QStringList events() const
    {
        QStringList out;
        for (const QJsonObject &e : recorder.entries(QStringLiteral("session")))
            out.append(e.value(QStringLiteral("event")).toString());
        return out;
    }
    Scenario scenario;
    Recorder recorder;
    SessionServerModule module;
    bool started = false;
};

} // namespace

TEST(SimSessionServer, FixedAccountSignInListAndChanges)
{
    Sim sim;
    ASSERT_TRUE(sim.started);
    RawClient c(QStringLiteral("127.0.79.1"));
    ASSERT_TRUE(c.connected());
    c.signIn(QStringLiteral("fixuser"), 1);
    EXPECT_EQ(c.next().type, SM_LOGIN_OK);
    const SessionFrame expire = c.next();
    ASSERT_EQ(expire.type, SM_EXPIRE_DATE);
    EXPECT_EQ(SessionDecode::expireDate(expire), 1767225600);

    c.send(SM_IP_INFO_REQUEST, 0);
    const SessionFrame list = c.next();
    ASSERT_EQ(list.type, SM_IP_INFO);
    ASSERT_EQ(list.param, 4u);
    EXPECT_EQ(list.payload.size(), 4 * 272);
    const QList<FixedIpInfo> records = SessionDecode::fixedList(list);
    EXPECT_EQ(records[1].address, QStringLiteral("211.1.1.2"));
    EXPECT_EQ(records[1].state, 0);
    EXPECT_EQ(records[1].pcName, QStringLiteral("OTHER-PC"));
    EXPECT_EQ(records[2].days, 0);
    EXPECT_EQ(records[0].userNumber, 11);

    struct Case
    {
        QString address;
        int reply;
        QString replyText;
    };
    const Case cases[] = {
        {QStringLiteral("211.1.1.2"), SM_IP_IN_USE, QStringLiteral("211.1.1.2 OTHER-PC")},
        {QStringLiteral("211.1.1.4"), SM_IP_CHANGE_FAIL, {}},
        {QStringLiteral("9.9.9.9"), SM_IP_CHANGE_FAIL, {}},
        {QStringLiteral("211.1.1.1"), SM_IP_CHANGE_OK, QStringLiteral("211.1.1.1")},
    };
    for (const auto &k : cases) {
        c.send(SM_IP_CHANGE_REQUEST, 1, encodeAddress(k.address));
        const SessionFrame r = c.next();
        EXPECT_EQ(r.type, k.reply) << k.address.toStdString();
        if (k.reply == SM_IP_IN_USE) {
            const IpPcNotice n = SessionDecode::ipPcNotice(r);
            EXPECT_EQ(n.address + QLatin1Char(' ') + n.pcName, k.replyText);
        } else if (k.reply == SM_IP_CHANGE_OK) {
            EXPECT_EQ(SessionDecode::address(r), k.replyText);
        }
    }
    EXPECT_EQ(sim.module.account(QStringLiteral("fixuser"))->fixed[0].pc, QStringLiteral("MYPC"));

    // Memo save, then the list carries it; a report extends the reported list.
    c.send(SM_MEMO_SAVE, 1, MemoInfo {13, QStringLiteral("새 메모")}.encode());
    c.send(SM_BAD_IP_REPORT, 1,
           BadIpInfo {1, QStringLiteral("211.1.1.1"), QStringLiteral("게임")}.encode());
    c.send(SM_MEMO_LIST_REQUEST, 0);
    const SessionFrame memos = c.next();
    ASSERT_EQ(memos.type, SM_MEMO_LIST);
    const QList<MemoInfo> m = SessionDecode::memoList(memos);
    ASSERT_EQ(m.size(), 2);
    EXPECT_EQ(m[0].text, QStringLiteral("첫 메모"));
    EXPECT_EQ(m[1].userNumber, 13);
    EXPECT_EQ(m[1].text, QStringLiteral("새 메모"));
    c.send(SM_BAD_IP_LIST_REQUEST, 0);
    const SessionFrame reported = c.next();
    ASSERT_EQ(reported.type, SM_BAD_IP_LIST);
    EXPECT_EQ(SessionDecode::addressList(reported),
              (QStringList {QStringLiteral("211.1.1.3"), QStringLiteral("211.1.1.1")}));

    const QList<QJsonObject> rec = sim.recorder.entries(QStringLiteral("session"));
    QJsonObject login, report;
    for (const auto &e : rec) {
        if (e.value(QStringLiteral("event")) == QStringLiteral("login"))
            login = e;
        if (e.value(QStringLiteral("event")) == QStringLiteral("badIpReport"))
            report = e;
    }
    EXPECT_EQ(login.value(QStringLiteral("userId")).toString(), QStringLiteral("fixuser"));
    EXPECT_EQ(login.value(QStringLiteral("tunnelAddress")).toString(), QStringLiteral("10.8.0.2"));
    EXPECT_EQ(login.value(QStringLiteral("size")).toInt(), 812);
    EXPECT_EQ(report.value(QStringLiteral("reason")).toString(), QStringLiteral("게임"));
    EXPECT_EQ(report.value(QStringLiteral("category")).toInt(), 1);
    EXPECT_EQ(report.value(QStringLiteral("size")).toInt(), 8200);
}

TEST(SimSessionServer, OtherPcsSeeTakesAndReleasesAndScriptedEventsRun)
{
    Sim sim;
    ASSERT_TRUE(sim.started);
    RawClient other(QStringLiteral("127.0.79.1"));
    other.signIn(QStringLiteral("fixuser"), 1, QStringLiteral("PC-B"));
    EXPECT_EQ(other.next().type, SM_LOGIN_OK);
    EXPECT_EQ(other.next().type, SM_EXPIRE_DATE);

    RawClient me(QStringLiteral("127.0.79.1"));
    me.signIn(QStringLiteral("prefix@fixuser"), 1, QStringLiteral("PC-A"));
    EXPECT_EQ(me.next().type, SM_LOGIN_OK);
    EXPECT_EQ(me.next().type, SM_EXPIRE_DATE);
    me.send(SM_IP_CHANGE_REQUEST, 1, encodeAddress(QStringLiteral("211.1.1.1")));
    EXPECT_EQ(me.next().type, SM_IP_CHANGE_OK);
    const SessionFrame taken = other.next();
    ASSERT_EQ(taken.type, SM_IP_TAKEN);
    EXPECT_EQ(SessionDecode::ipPcNotice(taken).pcName, QStringLiteral("PC-A"));

    // The second change releases the first address and runs the script.
    me.send(SM_IP_CHANGE_REQUEST, 1, encodeAddress(QStringLiteral("211.1.1.3")));
    EXPECT_EQ(me.next().type, SM_IP_CHANGE_OK);
    const SessionFrame released = other.next();
    ASSERT_EQ(released.type, SM_IP_RELEASED);
    EXPECT_EQ(SessionDecode::address(released), QStringLiteral("211.1.1.1"));
    EXPECT_EQ(other.next().type, SM_IP_TAKEN);

    QList<int> types;
    for (int i = 0; i < 4; ++i)
        types.append(me.next().type);
    EXPECT_EQ(types,
              (QList<int> {SM_IP_SHARE_ADD, SM_IP_SHARE_REMOVE, SM_IP_TAKEN, SM_DUPLICATE_LOGIN}));
    EXPECT_TRUE(me.closedByPeer());
}

TEST(SimSessionServer, DynamicAccountAndRefusedSignIn)
{
    Sim sim;
    ASSERT_TRUE(sim.started);
    RawClient d(QStringLiteral("127.0.79.1"));
    d.signIn(QStringLiteral("dynuser"), 2);
    EXPECT_EQ(d.next().type, SM_LOGIN_OK);
    d.send(SM_IP_INFO_REQUEST, 0);
    const SessionFrame list = d.next();
    ASSERT_EQ(list.type, SM_IP_INFO);
    EXPECT_EQ(list.payload.size(), 2 * 68);
    const QList<DynamicIpList> r = SessionDecode::dynamicList(list);
    EXPECT_EQ(r[1].address, QStringLiteral("61.2.0.2"));
    d.send(SM_IP_CHANGE_REQUEST, 1, encodeAddress(QStringLiteral("61.2.0.2")));
    EXPECT_EQ(d.next().type, SM_IP_CHANGE_OK);

    struct Refusal
    {
        const char *user;
        const char *server;
    };
    for (const Refusal &r : {Refusal {"refused", "127.0.79.2"}, Refusal {"nobody", "127.0.79.1"}}) {
        RawClient c(QString::fromLatin1(r.server));
        c.signIn(QString::fromLatin1(r.user), 1);
        EXPECT_EQ(c.next().type, SM_LOGIN_FAIL) << r.user;
    }
}

TEST(SimSessionServer, ClientSockSignsInAndReceivesTheList)
{
    Sim sim;
    ASSERT_TRUE(sim.started);
    TestHost host;
    host.info.userId = QStringLiteral("fixuser");
    host.info.tunnelAddress = QStringLiteral("10.8.0.9");
    host.info.pcName = QStringLiteral("PC-Z");
    host.info.tunnelType = 1;
    host.info.productType = 1;
    ClientSock sock(host);
    QStringList seen;
    QObject::connect(&sock.dispatcher(), &SessionDispatcher::loginAccepted, [&] {
        seen.append(QStringLiteral("ok"));
        sock.sendIpInfoRequest();
    });
    QObject::connect(&sock.dispatcher(), &SessionDispatcher::expireDateReceived,
                     [&](qint64 t) { seen.append(QString::number(t)); });
    QObject::connect(
        &sock.dispatcher(), &SessionDispatcher::fixedListReceived,
        [&](const QList<FixedIpInfo> &l) { seen.append(QStringLiteral("list %1").arg(l.size())); });
    sock.open(QStringLiteral("127.0.79.1"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 3; }, 5000));
    EXPECT_EQ(seen,
              (QStringList {QStringLiteral("ok"), QStringLiteral("1767225600"),
                            QStringLiteral("list 4")}));
    EXPECT_FALSE(sock.replyWatchdogActive());
    EXPECT_EQ(sim.events(),
              (QStringList {QStringLiteral("connect"), QStringLiteral("login"),
                            QStringLiteral("ipInfoRequest")}));
}

TEST(SimSessionServer, NoUsableAddressAndABadFrameTheClientRecoversFrom)
{
    Sim sim;
    ASSERT_TRUE(sim.started);
    TestHost host;
    host.info.userId = QStringLiteral("broken");
    host.info.tunnelAddress = QStringLiteral("10.8.0.9");
    ClientSock sock(host);
    QStringList seen;
    QObject::connect(&sock.dispatcher(), &SessionDispatcher::loginAccepted,
                     [&] { seen.append(QStringLiteral("ok")); });
    QObject::connect(&sock, &ClientSock::frameRejected,
                     [&] { seen.append(QStringLiteral("rejected")); });
    sock.open(QStringLiteral("127.0.79.2"));
    // The bad frame after the first sign-in closes the connection; the
    // client signs in again about a second later (the script runs again).
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 4; }, 6000));
    sock.close();
    EXPECT_EQ(seen.mid(0, 4),
              (QStringList {QStringLiteral("ok"), QStringLiteral("rejected"), QStringLiteral("ok"),
                            QStringLiteral("rejected")}));

    RawClient c(QStringLiteral("127.0.79.2"));
    c.signIn(QStringLiteral("nousable"), 1);
    EXPECT_EQ(c.next().type, SM_LOGIN_OK);
    c.send(SM_IP_INFO_REQUEST, 0);
    const QList<FixedIpInfo> list = SessionDecode::fixedList(c.next());
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].state, 0);
    EXPECT_EQ(list[1].state, 0);
    c.send(SM_IP_CHANGE_REQUEST, 1, encodeAddress(QStringLiteral("211.9.9.1")));
    EXPECT_EQ(c.next().type, SM_IP_CHANGE_FAIL);
}
