#include "platform/launcher.h"
#include "support/testhome.h"
#include "update/downloadjob.h"
#include "update/versioncheck.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

TEST(VersionCheck, TextComparisonByCodeUnits)
{
    EXPECT_TRUE(isNewerVersion(QStringLiteral("1.0.9.0"), QStringLiteral("1.0.10.0")));
    EXPECT_FALSE(isNewerVersion(QStringLiteral("1.0.10.0"), QStringLiteral("1.0.9.0")));
    EXPECT_FALSE(isNewerVersion(QStringLiteral("1.0.0.0"), QStringLiteral("1.0.0.0")));
    EXPECT_FALSE(isNewerVersion(QString(), QStringLiteral("1.0.0.0")));
    EXPECT_TRUE(isNewerVersion(QStringLiteral("2"), QStringLiteral("1.9.9.9")));
    EXPECT_EQ(localVersionText().count(QLatin1Char('.')), 3);
}

namespace {
struct UpdateRun
{
    QStringList log;
    int exits = 0;
    bool running = false;
    QString remote;
    VersionCheck::Hooks hooks()
    {
        return {[this] { return remote; }, [this](const QString &l) { log.append(l); },
                [this] { return running; },
                [this] {
                    ++exits;
                }};
    }
};
} // namespace

TEST(VersionCheck, NewerVersionStartsTheUpdaterWithTheCommandLineAndEnds)
{
    TestHome home;
    RecordingLauncher launcher;
    UpdateRun r;
    r.remote = QStringLiteral("9.0.0.0");
    VersionCheck check(r.hooks(), launcher);
    EXPECT_TRUE(check.CheckForUpdate(QStringList {QStringLiteral("boot")}));
    EXPECT_EQ(r.log, QStringList {QStringLiteral("업데이트 있음")});
    EXPECT_EQ(launcher.calls,
              QStringList {QStringLiteral("run:") + home.file(QStringLiteral("KVOUpdate")) +
                           QStringLiteral(" boot")});
    EXPECT_EQ(r.exits, 1);
}

TEST(VersionCheck, UpdaterAlreadyRunningOnlyEnds)
{
    TestHome home;
    RecordingLauncher launcher;
    UpdateRun r;
    r.remote = QStringLiteral("9.0.0.0");
    r.running = true;
    VersionCheck check(r.hooks(), launcher);
    EXPECT_TRUE(check.CheckForUpdate(QStringList()));
    EXPECT_TRUE(launcher.calls.isEmpty());
    EXPECT_EQ(r.exits, 1);
}

TEST(VersionCheck, SameOrOlderOrNoReplyGoesOn)
{
    TestHome home;
    RecordingLauncher launcher;
    for (const QString &remote : {localVersionText(), QString(), QStringLiteral("0.9.9.9")}) {
        UpdateRun r;
        r.remote = remote;
        VersionCheck check(r.hooks(), launcher);
        EXPECT_FALSE(check.CheckForUpdate(QStringList()));
        EXPECT_TRUE(r.log.isEmpty());
        EXPECT_EQ(r.exits, 0);
    }
    EXPECT_TRUE(launcher.calls.isEmpty());
}

TEST(VersionCheck, RealUpdaterProgramIsStartedAndSeenRunning)
{
    TestHome home;
    const QString updater = home.file(QStringLiteral("KVOUpdate"));
    const QString marker = home.file(QStringLiteral("updater-args"));
    {
        QFile f(updater);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("#!/bin/sh\nprintf '[%s]\\n' \"$@\" > '%1.part'\n"
                               "mv '%1.part' '%1'\nsleep 5\n")
                    .arg(marker)
                    .toUtf8());
    }
    QFile::setPermissions(updater, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    DesktopLauncher launcher;
    UpdateRun r;
    r.remote = QStringLiteral("9.0.0.0");
    auto hooks = r.hooks();
    hooks.updaterRunning = [] {
        return anyProcessNamed(QStringLiteral("KVOUpdate"));
    };
    VersionCheck check(hooks, launcher);
    ASSERT_FALSE(anyProcessNamed(QStringLiteral("KVOUpdate")));
    // Each argument arrives as it was given: blanks, quotes and all.
    EXPECT_TRUE(check.CheckForUpdate({QStringLiteral("boot"), QStringLiteral("a b"),
                                      QStringLiteral("\"c\""), QStringLiteral("it's"), QString()}));
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(marker) && t.elapsed() < 5000)
        QThread::msleep(20);
    QFile args(marker);
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(args.readAll(), QByteArray("[boot]\n[a b]\n[\"c\"]\n[it's]\n[]\n"));
    // While it runs, a second check does not start another one.
    EXPECT_TRUE(anyProcessNamed(QStringLiteral("KVOUpdate")));
    RecordingLauncher second;
    VersionCheck again(hooks, second);
    EXPECT_TRUE(again.CheckForUpdate(QStringList()));
    EXPECT_TRUE(second.calls.isEmpty());
    QProcess::execute(QStringLiteral("pkill"), {QStringLiteral("-f"), updater});
}

TEST(DownloadJob, NamesSizesAndProgress)
{
    EXPECT_EQ(DownloadJob::fileNameOf(QStringLiteral("http://h/x/a.sys")), QStringLiteral("a.sys"));
    EXPECT_EQ(DownloadJob::fileNameOf(QStringLiteral("b.inf")), QStringLiteral("b.inf"));
    EXPECT_EQ(DownloadJob::fileNameOf(QStringLiteral("http://h/x/..")), QString());
    EXPECT_EQ(DownloadJob::fileNameOf(QStringLiteral("http://h/x/")), QString());
    EXPECT_EQ(DownloadJob::fileNameOf(QStringLiteral("http://h/..\\evil")), QString());
    EXPECT_EQ(DownloadJob::formatSize(1536), QStringLiteral("1.50 KB"));
    EXPECT_EQ(DownloadJob::formatSize(532), QStringLiteral("532 bytes"));
    EXPECT_EQ(DownloadJob::progressText(1536, 3072),
              QStringLiteral("다운로드 : 1.50 KB / 3.00 KB"));
    EXPECT_EQ(DownloadJob::progressText(532, 0),
              QStringLiteral("다운로드 : 532 bytes (total size unknown)"));
    EXPECT_EQ(DownloadJob::filePercent(1, 3), 33);
    EXPECT_EQ(DownloadJob::filePercent(5, 0), 0);
}
