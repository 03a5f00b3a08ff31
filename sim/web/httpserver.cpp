#include "httpserver.h"

#include <QSslSocket>
#include <QTimer>

QByteArray HttpRequest::path() const
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray HttpRequest::query() const
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? QByteArray() : target.mid(q + 1);
}

QByteArray HttpRequest::header(const QByteArray &name) const
{
    for (const QByteArray &line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

namespace {
QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

QByteArray serialise(const HttpResponse &r)
{
    QByteArray out = "HTTP/1.0 " + QByteArray::number(r.status) + ' ' + reason(r.status) + "\r\n";
    out += "Content-Type: " + r.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
    if (!r.location.isEmpty())
        out += "Location: " + r.location + "\r\n";
    out += "Connection: close\r\n\r\n";
    return out + r.body;
}
} // namespace

HttpServer::HttpServer(Handler handler, QObject *parent)
    : QTcpServer(parent), m_handler(std::move(handler))
{ }

void HttpServer::setTls(const QSslConfiguration &config)
{
    m_tls = config;
    m_useTls = true;
}

void HttpServer::incomingConnection(qintptr descriptor)
{
    QTcpSocket *socket = nullptr;
    if (m_useTls) {
        auto *ssl = new QSslSocket(this);
        if (!ssl->setSocketDescriptor(descriptor)) {
            delete ssl;
            return;
        }
        ssl->setSslConfiguration(m_tls);
        // A client that refuses our certificate just goes away.
        connect(ssl, &QSslSocket::sslErrors, ssl, [ssl] { ssl->abort(); });
        ssl->startServerEncryption();
        socket = ssl;
    } else {
        socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
    }
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::errorOccurred, socket, [socket] {
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater();
    });
    QTimer::singleShot(kIdleMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void HttpServer::onReadyRead(QTcpSocket *socket)
{
    if (socket->property("done").toBool()) {
        socket->readAll();
        return;
    }
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    if (buffer.size() > kMaxRequest) {
        socket->abort();
        return;
    }
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        socket->setProperty("buffer", buffer);
        return;
    }
    HttpRequest req;
    req.tls = m_useTls;
    // An IPv4 peer on a dual-stack socket arrives as ::ffff:a.b.c.d.
    bool v4 = false;
    const quint32 peer4 = socket->peerAddress().toIPv4Address(&v4);
    req.peer = v4 ? QHostAddress(peer4).toString().toLatin1()
                  : socket->peerAddress().toString().toLatin1();
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        req.headerLines.append(line);
    }
    bool lengthOk = true;
    const QByteArray lengthText = req.header("Content-Length");
    const qsizetype length = lengthText.isEmpty() ? 0 : lengthText.toLongLong(&lengthOk);
    if (!lengthOk || length < 0 || requestLine.size() != 3) {
        socket->setProperty("done", true);
        socket->write(serialise({400, "text/plain", {}, {}}));
        socket->disconnectFromHost();
        return;
    }
    if (buffer.size() - (headEnd + 4) < length) {
        socket->setProperty("buffer", buffer);
        return;
    }
    req.method = requestLine[0];
    req.target = requestLine[1];
    req.version = requestLine[2];
    req.body = buffer.mid(headEnd + 4, length);
    socket->setProperty("done", true);
    socket->write(serialise(m_handler(req)));
    socket->disconnectFromHost();
}
