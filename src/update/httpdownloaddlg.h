#pragma once

#include "downloadjob.h"

#include <QDialog>

class Prompter;
class QLabel;
class QProgressBar;
class QThread;

// "파일 다운로드": fetches the files a list address names into the program
// folder, with overall and per-file progress. Set the list address and body,
// run it (exec), then read result(): 1 when every file is in place, -1
// otherwise. A dialog object may be run more than once.
class HttpDownloadDlg : public QDialog
{
    Q_OBJECT
public:
    // Shown when the list names an address or a file that the driver
    // download does not fetch (nothing is downloaded then).
    static constexpr const char *kRefusedText =
        "드라이버 파일 목록에 받을 수 없는 주소나 파일 이름이 있어 다운로드하지 않았습니다.";

    HttpDownloadDlg(Prompter &prompter, DownloadJob::ListFetcher fetch,
                    DownloadJob::Downloader download, QWidget *parent = nullptr);
    ~HttpDownloadDlg() override;

    QString listUrl;
    QString listBody;

    int result() const { return m_result; }
    int exec() override;

    QLabel *statusLabel() const { return m_status; }
    QProgressBar *overallBar() const { return m_overall; }
    QProgressBar *fileBar() const { return m_file; }

Q_SIGNALS:
    // Every status text as it is shown.
    void statusShown(const QString &text);

private:
    void stopWorker();

    Prompter &m_prompter;
    DownloadJob::ListFetcher m_fetch;
    DownloadJob::Downloader m_download;
    QProgressBar *m_overall = nullptr;
    QProgressBar *m_file = nullptr;
    QLabel *m_status = nullptr;
    QThread *m_thread = nullptr;
    DownloadJob *m_job = nullptr;
    int m_result = -1;
    int m_run = 0;
};
