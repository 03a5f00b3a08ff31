#include "signedinpage.h"

#include "web/formescape.h"

#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

namespace {
constexpr qsizetype kMaxRequestHead = 16 * 1024;

QString htmlEscape(const QString &text)
{
    QString out = text.toHtmlEscaped();
    out.replace(QLatin1Char('\''), QLatin1String("&#39;"));
    return out;
}

QByteArray response(const QByteArray &status, const QByteArray &body)
{
    QByteArray out = "HTTP/1.0 " + status + "\r\n";
    out += "Content-Type: text/html; charset=utf-8\r\n";
    out += "Cache-Control: no-store\r\n";
    out += "Referrer-Policy: no-referrer\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    return out + body;
}
} // namespace

SignedInPageServer::SignedInPageServer(const QString &action, const QString &body, QObject *parent)
    : QObject(parent), m_action(action), m_body(body)
{ }

SignedInPageServer::~SignedInPageServer() = default;

QByteArray SignedInPageServer::formPage(const QString &action, const QString &body)
{
    QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                                  "<title></title></head>\n"
                                  "<body onload=\"document.forms[0].submit()\">\n"
                                  "<form method=\"post\" action=\"%1\" "
                                  "enctype=\"application/x-www-form-urlencoded\" "
                                  "accept-charset=\"utf-8\">\n")
                       .arg(htmlEscape(action));
    for (const QString &pair : body.split(QLatin1Char('&'))) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        const QString name = unescapeFormValue(eq < 0 ? pair : pair.left(eq));
        const QString value = eq < 0 ? QString() : unescapeFormValue(pair.mid(eq + 1));
        html += QStringLiteral("<input type=\"hidden\" name=\"%1\" value=\"%2\">\n")
                    .arg(htmlEscape(name), htmlEscape(value));
    }
    html += QStringLiteral("<noscript><input type=\"submit\" value=\"OK\"></noscript>\n"
                           "</form></body></html>\n");
    return html.toUtf8();
}

QUrl SignedInPageServer::start(int lifetimeMs)
{
    m_server = new QTcpServer(this);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        return {};
    // 128 random bits: the address is on the browser's command line, which
    // other users can read, so the path alone must not be guessable.
    QByteArray token(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(token.data()), 4);
    m_path = '/' + token.toHex();
    connect(m_server, &QTcpServer::newConnection, this, &SignedInPageServer::onConnection);
    m_lifetime = new QTimer(this);
    m_lifetime->setSingleShot(true);
    connect(m_lifetime, &QTimer::timeout, this, &SignedInPageServer::finish);
    m_lifetime->start(lifetimeMs);
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_server->serverPort());
    url.setPath(QString::fromLatin1(m_path));
    return url;
}

void SignedInPageServer::onConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // Drop a connection that never sends its request.
        QTimer::singleShot(10000, socket, [socket] { socket->abort(); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handle(socket); });
    }
}

void SignedInPageServer::handle(QTcpSocket *socket)
{
    if (socket->property("answered").toBool())
        return;
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    if (!head.contains("\r\n\r\n") && !head.contains("\n\n")) {
        if (head.size() > kMaxRequestHead)
            socket->abort();
        else
            socket->setProperty("head", head);
        return;
    }
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = head.left(head.indexOf('\n')).trimmed().split(' ');
    const bool sameUser =
        loopbackPeerUid(socket->peerPort(), m_server->serverPort()) == static_cast<long>(geteuid());
    if (!m_served && sameUser && requestLine.size() >= 2 && requestLine[0] == "GET" &&
        requestLine[1] == m_path) {
        m_served = true;
        socket->write(response("200 OK", formPage(m_action, m_body)));
        // The form is in the browser now; nothing of it stays here.
        m_body.fill(QLatin1Char(' '));
        m_body.clear();
        Q_EMIT served();
        QTimer::singleShot(0, this, &SignedInPageServer::finish);
    } else {
        socket->write(response("404 Not Found", QByteArray()));
    }
    socket->disconnectFromHost();
}

void SignedInPageServer::finish()
{
    if (m_server && m_server->isListening()) {
        m_server->close();
        m_body.fill(QLatin1Char(' '));
        m_body.clear();
        Q_EMIT finished();
    }
}

long loopbackPeerUid(quint16 peerPort, quint16 serverPort)
{
    QFile f(QStringLiteral("/proc/net/tcp"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    // The connecting end: local 127.0.0.1:peerPort, remote 127.0.0.1:serverPort.
    const QByteArray local =
        QByteArray("0100007F:") + QByteArray::number(peerPort, 16).toUpper().rightJustified(4, '0');
    const QByteArray remote = QByteArray("0100007F:") +
        QByteArray::number(serverPort, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> cols = line.simplified().split(' ');
        if (cols.size() > 7 && cols[1] == local && cols[2] == remote) {
            bool ok = false;
            const long uid = cols[7].toLong(&ok);
            return ok ? uid : -1;
        }
    }
    return -1;
}
