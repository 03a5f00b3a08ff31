#include "core/credentialstore.h"
#include "mainwindow/checkedipfile.h"
#include "mainwindow/maincontroller.h"
#include "platform/clock.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "support/testhome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

struct Harness
{
    TestHome home;
    ScriptedPrompter prompter;
    RecordingLauncher launcher;
    FixedClock clock {QDateTime(QDate(2026, 5, 1), QTime(10, 0, 0))};
    std::unique_ptr<MainController> controller;
    int signInRequests = 0;
    int finished = 0;

    void start(const QStringList &args = {})
    {
        controller = std::make_unique<MainController>(prompter, launcher, clock);
        QObject::connect(controller.get(), &MainController::signInDialogRequested,
                         [this] { ++signInRequests; });
        QObject::connect(controller.get(), &MainController::finished, [this] { ++finished; });
        controller->initialise(args);
    }
    QStringList logLines() const
    {
        QStringList out;
        const QString text =
            QString::fromUtf8(home.read(QStringLiteral("log/KVOClient20260501.txt")));
        for (const QString &line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            out.append(line.section(QLatin1Char('\t'), 1));
        return out;
    }
};

} // namespace

TEST(MainController, FirstStartCreatesTheFilesAndAsksForTheSignIn)
{
    Harness h;
    h.home.write(QStringLiteral("KVOClientSetup.ini"), "[Entry]\r\nIsPPTP=9\r\n"); // no pause
    h.start();
    EXPECT_EQ(h.logLines(), QStringList {QStringLiteral("프로그램 시작")});
    EXPECT_EQ(h.signInRequests, 1);
    EXPECT_FALSE(h.controller->ipControlsEnabled());
    EXPECT_TRUE(h.prompter.boxes().isEmpty());
}

TEST(MainController, SignInDialogWaitsForTheTunnelTypesPause)
{
    Harness h;
    TestHome &home = h.home;
    home.write(QStringLiteral("KVOClientSetup.ini"), "[Entry]\r\nIsPPTP=1\r\n");
    QElapsedTimer t;
    t.start();
    h.start();
    EXPECT_GE(t.elapsed(), 990);
    EXPECT_EQ(h.signInRequests, 1);
}

TEST(MainController, NewSettingsFileAndLegacyCheckedListMigration)
{
    Harness h;
    // The file's own addresses stay, the legacy ones join them once.
    h.home.write(QStringLiteral("CheckedIP"), QByteArray::fromHex("0909090905060708"));
    h.home.write(QStringLiteral("KVOClientSetup.ini"),
                 "[Entry]\r\nIsPPTP=0\r\nCheckedIP=1.2.3.4,5.6.7.8,1.2.3.4,bad\r\n");
    h.start();
    EXPECT_EQ(h.home.read(QStringLiteral("CheckedIP")).toHex(),
              QByteArray("090909090506070801020304"));
    EXPECT_EQ(h.controller->settings()->readString(SettingKeys::Entry, SettingKeys::CheckedIP,
                                                   QStringLiteral("?")),
              QString());
    EXPECT_EQ(h.controller->checkedList(),
              (QStringList {QStringLiteral("9.9.9.9"), QStringLiteral("5.6.7.8"),
                            QStringLiteral("1.2.3.4")}));
}

TEST(MainController, LegacyCheckedListStaysInTheSettingsWhenTheFileCannotBeWritten)
{
    Harness h;
    // A folder where the file should be: the list cannot be saved.
    ASSERT_TRUE(QDir(h.home.path()).mkpath(QStringLiteral("CheckedIP")));
    h.home.write(QStringLiteral("KVOClientSetup.ini"),
                 "[Entry]\r\nIsPPTP=0\r\nCheckedIP=1.2.3.4\r\n");
    h.start();
    EXPECT_EQ(h.controller->settings()->readString(SettingKeys::Entry, SettingKeys::CheckedIP),
              QStringLiteral("1.2.3.4"));
    EXPECT_EQ(h.controller->checkedList(), QStringList {QStringLiteral("1.2.3.4")});
}

TEST(MainController, TrayExitAskedAndAnsweredNoChangesNothing)
{
    Harness h;
    h.home.write(QStringLiteral("KVOClientSetup.ini"), "[Entry]\r\nIsPPTP=0\r\n");
    h.start();
    h.prompter.queueAnswer(IdNo);
    h.controller->trayExitCommand();
    ASSERT_EQ(h.prompter.boxes().size(), 1);
    EXPECT_EQ(h.prompter.boxes()[0].text, QStringLiteral("모라솔 서비스 프로그램을 종료합니다."));
    EXPECT_EQ(h.prompter.boxes()[0].caption, QStringLiteral("안내메세지"));
    EXPECT_EQ(h.prompter.boxes()[0].flags, 0x1004u);
    EXPECT_EQ(h.finished, 0);
    EXPECT_FALSE(h.controller->exited());
    EXPECT_EQ(h.logLines(), QStringList {QStringLiteral("프로그램 시작")});
}

TEST(MainController, TrayExitWithTheTunnelUpSignsOutFirst)
{
    Harness h;
    h.home.write(QStringLiteral("KVOClientSetup.ini"), "[Entry]\r\nIsPPTP=0\r\n");
    h.start();
    h.controller->setTunnelUp(true);
    h.controller->timer(MainTimer::AutoChange)->start(60000);
    h.controller->setSignInDialogOpen(true);
    QSignalSpy closeSignIn(h.controller.get(), &MainController::closeSignInDialogRequested);
    QSignalSpy tray(h.controller.get(), &MainController::trayIconShown);
    h.prompter.queueAnswer(IdYes);
    h.controller->trayExitCommand();
    EXPECT_EQ(h.logLines(),
              (QStringList {QStringLiteral("프로그램 시작"), QStringLiteral("로그아웃함"),
                            QStringLiteral("프로그램 종료")}));
    EXPECT_EQ(h.controller->statusText(), QStringLiteral("로그아웃 하는 중입니다."));
    EXPECT_FALSE(h.controller->tunnelUp());
    EXPECT_TRUE(h.controller->loggingOut());
    EXPECT_FALSE(h.controller->timer(MainTimer::AutoChange)->isActive());
    EXPECT_EQ(closeSignIn.count(), 1);
    ASSERT_EQ(tray.count(), 1);
    EXPECT_FALSE(tray.at(0).at(0).toBool());
    EXPECT_EQ(h.finished, 1);
}

TEST(MainController, ExitFromTheSignInDialogIsAQueuedNotice)
{
    Harness h;
    h.home.write(QStringLiteral("KVOClientSetup.ini"), "[Entry]\r\nIsPPTP=0\r\n");
    h.start();
    h.controller->postSessionNotify(SessionNotice::ExitRequested, 0);
    EXPECT_EQ(h.finished, 0); // not before the event loop runs
    QCoreApplication::processEvents();
    EXPECT_EQ(h.finished, 1);
    EXPECT_EQ(h.logLines(),
              (QStringList {QStringLiteral("프로그램 시작"), QStringLiteral("프로그램 종료")}));
    // Once ended, further requests do nothing.
    h.controller->trayExitCommand();
    EXPECT_TRUE(h.prompter.boxes().isEmpty());
    EXPECT_EQ(h.finished, 1);
}

TEST(MainController, LogLinkOpensTodaysFile)
{
    Harness h;
    h.home.write(QStringLiteral("KVOClientSetup.ini"), "[Entry]\r\nIsPPTP=0\r\n");
    h.start();
    h.controller->openTodayLog();
    EXPECT_EQ(h.launcher.calls,
              QStringList {QStringLiteral("file:") +
                           h.home.file(QStringLiteral("log/KVOClient20260501.txt"))});
}

TEST(MainController, BootStartWithBootArgumentLoadsTheSavedCredentials)
{
    Harness h;
    h.home.write(QStringLiteral("KVOClientSetup.ini"),
                 "[Option]\r\nBootStart=1\r\n[Entry]\r\nIsPPTP=0\r\n");
    {
        // Saved by an earlier run.
        ScriptedPrompter p;
        CCrypto c(p);
        c.DeriveKey(kKeyPassword);
        Settings s(h.home.file(QStringLiteral("KVOClientSetup.ini")));
        CredentialStore store(s, c, p, h.home.file(QStringLiteral("Encrypt.dat")));
        store.save(QStringLiteral("tester"), QStringLiteral("비번"), 1);
    }
    int automatic = 0;
    h.controller = std::make_unique<MainController>(h.prompter, h.launcher, h.clock);
    QObject::connect(h.controller.get(), &MainController::automaticSignInRequested,
                     [&] { ++automatic; });
    QObject::connect(h.controller.get(), &MainController::signInDialogRequested,
                     [&] { ++h.signInRequests; });
    h.controller->initialise({QStringLiteral("boot")});
    EXPECT_EQ(h.controller->userId, QStringLiteral("tester"));
    EXPECT_EQ(h.controller->password, QStringLiteral("비번"));
    EXPECT_EQ(automatic, 1);
    EXPECT_EQ(h.signInRequests, 0);
}

TEST(MainController, BootStartWithoutBootArgumentAndTheUpdaterTakingOver)
{
    Harness h;
    h.home.write(QStringLiteral("KVOClientSetup.ini"),
                 "[Option]\r\nBootStart=1\r\n[Entry]\r\nIsPPTP=0\r\n");
    h.start();
    EXPECT_EQ(h.signInRequests, 1);

    Harness u;
    u.home.write(QStringLiteral("KVOClientSetup.ini"), "[Entry]\r\nIsPPTP=0\r\n");
    u.controller = std::make_unique<MainController>(u.prompter, u.launcher, u.clock);
    QStringList askedWith {QStringLiteral("not asked")};
    u.controller->setVersionCheck([&](const QStringList &commandLine) {
        askedWith = commandLine;
        return true;
    });
    int signIn = 0;
    QObject::connect(u.controller.get(), &MainController::signInDialogRequested, [&] { ++signIn; });
    // Arguments reach the updater as they are, blanks and quotes included.
    const QStringList arguments {QStringLiteral("boot"), QStringLiteral("a b"),
                                 QStringLiteral("\"q\" 'r'")};
    u.controller->initialise(arguments);
    EXPECT_EQ(askedWith, arguments);
    EXPECT_EQ(signIn, 0);
}

TEST(CheckedIpFile, RecordsAreFourBytesInNetworkOrderAndCutFilesReadWholeRecords)
{
    TestHome home;
    const QString path = home.file(QStringLiteral("CheckedIP"));
    ASSERT_TRUE(
        CheckedIpFile::save(path, {QStringLiteral("192.168.0.1"), QStringLiteral("10.0.0.2")}));
    EXPECT_EQ(home.read(QStringLiteral("CheckedIP")).toHex(), QByteArray("c0a800010a000002"));
    home.write(QStringLiteral("CheckedIP"), QByteArray::fromHex("0a0000020a000002c0a8"));
    QStringList list {QStringLiteral("1.1.1.1")};
    CheckedIpFile::load(path, list);
    EXPECT_EQ(list, (QStringList {QStringLiteral("1.1.1.1"), QStringLiteral("10.0.0.2")}));
}
