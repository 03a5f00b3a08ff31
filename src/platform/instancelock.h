#pragma once

#include <QString>

#include <memory>

class QLockFile;

// One copy of the program per login session: a lock file named after the
// application in the session's runtime folder ($XDG_RUNTIME_DIR). Another
// user's session has its own folder and so its own lock; an executable of
// another name takes another lock. The lock is held until the process ends;
// a lock left by a crashed copy is taken over.
//
// The folder must be one that only this user can write: a real folder (no
// symbolic link) owned by the effective user, with no access for group or
// others. Without such a $XDG_RUNTIME_DIR (under sudo, for instance) the
// lock goes to "kvo-runtime-<uid>" in the temporary folder, created with
// mode 0700; when that name is taken by a folder that fails the same check
// (another user made it first), no lock is taken and the program must not
// start.
class InstanceLock
{
public:
    InstanceLock();
    ~InstanceLock();

    enum class Result {
        Acquired,
        HeldByAnother, // another live copy holds the lock
        UnsafeFolder, // no folder only this user can write; see folder()
    };
    Result acquire(const QString &name);

    // The folder the lock was looked for in (the refused one for UnsafeFolder).
    QString folder() const { return m_folder; }

    // The runtime folder to use; empty when there is none, with the refused
    // folder in *refused.
    static QString runtimeFolder(QString *refused = nullptr);
    // A real folder owned by the effective user, without group or other access.
    static bool isPrivateFolder(const QString &path);

private:
    std::unique_ptr<QLockFile> m_lock;
    QString m_folder;
};
