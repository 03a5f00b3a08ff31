#include "versioncheck.h"

#include "platform/launcher.h"
#include "platform/processlist.h"
#include "platform/programfolder.h"

QString localVersionText()
{
    return QStringLiteral(KVO_VERSION_TEXT);
}

bool isNewerVersion(const QString &remote, const QString &local)
{
    return !remote.isEmpty() && QString::compare(remote, local, Qt::CaseSensitive) > 0;
}

bool anyProcessNamed(const QString &part)
{
    // The command name, and the program path the process was started with.
    for (const ProcessEntry &p : ProcessList::snapshot()) {
        if (p.name.contains(part) ||
            p.arguments.value(0).section(QLatin1Char('/'), -1).contains(part))
            return true;
    }
    return false;
}

VersionCheck::VersionCheck(Hooks hooks, Launcher &launcher)
    : m_hooks(std::move(hooks)), m_launcher(launcher)
{ }

QString VersionCheck::updaterPath()
{
    return ProgramFolder::filePath(QStringLiteral("KVOUpdate"));
}

bool VersionCheck::CheckForUpdate(const QStringList &arguments)
{
    const QString remote = m_hooks.fetchCurrentVersion ? m_hooks.fetchCurrentVersion() : QString();
    if (!isNewerVersion(remote, localVersionText()))
        return false;
    if (m_hooks.log)
        m_hooks.log(QStringLiteral("업데이트 있음"));
    if (!(m_hooks.updaterRunning && m_hooks.updaterRunning())) {
        // The updater gets our command line, each argument as it is.
        m_launcher.startProgram(updaterPath(), arguments);
    }
    if (m_hooks.exitProgram)
        m_hooks.exitProgram();
    return true;
}
