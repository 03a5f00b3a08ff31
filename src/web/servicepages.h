#pragma once

#include "web/webhost.h"

#include <QObject>
#include <QString>
#include <QStringList>

class Launcher;

// What the desktop says about its default web browser.
class BrowserRegistry
{
public:
    virtual ~BrowserRegistry() = default;
    // The desktop entry of the default browser ("firefox.desktop"), or empty.
    virtual QString defaultBrowser() = 0;
    // The program of that desktop entry's Exec line, or empty.
    virtual QString program(const QString &desktopId) = 0;
    // The program with the fixed arguments of the Exec line (a sandboxed
    // browser's launcher needs them); by default the program alone.
    virtual QStringList command(const QString &desktopId)
    {
        const QString p = program(desktopId);
        return p.isEmpty() ? QStringList() : QStringList {p};
    }
};

// `xdg-settings get default-web-browser` and the desktop entries of the XDG
// data folders.
class XdgBrowserRegistry : public BrowserRegistry
{
public:
    QString defaultBrowser() override;
    QString program(const QString &desktopId) override { return command(desktopId).value(0); }
    QStringList command(const QString &desktopId) override;

    // An Exec line split as the desktop entry rules quote it, without the
    // field codes (%u, %U, %f, ...) and the "@@" markers of sandboxed apps;
    // empty for an empty line or an unclosed quote.
    static QStringList commandOfExec(const QString &exec);
};

// Opens the service's account pages in the user's browser.
class ServicePages : public QObject
{
    Q_OBJECT
public:
    ServicePages(Launcher &launcher, BrowserRegistry &browsers, WebHost host,
                 QObject *parent = nullptr);

    // The default browser with the address.
    void OpenPage(const QString &url);

    // A browser window signed in to the web site, showing `target`: the
    // browser gets a one-shot local page that posts the credentials to the
    // web host. The ID is cut before its first "@".
    void OpenSignedInPage(const QString &target, const QString &id, const QString &password);

    // The default browser in its private mode (Firefox, Chromium, Chrome);
    // any other browser starts nothing.
    void OpenPrivateBrowser();

    // The private-mode argument for a desktop entry, or empty when the
    // browser is not one we know.
    static QString privateArgument(const QString &desktopId);

    const WebHost &host() const { return m_host; }

private:
    Launcher &m_launcher;
    BrowserRegistry &m_browsers;
    WebHost m_host;
};
