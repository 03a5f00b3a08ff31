#include "boardpanel.h"

#include "platform/codepage.h"
#include "platform/launcher.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

BoardPanel::BoardPanel(const QUrl &url, const QByteArray &extraHeader, Launcher &launcher,
                       const QString &caFile, QWidget *parent)
    : QTextBrowser(parent), m_url(url), m_header(extraHeader), m_launcher(launcher),
      m_caFile(caFile)
{
    setOpenLinks(false);
    setFrameShape(QFrame::NoFrame);
    connect(this, &QTextBrowser::anchorClicked, this,
            [this](const QUrl &link) { m_launcher.openUrl(m_url.resolved(link)); });
}

QString BoardPanel::errorPage(const QString &reason)
{
    return QStringLiteral("<p><b>페이지를 표시할 수 없습니다.</b></p><p>%1</p>")
        .arg(reason.toHtmlEscaped());
}

void BoardPanel::load()
{
    if (m_started)
        return;
    m_started = true;
    m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(m_url);
    request.setTransferTimeout(15000);
    const qsizetype colon = m_header.indexOf(':');
    if (colon > 0)
        request.setRawHeader(m_header.left(colon).trimmed(), m_header.mid(colon + 1).trimmed());
    if (m_url.scheme() == QLatin1String("https") && !m_caFile.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(m_caFile);
        request.setSslConfiguration(tls);
    }
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onReply(reply); });
}

void BoardPanel::onReply(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        setHtml(errorPage(reply->errorString()));
        Q_EMIT finished(false);
        return;
    }
    const QByteArray body = reply->readAll();
    const QString contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    const QString text = contentType.contains(QLatin1String("euc-kr"), Qt::CaseInsensitive) ||
            contentType.contains(QLatin1String("cp949"), Qt::CaseInsensitive)
        ? CodePage::toUnicode(body)
        : QString::fromUtf8(body);
    setHtml(text);
    m_loaded = true;
    Q_EMIT finished(true);
}
