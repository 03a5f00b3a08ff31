#include "core/activitylog.h"
#include "platform/clock.h"
#include "platform/prompter.h"
#include "support/testhome.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {
QDateTime at(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}
} // namespace

TEST(ActivityLog, LinesGoToTodaysFileWithTimeTabAndCrLf)
{
    TestHome home;
    FixedClock clock(at(2026, 3, 7, 9, 5, 1));
    ScriptedPrompter prompter;
    ActivityLog log(home.path(), QStringLiteral("KVOClient"), clock, prompter);
    log.write(QStringLiteral("프로그램 시작"));
    clock.advanceSeconds(2);
    log.write(QStringLiteral("already ends\r\n"));
    log.write(QStringLiteral("10.0.0.1로 IP변경 완료"));

    EXPECT_EQ(home.read(QStringLiteral("log/KVOClient20260307.txt")),
              QString::fromUtf8("[2026-03-07 09:05:01]\t프로그램 시작\r\n"
                                "[2026-03-07 09:05:03]\talready ends\r\n"
                                "[2026-03-07 09:05:03]\t10.0.0.1로 IP변경 완료\r\n")
                  .toUtf8());
    EXPECT_TRUE(prompter.boxes().isEmpty());
}

TEST(ActivityLog, ChangeOfDaySwitchesFiles)
{
    TestHome home;
    FixedClock clock(at(2026, 12, 31, 23, 59, 59));
    ScriptedPrompter prompter;
    ActivityLog log(home.path(), QStringLiteral("KVOClient"), clock, prompter);
    log.write(QStringLiteral("a"));
    clock.set(at(2027, 1, 1, 0, 0, 1));
    log.write(QStringLiteral("b"));
    EXPECT_EQ(home.read(QStringLiteral("log/KVOClient20261231.txt")),
              QByteArray("[2026-12-31 23:59:59]\ta\r\n"));
    EXPECT_EQ(home.read(QStringLiteral("log/KVOClient20270101.txt")),
              QByteArray("[2027-01-01 00:00:01]\tb\r\n"));
    EXPECT_EQ(log.openFilePath(), home.file(QStringLiteral("log/KVOClient20270101.txt")));
}

TEST(ActivityLog, AppendsToAnExistingFileAndNamesItAfterTheProgram)
{
    TestHome home;
    QDir().mkpath(home.file(QStringLiteral("log")));
    home.write(QStringLiteral("log/Other20260101.txt"), "old\r\n");
    FixedClock clock(at(2026, 1, 1, 12, 0, 0));
    ScriptedPrompter prompter;
    ActivityLog log(home.path(), QStringLiteral("Other"), clock, prompter);
    log.write(QStringLiteral("x"));
    EXPECT_EQ(home.read(QStringLiteral("log/Other20260101.txt")),
              QByteArray("old\r\n[2026-01-01 12:00:00]\tx\r\n"));
    EXPECT_EQ(log.todayFilePath(), home.file(QStringLiteral("log/Other20260101.txt")));
}

TEST(ActivityLog, UnwritableFileShowsTheMessageForEveryDroppedLine)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes read-only files; the folder test below covers root";
    TestHome home;
    QDir().mkpath(home.file(QStringLiteral("log")));
    home.write(QStringLiteral("log/KVOClient20260101.txt"), "");
    QFile::setPermissions(home.file(QStringLiteral("log/KVOClient20260101.txt")), QFile::ReadOwner);
    FixedClock clock(at(2026, 1, 1, 12, 0, 0));
    ScriptedPrompter prompter;
    ActivityLog log(home.path(), QStringLiteral("KVOClient"), clock, prompter);
    log.write(QStringLiteral("a"));
    log.write(QStringLiteral("b"));
    ASSERT_EQ(prompter.boxes().size(), 2);
    EXPECT_EQ(prompter.boxes()[0].text, QStringLiteral("Cannot Open Log!!"));
    EXPECT_EQ(prompter.boxes()[0].flags, Mb::Ok);
    EXPECT_EQ(prompter.boxes()[0].caption, QStringLiteral("KVOClient"));
}

TEST(ActivityLog, FileThatOpensInNeitherModeShowsTheMessage)
{
    TestHome home;
    // A folder in the file's place refuses both open modes, also for root.
    QDir().mkpath(home.file(QStringLiteral("log/KVOClient20260101.txt")));
    FixedClock clock(at(2026, 1, 1, 12, 0, 0));
    ScriptedPrompter prompter;
    ActivityLog log(home.path(), QStringLiteral("KVOClient"), clock, prompter);
    log.write(QStringLiteral("a"));
    log.write(QStringLiteral("b"));
    EXPECT_EQ(
        prompter.texts(),
        (QStringList {QStringLiteral("Cannot Open Log!!"), QStringLiteral("Cannot Open Log!!")}));
    EXPECT_EQ(log.openFilePath(), QString());
}

TEST(ActivityLog, LogFolderThatCannotBeMadeDropsLinesAndRecovers)
{
    TestHome home;
    // A file where the log folder should be: neither open mode can work.
    home.write(QStringLiteral("log"), "not a folder");
    FixedClock clock(at(2026, 1, 1, 12, 0, 0));
    ScriptedPrompter prompter;
    ActivityLog log(home.path(), QStringLiteral("KVOClient"), clock, prompter);
    log.write(QStringLiteral("a"));
    log.write(QStringLiteral("b"));
    EXPECT_EQ(
        prompter.texts(),
        (QStringList {QStringLiteral("Cannot Open Log!!"), QStringLiteral("Cannot Open Log!!")}));
    // Once the folder can be made, the next line is written.
    QFile::remove(home.file(QStringLiteral("log")));
    log.write(QStringLiteral("c"));
    EXPECT_EQ(prompter.boxes().size(), 2);
    EXPECT_EQ(home.read(QStringLiteral("log/KVOClient20260101.txt")),
              QByteArray("[2026-01-01 12:00:00]\tc\r\n"));
}
