#include "platform/tunneldns.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kConf = u"/etc/resolv.conf"_s;
const QString kSaved = u"/etc/resolv.conf.kvo-saved"_s;
const QByteArray kOriginal = "# the machine's own\nnameserver 192.0.2.53\noptions ndots:2\n";

QByteArray read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile::remove(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// This process gets a mount namespace of its own whose /etc is an overlay
// in a temporary folder: the machine's resolv.conf is never touched.
class TunnelDnsFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root for a mount namespace";
        ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        const QByteArray base = QFile::encodeName(m_dir.path());
        ASSERT_EQ(::mount("tmpfs", base.constData(), "tmpfs", 0, nullptr), 0);
        QDir(m_dir.path()).mkpath(u"upper"_s);
        QDir(m_dir.path()).mkpath(u"work"_s);
        const QByteArray options =
            "lowerdir=/etc,upperdir=" + base + "/upper,workdir=" + base + "/work";
        ASSERT_EQ(::mount("overlay", "/etc", "overlay", 0, options.constData()), 0)
            << strerror(errno);
        m_mounted = true;
        write(kConf, kOriginal);
        QFile::remove(kSaved);
    }

    void TearDown() override
    {
        if (!m_mounted)
            return;
        ::umount2("/etc/resolv.conf", MNT_DETACH); // where a case mounted over it
        ::umount2("/etc", MNT_DETACH);
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }

    bool m_mounted = false;

    TunnelDns::Settings m_settings {{u"10.8.0.1"_s, u"10.8.0.2"_s}, {u"kvo.test"_s}};
    QTemporaryDir m_dir;
};

const QByteArray kOurs = "# Written by KVOClient while the tunnel lo is up; the original is "
                         "/etc/resolv.conf.kvo-saved\nnameserver 10.8.0.1\nnameserver "
                         "10.8.0.2\nsearch kvo.test\noptions ndots:2\n";

TEST_F(TunnelDnsFile, AppliedWhileUpAndTheOriginalBackByteForByte)
{
    TunnelDns::Method how {};
    QString error;
    {
        TunnelDns::Applier applier;
        ASSERT_TRUE(applier.apply(u"lo"_s, m_settings, &how, &error)) << qPrintable(error);
        EXPECT_EQ(how, TunnelDns::Method::ResolvConfFile);
        EXPECT_EQ(read(kConf), kOurs);
        EXPECT_EQ(read(kSaved), kOriginal);
        // Applied again (a new tunnel): the saved copy stays the machine's.
        ASSERT_TRUE(applier.apply(u"lo"_s, {{u"10.8.0.9"_s}, {}}, &how, &error));
        EXPECT_TRUE(read(kConf).contains("nameserver 10.8.0.9\noptions ndots:2\n"));
        EXPECT_EQ(read(kSaved), kOriginal);
        // Refused values change nothing.
        EXPECT_FALSE(applier.apply(u"lo\"x"_s, m_settings, &how, &error));
        EXPECT_FALSE(applier.apply(u"lo"_s, {{u"10.8.0.1 6.6.6.6"_s}, {}}, &how, &error));
        EXPECT_FALSE(applier.apply(u"nosuch0"_s, m_settings, &how, &error));
        EXPECT_TRUE(read(kConf).contains("nameserver 10.8.0.9\n"));
    } // the end of the applier reverts
    EXPECT_EQ(read(kConf), kOriginal);
    EXPECT_FALSE(QFileInfo::exists(kSaved));
}

TEST_F(TunnelDnsFile, ALinkStaysALinkAndAnotherProgramsFileStays)
{
    const QString target = m_dir.path() + u"/stub-resolv.conf"_s;
    write(target, kOriginal);
    QFile::remove(kConf);
    ASSERT_TRUE(QFile::link(target, kConf));
    TunnelDns::Method how {};
    QString error;
    TunnelDns::Applier applier;
    ASSERT_TRUE(applier.apply(u"lo"_s, m_settings, &how, &error)) << qPrintable(error);
    EXPECT_FALSE(QFileInfo(kConf).isSymLink());
    EXPECT_EQ(read(target), kOriginal); // the link's target is not written through
    applier.revert();
    EXPECT_TRUE(QFileInfo(kConf).isSymLink());
    EXPECT_EQ(QFileInfo(kConf).symLinkTarget(), target);

    // Rewritten by someone else while up (a DHCP client): theirs stays.
    ASSERT_TRUE(applier.apply(u"lo"_s, m_settings, &how, &error));
    write(kConf, "nameserver 198.51.100.1\n");
    applier.revert();
    EXPECT_EQ(read(kConf), "nameserver 198.51.100.1\n");
    EXPECT_FALSE(QFileInfo::exists(kSaved));
}

TEST_F(TunnelDnsFile, AKilledProcessIsUndoneAtTheNextStart)
{
    const pid_t child = ::fork();
    if (child == 0) {
        TunnelDns::Method how {};
        QString error;
        auto *applier = new TunnelDns::Applier; // never reverted
        ::_exit(applier->apply(u"lo"_s, m_settings, &how, &error) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read(kConf), kOurs);
    EXPECT_EQ(TunnelDns::Applier::recover(), u"restored /etc/resolv.conf"_s);
    EXPECT_EQ(read(kConf), kOriginal);
    EXPECT_FALSE(QFileInfo::exists(kSaved));
    EXPECT_EQ(TunnelDns::Applier::recover(), QString());
}

// "ip netns exec" mounts a namespace's own resolv.conf over the file, which
// then cannot be renamed over: it is written where it is.
TEST_F(TunnelDnsFile, AFileMountedOverIsWrittenInPlace)
{
    const QString own = m_dir.path() + u"/netns-resolv.conf"_s;
    write(own, kOriginal);
    ASSERT_EQ(
        ::mount(QFile::encodeName(own).constData(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr),
        0);
    TunnelDns::Method how {};
    QString error;
    TunnelDns::Applier applier;
    ASSERT_TRUE(applier.apply(u"lo"_s, m_settings, &how, &error)) << qPrintable(error);
    EXPECT_EQ(read(kConf), kOurs);
    applier.revert();
    EXPECT_EQ(read(kConf), kOriginal);
    EXPECT_EQ(read(own), kOriginal);
    EXPECT_FALSE(QFileInfo::exists(kSaved));
}

} // namespace
