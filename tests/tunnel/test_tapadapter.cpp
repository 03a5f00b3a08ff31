#include "tunnel/tapadapter.h"

#include "tunneltestsupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

TEST(TapAdapterFind, OnlyANodeThatOpensCounts)
{
    QTemporaryDir dir;
    RecordingDownloader downloader;
    EXPECT_FALSE(
        TapAdapter(&downloader, QStringLiteral("w"), dir.filePath(QStringLiteral("none"))).find());
    QDir(dir.path()).mkdir(QStringLiteral("adir"));
    EXPECT_FALSE(
        TapAdapter(&downloader, QStringLiteral("w"), dir.filePath(QStringLiteral("adir"))).find());
    EXPECT_TRUE(downloader.requests.isEmpty()); // finding never downloads
}

TEST(TapAdapterInstall, AFailedDownloadInstallsNothing)
{
    QTemporaryDir dir;
    RecordingDownloader downloader;
    downloader.results = {-1, -5};
    TapAdapter tap(&downloader, QStringLiteral("web.test:8080"),
                   dir.filePath(QStringLiteral("net/tun")));
    EXPECT_FALSE(tap.install());
    EXPECT_FALSE(tap.update());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("net/tun"))));
    const QString request = QStringLiteral("http://web.test:8080/service/vezi/vezi_cs_contents.php "
                                           "content=tap_file_list&arch=") +
        TapAdapter::architecture();
    EXPECT_EQ(
        downloader.requests,
        (QStringList {request + QStringLiteral(" kept"), request + QStringLiteral(" fresh")}));
}

TEST(TapAdapterInstall, CreatesTheTunNodeAfterTheDownload)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "creating a device node needs root";
    QTemporaryDir dir;
    RecordingDownloader downloader;
    const QString path = dir.filePath(QStringLiteral("dev/net/tun"));
    TapAdapter tap(&downloader, QStringLiteral("web.test"), path);
    ASSERT_FALSE(tap.find());
    ASSERT_TRUE(tap.install());
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(major(st.st_rdev), 10u);
    EXPECT_EQ(minor(st.st_rdev), 200u);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(tap.find());
    // An update downloads again and keeps the working node.
    EXPECT_TRUE(tap.update());
    EXPECT_EQ(downloader.requests.size(), 2);
    EXPECT_TRUE(tap.find());
}
