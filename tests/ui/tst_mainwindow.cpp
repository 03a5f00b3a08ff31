#include "mainwindow/ctarvoclientdlg.h"
#include "mainwindow/maincontroller.h"
#include "platform/clock.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "support/testhome.h"

#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

class TstMainWindow : public QObject
{
    Q_OBJECT

private:
    struct Fixture
    {
        TestHome home;
        ScriptedPrompter prompter;
        RecordingLauncher launcher;
        FixedClock clock {QDateTime(QDate(2026, 5, 1), QTime(10, 0, 0))};
        MainController controller {prompter, launcher, clock};
        CTarvoClientDlg dialog {controller};
        Fixture()
        {
            home.write(QStringLiteral("KVOClientSetup.ini"), "[Entry]\r\nIsPPTP=0\r\n");
            controller.initialise({});
        }
    };

private Q_SLOTS:
    void trayMenuGreysSwitchingWhileSignedOut()
    {
        Fixture f;
        f.dialog.prepareTrayMenu();
        const QList<QAction *> actions = f.dialog.trayMenu()->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0]->text(), QStringLiteral("IP전환"));
        QCOMPARE(actions[1]->text(), QStringLiteral("로그아웃"));
        QCOMPARE(actions[2]->text(), QStringLiteral("종료"));
        QVERIFY(!actions[0]->isEnabled());
        QVERIFY(!actions[1]->isEnabled());
        QVERIFY(actions[2]->isEnabled());

        f.controller.setTunnelUp(true);
        f.dialog.prepareTrayMenu();
        QVERIFY(actions[0]->isEnabled());
        QVERIFY(actions[1]->isEnabled());
        QCOMPARE(f.dialog.trayIcon()->toolTip(), QStringLiteral("모라솔 서비스에 연결되었습니다."));
        f.controller.setTunnelUp(false);
        QCOMPARE(f.dialog.trayIcon()->toolTip(),
                 QStringLiteral("모라솔 서비스에 연결되어 있지 않습니다."));
    }

    void trayExitEndsTheProgram()
    {
        Fixture f;
        bool finished = false;
        connect(&f.controller, &MainController::finished, this, [&] { finished = true; });
        f.prompter.queueAnswer(IdYes);
        f.dialog.trayMenu()->actions()[2]->trigger();
        QVERIFY(finished);
        QCOMPARE(f.prompter.boxes().size(), 1);
        QVERIFY(!f.dialog.trayIcon()->isVisible());
    }

    void sizeRulesFixTheWidth()
    {
        Fixture f;
        f.dialog.show();
        QCOMPARE(f.dialog.minimumSize(), QSize(363, 450));
        QCOMPARE(f.dialog.maximumWidth(), 363);
        f.dialog.resize(600, 300);
        QCOMPARE(f.dialog.width(), 363);
        QCOMPARE(f.dialog.height(), 450);
        f.dialog.resize(363, 700);
        QCOMPARE(f.dialog.height(), 700);
    }

    void enterIsSwallowedAndEscapeHides()
    {
        Fixture f;
        f.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.dialog));
        QTest::keyClick(&f.dialog, Qt::Key_Return);
        QVERIFY(f.dialog.isVisible());
        QCOMPARE(f.dialog.result(), 0);
        QTest::keyClick(&f.dialog, Qt::Key_Escape);
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QVERIFY(!f.dialog.isVisible());
        else
            QVERIFY(f.dialog.isMinimized());
        QVERIFY(!f.controller.exited());
    }

    void statusLineAndLogLink()
    {
        Fixture f;
        auto *status = f.dialog.findChild<QLabel *>(QStringLiteral("1032"));
        QVERIFY(status);
        QCOMPARE(status->text(), QStringLiteral("준비중.."));
        f.controller.setStatusText(QStringLiteral("VPN터널이 연결되었습니다."));
        QCOMPARE(status->text(), QStringLiteral("VPN터널이 연결되었습니다."));
        auto *link = f.dialog.findChild<QLabel *>(QStringLiteral("1042"));
        QVERIFY(link);
        Q_EMIT link->linkActivated(QStringLiteral("log"));
        QCOMPARE(f.launcher.calls.size(), 1);
        QVERIFY(f.launcher.calls[0].endsWith(QStringLiteral("/log/KVOClient20260501.txt")));
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
