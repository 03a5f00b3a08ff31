#include "mainwindow/ctarvoclientdlg.h"
#include "mainwindow/maincontroller.h"
#include "platform/clock.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "support/testhome.h"
#include "widgets/clistctrlex.h"
#include "widgets/cpicturebutton.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QSizeGrip>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

const int kBottomControls[] = {1032, 1023, 1024, 1025, 1077, 1087, 1086,
                               1084, 1069, 1075, 1074, 1042, 1026, 1027};

} // namespace

class TstMainDialog : public QObject
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
        QWidget *control(int id) { return dialog.control(id); }
        QString text(int id)
        {
            QWidget *w = control(id);
            if (auto *l = qobject_cast<QLabel *>(w))
                return l->text();
            if (auto *b = qobject_cast<QAbstractButton *>(w))
                return b->text();
            return {};
        }
    };

private Q_SLOTS:
    void everyControlOfTheTemplateWithItsCaption()
    {
        Fixture f;
        const struct
        {
            int id;
            const char16_t *caption;
        } controls[] = {
            {1017, u"IP변경"},     {1010, u"옵션"},      {1013, u"연장/결재"},
            {1016, u"1:1문의"},    {1015, u"로그아웃"},  {1019, nullptr},
            {1082, u""},           {1067, u""},          {1068, u"무작위"},
            {1076, u"초기화"},     {1084, u"전체체크"},  {1025, u"접속상태"},
            {1032, u"준비중.."},   {1023, u"현재 IP"},   {1026, u"0.0.0.0"},
            {1024, u"사용시간"},   {1027, u"00:00:00"},  {1087, u"IP별 메모"},
            {1077, u"불량IP신고"}, {1086, u"InPrivate"}, {1069, u"IP자동변경"},
            {1075, nullptr},       {1074, nullptr},      {1042, u"<a href=\"log\">로그</a>"},
        };
        for (const auto &c : controls) {
            QVERIFY2(f.control(c.id), qPrintable(QString::number(c.id)));
            if (c.caption)
                QCOMPARE(f.text(c.id), QString::fromUtf16(c.caption));
        }
        QCOMPARE(f.dialog.windowTitle(), QStringLiteral("모라솔"));
        f.controller.setWindowCaption(QStringLiteral("모라솔 - tester"));
        QCOMPARE(f.dialog.windowTitle(), QStringLiteral("모라솔 - tester"));
        // Hidden until the list's set-up shows them.
        f.dialog.show();
        for (int id : {1068, 1076, 1069, 1074, 1082, 1067})
            QVERIFY2(!f.control(id)->isVisible(), qPrintable(QString::number(id)));
        QVERIFY(f.control(1019)->isVisible());
        QVERIFY(!f.dialog.windowIcon().isNull());
        // The static controls sit on the 0x0FC4F1 brush (RGB F1 C4 0F).
        for (int id : {1023, 1024, 1025, 1026, 1027, 1032, 1042}) {
            QCOMPARE(f.control(id)->palette().color(QPalette::Window), QColor(0xF1, 0xC4, 0x0F));
            QVERIFY(f.control(id)->autoFillBackground());
        }
        QVERIFY(!f.control(1019)->autoFillBackground());
    }

    void trayMenuItemsFollowTheTunnel()
    {
        Fixture f;
        const QList<QAction *> actions = f.dialog.trayMenu()->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0]->objectName(), QStringLiteral("32774"));
        QCOMPARE(actions[1]->objectName(), QStringLiteral("32775"));
        QCOMPARE(actions[2]->objectName(), QStringLiteral("32776"));
        Q_EMIT f.dialog.trayMenu()->aboutToShow(); // as a right click opens it
        QVERIFY(!actions[0]->isEnabled());
        QVERIFY(!actions[1]->isEnabled());
        QVERIFY(actions[2]->isEnabled());
        QCOMPARE(f.dialog.trayIcon()->toolTip(),
                 QStringLiteral("모라솔 서비스에 연결되어 있지 않습니다."));
        f.controller.setTunnelUp(true);
        Q_EMIT f.dialog.trayMenu()->aboutToShow();
        QVERIFY(actions[0]->isEnabled());
        QVERIFY(actions[1]->isEnabled());
        QVERIFY(actions[2]->isEnabled());
        QCOMPARE(f.dialog.trayIcon()->toolTip(), QStringLiteral("모라솔 서비스에 연결되었습니다."));
        QCOMPARE(f.dialog.trayIcon()->icon().pixmap(32).toImage(),
                 CTarvoClientDlg::iconResource(201).pixmap(32).toImage());

        // "로그아웃" signs out; the window goes and the items grey again.
        f.dialog.show();
        actions[1]->trigger();
        QVERIFY(!f.controller.tunnelUp());
        QVERIFY(!f.dialog.isVisible());
        Q_EMIT f.dialog.trayMenu()->aboutToShow();
        QVERIFY(!actions[0]->isEnabled());
        QCOMPARE(f.dialog.trayIcon()->icon().pixmap(32).toImage(),
                 CTarvoClientDlg::iconResource(202).pixmap(32).toImage());
    }

    void elapsedTimeAndTrayTip()
    {
        Fixture f;
        f.controller.setTunnelUp(true);
        f.controller.setCurrentAddress(QStringLiteral("10.1.2.3"));
        QCOMPARE(f.text(1026), QStringLiteral("10.1.2.3"));
        f.controller.startElapsedTime();
        f.clock.advanceSeconds(26 * 3600 + 5);
        f.controller.elapsedTimeTick();
        QCOMPARE(f.text(1027), QStringLiteral("02:00:05"));
        QCOMPARE(f.dialog.trayIcon()->toolTip(),
                 QStringLiteral("모라솔\n현재IP : 10.1.2.3\n사용시간 : 02:00:05"));
    }

    void sizeRules()
    {
        Fixture f;
        f.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.dialog));
        QCOMPARE(f.dialog.size(), QSize(363, 450));
        f.dialog.resize(600, 300);
        QTRY_COMPARE(f.dialog.size(), QSize(363, 450));
        f.dialog.resize(200, 900);
        QTRY_COMPARE(f.dialog.size(), QSize(363, 900));
    }

    void growingTheWindowMovesTheBottomControlsByTheHeightGained()
    {
        Fixture f;
        f.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.dialog));
        QHash<int, QRect> before;
        for (int id : kBottomControls)
            before.insert(id, f.control(id)->geometry());
        const QRect list = f.control(1019)->geometry();
        const QRect change = f.control(1017)->geometry();

        f.dialog.resize(363, 550);
        QTRY_COMPARE(f.dialog.height(), 550);
        QCOMPARE(f.control(1019)->geometry(), list.adjusted(0, 0, 0, 100));
        for (int id : kBottomControls)
            QCOMPARE(f.control(id)->geometry(), before.value(id).translated(0, 100));
        QCOMPARE(f.control(1017)->geometry(), change); // top controls stay
        auto *grip = f.dialog.findChild<QSizeGrip *>();
        QVERIFY(grip && grip->isVisible());
        QCOMPARE(grip->geometry().bottomRight(), f.dialog.rect().bottomRight());

        f.dialog.resize(363, 450);
        QTRY_COMPARE(f.dialog.height(), 450);
        QCOMPARE(f.control(1019)->geometry(), list);
        for (int id : kBottomControls)
            QCOMPARE(f.control(id)->geometry(), before.value(id));
    }

    void ipControlsAndTheGreyChangeButton()
    {
        Fixture f;
        f.controller.userId = QStringLiteral("KVO@tester");
        auto *change = f.dialog.pictureButton(1017);
        // Disabled from the initialisation: grey.
        QVERIFY(change->disabledLook());
        QVERIFY(!change->isEnabled());
        QVERIFY(!f.control(1019)->isEnabled());
        f.controller.enableIpControls(true);
        QVERIFY(!change->disabledLook());
        QVERIFY(change->isEnabled());
        for (int id : {1068, 1076, 1084, 1019, 1077, 1087, 1086, 1042, 1069})
            QVERIFY2(f.control(id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(!f.control(1075)->isEnabled()); // automatic change unchecked
        static_cast<QCheckBox *>(f.control(1069))->setChecked(true);
        f.controller.enableIpControls(true);
        QVERIFY(f.control(1075)->isEnabled());
        QVERIFY(f.control(1074)->isEnabled());
        f.controller.enableIpControls(false);
        QVERIFY(change->disabledLook());
        for (int id : {1017, 1068, 1076, 1084, 1019, 1077, 1087, 1086, 1042, 1069, 1075, 1074})
            QVERIFY2(!f.control(id)->isEnabled(), qPrintable(QString::number(id)));
        // Buttons outside the IP controls stay usable.
        QVERIFY(f.control(1015)->isEnabled());
        QVERIFY(f.control(1010)->isEnabled());
    }

    void enterIsSwallowedEverywhere()
    {
        Fixture f;
        f.dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&f.dialog));
        auto *logout = f.dialog.pictureButton(1015);
        QSignalSpy clicked(logout, &QAbstractButton::clicked);
        logout->setFocus();
        QTRY_VERIFY(logout->hasFocus());
        QTest::keyClick(logout, Qt::Key_Return);
        QTest::keyClick(logout, Qt::Key_Enter);
        QCOMPARE(clicked.count(), 0);
        QVERIFY(f.dialog.isVisible());
        QCOMPARE(f.dialog.result(), 0);
        // The log-out button itself signs out.
        QTest::mouseClick(logout, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(f.controller.statusText(), QStringLiteral("로그아웃 하는 중입니다."));
    }

    void closeBoxHidesAndKeepsTheProgram()
    {
        Fixture f;
        f.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.dialog));
        f.controller.setMemoPanelShown(true);
        f.dialog.close();
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QVERIFY(!f.dialog.isVisible());
        else
            QVERIFY(f.dialog.isMinimized()); // still reachable from the task bar
        QVERIFY(!f.controller.memoPanelShown());
        QVERIFY(!f.controller.exited());
        // A double-click on the tray icon brings it back while the tunnel is up.
        f.controller.setTunnelUp(true);
        Q_EMIT f.dialog.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(f.dialog.isVisible());
        QVERIFY(!f.dialog.isMinimized());
    }

    void memoPanelFollowsTheWindow()
    {
        Fixture f;
        QWidget memo;
        f.dialog.attachMemoPanel(&memo);
        f.dialog.move(100, 80);
        f.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.dialog));
        f.controller.setMemoPanelShown(true);
        memo.show();
        f.dialog.resize(363, 520);
        QTRY_COMPARE(f.dialog.height(), 520);
        auto *list = f.dialog.ipList();
        const QRect expected(f.dialog.frameGeometry().x() + f.dialog.frameGeometry().width() - 170,
                             list->mapToGlobal(QPoint(0, 0)).y(), 300, list->height());
        QCOMPARE(f.dialog.memoPanelGeometry(), expected);
        QCOMPARE(memo.geometry(), expected);
        QCOMPARE(list->height(), 222 + 70);
        // Closing the window hides the panel too.
        f.dialog.close();
        QVERIFY(!memo.isVisible());
    }

    void screenshotOfTheMainWindow()
    {
        Fixture f;
        f.controller.userId = QStringLiteral("KVO@tester");
        f.controller.setWindowCaption(QStringLiteral("모라솔 - tester"));
        CListCtrlEx *list = f.dialog.ipList();
        list->insertColumn(0, QStringLiteral("IP"), 125);
        list->insertColumn(1, QStringLiteral("ID"), 70);
        list->insertColumn(2, QStringLiteral("상태"), 125);
        const char16_t *states[] = {u"사용중", u"사용가능", u"사용가능", u"다른PC 사용중"};
        const quint32 colours[] = {0x80FF80, CListCtrlEx::kNoColor, CListCtrlEx::kNoColor,
                                   0xC0C0FF};
        for (int i = 0; i < 4; ++i) {
            const int r = list->insertItem(i, QStringLiteral("211.234.10.%1").arg(11 + i));
            list->setItemText(r, 1, QStringLiteral("@%1").arg(i + 1));
            list->setItemText(r, 2, QString::fromUtf16(states[i]));
            list->setItemColor(r, colours[i]);
        }
        list->setCheck(1, true);
        f.controller.setTunnelUp(true);
        f.controller.enableIpControls(true);
        f.controller.setCurrentAddress(QStringLiteral("211.234.10.11"));
        f.controller.setStatusText(QStringLiteral("- 고정 IP 연결 성공 -"));
        f.controller.startElapsedTime();
        f.clock.advanceSeconds(3723);
        f.controller.elapsedTimeTick();
        f.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.dialog));

        const QString path = QStringLiteral(KVO_SCREENSHOT_PATH);
        QDir().mkpath(QFileInfo(path).path());
        const QImage shot = f.dialog.grab().toImage();
        QVERIFY(shot.save(path, "PNG"));
        QCOMPARE(QImage(path).size(), QSize(363, 450));
        qInfo("main window screenshot: %s", qPrintable(path));
    }
};

QTEST_MAIN(TstMainDialog)
#include "tst_maindialog.moc"
