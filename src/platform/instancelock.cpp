#include "instancelock.h"

#include <QDir>
#include <QLockFile>

#include <sys/stat.h>
#include <unistd.h>

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;

bool InstanceLock::isPrivateFolder(const QString &path)
{
    struct stat st
    {
    };
    // lstat: a symbolic link could point anywhere, whoever owns the link.
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

QString InstanceLock::runtimeFolder(QString *refused)
{
    const QString session = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (isPrivateFolder(session))
        return session;
    // No usable login-session folder: one private folder per user in the
    // temporary folder. Its name is predictable, so whoever made it must be
    // us, and nobody else may write in it.
    const QString fallback = QDir::tempPath() + QStringLiteral("/kvo-runtime-%1").arg(::geteuid());
    ::mkdir(QFile::encodeName(fallback).constData(), 0700);
    if (isPrivateFolder(fallback))
        return fallback;
    if (refused)
        *refused = fallback;
    return QString();
}

InstanceLock::Result InstanceLock::acquire(const QString &name)
{
    m_lock.reset();
    m_folder.clear();
    const QString folder = runtimeFolder(&m_folder);
    if (folder.isEmpty())
        return Result::UnsafeFolder;
    m_folder = folder;
    m_lock =
        std::make_unique<QLockFile>(folder + QLatin1Char('/') + name + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // only a dead owner makes the lock stale
    if (m_lock->tryLock(0))
        return Result::Acquired;
    const QLockFile::LockError error = m_lock->error();
    m_lock.reset();
    // A lock file that cannot be written is no proof of another copy.
    return error == QLockFile::LockFailedError ? Result::HeldByAnother : Result::UnsafeFolder;
}
