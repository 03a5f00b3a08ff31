#include "sessionservermodule.h"

#include "recorder.h"
#include "scenario.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

using namespace SessionWire;

namespace {

QString text(const QJsonObject &o, const char *key, const QString &def = {})
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return QString::number(v.toInteger());
    return def;
}

QStringList texts(const QJsonValue &v)
{
    QStringList out;
    for (const QJsonValue &e : v.toArray())
        out.append(e.toString());
    return out;
}

} // namespace

struct SessionServerModule::Connection
{
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    QString accountId; // empty until signed in
    QString pcName;
    bool dynamic = false;
    QString current; // the address this PC uses
    QHash<QString, int> triggers; // how often each trigger has happened
};

SessionServerModule::SessionServerModule() = default;

SessionServerModule::~SessionServerModule()
{
    for (Connection *c : std::as_const(m_connections)) {
        if (c->socket)
            c->socket->disconnect(this);
        delete c;
    }
}

const SessionServerModule::Account *SessionServerModule::account(const QString &id) const
{
    const auto it = m_accounts.constFind(id);
    return it == m_accounts.constEnd() ? nullptr : &it.value();
}

bool SessionServerModule::start(const Scenario &scenario, Recorder &recorder, QString *error)
{
    m_recorder = &recorder;
    const QJsonObject section = scenario.section(QStringLiteral("session"));
    if (!section.value(QStringLiteral("enabled")).toBool(true))
        return true;
    m_port = quint16(section.value(QStringLiteral("port")).toInt(10010));
    const QString defaultServer = text(section, "address", QStringLiteral("127.0.0.4"));

    QStringList addresses;
    for (const SimAccount &a : scenario.accounts()) {
        const QJsonObject s = a.raw.value(QStringLiteral("session")).toObject();
        Account acc;
        acc.id = a.id;
        acc.server = text(a.raw, "server", defaultServer);
        for (const QJsonValue &v : s.value(QStringLiteral("fixed")).toArray()) {
            const QJsonObject o = v.toObject();
            PoolAddress p;
            p.address = text(o, "address");
            p.userNumber = o.value(QStringLiteral("userNumber")).toInt(0);
            p.state = o.value(QStringLiteral("state")).toInt(1);
            p.days = o.value(QStringLiteral("days")).toInt(30);
            p.pc = text(o, "pc");
            acc.fixed.append(p);
        }
        int n = 0;
        for (const QString &address : texts(s.value(QStringLiteral("dynamic")))) {
            DynamicIpList r;
            // The lead bytes mean nothing to the client; a recognisable
            // pattern shows that they travel unchanged.
            r.lead.fill(char('A' + (n++ % 26)));
            r.address = address;
            acc.dynamic.append(r);
        }
        acc.reported = texts(s.value(QStringLiteral("reported")));
        for (const QJsonValue &v : s.value(QStringLiteral("memos")).toArray()) {
            const QJsonObject o = v.toObject();
            acc.memos.insert(o.value(QStringLiteral("userNumber")).toInt(), text(o, "text"));
        }
        if (s.contains(QStringLiteral("expire")))
            acc.expire = s.value(QStringLiteral("expire")).toInteger();
        acc.memoEveryAddress = s.value(QStringLiteral("memoEveryAddress")).toBool(false);
        acc.refuseLogin = s.value(QStringLiteral("refuseLogin")).toBool(false);
        acc.noUsableAddress = s.value(QStringLiteral("noUsableAddress")).toBool(false);
        acc.refuseChange = texts(s.value(QStringLiteral("refuseChange")));
        acc.events = s.value(QStringLiteral("events")).toArray();
        if (!addresses.contains(acc.server))
            addresses.append(acc.server);
        m_accounts.insert(acc.id, acc);
    }
    if (addresses.isEmpty())
        addresses.append(defaultServer);

    for (const QString &address : std::as_const(addresses)) {
        const QHostAddress host(address);
        auto server = std::make_unique<QTcpServer>();
        if (host.isNull() || !server->listen(host, m_port)) {
            *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(address)
                         .arg(m_port)
                         .arg(server->errorString());
            return false;
        }
        QTcpServer *raw = server.get();
        connect(raw, &QTcpServer::newConnection, this, [this, raw] { accept(raw); });
        m_servers.push_back(std::move(server));
    }
    return true;
}

void SessionServerModule::accept(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        auto *c = new Connection;
        c->socket = socket;
        m_connections.append(c);
        record(c, QStringLiteral("connect"));
        connect(socket, &QTcpSocket::readyRead, this, [this, c] { onReadable(c); });
        connect(socket, &QTcpSocket::disconnected, this, [this, c] {
            record(c, QStringLiteral("disconnect"));
            closeConnection(c);
        });
    }
}

void SessionServerModule::closeConnection(Connection *c)
{
    if (!m_connections.removeOne(c))
        return;
    if (c->socket) {
        c->socket->disconnect(this);
        c->socket->disconnectFromHost();
        c->socket->deleteLater();
    }
    delete c;
}

void SessionServerModule::onReadable(Connection *c)
{
    c->buffer.append(c->socket->readAll());
    for (;;) {
        qint64 length = 0;
        const FrameScan scan = scanFrame(c->buffer, &length);
        if (scan == FrameScan::NeedMore)
            return;
        if (scan == FrameScan::Bad) {
            record(c, QStringLiteral("badFrame"));
            closeConnection(c);
            return;
        }
        const SessionFrame frame = decodeFrame(c->buffer.left(length));
        c->buffer.remove(0, length);
        handle(c, frame);
        if (!m_connections.contains(c))
            return;
    }
}

void SessionServerModule::send(Connection *c, int type, uint32_t param, const QByteArray &payload)
{
    if (c->socket)
        c->socket->write(encodeFrame(type, param, payload));
}

void SessionServerModule::record(const Connection *c, const QString &event, QJsonObject fields)
{
    fields.insert(QStringLiteral("event"), event);
    if (!c->accountId.isEmpty())
        fields.insert(QStringLiteral("account"), c->accountId);
    if (c->socket) {
        fields.insert(QStringLiteral("server"), c->socket->localAddress().toString());
        fields.insert(QStringLiteral("peerPort"), int(c->socket->peerPort()));
    }
    m_recorder->record(QStringLiteral("session"), fields);
}

void SessionServerModule::handle(Connection *c, const SessionFrame &frame)
{
    if (frame.type == SM_LOGIN) {
        handleLogin(c, frame);
        return;
    }
    Account *acc = c->accountId.isEmpty() ? nullptr : &m_accounts[c->accountId];
    switch (frame.type) {
    case SM_IP_INFO_REQUEST:
        record(c, QStringLiteral("ipInfoRequest"));
        if (acc) {
            sendList(c, SM_IP_INFO);
            runEvents(c, QStringLiteral("list"));
        }
        break;
    case SM_IP_CHANGE_REQUEST: {
        const QString address = SessionDecode::address(frame);
        record(c, QStringLiteral("changeRequest"), {{QStringLiteral("address"), address}});
        if (acc && handleChange(c, address))
            runEvents(c, QStringLiteral("change"));
        break;
    }
    case SM_BAD_IP_LIST_REQUEST:
        record(c, QStringLiteral("badIpListRequest"));
        if (acc)
            send(c, SM_BAD_IP_LIST, uint32_t(acc->reported.size()),
                 SessionEncode::addressList(acc->reported));
        break;
    case SM_BAD_IP_REPORT: {
        const BadIpInfo r = BadIpInfo::decode(frame.payload);
        record(c, QStringLiteral("badIpReport"),
               {{QStringLiteral("category"), r.category},
                {QStringLiteral("address"), r.address},
                {QStringLiteral("reason"), r.reason},
                {QStringLiteral("param"), qint64(frame.param)},
                {QStringLiteral("size"), frame.payload.size()}});
        if (acc && !acc->reported.contains(r.address))
            acc->reported.append(r.address);
        break;
    }
    case SM_MEMO_LIST_REQUEST:
        record(c, QStringLiteral("memoListRequest"));
        if (acc) {
            QList<MemoInfo> memos;
            QList<int32_t> listed;
            // With memoEveryAddress every fixed address has its record, an
            // empty text where no memo was saved, as a server keeping one
            // memo column per address answers.
            if (acc->memoEveryAddress) {
                for (const PoolAddress &p : std::as_const(acc->fixed)) {
                    if (p.userNumber <= 0 || listed.contains(p.userNumber))
                        continue;
                    listed.append(p.userNumber);
                    memos.append({p.userNumber, acc->memos.value(p.userNumber)});
                }
            }
            for (auto it = acc->memos.constBegin(); it != acc->memos.constEnd(); ++it) {
                if (!listed.contains(it.key()))
                    memos.append({it.key(), it.value()});
            }
            send(c, SM_MEMO_LIST, uint32_t(memos.size()), SessionEncode::memoList(memos));
        }
        break;
    case SM_MEMO_SAVE: {
        QByteArray padded = frame.payload.leftJustified(kMemoInfoSize, '\0', true);
        const MemoInfo m = MemoInfo::decode(padded.constData());
        record(c, QStringLiteral("memoSave"),
               {{QStringLiteral("userNumber"), m.userNumber},
                {QStringLiteral("text"), m.text},
                {QStringLiteral("param"), qint64(frame.param)},
                {QStringLiteral("size"), frame.payload.size()},
                {QStringLiteral("payloadHex"), QString::fromLatin1(frame.payload.toHex())}});
        // The text arrives escaped for the server's database (a backslash
        // before each apostrophe); what is kept, and listed later, is plain.
        if (acc)
            acc->memos.insert(m.userNumber,
                              QString(m.text).replace(QStringLiteral("\\'"), QStringLiteral("'")));
        break;
    }
    default:
        record(c, QStringLiteral("unknown"), {{QStringLiteral("type"), frame.type}});
        break;
    }
}

void SessionServerModule::handleLogin(Connection *c, const SessionFrame &frame)
{
    const LoginPacket p = LoginPacket::decode(frame.payload);
    QString id;
    for (auto it = m_accounts.constBegin(); it != m_accounts.constEnd(); ++it) {
        // The client may hold the ID with a product prefix ("prefix@id").
        if (p.userId == it.key() || p.userId.endsWith(QLatin1Char('@') + it.key()))
            id = it.key();
    }
    record(c, QStringLiteral("login"),
           {{QStringLiteral("parentId"), p.parentId},
            {QStringLiteral("userId"), p.userId},
            {QStringLiteral("tunnelAddress"), p.tunnelAddress},
            {QStringLiteral("pcName"), p.pcName},
            {QStringLiteral("dialUp"), qint64(p.dialUp)},
            {QStringLiteral("dynamic"), qint64(p.dynamic)},
            {QStringLiteral("productCode"), p.productCode},
            {QStringLiteral("param"), qint64(frame.param)},
            {QStringLiteral("size"), frame.payload.size()}});
    const Account *acc = id.isEmpty() ? nullptr : account(id);
    if (!acc || acc->refuseLogin) {
        send(c, SM_LOGIN_FAIL, 0);
        return;
    }
    c->accountId = id;
    c->pcName = p.pcName;
    c->dynamic = p.dynamic != 0;
    send(c, SM_LOGIN_OK, 0);
    if (acc->expire >= 0)
        send(c, SM_EXPIRE_DATE, 0, SessionEncode::expireDate(acc->expire));
    runEvents(c, QStringLiteral("login"));
}

void SessionServerModule::sendList(Connection *c, int type)
{
    Account &acc = m_accounts[c->accountId];
    if (c->dynamic) {
        send(c, type, uint32_t(acc.dynamic.size()), SessionEncode::dynamicList(acc.dynamic));
        return;
    }
    QList<FixedIpInfo> records;
    for (const PoolAddress &p : std::as_const(acc.fixed)) {
        FixedIpInfo r {p.address, p.userNumber, acc.noUsableAddress ? 0 : p.state, p.days, p.pc};
        records.append(r);
    }
    send(c, type, uint32_t(records.size()), SessionEncode::fixedList(records));
}

bool SessionServerModule::handleChange(Connection *c, const QString &address)
{
    Account &acc = m_accounts[c->accountId];
    if (acc.refuseChange.contains(address)) {
        send(c, SM_IP_CHANGE_FAIL, 0);
        return false;
    }
    if (c->dynamic) {
        bool known = false;
        for (const auto &d : std::as_const(acc.dynamic))
            known = known || d.address == address;
        if (!known) {
            send(c, SM_IP_CHANGE_FAIL, 0);
            return false;
        }
        c->current = address;
        send(c, SM_IP_CHANGE_OK, 0, encodeAddress(address));
        return true;
    }
    PoolAddress *target = nullptr;
    for (auto &p : acc.fixed) {
        if (p.address == address)
            target = &p;
    }
    if (!target || acc.noUsableAddress) {
        send(c, SM_IP_CHANGE_FAIL, 0);
        return false;
    }
    if (target->state == 0 || (target->state == 2 && target->pc != c->pcName)) {
        send(c, SM_IP_IN_USE, 0, IpPcNotice {address, target->pc}.encode());
        return false;
    }
    for (auto &p : acc.fixed) {
        if (p.address == c->current && p.address != address) {
            p.state = 1;
            p.pc.clear();
            notifyOthers(c, SM_IP_RELEASED, encodeAddress(p.address));
        }
    }
    target->state = 2;
    target->pc = c->pcName;
    c->current = address;
    send(c, SM_IP_CHANGE_OK, 0, encodeAddress(address));
    notifyOthers(c, SM_IP_TAKEN, IpPcNotice {address, c->pcName}.encode());
    return true;
}

void SessionServerModule::notifyOthers(Connection *c, int type, const QByteArray &payload)
{
    for (Connection *o : std::as_const(m_connections)) {
        if (o != c && o->accountId == c->accountId && !o->dynamic)
            send(o, type, 0, payload);
    }
}

void SessionServerModule::runEvents(Connection *c, const QString &trigger)
{
    const int nth = ++c->triggers[trigger];
    const Account &acc = m_accounts[c->accountId];
    for (const QJsonValue &v : acc.events) {
        const QJsonObject e = v.toObject();
        if (text(e, "after") != trigger || e.value(QStringLiteral("nth")).toInt(1) != nth)
            continue;
        const int delay = e.value(QStringLiteral("delayMs")).toInt(0);
        QPointer<QTcpSocket> socket = c->socket;
        QTimer::singleShot(delay, this, [this, c, socket, e] {
            // The connection may be gone by then.
            if (socket && m_connections.contains(c))
                runEvent(c, e);
        });
    }
}

void SessionServerModule::runEvent(Connection *c, const QJsonObject &e)
{
    Account &acc = m_accounts[c->accountId];
    const QString action = text(e, "action");
    record(c, QStringLiteral("scripted"), {{QStringLiteral("action"), action}});
    if (action == QLatin1String("end")) {
        send(c, e.value(QStringLiteral("type")).toInt(SM_SERVER_DISCONNECT), 0);
        if (e.value(QStringLiteral("close")).toBool(false)) {
            c->socket->flush();
            closeConnection(c);
        }
    } else if (action == QLatin1String("added")) {
        send(c, SM_IP_ADDED, 0);
    } else if (action == QLatin1String("take") || action == QLatin1String("release")) {
        const QString address = text(e, "address");
        const bool take = action == QLatin1String("take");
        for (auto &p : acc.fixed) {
            if (p.address == address) {
                p.state = take ? 0 : 1;
                p.pc = take ? text(e, "pc") : QString();
            }
        }
        if (take)
            send(c, SM_IP_TAKEN, 0, IpPcNotice {address, text(e, "pc")}.encode());
        else
            send(c, SM_IP_RELEASED, 0, encodeAddress(address));
    } else if (action == QLatin1String("inUse")) {
        send(c, SM_IP_IN_USE, 0, IpPcNotice {text(e, "address"), text(e, "pc")}.encode());
    } else if (action == QLatin1String("share") || action == QLatin1String("unshare")) {
        const IpShareNotice n {texts(e.value(QStringLiteral("addresses"))), text(e, "pc")};
        send(c, action == QLatin1String("share") ? SM_IP_SHARE_ADD : SM_IP_SHARE_REMOVE,
             uint32_t(n.addresses.size()), n.encode());
    } else if (action == QLatin1String("update")) {
        sendList(c, SM_IP_INFO_UPDATE);
    } else if (action == QLatin1String("dynamicList")) {
        send(c, SM_DYNAMIC_IP_INFO, uint32_t(acc.dynamic.size()),
             SessionEncode::dynamicList(acc.dynamic));
    } else if (action == QLatin1String("reportedList")) {
        send(c, SM_BAD_IP_LIST, uint32_t(acc.reported.size()),
             SessionEncode::addressList(acc.reported));
    } else if (action == QLatin1String("expire")) {
        send(c, SM_EXPIRE_DATE, 0,
             SessionEncode::expireDate(e.value(QStringLiteral("at")).toInteger()));
    } else if (action == QLatin1String("stall")) {
        // A frame that announces more than it brings; the rest never comes.
        const QByteArray frame = encodeFrame(SM_IP_CHANGE_OK, 0, encodeAddress(c->current));
        c->socket->write(frame.left(e.value(QStringLiteral("bytes")).toInt(10)));
    } else if (action == QLatin1String("raw")) {
        c->socket->write(QByteArray::fromHex(text(e, "hex").toLatin1()));
    } else if (action == QLatin1String("close")) {
        c->socket->flush();
        closeConnection(c);
    }
}
