#pragma once

#include "session/sessioncodec.h"
#include "session/sessiondispatcher.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QTcpSocket;

// What the session connection needs from the main window.
class SessionHost
{
public:
    virtual ~SessionHost() = default;
    // The tunnel-up flag: reconnects happen only while it is set.
    virtual bool tunnelUp() const = 0;
    // The sign-in record's sources, read at every connect. An empty tunnel
    // address means the tunnel reports none: no sign-in frame is sent.
    virtual LoginInfo loginInfo() const = 0;
    // ServiceType: picks the record kind of the address lists.
    virtual int productType() const = 0;
};

// WM_SESSION_NOTIFY wParam values.
namespace SessionNotify {
constexpr int ReadError = 1; // forced sign-out "통신에 문제가 발생하여 연결을 종료합니다."
constexpr int FrameWaiting = 2; // handled inside ClientSock, never emitted
constexpr int Reconnect = 4; // a reconnect follows about one second later
constexpr int ExitRequested = 5; // the sign-in dialog's exit
} // namespace SessionNotify

// `ClientSock`: the one TCP connection to the session management server
// (port 10010). Unlike a socket object that is deleted and made anew on
// every reconnect, this object lives as long as the main window and makes a
// new QTcpSocket per connection, so the signals are wired once.
//
// Receiving never blocks the thread: bytes are buffered as they come, a
// frame is dispatched once it is whole (one frame per event-loop turn, in
// order), and a frame that is not whole within 10 s of its first byte closes
// the connection with nothing dispatched.
class ClientSock : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 kPort = 10010;
    static constexpr int kFrameLimitMs = 10000;
    static constexpr int kReconnectDelayMs = 1000;
    static constexpr int kReplyWatchdogMs = 30000;

    explicit ClientSock(SessionHost &host, QObject *parent = nullptr);
    ~ClientSock() override;

    // Open session: connects to server:10010 when the tunnel is up. A
    // connection that stands is dropped first; the reconnect flag is set.
    void open(const QString &server);
    // Reconnect: about one second later, while the tunnel is up, status
    // "세션 관리서버 재연결중..", then a new connection to the same server.
    // A reconnect already waiting is not doubled.
    void reconnect();
    // Sign-out and exit: drops the connection without any reconnect and
    // stops the reply watchdog.
    void close();

    bool connected() const { return m_connected; }
    bool reconnectFlag() const { return m_reconnect; }
    // The session-ending messages clear it before the forced sign-out.
    void setReconnectFlag(bool on) { m_reconnect = on; }
    bool reconnectPending() const { return m_reconnectTimer.isActive(); }
    const QString &server() const { return m_server; }
    // The local port of the connection, 0 while none stands.
    quint16 localPort() const;

    // Send a message: builds the frame and queues it on the connection.
    // Returns the frame's length, or -1 when no connection stands.
    qint64 sendMessage(int type, uint32_t param, const QByteArray &payload = {});
    // The catalogue's requests. The two that expect an answer
    // (SM_IP_INFO_REQUEST, SM_IP_CHANGE_REQUEST) start the reply watchdog.
    qint64 sendIpInfoRequest();
    qint64 sendIpChangeRequest(const QString &address);
    qint64 sendBadIpListRequest();
    qint64 sendBadIpReport(const BadIpInfo &report);
    qint64 sendMemoListRequest();
    qint64 sendMemoSave(const MemoInfo &memo);

    // Reply watchdog (timer 1030, 30 s): any frame read stops it; when it
    // fires it stops and runs reconnect(). setReplyWatchdogTimer lets the
    // main window hand over its own timer 1030.
    void setReplyWatchdogTimer(QTimer *timer);
    void startReplyWatchdog();
    void stopReplyWatchdog();
    bool replyWatchdogActive() const;

    SessionDispatcher &dispatcher() { return m_dispatcher; }

    // How an error on an established connection is taken. A connection
    // that has ended (closed or reset by the peer, aborted, timed out) is a
    // close and reconnects while the tunnel is up; only a network that is
    // itself unusable (down or unreachable) is a read error, which signs
    // the user out. `text` is the socket's error text, which names the
    // system error.
    enum class ErrorKind { Close, ReadError };
    static ErrorKind classifyEstablishedError(QAbstractSocket::SocketError error,
                                              const QString &text);

Q_SIGNALS:
    // WM_SESSION_NOTIFY(wParam, 0): ReadError (the main window signs out)
    // and Reconnect (informative; the reconnect is already scheduled here).
    void sessionNotify(int wParam, int lParam);
    // Texts for the status line (control 1032).
    void statusTextRequested(const QString &text);
    // The connect succeeded; emitted before the sign-in frame goes out, so
    // the main window can disable the IP controls, empty the IP list,
    // restore the redial count and start the auto-change timer.
    void sessionConnected();
    // The sign-in frame was sent (the fields that had to be cut are named).
    void signInSent(const QStringList &cutFields);
    // The connection ended by the peer or by a broken frame; the connected
    // flag is already 0 (the main window stops the dynamic auto-change).
    void sessionClosed();
    // No socket could be made (out of descriptors or similar): the main
    // window files "TARVO_MANAGE_SOCKET_CREATE_FAIL" and ends the tunnel.
    // No reconnect follows.
    void socketCreateFailed();
    // A frame was refused (bad length, records beyond the capacity, or not
    // whole within 10 s) and the connection closed; nothing was dispatched.
    void frameRejected(const QString &reason);

private:
    void startConnection();
    void dropSocket();
    void onConnected();
    void onSocketError();
    void onReadyRead();
    void processBuffer();
    void closeBroken(const QString &reason);
    void peerClosed();
    void scheduleReconnect();
    void runReconnect();
    QTimer *watchdog() const;

    SessionHost &m_host;
    SessionDispatcher m_dispatcher;
    QPointer<QTcpSocket> m_socket;
    QString m_server;
    QByteArray m_buffer;
    bool m_connected = false;
    bool m_established = false; // this socket's connect succeeded
    bool m_reconnect = true;
    bool m_processQueued = false;
    quint64 m_generation = 0;
    QTimer m_frameDeadline;
    QTimer m_reconnectTimer;
    QTimer m_ownWatchdog;
    QPointer<QTimer> m_watchdog;
};
