#include "servicepages.h"

#include "platform/launcher.h"
#include "web/servicerequests.h"
#include "web/signedinpage.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

QString XdgBrowserRegistry::defaultBrowser()
{
    QProcess p;
    p.start(QStringLiteral("xdg-settings"),
            {QStringLiteral("get"), QStringLiteral("default-web-browser")});
    if (!p.waitForStarted(5000))
        return {};
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(1000);
        return {};
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QStringList XdgBrowserRegistry::commandOfExec(const QString &exec)
{
    if (exec.count(QLatin1Char('"')) % 2 != 0)
        return {};
    QStringList out;
    for (const QString &word : QProcess::splitCommand(exec)) {
        const bool fieldCode = word.size() == 2 && word[0] == QLatin1Char('%');
        if (!fieldCode && !word.startsWith(QLatin1String("@@")))
            out.append(word);
    }
    return out;
}

QStringList XdgBrowserRegistry::command(const QString &desktopId)
{
    if (desktopId.isEmpty() || desktopId.contains(QLatin1Char('/')))
        return {};
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopId);
    QFile f(path);
    if (path.isEmpty() || !f.open(QIODevice::ReadOnly))
        return {};
    bool inEntry = false;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (inEntry && line.startsWith(QLatin1String("Exec=")))
            return commandOfExec(line.mid(5));
    }
    return {};
}

ServicePages::ServicePages(Launcher &launcher, BrowserRegistry &browsers, WebHost host,
                           QObject *parent)
    : QObject(parent), m_launcher(launcher), m_browsers(browsers), m_host(std::move(host))
{ }

void ServicePages::OpenPage(const QString &url)
{
    m_launcher.openUrl(QUrl(url));
}

void ServicePages::OpenSignedInPage(const QString &target, const QString &id,
                                    const QString &password)
{
    auto *server =
        new SignedInPageServer(ServiceUrls::signedInPost(m_host),
                               ServiceCatalogue::signedInBody(id, password, target), this);
    connect(server, &SignedInPageServer::finished, server, &QObject::deleteLater);
    const QUrl page = server->start();
    if (page.isEmpty() || !m_launcher.openUrl(page))
        server->deleteLater();
}

QString ServicePages::privateArgument(const QString &desktopId)
{
    static const QStringList firefox = {
        QStringLiteral("firefox.desktop"),
        QStringLiteral("firefox-esr.desktop"),
        QStringLiteral("org.mozilla.firefox.desktop"),
    };
    static const QStringList chromium = {
        QStringLiteral("chromium.desktop"),
        QStringLiteral("chromium-browser.desktop"),
        QStringLiteral("org.chromium.chromium.desktop"),
        QStringLiteral("google-chrome.desktop"),
        QStringLiteral("google-chrome-stable.desktop"),
        QStringLiteral("com.google.chrome.desktop"),
    };
    const QString id = desktopId.trimmed().toLower();
    if (firefox.contains(id))
        return QStringLiteral("--private-window");
    if (chromium.contains(id))
        return QStringLiteral("--incognito");
    return {};
}

void ServicePages::OpenPrivateBrowser()
{
    const QString id = m_browsers.defaultBrowser();
    if (id.isEmpty())
        return;
    const QString argument = privateArgument(id);
    if (argument.isEmpty())
        return;
    QStringList command = m_browsers.command(id);
    if (command.isEmpty())
        return;
    const QString program = command.takeFirst();
    m_launcher.startProgram(program, command << argument);
}
