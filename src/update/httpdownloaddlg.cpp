#include "httpdownloaddlg.h"

#include "platform/programfolder.h"
#include "platform/prompter.h"
#include "platform/tlsthread.h"

#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>

HttpDownloadDlg::HttpDownloadDlg(Prompter &prompter, DownloadJob::ListFetcher fetch,
                                 DownloadJob::Downloader download, QWidget *parent)
    : QDialog(parent), m_prompter(prompter), m_fetch(std::move(fetch)),
      m_download(std::move(download))
{
    setObjectName(QStringLiteral("106"));
    setWindowTitle(QStringLiteral("파일 다운로드"));
    auto *layout = new QVBoxLayout(this);
    m_overall = new QProgressBar(this);
    m_overall->setObjectName(QStringLiteral("1056"));
    m_file = new QProgressBar(this);
    m_file->setObjectName(QStringLiteral("1059"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("1061"));
    for (QProgressBar *bar : {m_overall, m_file})
        bar->setRange(0, 100);
    layout->addWidget(m_overall);
    layout->addWidget(m_file);
    layout->addWidget(m_status);
    setMinimumWidth(360);
}

HttpDownloadDlg::~HttpDownloadDlg()
{
    stopWorker();
}

void HttpDownloadDlg::stopWorker()
{
    if (!m_thread)
        return;
    if (m_job)
        m_job->cancel();
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_job = nullptr;
}

int HttpDownloadDlg::exec()
{
    stopWorker();
    m_result = -1;
    m_overall->setValue(0);
    m_file->setValue(0);
    m_status->clear();

    m_thread = new QThread;
    // The downloads run libcurl over TLS in this thread.
    TlsThread::releaseStateWhenFinished(*m_thread);
    m_job = new DownloadJob(listUrl, listBody, ProgramFolder::path(), m_fetch, m_download);
    m_job->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_job, &QObject::deleteLater);
    connect(m_job, &DownloadJob::statusText, m_status, &QLabel::setText);
    connect(m_job, &DownloadJob::statusText, this, &HttpDownloadDlg::statusShown);
    connect(m_job, &DownloadJob::overallProgress, m_overall, &QProgressBar::setValue);
    connect(m_job, &DownloadJob::fileProgress, m_file, &QProgressBar::setValue);
    connect(m_job, &DownloadJob::failed, this, [this] {
        m_prompter.show(
            QStringLiteral("파일을 다운받는 중 오류로 인하여 업데이트에 실패하였습니다."),
            QString(), Mb::Ok);
    });
    connect(m_job, &DownloadJob::refused, this,
            [this] { m_prompter.show(QString::fromUtf8(kRefusedText), QString(), Mb::Ok); });
    // A notice of an earlier run that arrives late is ignored.
    const int run = ++m_run;
    connect(m_job, &DownloadJob::completed, this, [this, run](int result) {
        if (run != m_run || !isVisible())
            return;
        m_result = result;
        accept();
    });
    DownloadJob *job = m_job;
    connect(m_thread, &QThread::started, job, [job] { job->run(); });
    m_thread->start();

    const int code = QDialog::exec();
    stopWorker();
    ++m_run;
    return code;
}
