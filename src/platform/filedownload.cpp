#include "filedownload.h"

#include <QFile>
#include <QUrl>

#include <curl/curl.h>

namespace {

struct Transfer
{
    QFile *file = nullptr;
    const std::function<bool(qint64, qint64)> *progress = nullptr;
    bool writeFailed = false;
};

size_t onData(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const auto n = qint64(size * count);
    if (t->file->write(data, n) != n) {
        t->writeFailed = true;
        return 0;
    }
    return size_t(n);
}

int onProgress(void *user, curl_off_t total, curl_off_t done, curl_off_t, curl_off_t)
{
    auto *t = static_cast<Transfer *>(user);
    if (*t->progress && !(*t->progress)(qint64(done), qint64(total)))
        return 1; // abort
    return 0;
}

} // namespace

bool downloadToFile(const QString &url, const QString &path,
                    const std::function<bool(qint64, qint64)> &progress, QString *error)
{
    // Only web addresses: a local file or another protocol is refused before
    // the target file is touched.
    const QString scheme = QUrl(url).scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        if (error)
            *error = QStringLiteral("not an http or https address");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    CURL *curl = curl_easy_init();
    if (!curl) {
        if (error)
            *error = QStringLiteral("curl_easy_init failed");
        return false;
    }
    Transfer t;
    t.file = &file;
    t.progress = &progress;
    const QByteArray u = url.toUtf8();
    char errbuf[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, u.constData());
    // Redirects stay on the web, and few of them.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    // A transfer that stalls below 1 byte/s for a minute has failed.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    const bool flushed = file.flush();
    file.close();
    const bool ok = rc == CURLE_OK && !t.writeFailed && flushed;
    if (!ok && error)
        *error = t.writeFailed ? file.errorString()
                               : QString::fromUtf8(errbuf[0] ? errbuf : curl_easy_strerror(rc));
    return ok;
}
