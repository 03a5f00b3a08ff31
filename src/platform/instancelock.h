#pragma once

#include <QString>

#include <memory>

class QLockFile;

// One copy of the program per login session: a lock file named after the
// application in the session's runtime folder ($XDG_RUNTIME_DIR). Another
// user's session has its own folder and so its own lock; an executable of
// another name takes another lock. The lock is held until the process ends;
// a lock left by a crashed copy is taken over.
class InstanceLock
{
public:
    InstanceLock();
    ~InstanceLock();

    // False when another live copy holds the lock.
    bool acquire(const QString &name);

    static QString runtimeFolder();

private:
    std::unique_ptr<QLockFile> m_lock;
};
