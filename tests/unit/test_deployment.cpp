#include "platform/deploymentconfig.h"
#include "support/testhome.h"
#include "web/webhost.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(Deployment, MissingFileKeepsTheDefaults)
{
    TestHome home;
    const DeploymentConfig c =
        DeploymentConfig::fromProgramFolder(home.file(QStringLiteral("no-such.ini")));
    const DeploymentConfig d = DeploymentConfig::defaults();
    EXPECT_EQ(c.webHost, d.webHost);
    EXPECT_EQ(c.resetHostsFirst.size(), 4);
    EXPECT_EQ(c.resetHostsSecond.size(), 1);
    EXPECT_EQ(c.webHostPort(443), 443);
}

TEST(Deployment, KeysOverrideTheDefaults)
{
    TestHome home;
    home.write(QStringLiteral("KVOService.ini"),
               "[service]\r\nWebHost=127.0.0.2:8443\r\nreporthost=127.0.0.3\r\nCaFile=ca.pem\r\n"
               "ResetHostsFirst=127.0.0.5, "
               "127.0.0.6,127.0.0.7,127.0.0.8\r\nResetHostsSecond=127.0.0.9\r\n");
    const DeploymentConfig c = DeploymentConfig::fromProgramFolder();
    EXPECT_EQ(c.webHost, QStringLiteral("127.0.0.2:8443"));
    EXPECT_EQ(c.webHostName(), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(c.webHostPort(443), 8443);
    EXPECT_EQ(c.reportHost, QStringLiteral("127.0.0.3"));
    EXPECT_EQ(c.caFile, home.file(QStringLiteral("ca.pem")));
    EXPECT_EQ(c.resetHostsFirst,
              (QStringList {QStringLiteral("127.0.0.5"), QStringLiteral("127.0.0.6"),
                            QStringLiteral("127.0.0.7"), QStringLiteral("127.0.0.8")}));
    EXPECT_EQ(c.resetHostsSecond, QStringList {QStringLiteral("127.0.0.9")});
}

TEST(Deployment, ProgramFolderFileElseTheInstalledOne)
{
    // The installed file serves every user; a user's own file replaces it
    // whole, and a relative CaFile is beside the file it is named in.
    QTemporaryDir etc;
    const QString installed = etc.filePath(QStringLiteral("KVOService.ini"));
    {
        QFile f(installed);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(
            "[Service]\r\nWebHost=10.1.1.1:8443\r\nCaFile=ca.pem\r\nResetHostsSecond=10.1.1.9\r\n");
    }
    TestHome home;
    DeploymentConfig c = DeploymentConfig::fromProgramFolder(installed);
    EXPECT_EQ(c.webHost, QStringLiteral("10.1.1.1:8443"));
    EXPECT_EQ(c.caFile, etc.filePath(QStringLiteral("ca.pem")));
    EXPECT_EQ(c.resetHostsSecond, QStringList {QStringLiteral("10.1.1.9")});

    home.write(QStringLiteral("KVOService.ini"), "[Service]\r\nWebHost=127.0.0.2\r\n");
    c = DeploymentConfig::fromProgramFolder(installed);
    EXPECT_EQ(c.webHost, QStringLiteral("127.0.0.2"));
    EXPECT_TRUE(c.caFile.isEmpty());
    EXPECT_EQ(c.resetHostsSecond, DeploymentConfig::defaults().resetHostsSecond);
}

TEST(Deployment, WebHttpPortReachesEveryPlainHttpAddress)
{
    const struct
    {
        const char *line;
        int port;
        const char *probe;
    } cases[] = {
        {"", 80, "http://127.0.0.2"},
        {"WebHttpPort=8080\r\n", 8080, "http://127.0.0.2:8080"},
        {"WebHttpPort= 8081 \r\n", 8081, "http://127.0.0.2:8081"},
        {"WebHttpPort=0\r\n", 80, "http://127.0.0.2"},
        {"WebHttpPort=70000\r\n", 80, "http://127.0.0.2"},
        {"WebHttpPort=http\r\n", 80, "http://127.0.0.2"},
    };
    for (const auto &c : cases) {
        TestHome home;
        home.write(QStringLiteral("KVOService.ini"),
                   QByteArray("[Service]\r\nWebHost=127.0.0.2:8443\r\n") + c.line);
        const DeploymentConfig config = DeploymentConfig::fromProgramFolder();
        EXPECT_EQ(config.webHttpPort, c.port) << c.line;
        const WebHost host = WebHost::fromConfig(config);
        EXPECT_EQ(ServiceUrls::probe(host), QString::fromLatin1(c.probe)) << c.line;
        EXPECT_TRUE(
            ServiceUrls::qosUrl(host).startsWith(QString::fromLatin1(c.probe) + QLatin1Char('/')));
        EXPECT_TRUE(ServiceUrls::noticesBoard(host).startsWith(QString::fromLatin1(c.probe) +
                                                               QLatin1Char('/')));
        // HTTPS keeps WebHost's own port.
        EXPECT_TRUE(
            ServiceUrls::faqBoard(host).startsWith(QStringLiteral("https://127.0.0.2:8443/")));
    }
}

TEST(Deployment, ProgramFolderFollowsKvoHome)
{
    TestHome home;
    EXPECT_EQ(ProgramFolder::path(), home.path());
    EXPECT_EQ(ProgramFolder::filePath(QStringLiteral("Encrypt.dat")),
              home.file(QStringLiteral("Encrypt.dat")));
}
