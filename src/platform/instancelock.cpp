#include "instancelock.h"

#include <QDir>
#include <QLockFile>

#include <unistd.h>

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;

QString InstanceLock::runtimeFolder()
{
    const QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!dir.isEmpty() && QDir(dir).exists())
        return dir;
    // No login-session folder: fall back to one private folder per user.
    const QString fallback = QStringLiteral("/tmp/kvo-runtime-%1").arg(getuid());
    QDir().mkpath(fallback);
    QFile::setPermissions(fallback, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return fallback;
}

bool InstanceLock::acquire(const QString &name)
{
    m_lock = std::make_unique<QLockFile>(runtimeFolder() + QLatin1Char('/') + name +
                                         QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // only a dead owner makes the lock stale
    if (m_lock->tryLock(0))
        return true;
    m_lock.reset();
    return false;
}
