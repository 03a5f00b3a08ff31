#include "platform/deploymentconfig.h"
#include "support/testhome.h"

#include <gtest/gtest.h>

TEST(Deployment, MissingFileKeepsTheDefaults)
{
    TestHome home;
    const DeploymentConfig c = DeploymentConfig::fromProgramFolder();
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

TEST(Deployment, ProgramFolderFollowsKvoHome)
{
    TestHome home;
    EXPECT_EQ(ProgramFolder::path(), home.path());
    EXPECT_EQ(ProgramFolder::filePath(QStringLiteral("Encrypt.dat")),
              home.file(QStringLiteral("Encrypt.dat")));
}
