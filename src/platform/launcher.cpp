#include "launcher.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

bool DesktopLauncher::openFile(const QString &path)
{
    return openUrl(QUrl::fromLocalFile(path));
}

bool DesktopLauncher::openUrl(const QUrl &url)
{
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return QDesktopServices::openUrl(url);
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
}

bool DesktopLauncher::startProgram(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

QString Launcher::findProgram(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}
