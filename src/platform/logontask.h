#pragma once

#include <QDateTime>
#include <QString>

// Start at logon on the XDG autostart standard: the logon task is a desktop
// entry "<task name>.desktop" in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart, default ~/.config/autostart), which the
// desktop session starts at every logon.
namespace LogonStart {

// The values the options dialog and start-up register with.
inline const QString TaskName = QStringLiteral("Kvo_Logon_Start");
inline const QString Argument = QStringLiteral("boot");
inline const QString Author = QStringLiteral("Kvo");
inline const QString Description = QStringLiteral("모라솔 윈도우 로그온 시작");
// The older machine-wide entry that start-up removes.
inline const QString LegacyEntryName = QStringLiteral("KVOClient");

// The codes of "Failed to delete task: %x\n".
enum Error : unsigned {
    NoSuchTask = 0x1, // no entry of that name
    RemoveFailed = 0x2, // the entry exists but cannot be removed
    BadTaskName = 0x3, // the name cannot be a file name
    NoAutostartFolder = 0x4, // neither XDG_CONFIG_HOME nor HOME gives a folder
};

// $XDG_CONFIG_HOME/autostart (an absolute XDG_CONFIG_HOME), else
// $HOME/.config/autostart; empty when neither is set.
QString userAutostartFolder();
// The first absolute folder of $XDG_CONFIG_DIRS (default /etc/xdg) +
// "/autostart".
QString systemAutostartFolder();
// The entry's file in the user's autostart folder; empty for a name that is
// not a plain file name (letters, digits, "_", "-", ".").
QString taskFilePath(const QString &taskName);

// The program the task starts: this executable.
QString programPath();

// Writes the entry (atomically; an entry of the same name is replaced) that
// starts program with arguments at logon. True when it is in place.
bool CreateLogonTask(const QString &taskName, const QString &program, const QString &arguments,
                     const QString &author, const QString &description,
                     const QDateTime &registered = QDateTime::currentDateTime());

// Removes the entry. On failure prints "Failed to delete task: %x\n" with
// an Error code to the standard output and returns false.
bool DeleteLogonTask(const QString &taskName);

// Start-up with BootStart on: removes the legacy entry "KVOClient.desktop"
// of the machine-wide autostart folder; only when it existed and is gone is
// the logon task created. True when the task was created.
bool replaceLegacyEntry();

// The text of an Exec line: each argument quoted where the desktop entry
// format needs it.
QString execLine(const QString &program, const QString &arguments);

} // namespace LogonStart
