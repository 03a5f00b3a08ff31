#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// The running processes as /proc shows them, for finding and stopping the
// tunnel programs that an earlier run of the client left behind.
struct ProcessEntry
{
    pid_t pid = 0;
    QString name; // /proc/<pid>/comm: the started file's name, at most 15 characters
    QStringList arguments; // /proc/<pid>/cmdline, argv[0] first
};

namespace ProcessList {

// Every process that can be read, in ascending process id order. Processes
// that end while the list is read are left out.
QList<ProcessEntry> snapshot();

// The first running process (lowest id, zombies left out) whose name, or the file name of whose
// argv[0], is exactly the given name; pid 0 when there is none.
ProcessEntry findFirstNamed(const QString &name);

// Sends SIGTERM; false when the process is gone or may not be signalled.
bool terminate(pid_t pid);

// Ends a process unconditionally: SIGTERM now and, when it has not ended
// after graceMs, SIGKILL from the event loop. The process is held by a pidfd
// from the start, so a process id used again in between is never hit. False
// when the process is gone or may not be signalled.
bool stop(pid_t pid, int graceMs);

// True while the process exists and is not a zombie.
bool isRunning(pid_t pid);

} // namespace ProcessList
