#pragma once

#include <QString>

// The program folder holds every file the client keeps: settings, saved
// password, activity log, IP list files, the deployment file and the tunnel
// programs. On this platform it is $KVO_HOME when set, /opt/KVO for root,
// else $XDG_DATA_HOME/KVO (default ~/.local/share/KVO).
namespace ProgramFolder {

// The folder's path; does not touch the disk.
QString path();

// Creates the folder (and its parents) when missing. Returns false when it
// cannot be created.
bool ensure();

// path() joined with a file name.
QString filePath(const QString &name);

} // namespace ProgramFolder

// The executable's file name without extension ("KVOClient" when installed).
// It names the single-instance lock and the activity log files.
QString applicationName();

// Tests run inside their own executables; they fix the name the program
// would have.
void setApplicationNameOverride(const QString &name);
