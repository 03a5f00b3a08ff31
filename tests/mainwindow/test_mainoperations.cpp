#include "mainwindow/maincontroller.h"
#include "mainwindow/mainlinks.h"
#include "platform/clock.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "support/testhome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <gtest/gtest.h>

namespace {

// Everything the operations do, in the order they do it.
using Journal = QStringList;

class JournalPrompter : public Prompter
{
public:
    explicit JournalPrompter(Journal &j) : m_journal(j) { }
    int show(const QString &text, const QString &caption, unsigned flags) override
    {
        m_journal.append(QStringLiteral("box:%1|%2|0x%3").arg(text, caption).arg(flags, 0, 16));
        return boxes.show(text, caption, flags);
    }
    ScriptedPrompter boxes;

private:
    Journal &m_journal;
};

class RecordingSession : public SessionLink
{
public:
    explicit RecordingSession(Journal &j) : m_journal(j) { }
    bool exists() const override { return present; }
    bool connected() const override { return present && isConnected; }
    void shutDownAndClose() override { m_journal.append(QStringLiteral("session:shutdown")); }
    void deleteSocket() override
    {
        m_journal.append(QStringLiteral("session:delete"));
        present = false;
    }
    bool present = true;
    bool isConnected = true;

private:
    Journal &m_journal;
};

class RecordingTunnel : public TunnelDriverHandle
{
public:
    explicit RecordingTunnel(Journal &j) : m_journal(j) { }
    void createForTunnelType(int type) override
    {
        m_journal.append(QStringLiteral("tunnel:create %1").arg(type));
        present = type >= 1 && type <= 3;
    }
    bool exists() const override { return present; }
    void Disconnect() override { m_journal.append(QStringLiteral("tunnel:disconnect")); }
    QString GetStatistics() override { return statistics; }
    void deleteDriver() override
    {
        m_journal.append(QStringLiteral("tunnel:delete"));
        present = false;
    }
    bool present = false;
    QString statistics;

private:
    Journal &m_journal;
};

class RecordingIpList : public IpListOperations
{
public:
    explicit RecordingIpList(Journal &j) : m_journal(j) { }
    void setUpForProduct(int productType) override
    {
        m_journal.append(QStringLiteral("list:setup %1").arg(productType));
    }
    int rowCount() const override { return rows; }
    void emptyList() override
    {
        m_journal.append(QStringLiteral("list:empty"));
        rows = 0;
    }
    void changeAddress() override { m_journal.append(QStringLiteral("list:change")); }
    int rows = 3;

private:
    Journal &m_journal;
};

struct Harness
{
    TestHome home;
    Journal journal;
    JournalPrompter prompter {journal};
    RecordingLauncher launcher;
    FixedClock clock {QDateTime(QDate(2026, 5, 1), QTime(10, 0, 0))};
    RecordingSession session {journal};
    RecordingTunnel tunnel {journal};
    RecordingIpList ipList {journal};
    MainController controller {prompter, launcher, clock};

    // Settings with no sign-in pause (tunnel type 0) unless given.
    explicit Harness(const QByteArray &settings = "[Entry]\r\nIsPPTP=0\r\n")
    {
        home.write(QStringLiteral("KVOClientSetup.ini"), settings);
        controller.setSessionLink(&session);
        controller.setTunnelDriver(&tunnel);
        controller.setIpList(&ipList);
        MainController *c = &controller;
        QObject::connect(c, &MainController::signInDialogRequested,
                         [this] { journal.append(QStringLiteral("signin")); });
        QObject::connect(c, &MainController::hideWindowRequested,
                         [this] { journal.append(QStringLiteral("window:hide")); });
        QObject::connect(c, &MainController::showWindowRequested,
                         [this] { journal.append(QStringLiteral("window:show")); });
        QObject::connect(c, &MainController::restoreSignInDialogRequested,
                         [this] { journal.append(QStringLiteral("signin:restore")); });
        QObject::connect(c, &MainController::hideMemoPanelRequested,
                         [this] { journal.append(QStringLiteral("memo:hide")); });
        QObject::connect(c, &MainController::statusTextChanged, [this](const QString &t) {
            journal.append(QStringLiteral("status:") + t);
        });
        QObject::connect(c, &MainController::ipControlsEnabledChanged, [this](bool on) {
            journal.append(on ? QStringLiteral("controls:on") : QStringLiteral("controls:off"));
        });
        QObject::connect(c, &MainController::trayStateChanged, [this, c] {
            journal.append(QStringLiteral("tray:%1 %2").arg(c->trayIconId()).arg(c->trayTip()));
        });
        QObject::connect(c, &MainController::finished,
                         [this] { journal.append(QStringLiteral("finished")); });
    }

    void start(const QStringList &args = {})
    {
        controller.initialise(args);
        journal.clear();
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

const QString kNotConnectedTip = QStringLiteral("모라솔 서비스에 연결되어 있지 않습니다.");
const QString kConnectedTip = QStringLiteral("모라솔 서비스에 연결되었습니다.");

} // namespace

TEST(MainOperations, StartUpCreatesTheTunnelDriverAndSetsUpTheListInOrder)
{
    Harness h("[Entry]\r\nIsPPTP=9\r\nServiceType=2\r\n");
    h.controller.initialise({});
    // A tunnel type outside 1..3 reads as 0: none chosen.
    const qsizetype create = h.journal.indexOf(QStringLiteral("tunnel:create 0"));
    const qsizetype setup = h.journal.indexOf(QStringLiteral("list:setup 2"));
    const qsizetype off = h.journal.indexOf(QStringLiteral("controls:off"));
    const qsizetype signin = h.journal.indexOf(QStringLiteral("signin"));
    ASSERT_GE(create, 0);
    EXPECT_LT(create, setup);
    EXPECT_LT(setup, off);
    EXPECT_LT(off, signin);
    EXPECT_FALSE(h.tunnel.exists()); // type 0 makes no driver
    EXPECT_EQ(h.controller.trayIconId(), 202);
    EXPECT_EQ(h.controller.trayTip(), kNotConnectedTip);
    EXPECT_EQ(h.controller.elapsedText(), QStringLiteral("00:00:00"));
    EXPECT_TRUE(h.controller.currentAddress().isEmpty());
}

TEST(MainOperations, LogOutRunsItsStepsInOrder)
{
    Harness h;
    h.start();
    h.controller.setTunnelUp(true);
    h.tunnel.present = true;
    h.controller.setCurrentAddress(QStringLiteral("10.0.0.7"));
    h.controller.enableIpControls(true);
    h.controller.setMemoPanelShown(true);
    for (int id : {MainTimer::RedialCountdown, MainTimer::ReplyWatchdog, MainTimer::AutoChange})
        h.controller.timer(id)->start(60000);
    h.journal.clear();

    QElapsedTimer t;
    t.start();
    h.controller.logOut();
    EXPECT_GE(t.elapsed(), 990); // the pause after closing the session socket

    EXPECT_EQ(h.journal,
              (QStringList {
                  QStringLiteral("status:로그아웃 하는 중입니다."),
                  QStringLiteral("session:shutdown"),
                  QStringLiteral("tunnel:disconnect"),
                  QStringLiteral("list:empty"),
                  QStringLiteral("controls:off"),
                  QStringLiteral("window:hide"),
                  QStringLiteral("tray:202 ") + kNotConnectedTip,
                  QStringLiteral("memo:hide"),
                  QStringLiteral("signin"),
              }));
    EXPECT_EQ(h.logLines(),
              (QStringList {QStringLiteral("프로그램 시작"), QStringLiteral("로그아웃함")}));
    EXPECT_FALSE(h.controller.tunnelUp());
    EXPECT_TRUE(h.controller.loggingOut());
    EXPECT_TRUE(h.controller.currentAddress().isEmpty());
    EXPECT_FALSE(h.controller.memoPanelShown());
    for (int id : {MainTimer::RedialCountdown, MainTimer::ReplyWatchdog, MainTimer::AutoChange})
        EXPECT_FALSE(h.controller.timer(id)->isActive()) << id;
    EXPECT_TRUE(h.prompter.boxes.boxes().isEmpty());
}

TEST(MainOperations, ForcedSignOutShowsItsMessageAndTheTunnelDown)
{
    Harness h;
    h.start();
    h.controller.setTunnelUp(true);
    h.session.present = false; // no socket: no close, no pause
    h.journal.clear();

    QElapsedTimer t;
    t.start();
    h.controller.forcedSignOut(QStringLiteral("다른 PC에서 로그인하여 접속을 종료합니다."));
    EXPECT_LT(t.elapsed(), 900);
    EXPECT_EQ(h.journal,
              (QStringList {
                  QStringLiteral("status:로그아웃 하는 중입니다."),
                  QStringLiteral("list:empty"),
                  QStringLiteral("controls:off"),
                  QStringLiteral("window:hide"),
                  QStringLiteral("tray:202 ") + kNotConnectedTip,
                  QStringLiteral("box:다른 PC에서 로그인하여 접속을 종료합니다.|안내메세지|0x1030"),
                  QStringLiteral("memo:hide"),
                  QStringLiteral("signin"),
              }));
    // Step 1 leaves the flag to the tunnel rules, but once the tunnel has
    // been told to end it is down: a dial-up link hung up while logging out
    // reports no loss, and the tray must not go on showing a connection.
    EXPECT_FALSE(h.controller.tunnelUp());
    EXPECT_TRUE(h.controller.loggingOut());
}

TEST(MainOperations, ForcedSignOutWithAnEmptyTextShowsNoBox)
{
    Harness h;
    h.start();
    h.session.present = false;
    h.controller.forcedSignOut(QString());
    EXPECT_TRUE(h.prompter.boxes.boxes().isEmpty());
    EXPECT_TRUE(h.journal.contains(QStringLiteral("signin")));
}

TEST(MainOperations, TrayExitWithTheTunnelUpClosesSessionAndTunnelBeforeTheExitProcedure)
{
    Harness h;
    h.start();
    h.controller.setTunnelUp(true);
    h.tunnel.present = true;
    h.prompter.boxes.queueAnswer(IdYes);
    h.journal.clear();
    h.controller.trayExitCommand();
    EXPECT_EQ(h.journal,
              (QStringList {
                  QStringLiteral("box:모라솔 서비스 프로그램을 종료합니다.|안내메세지|0x1004"),
                  QStringLiteral("status:로그아웃 하는 중입니다."),
                  QStringLiteral("session:shutdown"),
                  QStringLiteral("tunnel:disconnect"),
                  QStringLiteral("session:delete"),
                  QStringLiteral("memo:hide"),
                  QStringLiteral("tunnel:delete"),
                  QStringLiteral("finished"),
              }));
    EXPECT_EQ(h.logLines(),
              (QStringList {QStringLiteral("프로그램 시작"), QStringLiteral("로그아웃함"),
                            QStringLiteral("프로그램 종료")}));
}

TEST(MainOperations, ExitWithoutSocketOrDriverSkipsThoseSteps)
{
    Harness h;
    h.start();
    h.session.present = false;
    h.controller.postSessionNotify(SessionNotice::ExitRequested, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(h.journal, (QStringList {QStringLiteral("memo:hide"), QStringLiteral("finished")}));
}

TEST(MainOperations, ElapsedTimeWrapsTheHoursAtADay)
{
    const struct
    {
        qint64 seconds;
        const char *text;
    } cases[] = {
        {0, "00:00:00"},
        {59, "00:00:59"},
        {61, "00:01:01"},
        {3599, "00:59:59"},
        {3600, "01:00:00"},
        {86399, "23:59:59"},
        {86400, "00:00:00"},
        {25 * 3600 + 3 * 60, "01:03:00"},
        {26 * 3600 + 5, "02:00:05"},
        {400 * 86400 + 3 * 3600 + 4 * 60 + 5, "03:04:05"},
        {-30, "00:00:00"}, // a clock set back shows no negative time
    };
    for (const auto &c : cases)
        EXPECT_EQ(MainController::formatElapsed(c.seconds), QLatin1String(c.text)) << c.seconds;
}

TEST(MainOperations, ElapsedTickShowsTheTimeAndTheTrayTip)
{
    Harness h;
    h.start();
    h.controller.setTunnelUp(true);
    h.controller.setCurrentAddress(QStringLiteral("211.234.5.6"));
    h.controller.startElapsedTime();
    EXPECT_TRUE(h.controller.timer(MainTimer::ElapsedTime)->isActive());
    EXPECT_EQ(h.controller.timer(MainTimer::ElapsedTime)->interval(), 1000);

    h.clock.advanceSeconds(26 * 3600 + 5);
    h.controller.elapsedTimeTick();
    EXPECT_EQ(h.controller.elapsedText(), QStringLiteral("02:00:05"));
    EXPECT_EQ(h.controller.trayTip(),
              QStringLiteral("모라솔\n현재IP : 211.234.5.6\n사용시간 : 02:00:05"));

    // With the driver's traffic text as a fourth line.
    h.tunnel.present = true;
    h.tunnel.statistics = QStringLiteral("송신: 1.2 MB\n수신: 3.4 MB");
    h.clock.advanceSeconds(1);
    h.controller.elapsedTimeTick();
    EXPECT_EQ(h.controller.trayTip(),
              QStringLiteral("모라솔\n현재IP : 211.234.5.6\n사용시간 : "
                             "02:00:06\n송신: 1.2 MB\n수신: 3.4 MB"));

    // The tip holds 127 characters; a longer one is cut there.
    h.tunnel.statistics = QString(200, QLatin1Char('x'));
    h.controller.elapsedTimeTick();
    EXPECT_EQ(h.controller.trayTip().size(), 127);
    EXPECT_TRUE(h.controller.trayTip().startsWith(QStringLiteral("모라솔\n현재IP : 211.234.5.6")));

    // The timer's own tick does the same.
    h.clock.advanceSeconds(1);
    QElapsedTimer wait;
    wait.start();
    while (h.controller.elapsedText() != QStringLiteral("02:00:07") && wait.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(h.controller.elapsedText(), QStringLiteral("02:00:07"));
}

TEST(MainOperations, TrayIconAndTipFollowTheTunnelFlag)
{
    Harness h;
    h.start();
    h.controller.setTunnelUp(true);
    EXPECT_EQ(h.controller.trayIconId(), 201);
    EXPECT_EQ(h.controller.trayTip(), kConnectedTip);
    h.controller.setTunnelUp(false);
    EXPECT_EQ(h.controller.trayIconId(), 202);
    EXPECT_EQ(h.controller.trayTip(), kNotConnectedTip);
}

TEST(MainOperations, TrayDoubleClickBringsBackTheWindowOrTheSignInDialog)
{
    Harness h;
    h.start();
    h.controller.trayDoubleClicked(); // signed out, no dialog open: nothing
    EXPECT_TRUE(h.journal.isEmpty());
    h.controller.setSignInDialogOpen(true);
    h.controller.trayDoubleClicked();
    EXPECT_EQ(h.journal, QStringList {QStringLiteral("signin:restore")});
    h.controller.setTunnelUp(true);
    h.journal.clear();
    h.controller.trayDoubleClicked();
    EXPECT_EQ(h.journal, QStringList {QStringLiteral("window:show")});
}

TEST(MainOperations, SubAccountsKeepTheirAutoChangeControls)
{
    const int autoIds[] = {ControlId::AutoChange, ControlId::AutoChangeMinutes,
                           ControlId::AutoChangeSlider};
    const struct
    {
        const char16_t *userId;
        bool subAccount;
    } cases[] = {
        {u"KVO@abc", false},
        {u"KVO@abc@2", true},
        {u"a@bcdef", false}, // the first four characters are not part of the ID
        {u"KVO", false},
    };
    for (const auto &c : cases) {
        const QString userId = QString::fromUtf16(c.userId);
        SCOPED_TRACE(userId.toStdString());
        Harness h;
        h.start();
        h.controller.userId = userId;
        QHash<int, int> touched;
        QObject::connect(&h.controller, &MainController::controlEnabledChanged,
                         [&](int id, bool) { ++touched[id]; });

        h.controller.setAutoChangeChecked(false);
        h.controller.enableIpControls(true);
        for (int id : {1017, 1068, 1076, 1084, 1019, 1077, 1087, 1086, 1042})
            EXPECT_TRUE(h.controller.isControlEnabled(id)) << id;
        if (c.subAccount) {
            // Left as the start-up's disable left them: the box stays disabled.
            for (int id : autoIds) {
                EXPECT_EQ(touched.value(id), 0) << id;
                EXPECT_FALSE(h.controller.isControlEnabled(id)) << id;
            }
        } else {
            EXPECT_TRUE(h.controller.isControlEnabled(ControlId::AutoChange));
            // Unchecked: the interval stays off.
            EXPECT_FALSE(h.controller.isControlEnabled(ControlId::AutoChangeMinutes));
            EXPECT_FALSE(h.controller.isControlEnabled(ControlId::AutoChangeSlider));
        }

        h.controller.setAutoChangeChecked(true);
        h.controller.enableIpControls(true);
        EXPECT_EQ(h.controller.isControlEnabled(ControlId::AutoChangeMinutes), !c.subAccount);
        EXPECT_EQ(h.controller.isControlEnabled(ControlId::AutoChangeSlider), !c.subAccount);

        h.controller.enableIpControls(false);
        for (int id : {1017, 1068, 1076, 1084, 1019, 1077, 1087, 1086, 1042})
            EXPECT_FALSE(h.controller.isControlEnabled(id)) << id;
        for (int id : autoIds)
            EXPECT_FALSE(h.controller.isControlEnabled(id)) << id;
        if (c.subAccount) {
            for (int id : autoIds)
                EXPECT_EQ(touched.value(id), 0) << id;
        }
    }
}

TEST(MainOperations, AutomaticChangeNeedsAConnectedSessionAndMoreThanOneRow)
{
    const struct
    {
        bool socket;
        bool connected;
        int rows;
        bool changes;
    } cases[] = {
        {true, true, 2, true},   {true, true, 1, false},  {true, true, 0, false},
        {true, false, 5, false}, {false, true, 5, false},
    };
    for (const auto &c : cases) {
        Harness h;
        h.start();
        h.session.present = c.socket;
        h.session.isConnected = c.connected;
        h.ipList.rows = c.rows;
        h.controller.timer(MainTimer::AutoChange)->start(60000);
        h.controller.autoChangeTick();
        EXPECT_EQ(h.journal.contains(QStringLiteral("list:change")), c.changes)
            << c.socket << c.connected << c.rows;
        // The timer keeps running either way.
        EXPECT_TRUE(h.controller.timer(MainTimer::AutoChange)->isActive());
    }
}

TEST(MainOperations, ChangeCommandGoesToTheIpList)
{
    Harness h;
    h.start();
    h.controller.changeAddressCommand();
    EXPECT_EQ(h.journal, QStringList {QStringLiteral("list:change")});
}
