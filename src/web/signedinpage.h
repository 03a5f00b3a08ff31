#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

class QTcpServer;
class QTcpSocket;
class QTimer;

// Hands a browser a page that posts a form to the service web host at once,
// without writing the form (it carries the password) to disk: the page is
// served from a loopback socket, on a random path, once, and only to a
// connection of this user. The server closes after that one page or after
// its lifetime.
class SignedInPageServer : public QObject
{
    Q_OBJECT
public:
    // `action` is the form's address, `body` the form as "k=v&k=v" with
    // escaped values (the fields are its decoded pairs).
    SignedInPageServer(const QString &action, const QString &body, QObject *parent = nullptr);
    ~SignedInPageServer() override;

    // Listens on 127.0.0.1 and returns the page's one-shot address (empty on
    // failure).
    QUrl start(int lifetimeMs = 120000);

    // The HTML page for this form (auto-submitting).
    static QByteArray formPage(const QString &action, const QString &body);

Q_SIGNALS:
    void served();
    void finished();

private:
    void onConnection();
    void handle(QTcpSocket *socket);
    void finish();

    QString m_action;
    QString m_body;
    QByteArray m_path;
    QTcpServer *m_server = nullptr;
    QTimer *m_lifetime = nullptr;
    bool m_served = false;
};

// The user id owning the local end of a loopback TCP connection
// (from /proc/net/tcp), or -1 when it cannot be found.
long loopbackPeerUid(quint16 peerPort, quint16 serverPort);
