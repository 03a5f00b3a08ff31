#include "clientsock.h"

#include <QNetworkProxy>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>

namespace {
const QString kStatusConnectFailed = QStringLiteral("아이피 사용셋팅에 실패하였습니다.");
const QString kStatusReconnecting = QStringLiteral("세션 관리서버 재연결중..");
// Bytes held between event-loop turns: enough for two of the largest frames;
// beyond that the socket stops reading and TCP holds the peer back.
constexpr qint64 kBufferLimit = 2 * (SessionWire::kMaxBody + 4);
} // namespace

ClientSock::ClientSock(SessionHost &host, QObject *parent) : QObject(parent), m_host(host)
{
    m_frameDeadline.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the limit is 10 s.
    m_frameDeadline.setTimerType(Qt::PreciseTimer);
    m_frameDeadline.setInterval(kFrameLimitMs);
    connect(&m_frameDeadline, &QTimer::timeout, this,
            [this] { closeBroken(QStringLiteral("frame not whole within 10 s")); });
    m_reconnectTimer.setSingleShot(true);
    m_reconnectTimer.setInterval(kReconnectDelayMs);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &ClientSock::runReconnect);
    m_ownWatchdog.setSingleShot(true);
    connect(&m_ownWatchdog, &QTimer::timeout, this, [this] {
        m_ownWatchdog.stop();
        reconnect();
    });
}

ClientSock::~ClientSock()
{
    dropSocket();
}

void ClientSock::open(const QString &server)
{
    if (!m_host.tunnelUp())
        return;
    m_reconnectTimer.stop();
    m_server = server;
    startConnection();
}

void ClientSock::reconnect()
{
    if (!m_host.tunnelUp() || m_reconnectTimer.isActive())
        return;
    scheduleReconnect();
}

void ClientSock::close()
{
    m_reconnectTimer.stop();
    stopReplyWatchdog();
    dropSocket();
    m_connected = false;
}

quint16 ClientSock::localPort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void ClientSock::scheduleReconnect()
{
    m_reconnectTimer.start();
}

void ClientSock::runReconnect()
{
    // The tunnel may have gone down during the pause.
    if (!m_host.tunnelUp())
        return;
    Q_EMIT statusTextRequested(kStatusReconnecting);
    startConnection();
}

void ClientSock::startConnection()
{
    dropSocket();
    m_connected = false;
    m_reconnect = true;
    auto *socket = new QTcpSocket(this);
    // The session server sits behind the tunnel; an application proxy must
    // never carry this connection.
    socket->setProxy(QNetworkProxy::NoProxy);
    // Qt stops taking bytes from the kernel beyond this; see kBufferLimit.
    socket->setReadBufferSize(SessionWire::kMaxBody + 4);
    m_socket = socket;
    connect(socket, &QTcpSocket::connected, this, &ClientSock::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &ClientSock::onReadyRead);
    connect(socket, &QTcpSocket::errorOccurred, this, &ClientSock::onSocketError);
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        if (m_established)
            peerClosed();
    });
    socket->connectToHost(m_server, kPort);
}

void ClientSock::dropSocket()
{
    m_frameDeadline.stop();
    m_buffer.clear();
    m_established = false;
    ++m_generation;
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::ConnectedState && socket->socketDescriptor() >= 0)
        ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
    socket->abort();
    socket->deleteLater();
}

void ClientSock::onConnected()
{
    m_established = true;
    Q_EMIT sessionConnected();
    if (!m_socket)
        return; // the main window closed the session meanwhile
    const LoginInfo info = m_host.loginInfo();
    if (!info.tunnelAddress.isEmpty()) {
        QStringList cut;
        const QByteArray packet = LoginPacket::fromState(info).encode(&cut);
        sendMessage(SM_LOGIN, 1, packet);
        Q_EMIT signInSent(cut);
    }
    m_connected = true;
}

void ClientSock::onSocketError()
{
    if (!m_socket)
        return;
    const auto error = m_socket->error();
    if (!m_established) {
        if (error == QAbstractSocket::SocketResourceError ||
            error == QAbstractSocket::UnsupportedSocketOperationError) {
            dropSocket();
            Q_EMIT socketCreateFailed();
            return;
        }
        // The connect notification with an error.
        dropSocket();
        Q_EMIT statusTextRequested(kStatusConnectFailed);
        if (m_host.tunnelUp() && m_reconnect) {
            Q_EMIT sessionNotify(SessionNotify::Reconnect, 0);
            scheduleReconnect();
        }
        return;
    }
    if (classifyEstablishedError(error, m_socket->errorString()) == ErrorKind::Close) {
        peerClosed();
        return;
    }
    // A read notification with an error: the main window signs out.
    dropSocket();
    m_connected = false;
    Q_EMIT sessionNotify(SessionNotify::ReadError, 0);
}

ClientSock::ErrorKind ClientSock::classifyEstablishedError(QAbstractSocket::SocketError error,
                                                           const QString &text)
{
    if (error != QAbstractSocket::NetworkError)
        return ErrorKind::Close;
    // The socket layer reports the system error by its text.
    for (int code : {ENETDOWN, ENETUNREACH, EHOSTUNREACH, EHOSTDOWN}) {
        if (text == QString::fromLocal8Bit(std::strerror(code)))
            return ErrorKind::ReadError;
    }
    return ErrorKind::Close;
}

void ClientSock::onReadyRead()
{
    if (!m_socket)
        return;
    const qint64 room = kBufferLimit - m_buffer.size();
    if (room > 0)
        m_buffer.append(m_socket->read(room));
    if (m_buffer.isEmpty())
        return;
    if (!m_frameDeadline.isActive())
        m_frameDeadline.start();
    if (!m_processQueued) {
        m_processQueued = true;
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                m_processQueued = false;
                if (generation == m_generation)
                    processBuffer();
            },
            Qt::QueuedConnection);
    }
}

void ClientSock::processBuffer()
{
    if (!m_socket)
        return;
    qint64 length = 0;
    switch (scanFrame(m_buffer, &length)) {
    case FrameScan::Bad:
        closeBroken(QStringLiteral("bad frame length"));
        return;
    case FrameScan::NeedMore:
        // The deadline armed at the frame's first byte keeps running.
        return;
    case FrameScan::Complete:
        break;
    }
    const SessionFrame frame = takeFrame(m_buffer, length);
    m_frameDeadline.stop();
    const int productType = m_host.productType();
    if (!frameRecordsFit(frame, productType)) {
        closeBroken(QStringLiteral("records beyond the payload capacity"));
        return;
    }
    stopReplyWatchdog();
    const quint64 generation = m_generation;
    m_dispatcher.dispatch(frame, productType);
    if (generation != m_generation || !m_socket)
        return; // the handler ended or replaced the connection
    // The next frame's bytes may already be here (or waiting in the socket).
    onReadyRead();
}

void ClientSock::closeBroken(const QString &reason)
{
    Q_EMIT frameRejected(reason);
    dropSocket();
    m_connected = false;
    Q_EMIT sessionClosed();
    // Without this the session would stay dead while the tunnel is up: the
    // peer never closes a connection we closed ourselves.
    if (m_host.tunnelUp() && m_reconnect) {
        Q_EMIT sessionNotify(SessionNotify::Reconnect, 0);
        scheduleReconnect();
    }
}

void ClientSock::peerClosed()
{
    if (!m_socket)
        return;
    // Frames that arrived before the close are handled first: a
    // session-ending message followed by the close must clear the
    // reconnect flag before the close is looked at.
    m_buffer.append(m_socket->readAll());
    while (m_socket) {
        qint64 length = 0;
        if (scanFrame(m_buffer, &length) != FrameScan::Complete)
            break;
        processBuffer();
    }
    if (!m_socket)
        return; // a handler or a broken frame already ended the connection
    dropSocket();
    m_connected = false;
    Q_EMIT sessionClosed();
    if (m_host.tunnelUp() && m_reconnect) {
        Q_EMIT sessionNotify(SessionNotify::Reconnect, 0);
        scheduleReconnect();
    }
}

qint64 ClientSock::sendMessage(int type, uint32_t param, const QByteArray &payload)
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return -1;
    const QByteArray frame = encodeFrame(type, param, payload);
    const qint64 written = m_socket->write(frame);
    return written == frame.size() ? written : -1;
}

qint64 ClientSock::sendIpInfoRequest()
{
    const qint64 r = sendMessage(SM_IP_INFO_REQUEST, 0);
    startReplyWatchdog();
    return r;
}

qint64 ClientSock::sendIpChangeRequest(const QString &address)
{
    const qint64 r = sendMessage(SM_IP_CHANGE_REQUEST, 1, encodeAddress(address));
    startReplyWatchdog();
    return r;
}

qint64 ClientSock::sendBadIpListRequest()
{
    return sendMessage(SM_BAD_IP_LIST_REQUEST, 0);
}

qint64 ClientSock::sendBadIpReport(const BadIpInfo &report)
{
    return sendMessage(SM_BAD_IP_REPORT, 1, report.encode());
}

qint64 ClientSock::sendMemoListRequest()
{
    return sendMessage(SM_MEMO_LIST_REQUEST, 0);
}

qint64 ClientSock::sendMemoSave(const MemoInfo &memo)
{
    return sendMessage(SM_MEMO_SAVE, 1, memo.encode());
}

QTimer *ClientSock::watchdog() const
{
    return m_watchdog ? m_watchdog.data() : const_cast<QTimer *>(&m_ownWatchdog);
}

void ClientSock::setReplyWatchdogTimer(QTimer *timer)
{
    m_ownWatchdog.stop();
    if (m_watchdog)
        m_watchdog->disconnect(this);
    m_watchdog = timer;
    if (!timer)
        return;
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this] {
        if (m_watchdog)
            m_watchdog->stop();
        reconnect();
    });
}

void ClientSock::startReplyWatchdog()
{
    watchdog()->start(kReplyWatchdogMs);
}

void ClientSock::stopReplyWatchdog()
{
    watchdog()->stop();
}

bool ClientSock::replyWatchdogActive() const
{
    return watchdog()->isActive();
}
