#pragma once

#include <QTextBrowser>
#include <QUrl>

class Launcher;
class QNetworkAccessManager;
class QNetworkReply;

// A light view of one of the service's board pages (the newest notices or
// FAQ entries): it loads the page once, shows its text and pictures-free
// layout, and opens links in the desktop's browser. A page that cannot be
// loaded shows a short explanation instead; nothing else depends on it.
class BoardPanel : public QTextBrowser
{
    Q_OBJECT
public:
    // extraHeader: one "Name: value" line sent with the request, or empty.
    BoardPanel(const QUrl &url, const QByteArray &extraHeader, Launcher &launcher,
               const QString &caFile = QString(), QWidget *parent = nullptr);

    const QUrl &pageUrl() const { return m_url; }
    bool loaded() const { return m_loaded; }
    // Starts the load (once); panels start it when they are created.
    void load();

    static QString errorPage(const QString &reason);

Q_SIGNALS:
    void finished(bool ok);

private:
    void onReply(QNetworkReply *reply);

    QUrl m_url;
    QByteArray m_header;
    Launcher &m_launcher;
    QString m_caFile;
    QNetworkAccessManager *m_network = nullptr;
    bool m_started = false;
    bool m_loaded = false;
};

// The notices ("공지사항") and FAQ panels of the sign-in dialog.
namespace BoardPages {
// "http://%s/latestBoard.php?board_id=notice&cs=y"
QUrl noticesUrl(const QString &httpAuthority);
// "https://%s/latestBoard.php?board_id=faq&cs=y"
QUrl faqUrl(const QString &httpsAuthority);
inline const QByteArray kFaqHeader =
    QByteArrayLiteral("Content-Type: application/x-www-form-urlencoded");
} // namespace BoardPages
