#include "web/webhostmodule.h"

#include "recorder.h"
#include "scenario.h"
#include "web/httpserver.h"

#include <QFile>
#include <QJsonArray>
#include <QSslCertificate>
#include <QSslKey>

namespace {

QString keyString(const QJsonObject &o, const char *key, const QString &def = QString())
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return QString::number(v.toInteger());
    return def;
}

// Form decoding as a web server does it ("+" is a blank).
QString decode(const QByteArray &value)
{
    QByteArray v = value;
    v.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(v));
}

QHash<QString, QString> parseForm(const QByteArray &body)
{
    QHash<QString, QString> form;
    for (const QByteArray &pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype eq = pair.indexOf('=');
        const QString name = decode(eq < 0 ? pair : pair.left(eq));
        if (!form.contains(name))
            form.insert(name, eq < 0 ? QString() : decode(pair.mid(eq + 1)));
    }
    return form;
}

HttpResponse text(const QString &t, int status = 200)
{
    return {status, "text/html; charset=utf-8", t.toUtf8(), {}};
}

HttpResponse page(const QString &title, const QString &body)
{
    return text(QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1"
                               "</title></head><body>%2</body></html>")
                    .arg(title.toHtmlEscaped(), body));
}

bool loadTls(const QJsonObject &web, QSslConfiguration &out, QString *error)
{
    QString certFile = keyString(web, "certFile");
    QString keyFile = keyString(web, "keyFile");
    const QString dir = keyString(web, "tlsDir");
    if (!dir.isEmpty()) {
        if (certFile.isEmpty())
            certFile = dir + QStringLiteral("/server.pem");
        if (keyFile.isEmpty())
            keyFile = dir + QStringLiteral("/server.key");
    }
    QFile cf(certFile);
    QFile kf(keyFile);
    if (certFile.isEmpty() || !cf.open(QIODevice::ReadOnly) || !kf.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("web: cannot read the certificate \"%1\" and key \"%2\"")
                     .arg(certFile, keyFile);
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(cf.readAll(), QSsl::Pem);
    const QByteArray keyPem = kf.readAll();
    QSslKey key(keyPem, QSsl::Ec, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyPem, QSsl::Rsa, QSsl::Pem);
    if (chain.isEmpty() || key.isNull()) {
        *error = QStringLiteral("web: \"%1\" or \"%2\" is not a PEM certificate and key")
                     .arg(certFile, keyFile);
        return false;
    }
    out = QSslConfiguration::defaultConfiguration();
    out.setLocalCertificateChain(chain);
    out.setPrivateKey(key);
    out.setPeerVerifyMode(QSslSocket::VerifyNone);
    return true;
}

} // namespace

WebHostModule::~WebHostModule() = default;

quint16 WebHostModule::httpsPort() const
{
    return m_https ? m_https->serverPort() : 0;
}

quint16 WebHostModule::httpPort() const
{
    return m_http ? m_http->serverPort() : 0;
}

bool WebHostModule::start(const Scenario &scenario, Recorder &recorder, QString *error)
{
    m_recorder = &recorder;
    m_web = scenario.section(QStringLiteral("web"));
    if (m_web.value(QStringLiteral("enabled")).toBool(true) == false)
        return true;
    m_address = keyString(m_web, "address", QStringLiteral("127.0.0.2"));

    for (const SimAccount &a : scenario.accounts()) {
        Account acc;
        acc.id = a.id;
        acc.password = a.password;
        acc.productType = a.raw.value(QStringLiteral("productType")).toInt(1);
        for (const QJsonValue &v : a.raw.value(QStringLiteral("dynamicProducts")).toArray())
            acc.dynamicProducts.append(keyString(QJsonObject {{QStringLiteral("v"), v}}, "v"));
        acc.parentId = keyString(a.raw, "parentId", a.id);
        acc.server = keyString(a.raw, "server");
        acc.qos = keyString(a.raw, "qos", QStringLiteral("0"));
        acc.availability = keyString(a.raw, "availability");
        acc.loggedIn = a.raw.value(QStringLiteral("loggedIn")).toBool(false);
        acc.loggedInExtra = keyString(a.raw, "loggedInExtra");
        m_accounts.append(acc);
    }

    const QHostAddress address(m_address);
    if (address.isNull()) {
        *error = QStringLiteral("web: \"%1\" is not an address").arg(m_address);
        return false;
    }
    auto handler = [this](const HttpRequest &r) {
        return handle(r);
    };

    const int httpsPort = m_web.value(QStringLiteral("httpsPort")).toInt(443);
    if (httpsPort >= 0) {
        QSslConfiguration tls;
        if (!loadTls(m_web, tls, error))
            return false;
        m_https = new HttpServer(handler, this);
        m_https->setTls(tls);
        if (!m_https->listen(address, static_cast<quint16>(httpsPort))) {
            *error = QStringLiteral("web: cannot listen on %1:%2 (%3)")
                         .arg(m_address)
                         .arg(httpsPort)
                         .arg(m_https->errorString());
            return false;
        }
    }
    const int httpPort = m_web.value(QStringLiteral("httpPort")).toInt(80);
    if (httpPort >= 0) {
        m_http = new HttpServer(handler, this);
        if (!m_http->listen(address, static_cast<quint16>(httpPort))) {
            *error = QStringLiteral("web: cannot listen on %1:%2 (%3)")
                         .arg(m_address)
                         .arg(httpPort)
                         .arg(m_http->errorString());
            return false;
        }
    }
    return true;
}

WebHostModule::Account *WebHostModule::account(const QString &id)
{
    for (Account &a : m_accounts) {
        if (a.id == id)
            return &a;
    }
    return nullptr;
}

HttpResponse WebHostModule::handle(const HttpRequest &request)
{
    QJsonArray headers;
    for (const QByteArray &line : request.headerLines)
        headers.append(QString::fromLatin1(line));
    const QHash<QString, QString> form = parseForm(request.body);
    QJsonObject formJson;
    for (auto it = form.cbegin(); it != form.cend(); ++it)
        formJson.insert(it.key(), it.value());
    m_recorder->record(
        QStringLiteral("web"),
        {
            {QStringLiteral("scheme"),
             request.tls ? QStringLiteral("https") : QStringLiteral("http")},
            {QStringLiteral("method"), QString::fromLatin1(request.method)},
            {QStringLiteral("path"), QString::fromLatin1(request.target)},
            {QStringLiteral("version"), QString::fromLatin1(request.version)},
            {QStringLiteral("headers"), headers},
            {QStringLiteral("body"), QString::fromUtf8(request.body)},
            {QStringLiteral("bodyBase64"), QString::fromLatin1(request.body.toBase64())},
            {QStringLiteral("form"), formJson},
        });

    // Redirects by path: {"to": address, "status": 301|302|303|307|308}
    // or just the address (302). "{http}" and "{https}" in the address stand
    // for this host's plain and TLS base addresses.
    const QJsonValue redirect = m_web.value(QStringLiteral("redirects"))
                                    .toObject()
                                    .value(QString::fromLatin1(request.path()));
    if (!redirect.isUndefined()) {
        const QJsonObject o = redirect.isObject()
            ? redirect.toObject()
            : QJsonObject {{QStringLiteral("to"), redirect.toString()}};
        QString to = keyString(o, "to");
        to.replace(QLatin1String("{http}"),
                   QStringLiteral("http://%1:%2").arg(m_address).arg(httpPort()));
        to.replace(QLatin1String("{https}"),
                   QStringLiteral("https://%1:%2").arg(m_address).arg(httpsPort()));
        HttpResponse r = text(QString(), o.value(QStringLiteral("status")).toInt(302));
        r.location = to.toUtf8();
        return r;
    }

    // Faults: a status for a content value or a path.
    const QJsonObject statuses = m_web.value(QStringLiteral("status")).toObject();
    const QString key = form.value(QStringLiteral("content"));
    for (const QString &k : {key, QString::fromLatin1(request.path())}) {
        if (!k.isEmpty() && statuses.contains(k))
            return text(QString(), statuses.value(k).toInt(500));
    }

    // Fixed replies for a content value or a path (odd or long replies).
    const QJsonObject replies = m_web.value(QStringLiteral("replies")).toObject();
    for (const QString &k : {key, QString::fromLatin1(request.path())}) {
        if (!k.isEmpty() && replies.contains(k))
            return text(replies.value(k).toString());
    }

    const QByteArray path = request.path();
    // The echo page: the address the request came from, as plain text
    // (the client's VerifyUrl check).
    if ((request.method == "GET" || request.method == "POST") && path == "/myip") {
        HttpResponse r = text(QString::fromLatin1(request.peer));
        r.contentType = "text/plain";
        return r;
    }
    if (request.method == "POST" && path == "/service/vezi/vezi_cs_contents.php")
        return contents(request, form);
    if (request.method == "POST" && path == "/service/vezi/kill_loggedin.php")
        return text(killLoggedIn(request.body));
    if (request.method == "POST" && path == "/service/vezi/get_qos.php") {
        const Account *acc = account(form.value(QStringLiteral("id")));
        return text(acc ? acc->qos : QStringLiteral("0"));
    }
    if (request.method == "GET" && path == "/latestBoard.php") {
        const bool faq = request.query().contains("board_id=faq");
        const QString html = keyString(m_web, faq ? "faqBoard" : "noticeBoard");
        if (!html.isEmpty())
            return text(html);
        return page(faq ? QStringLiteral("FAQ") : QStringLiteral("공지사항"),
                    faq ? QStringLiteral("<ul><li>FAQ</li></ul>")
                        : QStringLiteral("<ul><li>공지사항</li></ul>"));
    }
    if (request.method == "GET" && path.startsWith("/files/")) {
        // /files/<arch>/<name>
        const QList<QByteArray> parts = path.mid(7).split('/');
        if (parts.size() == 2) {
            const QJsonArray files = m_web.value(QStringLiteral("tapFiles"))
                                         .toObject()
                                         .value(QString::fromLatin1(parts[0]))
                                         .toArray();
            for (const QJsonValue &f : files) {
                const QJsonObject o = f.toObject();
                if (keyString(o, "name") == QString::fromUtf8(parts[1])) {
                    return {200,
                            "application/octet-stream",
                            o.contains(QStringLiteral("base64"))
                                ? QByteArray::fromBase64(keyString(o, "base64").toLatin1())
                                : keyString(o, "content").toUtf8(),
                            {}};
                }
            }
        }
        return text(QString(), 404);
    }
    if (request.method == "GET" &&
        (path.startsWith("/service/vezi/") || path.startsWith("/bbs/")) && path.endsWith(".php"))
        return page(QString::fromLatin1(path), QString::fromLatin1(request.target).toHtmlEscaped());
    return text(QString(), 404);
}

HttpResponse WebHostModule::contents(const HttpRequest &request,
                                     const QHash<QString, QString> &form)
{
    const QString content = form.value(QStringLiteral("content"));
    const QString id = form.value(QStringLiteral("vezi_id"));
    const QString password = form.value(QStringLiteral("vezi_password"));
    Account *acc = account(id);
    const bool credentialsOk = acc && acc->password == password;

    if (content == QLatin1String("dynamic_product_list"))
        return text(keyString(m_web, "productList"));
    if (content == QLatin1String("current_version"))
        return text(keyString(m_web, "currentVersion", QStringLiteral("1.0.0.0")));
    if (content == QLatin1String("available_chk"))
        return text(availability(form, form.contains(QStringLiteral("dynamic"))));
    if (content == QLatin1String("get_parent_id"))
        return text(acc ? acc->parentId : QString());
    if (content == QLatin1String("goodserver"))
        return text(credentialsOk ? acc->server : QString());
    if (content == QLatin1String("tap_file_list")) {
        const QString arch = form.value(QStringLiteral("arch"));
        QStringList urls;
        const QString base =
            QStringLiteral("http://%1%2/files/%3/")
                .arg(m_address,
                     httpPort() == 80 ? QString() : QLatin1Char(':') + QString::number(httpPort()),
                     arch);
        for (const QJsonValue &f :
             m_web.value(QStringLiteral("tapFiles")).toObject().value(arch).toArray())
            urls.append(base + keyString(f.toObject(), "name"));
        return text(urls.join(QLatin1Char(',')));
    }
    if (content == QLatin1String("login")) {
        const QString url = form.value(QStringLiteral("url"));
        if (!credentialsOk)
            return page(QStringLiteral("로그인 실패"), QStringLiteral("login failed"));
        return page(QStringLiteral("로그인"),
                    QStringLiteral("signed in as %1; page %2")
                        .arg(id.toHtmlEscaped(), url.toHtmlEscaped()));
    }
    Q_UNUSED(request);
    return text(QString());
}

QString WebHostModule::availability(const QHash<QString, QString> &form, bool dynamic)
{
    Account *acc = account(form.value(QStringLiteral("vezi_id")));
    if (!acc)
        return QStringLiteral("NO_EXIST_ID");
    if (acc->password != form.value(QStringLiteral("vezi_password")))
        return QStringLiteral("NOT_CORRECT_PASSWORD");
    if (!acc->availability.isEmpty())
        return acc->availability;
    if (acc->loggedIn) {
        QString token = dynamic ? QStringLiteral("DYNAMIC_ALEADY_LOGGED_IN")
                                : QStringLiteral("ALEADY_LOGGED_IN");
        if (!acc->loggedInExtra.isEmpty())
            token += QLatin1Char(':') + acc->loggedInExtra;
        return token;
    }
    if (dynamic) {
        return acc->dynamicProducts.contains(form.value(QStringLiteral("dynamic")))
            ? QStringLiteral("dynamicOK")
            : QStringLiteral("DYNAMIC_NO_IP");
    }
    return acc->productType == 2 ? QStringLiteral("NO_IP") : QStringLiteral("OK");
}

QString WebHostModule::killLoggedIn(const QByteArray &body)
{
    // "vezi_id=%s&vezi_password=%s&<extra as the availability reply gave it>"
    const qsizetype first = body.indexOf('&');
    const qsizetype second = first < 0 ? -1 : body.indexOf('&', first + 1);
    const QHash<QString, QString> form = parseForm(body.left(second < 0 ? body.size() : second));
    const QString extra = second < 0 ? QString() : QString::fromUtf8(body.mid(second + 1));
    Account *acc = account(form.value(QStringLiteral("vezi_id")));
    if (!acc || acc->password != form.value(QStringLiteral("vezi_password")) || !acc->loggedIn ||
        extra != acc->loggedInExtra)
        return QStringLiteral("FAIL");
    acc->loggedIn = false;
    return QStringLiteral("SUCCESS");
}
