#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class Launcher;

// The program's own version as four numbers ("1.0.0.0"), from the build.
QString localVersionText();

// Whether the service's version sorts after ours: a plain text comparison by
// UTF-16 code units, so 1.0.10.0 sorts before 1.0.9.0. An empty reply is
// never newer.
bool isNewerVersion(const QString &remote, const QString &local);

// Whether a running process's program name contains the text.
bool anyProcessNamed(const QString &part);

// Hands over to the updater when the service announces a newer version.
class VersionCheck
{
public:
    struct Hooks
    {
        std::function<QString()> fetchCurrentVersion; // the "current version" request
        std::function<void(const QString &)> log; // activity log line
        std::function<bool()> updaterRunning; // "KVOUpdate" among the processes
        std::function<void()> exitProgram; // tray icon removed, exit procedure
    };
    VersionCheck(Hooks hooks, Launcher &launcher);

    // Returns true when the program is ending in favour of the updater. The
    // updater gets the arguments exactly as given, one by one: the
    // program's own command line, or "boot" before a redial.
    bool CheckForUpdate(const QStringList &arguments);

    static QString updaterPath();

private:
    Hooks m_hooks;
    Launcher &m_launcher;
};
