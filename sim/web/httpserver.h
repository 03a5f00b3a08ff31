#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QSslConfiguration>
#include <QTcpServer>

#include <functional>

// One request as it arrived on the wire.
struct HttpRequest
{
    QByteArray method;
    QByteArray target; // path and query, as sent
    QByteArray version; // "HTTP/1.0"
    QList<QByteArray> headerLines; // as sent, without CR LF
    QByteArray body;
    bool tls = false;
    QByteArray peer; // the address the request came from, dotted for IPv4

    QByteArray path() const; // target without the query
    QByteArray query() const;
    QByteArray header(const QByteArray &name) const; // first value, case-insensitive name
};

struct HttpResponse
{
    int status = 200;
    QByteArray contentType = "text/html; charset=utf-8";
    QByteArray body;
    QByteArray location; // sent as "Location:" when not empty (redirects)
};

// A small HTTP/1.x server, plain or TLS: one request per connection, answered
// and closed. A client that stalls is dropped after a few seconds, so no peer
// can hold it.
class HttpServer : public QTcpServer
{
    Q_OBJECT
public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    HttpServer(Handler handler, QObject *parent = nullptr);
    // TLS with this certificate and key; without it the server is plain HTTP.
    void setTls(const QSslConfiguration &config);

    static constexpr int kIdleMs = 10000;
    static constexpr qsizetype kMaxRequest = 1024 * 1024;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onReadyRead(QTcpSocket *socket);

    Handler m_handler;
    QSslConfiguration m_tls;
    bool m_useTls = false;
};
