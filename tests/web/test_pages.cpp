// Service pages: the page table, the plain start, the private window and the
// signed-in page that reaches the web host as the login POST.
#include "simweb.h"

#include "platform/launcher.h"
#include "support/testhome.h"
#include "web/formescape.h"
#include "web/servicepages.h"
#include "web/servicerequests.h"
#include "web/signedinpage.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

TEST(ServiceUrls, EveryPageAddressComesFromTheWebHost)
{
    WebHost h;
    h.name = QStringLiteral("www.example.kr");
    const QString s = QStringLiteral("https://www.example.kr");
    EXPECT_EQ(ServiceUrls::fixedBuy(h), s + QStringLiteral("/service/vezi/vezi_buy.php"));
    EXPECT_EQ(ServiceUrls::dynamicBuy(h), s + QStringLiteral("/service/vezi/vezi_dynamic_buy.php"));
    EXPECT_EQ(ServiceUrls::fixedExtendAfterExpiry(h),
              s + QStringLiteral("/service/vezi/vezi_buy.php?sn=4"));
    EXPECT_EQ(ServiceUrls::dynamicExtendAfterExpiry(h),
              s + QStringLiteral("/service/vezi/vezi_dynamic_buy.php?sn=4"));
    EXPECT_EQ(ServiceUrls::inquiry(h), s + QStringLiteral("/bbs/qawrite.php"));
    EXPECT_EQ(ServiceUrls::signUp(h), s + QStringLiteral("/service/vezi/vezi_register.php?sn=1"));
    EXPECT_EQ(ServiceUrls::connectionFaq(h),
              s + QStringLiteral("/bbs/board.php?bo_table=faq&sn=5"));
    EXPECT_EQ(ServiceUrls::lostPassword(h),
              s + QStringLiteral("/service/vezi/vezi_password_lost.php"));
    EXPECT_EQ(ServiceUrls::faqForError(h, 678),
              s + QStringLiteral("/service/vezi/view_faq.php?error_code=678"));
    EXPECT_EQ(ServiceUrls::purchasePage(h, 1), ServiceUrls::fixedBuy(h));
    EXPECT_EQ(ServiceUrls::purchasePage(h, 2), ServiceUrls::dynamicBuy(h));
    EXPECT_EQ(ServiceUrls::purchasePage(h, 3), QString());
    EXPECT_EQ(ServiceUrls::signedInPost(h),
              s + QStringLiteral("/service/vezi/vezi_cs_contents.php"));
    EXPECT_EQ(ServiceUrls::noticesBoard(h),
              QStringLiteral("http://www.example.kr/latestBoard.php?board_id=notice&cs=y"));
    EXPECT_EQ(ServiceUrls::faqBoard(h), s + QStringLiteral("/latestBoard.php?board_id=faq&cs=y"));
    EXPECT_EQ(ServiceUrls::qosUrl(h),
              QStringLiteral("http://www.example.kr/service/vezi/get_qos.php"));
    EXPECT_EQ(ServiceUrls::tapFileListUrl(h),
              QStringLiteral("http://www.example.kr/service/vezi/vezi_cs_contents.php"));
    EXPECT_EQ(ServiceUrls::probe(h), QStringLiteral("http://www.example.kr"));
}

TEST(ServiceUrls, AWebHostWithAPortKeepsItOnHttpsOnly)
{
    DeploymentConfig c = DeploymentConfig::defaults();
    c.webHost = QStringLiteral("127.0.0.2:8443");
    const WebHost h = WebHost::fromConfig(c);
    EXPECT_EQ(ServiceUrls::inquiry(h), QStringLiteral("https://127.0.0.2:8443/bbs/qawrite.php"));
    EXPECT_EQ(ServiceUrls::qosUrl(h), QStringLiteral("http://127.0.0.2/service/vezi/get_qos.php"));
}

TEST(SignedInBody, CutsTheIdAtTheFirstAtSignAndEscapesEveryValue)
{
    const QString target = QStringLiteral("https://h/service/vezi/vezi_dynamic_buy.php");
    EXPECT_EQ(ServiceCatalogue::signedInBody(QStringLiteral("p1"), QStringLiteral("pw"), target),
              QStringLiteral("vezi_id=p1&vezi_password=pw&content=login&url=") + target);
    EXPECT_EQ(
        ServiceCatalogue::signedInBody(QStringLiteral("abc@x@y"), QStringLiteral("a&b"),
                                       QStringLiteral("https://h/b?sn=4")),
        QStringLiteral("vezi_id=abc&vezi_password=a%26b&content=login&url=https://h/b%3fsn%3d4"));
}

class FakeBrowsers : public BrowserRegistry
{
public:
    QString id;
    QStringList exec {QStringLiteral("/usr/bin/browser")};
    QString defaultBrowser() override { return id; }
    QString program(const QString &) override { return exec.value(0); }
    QStringList command(const QString &) override { return exec; }
};

TEST(OpenPrivateBrowser, StartsKnownBrowsersInPrivateModeAndNothingElse)
{
    struct Case
    {
        const char *desktopId;
        const char *call; // empty: nothing starts
    };
    const Case cases[] = {
        {"firefox.desktop", "run:/usr/bin/browser --private-window"},
        {"firefox-esr.desktop", "run:/usr/bin/browser --private-window"},
        {"chromium.desktop", "run:/usr/bin/browser --incognito"},
        {"Chromium.Desktop", "run:/usr/bin/browser --incognito"},
        {"google-chrome.desktop", "run:/usr/bin/browser --incognito"},
        {"firefox.desktop.old", ""},
        {"firefoxurl-308046b0af4a39cb.desktop", ""},
        {"epiphany.desktop", ""},
        {"", ""},
    };
    for (const Case &c : cases) {
        RecordingLauncher launcher;
        FakeBrowsers browsers;
        browsers.id = QString::fromUtf8(c.desktopId);
        ServicePages pages(launcher, browsers, WebHost {});
        pages.OpenPrivateBrowser();
        const QStringList expected =
            *c.call ? QStringList {QString::fromUtf8(c.call)} : QStringList {};
        EXPECT_EQ(launcher.calls, expected) << c.desktopId;
    }
    // A sandboxed browser keeps its launcher's arguments before ours.
    {
        RecordingLauncher launcher;
        FakeBrowsers browsers;
        browsers.id = QStringLiteral("org.mozilla.firefox.desktop");
        browsers.exec = {QStringLiteral("flatpak"), QStringLiteral("run"),
                         QStringLiteral("org.mozilla.firefox")};
        ServicePages(launcher, browsers, WebHost {}).OpenPrivateBrowser();
        EXPECT_EQ(
            launcher.calls,
            QStringList {QStringLiteral("run:flatpak run org.mozilla.firefox --private-window")});
    }
    // A desktop entry without a program starts nothing.
    RecordingLauncher launcher;
    FakeBrowsers browsers;
    browsers.id = QStringLiteral("firefox.desktop");
    browsers.exec.clear();
    ServicePages(launcher, browsers, WebHost {}).OpenPrivateBrowser();
    EXPECT_TRUE(launcher.calls.isEmpty());
}

TEST(XdgBrowserRegistry, ReadsTheDefaultBrowserAndItsProgram)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("bin"));
    QDir(dir.path()).mkpath(QStringLiteral("share/applications"));
    QFile tool(dir.filePath(QStringLiteral("bin/xdg-settings")));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\n[ \"$1 $2\" = \"get default-web-browser\" ] && echo firefox.desktop\n");
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile entry(dir.filePath(QStringLiteral("share/applications/firefox.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nName=Firefox\nExec=\"/opt/fire fox/firefox\" %u\n"
                "[Desktop Action new-window]\nExec=other\n");
    entry.close();

    const QByteArray oldPath = qgetenv("PATH");
    const QByteArray oldData = qgetenv("XDG_DATA_DIRS");
    const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
    qputenv("PATH", dir.filePath(QStringLiteral("bin")).toLocal8Bit() + ':' + oldPath);
    qputenv("XDG_DATA_DIRS", dir.filePath(QStringLiteral("share")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("nothing")).toLocal8Bit());

    XdgBrowserRegistry registry;
    RecordingLauncher launcher;
    ServicePages(launcher, registry, WebHost {}).OpenPrivateBrowser();

    qputenv("PATH", oldPath);
    qputenv("XDG_DATA_DIRS", oldData);
    if (oldHome.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldHome);

    EXPECT_EQ(launcher.calls,
              QStringList {QStringLiteral("run:/opt/fire fox/firefox --private-window")});
    EXPECT_EQ(XdgBrowserRegistry::commandOfExec(QStringLiteral("chromium %U")),
              QStringList {QStringLiteral("chromium")});
    EXPECT_EQ(
        XdgBrowserRegistry::commandOfExec(
            QStringLiteral("/usr/bin/flatpak run --branch=stable org.mozilla.firefox @@u %u @@")),
        (QStringList {QStringLiteral("/usr/bin/flatpak"), QStringLiteral("run"),
                      QStringLiteral("--branch=stable"), QStringLiteral("org.mozilla.firefox")}));
    EXPECT_EQ(XdgBrowserRegistry::commandOfExec(QStringLiteral("\"/broken")), QStringList());
}

TEST(OpenPage, HandsTheAddressToTheDefaultBrowser)
{
    RecordingLauncher launcher;
    FakeBrowsers browsers;
    WebHost h;
    h.name = QStringLiteral("127.0.0.2");
    ServicePages pages(launcher, browsers, h);
    pages.OpenPage(ServiceUrls::faqForError(h, 691));
    EXPECT_EQ(launcher.calls,
              QStringList {QStringLiteral(
                  "url:https://127.0.0.2/service/vezi/view_faq.php?error_code=691")});
}

// Does what a browser does with the one-shot page: fetch it, read the form,
// post the form (browser encoding) to its action, trusting the test CA.
class TinyBrowser
{
public:
    TinyBrowser()
    {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(TestCertificates::get().trustedCa());
        m_ssl = ssl;
    }

    QNetworkReply *wait(QNetworkReply *reply)
    {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(15000, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        return reply;
    }

    QByteArray get(const QUrl &url, int *status = nullptr)
    {
        QNetworkRequest req(url);
        std::unique_ptr<QNetworkReply> reply(wait(m_nam.get(req)));
        if (status)
            *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        return reply->readAll();
    }

    // Submits the page's first form; returns the status of the post.
    int submit(const QByteArray &page)
    {
        const QString html = QString::fromUtf8(page);
        const QRegularExpression formRe(
            QStringLiteral("<form method=\"post\" action=\"([^\"]*)\""));
        const QRegularExpression inputRe(
            QStringLiteral("<input type=\"hidden\" name=\"([^\"]*)\" value=\"([^\"]*)\">"));
        const QRegularExpressionMatch form = formRe.match(html);
        if (!form.hasMatch())
            return -1;
        QUrlQuery fields;
        QByteArray body;
        for (auto it = inputRe.globalMatch(html); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            if (!body.isEmpty())
                body += '&';
            body += QUrl::toPercentEncoding(unhtml(m.captured(1))) + '=' +
                QUrl::toPercentEncoding(unhtml(m.captured(2)));
        }
        QNetworkRequest req(QUrl(unhtml(form.captured(1))));
        req.setSslConfiguration(m_ssl);
        req.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
        std::unique_ptr<QNetworkReply> reply(wait(m_nam.post(req, body)));
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }

private:
    static QString unhtml(QString s)
    {
        s.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
        s.replace(QStringLiteral("&#39;"), QStringLiteral("'"));
        s.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
        s.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
        s.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        return s;
    }
    QNetworkAccessManager m_nam;
    QSslConfiguration m_ssl;
};

// Every file under `dir` that holds `needle`.
QStringList filesHolding(const QString &dir, const QByteArray &needle)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains(needle))
            out.append(path);
    }
    return out;
}

TEST(OpenSignedInPage, TheBrowserArrivesSignedInAndThePasswordStaysOffTheDisk)
{
    TestHome home;
    QTemporaryDir tmp;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmp.path().toLocal8Bit());

    const QString password = QString::fromUtf8("s3cret 비번&=+\"<'");
    SimWeb sim(QJsonObject {{QStringLiteral("accounts"),
                             QJsonArray {QJsonObject {{QStringLiteral("id"), QStringLiteral("p1")},
                                                      {QStringLiteral("password"), password}}}}});
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();

    RecordingLauncher launcher;
    FakeBrowsers browsers;
    ServicePages pages(launcher, browsers, sim.host());
    const QString target = ServiceUrls::dynamicBuy(sim.host());
    pages.OpenSignedInPage(target, QStringLiteral("p1@corp"), password);

    ASSERT_EQ(launcher.calls.size(), 1);
    ASSERT_TRUE(launcher.calls[0].startsWith(QStringLiteral("url:http://127.0.0.1:")));
    const QUrl page(launcher.calls[0].mid(4));
    EXPECT_GE(page.path().size(), 33); // a random path, not a guessable one
    EXPECT_FALSE(page.toString().contains(QStringLiteral("s3cret")));

    TinyBrowser browser;
    int status = 0;
    const QByteArray html = browser.get(page, &status);
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(html.contains("document.forms[0].submit()"));
    EXPECT_EQ(browser.submit(html), 200);

    ASSERT_EQ(sim.requests().size(), 1);
    const QJsonObject r = sim.requests()[0];
    EXPECT_EQ(r.value(QStringLiteral("scheme")).toString(), QStringLiteral("https"));
    EXPECT_EQ(r.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    EXPECT_EQ(r.value(QStringLiteral("path")).toString(),
              QStringLiteral("/service/vezi/vezi_cs_contents.php"));
    const QJsonObject form = r.value(QStringLiteral("form")).toObject();
    EXPECT_EQ(form.value(QStringLiteral("vezi_id")).toString(), QStringLiteral("p1"));
    EXPECT_EQ(form.value(QStringLiteral("vezi_password")).toString(), password);
    EXPECT_EQ(form.value(QStringLiteral("content")).toString(), QStringLiteral("login"));
    EXPECT_EQ(form.value(QStringLiteral("url")).toString(), target);
    EXPECT_EQ(form.keys().size(), 4);
    EXPECT_TRUE(
        headerLines(r).contains(QStringLiteral("Content-Type: application/x-www-form-urlencoded")));

    // Served once: a second fetch gets nothing.
    QByteArray again = browser.get(page, &status);
    EXPECT_NE(status, 200);
    EXPECT_FALSE(again.contains("vezi_password"));

    // Nothing with the password was written where the program or its
    // temporary files live.
    EXPECT_EQ(filesHolding(home.path(), "s3cret"), QStringList());
    EXPECT_EQ(filesHolding(tmp.path(), "s3cret"), QStringList());
    if (oldTmp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTmp);
}

TEST(OpenSignedInPage, AnotherUsersConnectionGetsNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to connect as another user";
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty())
        GTEST_SKIP() << "setpriv or curl missing";

    SignedInPageServer server(QStringLiteral("https://127.0.0.2/x"),
                              QStringLiteral("vezi_id=u&vezi_password=topsecret"));
    const QUrl page = server.start(20000);
    ASSERT_FALSE(page.isEmpty());

    // "nobody" asks first; the page is neither shown nor used up.
    QProcess other;
    other.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                 QStringLiteral("--clear-groups"), QStringLiteral("curl"), QStringLiteral("-s"),
                 QStringLiteral("--noproxy"), QStringLiteral("*"), page.toString()});
    ASSERT_TRUE(other.waitForStarted(5000));
    QEventLoop loop;
    QObject::connect(&other, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (other.state() != QProcess::NotRunning)
        loop.exec();
    EXPECT_FALSE(other.readAllStandardOutput().contains("topsecret"));

    TinyBrowser browser;
    int status = 0;
    EXPECT_TRUE(browser.get(page, &status).contains("topsecret"));
    EXPECT_EQ(status, 200);
}

TEST(SignedInPageServer, TheFormCarriesTheDecodedValuesHtmlEscaped)
{
    const QByteArray html = SignedInPageServer::formPage(
        QStringLiteral("https://h/a?b=1&c=2"),
        QStringLiteral("vezi_id=a%22b&vezi_password=%3cx%3e&url=https://h/p%3fsn%3d4"));
    EXPECT_TRUE(html.contains("action=\"https://h/a?b=1&amp;c=2\""));
    EXPECT_TRUE(html.contains("name=\"vezi_id\" value=\"a&quot;b\""));
    EXPECT_TRUE(html.contains("name=\"vezi_password\" value=\"&lt;x&gt;\""));
    EXPECT_TRUE(html.contains("name=\"url\" value=\"https://h/p?sn=4\""));
}

} // namespace
