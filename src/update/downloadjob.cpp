#include "downloadjob.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>

#include <cmath>
#include <cstdio>

DownloadJob::DownloadJob(QString listUrl, QString listBody, QString folder, ListFetcher fetch,
                         Downloader download)
    : m_listUrl(std::move(listUrl)), m_listBody(std::move(listBody)), m_folder(std::move(folder)),
      m_fetch(std::move(fetch)), m_download(std::move(download))
{ }

QString DownloadJob::fileNameOf(const QString &address)
{
    const QString name = address.section(QLatin1Char('/'), -1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char('\0')))
        return {};
    return name;
}

QString DownloadJob::driverFileNameOf(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    const QString name = fileNameOf(address);
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]*$"));
    if (name.isEmpty() || name.size() > 64 || !plainName.match(name).hasMatch())
        return {};
    const QString lower = name.toLower();
    const bool driverFile = lower.endsWith(QLatin1String(".sys")) ||
        lower.endsWith(QLatin1String(".inf")) || lower.endsWith(QLatin1String(".cat")) ||
        lower == QLatin1String("devcon.exe") || lower == QLatin1String("devcon64.exe");
    return driverFile ? name : QString();
}

bool DownloadJob::readFileList(const QString &reply, QStringList *entries, QStringList *names)
{
    entries->clear();
    names->clear();
    if (reply.isEmpty())
        return true;
    const QStringList all = reply.split(QLatin1Char(','));
    // The whole list is checked before anything is fetched: one entry that
    // is not a driver file over http(s) refuses the list.
    QStringList checked;
    for (const QString &address : all) {
        const QString name = address.isEmpty() ? QString() : driverFileNameOf(address);
        if (!address.isEmpty() && name.isEmpty())
            return false;
        checked.append(name);
    }
    *entries = all;
    *names = checked;
    return true;
}

QString DownloadJob::formatSize(qint64 bytes)
{
    // Three significant digits, cut rather than rounded: "532 bytes",
    // "1.50 KB", "15.0 KB", "150 KB".
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    static const char *const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1000.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    const int decimals = value < 10.0 ? 2 : value < 100.0 ? 1 : 0;
    double scale = 1.0;
    for (int i = 0; i < decimals; ++i)
        scale *= 10.0;
    const double cut = std::floor(value * scale) / scale;
    return QStringLiteral("%1 %2").arg(cut, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

QString DownloadJob::progressText(qint64 done, qint64 total)
{
    if (total != 0)
        return QStringLiteral("다운로드 : %1 / %2").arg(formatSize(done), formatSize(total));
    return QStringLiteral("다운로드 : %1 (total size unknown)").arg(formatSize(done));
}

int DownloadJob::filePercent(qint64 done, qint64 total)
{
    return total == 0 ? 0 : int(double(done) * 100.0 / double(total));
}

void DownloadJob::removeTemps(const QStringList &names) const
{
    for (const QString &name : names) {
        if (!name.isEmpty())
            QFile::remove(m_folder + QLatin1Char('/') + name + QStringLiteral(".tmp"));
    }
}

int DownloadJob::run()
{
    const QString reply = m_fetch ? m_fetch(m_listUrl, m_listBody) : QString();
    if (reply.isEmpty()) {
        Q_EMIT completed(-1);
        return -1;
    }
    QStringList entries;
    QStringList checked; // the file name of every entry, in list order
    if (!readFileList(reply, &entries, &checked)) {
        Q_EMIT refused();
        return -1;
    }
    const int n = int(entries.size());
    Q_EMIT statusText(QStringLiteral("전체 : 0 / %1 완료").arg(n));

    QStringList names; // this run's files so far, in list order
    for (int i = 1; i <= n; ++i) {
        const QString address = entries[i - 1];
        const QString name = checked[i - 1];
        names.append(name);
        if (address.isEmpty())
            continue;
        const auto progress = [this](qint64 done, qint64 total) {
            Q_EMIT statusText(progressText(done, total));
            Q_EMIT fileProgress(filePercent(done, total));
            return !m_cancelled.load();
        };
        const bool ok = !name.isEmpty() && !m_cancelled &&
            m_download(address, m_folder + QLatin1Char('/') + name + QStringLiteral(".tmp"),
                       progress);
        if (!ok) {
            removeTemps(names);
            if (!m_cancelled)
                Q_EMIT failed();
            return -1;
        }
        Q_EMIT statusText(QStringLiteral("전체 : %1 / %2 완료").arg(i).arg(n));
        Q_EMIT overallProgress(100 * i / n);
    }

    for (const QString &name : names) {
        if (name.isEmpty())
            continue;
        const QByteArray from =
            QFile::encodeName(m_folder + QLatin1Char('/') + name + QStringLiteral(".tmp"));
        const QByteArray to = QFile::encodeName(m_folder + QLatin1Char('/') + name);
        // rename() replaces an existing file in one step.
        if (std::rename(from.constData(), to.constData()) != 0) {
            removeTemps(names);
            Q_EMIT failed();
            return -1;
        }
    }
    Q_EMIT completed(1);
    return 1;
}
