#include "programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace {
QString g_nameOverride;
}

namespace ProgramFolder {

QString path()
{
    const QString home = qEnvironmentVariable("KVO_HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(home);
    if (geteuid() == 0)
        return QStringLiteral("/opt/KVO");
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/KVO"));
}

bool ensure()
{
    return QDir().mkpath(path());
}

QString filePath(const QString &name)
{
    return path() + QLatin1Char('/') + name;
}

} // namespace ProgramFolder

QString applicationName()
{
    if (!g_nameOverride.isEmpty())
        return g_nameOverride;
    QString file;
    if (QCoreApplication::instance())
        file = QCoreApplication::applicationFilePath();
    if (file.isEmpty())
        file = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return QFileInfo(file).completeBaseName();
}

void setApplicationNameOverride(const QString &name)
{
    g_nameOverride = name;
}
