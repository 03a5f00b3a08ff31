#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class Launcher;

// The desktop's programs for the options dialog's troubleshooting buttons:
// for each need a fixed list of candidates, the desktop's own choice first
// (xdg-open, x-terminal-emulator), then the programs of the common desktops.
namespace DesktopTools {

enum class Tool {
    SettingsEditor, // the program's settings file in a text editor
    NetworkSettings,
    Firewall,
    Services,
    Terminal,
};

struct Command
{
    QString program;
    QStringList arguments;
    // Further programs the command runs (a terminal's command).
    QStringList needs;
};

// The candidates in the order they are tried. settingsFile is the file the
// settings editor opens.
QList<Command> candidates(Tool tool, const QString &settingsFile = QString());

// Starts the first candidate whose programs the launcher finds, detached.
// False when none is there or it cannot be started.
bool start(Launcher &launcher, Tool tool, const QString &settingsFile = QString());

// The notice when start() fails.
QString notFoundText(Tool tool);

} // namespace DesktopTools
