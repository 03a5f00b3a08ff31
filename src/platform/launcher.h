#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Opens documents and addresses with the desktop's own programs and starts
// other programs. Tests record the calls instead.
class Launcher
{
public:
    virtual ~Launcher() = default;
    // A file in the desktop's viewer for its type (xdg-open).
    virtual bool openFile(const QString &path) = 0;
    // An address in the default browser.
    virtual bool openUrl(const QUrl &url) = 0;
    // Starts a program detached from this one, with its arguments as given
    // (no shell).
    virtual bool startProgram(const QString &program, const QStringList &arguments) = 0;
    // The full path of a program on the search path; empty when there is none.
    virtual QString findProgram(const QString &name);
};

class DesktopLauncher : public Launcher
{
public:
    bool openFile(const QString &path) override;
    bool openUrl(const QUrl &url) override;
    bool startProgram(const QString &program, const QStringList &arguments) override;
};

class RecordingLauncher : public Launcher
{
public:
    bool openFile(const QString &path) override
    {
        calls.append(QStringLiteral("file:") + path);
        return true;
    }
    bool openUrl(const QUrl &url) override
    {
        calls.append(QStringLiteral("url:") + url.toString());
        return true;
    }
    bool startProgram(const QString &program, const QStringList &arguments) override
    {
        calls.append(QStringLiteral("run:") + program + QLatin1Char(' ') +
                     arguments.join(QLatin1Char(' ')));
        return true;
    }
    // Finds the programs named in installed, as if in /usr/bin.
    QString findProgram(const QString &name) override
    {
        return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
    }
    QStringList calls;
    QStringList installed;
};
