#include "platform/instancelock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// XDG_RUNTIME_DIR and TMPDIR as a test sets them, restored afterwards.
class Environment
{
public:
    Environment() : m_xdg(qgetenv("XDG_RUNTIME_DIR")), m_tmp(qgetenv("TMPDIR")) { }
    ~Environment()
    {
        restore("XDG_RUNTIME_DIR", m_xdg);
        restore("TMPDIR", m_tmp);
    }

private:
    static void restore(const char *name, const QByteArray &value)
    {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    QByteArray m_xdg;
    QByteArray m_tmp;
};

QString lockName()
{
    return QStringLiteral("KVOClient");
}

} // namespace

// Under sudo there is no XDG_RUNTIME_DIR, and the fallback's name in the
// temporary folder is predictable: another user may have made it first.
TEST(InstanceLock, FolderOnlyThisUserCanWriteOrNoLock)
{
    enum Fallback { Missing, Private, OtherOwner, OpenToAll, SymlinkToPrivate };
    enum Session { Unset, PrivateSession, OpenSession };
    struct Row
    {
        const char *name;
        Session session;
        Fallback fallback;
        InstanceLock::Result expected;
        bool inSession; // the lock lives in the session folder, else in the fallback
    };
    const Row rows[] = {
        {"no session folder, fallback made now", Unset, Missing, InstanceLock::Result::Acquired,
         false},
        {"no session folder, our own fallback", Unset, Private, InstanceLock::Result::Acquired,
         false},
        {"fallback made by another user", Unset, OtherOwner, InstanceLock::Result::UnsafeFolder,
         false},
        {"fallback open to everyone", Unset, OpenToAll, InstanceLock::Result::UnsafeFolder, false},
        {"fallback is a symbolic link", Unset, SymlinkToPrivate, InstanceLock::Result::UnsafeFolder,
         false},
        {"private session folder", PrivateSession, OtherOwner, InstanceLock::Result::Acquired,
         true},
        {"session folder open to everyone", OpenSession, Missing, InstanceLock::Result::Acquired,
         false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.fallback == OtherOwner && ::geteuid() != 0) {
            GTEST_LOG_(INFO) << "skipped (needs root to give a folder away): " << row.name;
            continue;
        }
        Environment env;
        QTemporaryDir tmp;
        QTemporaryDir session;
        QTemporaryDir elsewhere;
        ASSERT_TRUE(tmp.isValid() && session.isValid() && elsewhere.isValid());
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        const QString fallback = tmp.path() + QStringLiteral("/kvo-runtime-%1").arg(::geteuid());
        const QByteArray fallbackName = QFile::encodeName(fallback);
        switch (row.fallback) {
        case Missing:
            break;
        case Private:
            ASSERT_EQ(::mkdir(fallbackName.constData(), 0700), 0);
            break;
        case OtherOwner:
            ASSERT_EQ(::mkdir(fallbackName.constData(), 0700), 0);
            ASSERT_EQ(::chown(fallbackName.constData(), 65534, 65534), 0);
            break;
        case OpenToAll:
            ASSERT_EQ(::mkdir(fallbackName.constData(), 0700), 0);
            ASSERT_EQ(::chmod(fallbackName.constData(), 01777), 0);
            break;
        case SymlinkToPrivate:
            ASSERT_EQ(::chmod(QFile::encodeName(elsewhere.path()).constData(), 0700), 0);
            ASSERT_EQ(::symlink(QFile::encodeName(elsewhere.path()).constData(),
                                fallbackName.constData()),
                      0);
            break;
        }
        switch (row.session) {
        case Unset:
            qunsetenv("XDG_RUNTIME_DIR");
            break;
        case PrivateSession:
        case OpenSession:
            ASSERT_EQ(::chmod(QFile::encodeName(session.path()).constData(),
                              row.session == OpenSession ? 0777 : 0700),
                      0);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(session.path()));
            break;
        }

        InstanceLock lock;
        EXPECT_EQ(lock.acquire(lockName()), row.expected);
        const QString lockFile = QStringLiteral("/") + lockName() + QStringLiteral(".lock");
        if (row.expected == InstanceLock::Result::Acquired) {
            const QString where = row.inSession ? session.path() : fallback;
            EXPECT_EQ(lock.folder(), where);
            EXPECT_TRUE(QFile::exists(where + lockFile));
            EXPECT_TRUE(InstanceLock::isPrivateFolder(where));
            // A second copy of the same user sees the lock.
            InstanceLock second;
            EXPECT_EQ(second.acquire(lockName()), InstanceLock::Result::HeldByAnother);
        } else {
            EXPECT_EQ(lock.folder(), fallback);
            // Nothing was written where another user could have put it.
            EXPECT_FALSE(QFile::exists(fallback + lockFile));
            EXPECT_FALSE(QFile::exists(elsewhere.path() + lockFile));
        }
        EXPECT_FALSE(QFile::exists(session.path() + lockFile) && !row.inSession);
    }
}
