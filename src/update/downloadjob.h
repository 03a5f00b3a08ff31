#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// One run of the download dialog's worker: asks for the file list, downloads
// every listed file into the folder as <name>.tmp, and puts them in place
// only when all have arrived. Runs on its own thread; everything it reports
// arrives as queued signals.
class DownloadJob : public QObject
{
    Q_OBJECT
public:
    using ListFetcher = std::function<QString(const QString &url, const QString &body)>;
    using Downloader = std::function<bool(const QString &url, const QString &path,
                                          const std::function<bool(qint64, qint64)> &progress)>;

    DownloadJob(QString listUrl, QString listBody, QString folder, ListFetcher fetch,
                Downloader download);

    // The worker's body; returns 1 when every file is in place, -1 otherwise.
    int run();
    // Asks a running job to stop; its temporary files are removed.
    void cancel() { m_cancelled = true; }

    // The file name a list entry gives: the part after its last "/".
    // Empty when the name could leave the folder or is not a file name.
    static QString fileNameOf(const QString &address);
    // The file name of a list entry the driver download may fetch: an http
    // or https address whose name is one of the adapter driver's files (a
    // plain name ending in .sys, .inf or .cat, or the device tools
    // devcon.exe and devcon64.exe). Empty for anything else, so that a list
    // can neither fetch local files nor replace the program's own files
    // (client.ovpn, KVOService.ini, the settings).
    static QString driverFileNameOf(const QString &address);
    // The file list reply read: its entries split at ",", each with the file
    // name it gives (an empty entry keeps its place with no name). Refused
    // (false, `names` left empty) when any entry is not a driver file over
    // http(s); an empty reply is an empty list.
    static bool readFileList(const QString &reply, QStringList *entries, QStringList *names);
    // "1.50 KB", "532 bytes": short human-readable sizes.
    static QString formatSize(qint64 bytes);
    static QString progressText(qint64 done, qint64 total);
    static int filePercent(qint64 done, qint64 total);

Q_SIGNALS:
    void statusText(const QString &text);
    void overallProgress(int percent);
    void fileProgress(int percent);
    // The download of a file failed: the dialog shows the message and stays.
    void failed();
    // The list names an address or a file the driver download does not
    // fetch; nothing was downloaded. The dialog shows the message and stays.
    void refused();
    // DOWNLOAD_COMPLETED: the list was empty (result -1) or all is in place (1).
    void completed(int result);

private:
    void removeTemps(const QStringList &names) const;

    QString m_listUrl;
    QString m_listBody;
    QString m_folder;
    ListFetcher m_fetch;
    Downloader m_download;
    std::atomic<bool> m_cancelled {false};
};
