#include "webtransport.h"

#include "platform/codepage.h"
#include "platform/programfolder.h"
#include "platform/prompter.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <curl/curl.h>

#include <cstdio>
#include <mutex>

namespace {

// A reply bigger than this is not a form reply; stop reading rather than
// let a broken or hostile server fill the memory.
constexpr qsizetype kMaxReply = 4 * 1024 * 1024;

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Handle
{
    CURL *curl = nullptr;
    curl_slist *headers = nullptr;
    ~Handle()
    {
        curl_slist_free_all(headers);
        if (curl)
            curl_easy_cleanup(curl);
    }
};

size_t appendBody(char *data, size_t size, size_t count, void *userdata)
{
    auto *out = static_cast<QByteArray *>(userdata);
    const size_t n = size * count;
    if (out->size() + static_cast<qsizetype>(n) > kMaxReply)
        return 0; // aborts the transfer
    out->append(data, static_cast<qsizetype>(n));
    return n;
}

// The deployment's CA file joins the system's CAs. libcurl takes one bundle
// file, and parsing the whole system bundle on every request costs tens of
// milliseconds, so the CA file goes in as a blob and the system's CAs are
// looked up in the hashed certificate folder. Without such a folder the
// system bundle and the CA file are joined into one blob.
bool setCaFile(CURL *curl, const QString &caFile, QByteArray &store)
{
    QFile own(caFile);
    if (!own.open(QIODevice::ReadOnly))
        return true; // an unreadable CaFile leaves the system's CAs alone
    const QByteArray ownPem = own.readAll();

    char *systemPath = nullptr;
    char *systemFolder = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CAINFO, &systemPath);
    curl_easy_getinfo(curl, CURLINFO_CAPATH, &systemFolder);
    QString folder = systemFolder ? QString::fromLocal8Bit(systemFolder) : QString();
    if (folder.isEmpty() && QFileInfo::exists(QStringLiteral("/etc/ssl/certs")))
        folder = QStringLiteral("/etc/ssl/certs");

    if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        store = ownPem;
        const QByteArray folderBytes = folder.toLocal8Bit();
        if (curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr) != CURLE_OK ||
            curl_easy_setopt(curl, CURLOPT_CAPATH, folderBytes.constData()) != CURLE_OK)
            return false;
    } else {
        if (systemPath) {
            QFile f(QString::fromLocal8Bit(systemPath));
            if (f.open(QIODevice::ReadOnly))
                store = f.readAll();
        }
        if (!store.isEmpty() && !store.endsWith('\n'))
            store.append('\n');
        store.append(ownPem);
    }
    curl_blob blob {store.data(), static_cast<size_t>(store.size()), CURL_BLOB_NOCOPY};
    return curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob) == CURLE_OK;
}

// Redirects between HTTP and HTTPS are followed, a few of them, and only to
// web addresses; the certificate checks hold for every host on the way.
constexpr long kMaxRedirects = 5;

CURLcode followRedirects(CURL *curl)
{
    CURLcode rc = curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    return rc;
}

// Certificate checks for every transport: the name and the chain against the
// system's CAs and the deployment's CaFile.
bool setTls(CURL *curl, const DeploymentConfig &config, QByteArray &bundleStore)
{
    bool ok = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    if (ok && !config.caFile.isEmpty())
        ok = setCaFile(curl, config.caFile, bundleStore);
    return ok;
}

QString curlText(CURLcode code, const char *errorBuffer)
{
    if (errorBuffer && errorBuffer[0])
        return QString::fromLocal8Bit(errorBuffer).trimmed();
    return QString::fromLocal8Bit(curl_easy_strerror(code));
}

// The four stages of a request, as the boxes name them.
void reportFailure(Prompter &prompter, const char *stage, int number, const QString &message)
{
    const QByteArray line = message.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
    prompter.show(
        QStringLiteral("%1 [%2]- %3").arg(QLatin1String(stage), QString::number(number), message),
        QString(), Mb::Ok);
}

enum class PlainKind { FormToUrl, PlainForm };

QString postToUrl(PlainKind kind, const QString &url, const QString &body,
                  const DeploymentConfig &config)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return {};
    const QString scheme = parsed.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return {};
    globalInit();
    Handle h;
    h.curl = curl_easy_init();
    if (!h.curl)
        return {};

    const QByteArray urlBytes = parsed.toEncoded();
    const QByteArray bytes =
        kind == PlainKind::FormToUrl ? body.toUtf8() : CodePage::fromUnicode(body);
    const QByteArray agent = applicationName().toUtf8();
    QByteArray reply;
    QByteArray bundle;

    h.headers = curl_slist_append(h.headers, "Content-Type: application/x-www-form-urlencoded");
    h.headers = curl_slist_append(h.headers, "Accept:"); // libcurl's own default, not ours
    h.headers = curl_slist_append(h.headers, "Expect:");
    bool ok = h.headers != nullptr;
    ok = ok && curl_easy_setopt(h.curl, CURLOPT_URL, urlBytes.constData()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h.curl, CURLOPT_USERAGENT, agent.constData()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h.curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK;
    ok = ok && curl_easy_setopt(h.curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h.curl, CURLOPT_HTTPHEADER, h.headers) == CURLE_OK;
    ok = ok && curl_easy_setopt(h.curl, CURLOPT_POSTFIELDS, bytes.constData()) == CURLE_OK;
    ok = ok &&
        curl_easy_setopt(h.curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(bytes.size())) ==
            CURLE_OK;
    ok = ok && curl_easy_setopt(h.curl, CURLOPT_WRITEFUNCTION, appendBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(h.curl, CURLOPT_WRITEDATA, &reply) == CURLE_OK;
    ok = ok && curl_easy_setopt(h.curl, CURLOPT_CONNECTTIMEOUT, 60L) == CURLE_OK;
    ok = ok && setTls(h.curl, config, bundle);
    ok = ok && curl_easy_setopt(h.curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    if (kind == PlainKind::FormToUrl) {
        ok = ok && followRedirects(h.curl) == CURLE_OK;
        // Direct: an empty proxy also overrides the proxy variables.
        ok = ok && curl_easy_setopt(h.curl, CURLOPT_PROXY, "") == CURLE_OK;
        // The data receive time-out: give up after 5 s without a byte.
        ok = ok && curl_easy_setopt(h.curl, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(h.curl, CURLOPT_LOW_SPEED_TIME, 5L) == CURLE_OK;
    } else {
        // No time-out of its own; a silent server still must not hold the
        // caller for ever, so the library default of a desktop HTTP stack.
        ok = ok && curl_easy_setopt(h.curl, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(h.curl, CURLOPT_LOW_SPEED_TIME, 30L) == CURLE_OK;
    }
    if (!ok)
        return {};

    const CURLcode res = curl_easy_perform(h.curl);
    long status = 0;
    curl_easy_getinfo(h.curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200)
        return {};
    // On a broken transfer the lines read so far are the result.
    (void)res;
    return ReplyText::joinedLines(reply);
}

} // namespace

namespace ReplyText {
QString joinedLines(const QByteArray &bytes)
{
    QString out;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        QByteArray line = bytes.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        out += QString::fromUtf8(line);
        start = end + 1;
    }
    return out;
}

QString whole(const QByteArray &bytes)
{
    // Decoded as a whole: a character split across reads stays whole.
    return QString::fromUtf8(bytes);
}
} // namespace ReplyText

QString PostServiceForm(const QString &path, const QString &body, const DeploymentConfig &config,
                        Prompter &prompter)
{
    globalInit();
    Handle h;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    h.curl = curl_easy_init();
    if (!h.curl) {
        reportFailure(prompter, "InternetOpen", CURLE_FAILED_INIT,
                      QString::fromLocal8Bit(curl_easy_strerror(CURLE_FAILED_INIT)));
        return {};
    }
    CURLcode rc = curl_easy_setopt(h.curl, CURLOPT_ERRORBUFFER, errorBuffer);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(h.curl, CURLOPT_NOSIGNAL, 1L);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(h.curl, CURLOPT_CONNECTTIMEOUT, 60L);
    if (rc == CURLE_OK) { // a silent server gives up after 30 s, as desktop stacks do
        rc = curl_easy_setopt(h.curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        if (rc == CURLE_OK)
            rc = curl_easy_setopt(h.curl, CURLOPT_LOW_SPEED_TIME, 30L);
    }
    if (rc != CURLE_OK) {
        reportFailure(prompter, "InternetOpen", rc, curlText(rc, errorBuffer));
        return {};
    }

    // Connect stage: the host and port of the deployment.
    const QString host = config.webHostName();
    const int port = config.webHostPort(443);
    // QUrl forgets a bad host at its next setter: check the host on its own.
    QUrl hostCheck;
    hostCheck.setHost(host, QUrl::StrictMode);
    const bool hostOk = !host.isEmpty() && hostCheck.isValid() && port > 0 && port <= 65535;
    const qsizetype q = path.indexOf(QLatin1Char('?'));
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(host);
    url.setPort(port == 443 ? -1 : port);
    const QString pathOnly = q < 0 ? path : path.left(q);
    url.setPath(pathOnly.startsWith(QLatin1Char('/')) ? pathOnly : QLatin1Char('/') + pathOnly);
    if (q >= 0)
        url.setQuery(path.mid(q + 1));
    const QByteArray urlBytes = url.toEncoded();
    rc = (!hostOk || !url.isValid()) ? CURLE_URL_MALFORMAT
                                     : curl_easy_setopt(h.curl, CURLOPT_URL, urlBytes.constData());
    if (rc != CURLE_OK) {
        reportFailure(prompter, "InternetConnect", rc, curlText(rc, errorBuffer));
        return {};
    }

    // Request stage: verb, version, header lines, certificate checks.
    const QByteArray bytes = body.toUtf8();
    QByteArray reply;
    QByteArray bundle;
    h.headers = curl_slist_append(h.headers, "Accept: text*/*");
    h.headers =
        curl_slist_append(h.headers, "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0;* Windows NT)");
    h.headers = curl_slist_append(h.headers, "Content-type: application/x-www-form-urlencoded");
    h.headers = curl_slist_append(h.headers, "Expect:");
    rc = h.headers ? CURLE_OK : CURLE_OUT_OF_MEMORY;
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(h.curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(h.curl, CURLOPT_HTTPHEADER, h.headers);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(h.curl, CURLOPT_POSTFIELDS, bytes.constData());
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(h.curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(bytes.size()));
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(h.curl, CURLOPT_WRITEFUNCTION, appendBody);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(h.curl, CURLOPT_WRITEDATA, &reply);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(h.curl, CURLOPT_PROTOCOLS_STR, "http,https");
    if (rc == CURLE_OK)
        rc = followRedirects(h.curl);
    if (rc == CURLE_OK && !setTls(h.curl, config, bundle))
        rc = CURLE_SSL_CACERT_BADFILE;
    if (rc != CURLE_OK) {
        reportFailure(prompter, "HttpOpenRequest", rc, curlText(rc, errorBuffer));
        return {};
    }

    // Send stage: connection, TLS handshake, request and the whole reply.
    rc = curl_easy_perform(h.curl);
    if (rc != CURLE_OK) {
        reportFailure(prompter, "HttpSendRequest", rc, curlText(rc, errorBuffer));
        return {};
    }
    long status = 0;
    if (curl_easy_getinfo(h.curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
        return {};
    return ReplyText::whole(reply);
}

QString PostFormToUrl(const QString &url, const QString &body, const DeploymentConfig &config)
{
    return postToUrl(PlainKind::FormToUrl, url, body, config);
}

QString PostPlainForm(const QString &url, const QString &body, const DeploymentConfig &config)
{
    return postToUrl(PlainKind::PlainForm, url, body, config);
}

CurlWebTransport::CurlWebTransport(DeploymentConfig config, Prompter &prompter)
    : m_config(std::move(config)), m_prompter(prompter)
{ }

QString CurlWebTransport::postServiceForm(const QString &path, const QString &body)
{
    return PostServiceForm(path, body, m_config, m_prompter);
}

QString CurlWebTransport::postFormToUrl(const QString &url, const QString &body)
{
    return PostFormToUrl(url, body, m_config);
}

QString CurlWebTransport::postPlainForm(const QString &url, const QString &body)
{
    return PostPlainForm(url, body, m_config);
}

void ScriptedWebTransport::reply(const QString &target, const QString &answer, const QString &body)
{
    m_entries.append({target, body, answer});
}

QString ScriptedWebTransport::answer(Kind kind, const QString &target, const QString &body)
{
    calls.append({kind, target, body});
    for (auto it = m_entries.crbegin(); it != m_entries.crend(); ++it) {
        if (it->target == target && (it->body.isNull() || it->body == body))
            return it->answer;
    }
    return {};
}

QString ScriptedWebTransport::postServiceForm(const QString &path, const QString &body)
{
    return answer(Kind::ServiceForm, path, body);
}

QString ScriptedWebTransport::postFormToUrl(const QString &url, const QString &body)
{
    return answer(Kind::FormToUrl, url, body);
}

QString ScriptedWebTransport::postPlainForm(const QString &url, const QString &body)
{
    return answer(Kind::PlainForm, url, body);
}
