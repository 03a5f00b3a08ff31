#pragma once

// A real server end on a loopback address, port 10010, for the connection
// tests: it records every connection and the bytes each one sent, and lets
// the test write raw bytes back.
#include "session/clientsock.h"

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

struct PeerConnection
{
    QPointer<QTcpSocket> socket;
    QByteArray received;
};

class SessionPeer : public QObject
{
public:
    explicit SessionPeer(const QString &address)
    {
        m_server.listen(QHostAddress(address), ClientSock::kPort);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                auto *c = new PeerConnection {s, {}};
                m_connections.append(c);
                QObject::connect(s, &QTcpSocket::readyRead, this,
                                 [s, c] { c->received += s->readAll(); });
                QObject::connect(s, &QTcpSocket::disconnected, this,
                                 [this] { ++m_closedByClient; });
            }
        });
    }
    ~SessionPeer() override { qDeleteAll(m_connections); }

    bool listening() const { return m_server.isListening(); }
    void stopListening() { m_server.close(); }
    int count() const { return int(m_connections.size()); }
    PeerConnection &at(int i) { return *m_connections[i]; }
    PeerConnection &last() { return *m_connections.last(); }
    int closedByClient() const { return m_closedByClient; }

    // Waits until a connection exists and has sent at least n bytes.
    bool waitForBytes(int connection, qsizetype n, int ms = 5000)
    {
        return QTest::qWaitFor(
            [&] { return count() > connection && at(connection).received.size() >= n; }, ms);
    }
    void send(const QByteArray &bytes)
    {
        last().socket->write(bytes);
        last().socket->flush();
    }

private:
    QTcpServer m_server;
    QList<PeerConnection *> m_connections;
    int m_closedByClient = 0;
};

// The main window's side as plain state.
struct TestHost : SessionHost
{
    bool up = true;
    LoginInfo info;
    int product = 1;
    bool tunnelUp() const override { return up; }
    LoginInfo loginInfo() const override { return info; }
    int productType() const override { return product; }
};
