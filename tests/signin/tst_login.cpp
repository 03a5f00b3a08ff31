#include "core/settings.h"
#include "dialogs/boardpanel.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "signin/login.h"
#include "support/testhome.h"
#include "system/linecheck.h"
#include "web/servicepages.h"
#include "web/servicerequests.h"
#include "web/webhost.h"
#include "web/webtransport.h"
#include "widgets/cpicturebutton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEnterEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

namespace {

const QString kPath = QStringLiteral("/service/vezi/vezi_cs_contents.php");

struct FakeLineCheck : LineCheck
{
    bool up = true;
    int calls = 0;
    bool check(const QString &, int) override
    {
        ++calls;
        return up;
    }
};

struct NoBrowser : BrowserRegistry
{
    QString defaultBrowser() override { return {}; }
    QString program(const QString &) override { return {}; }
};

struct Host : LoginHost
{
    TestHome home;
    Settings settingsFile {home.file(QStringLiteral("KVOClientSetup.ini"))};
    SettingsFields f;
    AccountState a;
    QStringList calls;
    QString savedId = QStringLiteral("saved"), savedPassword = QStringLiteral("secret");

    SettingsFields &fields() override { return f; }
    Settings &settings() override { return settingsFile; }
    AccountState &account() override { return a; }
    bool checkForUpdate() override { return false; }
    int reportFailure(int code, const QString &reply) override
    {
        calls.append(QStringLiteral("report:%1:%2").arg(code).arg(reply));
        return 0;
    }
    void saveCredentials(const QString &id, const QString &pw, int flag) override
    {
        calls.append(QStringLiteral("save:%1:%2:%3").arg(id, pw).arg(flag));
    }
    void setProductLabel(const QString &) override { }
    void prepareForTunnel(const QString &) override { }
    int startTunnel() override
    {
        calls.append(QStringLiteral("connect:") + a.userId);
        return 0;
    }
    void showMainWindowCentred() override { }
    void stopSignInTimers() override { calls.append(QStringLiteral("stop-timers")); }
    void loadSavedCredentials(QString &id, QString &pw) override
    {
        id = savedId;
        pw = savedPassword;
    }
    void requestExit() override { calls.append(QStringLiteral("exit")); }
    void rebuildListColumns() override { calls.append(QStringLiteral("columns")); }
    void openOptions() override { calls.append(QStringLiteral("options")); }
};

struct Fixture
{
    Host host;
    ScriptedWebTransport web;
    WebHost webHost {QStringLiteral("127.0.0.1"), 1, 1}; // nothing listens on port 1
    ServiceRequests requests {web, webHost};
    RecordingLauncher launcher;
    NoBrowser browsers;
    ServicePages pages {launcher, browsers, webHost};
    FakeLineCheck lineCheck;
    ScriptedPrompter prompter;
    SignInSequence sequence {host, requests, prompter, [](const QString &) {
                                 return QStringLiteral("10.0.0.9");
                             }};
    std::unique_ptr<Login> dialog;

    explicit Fixture(const QByteArray &settings = "[Entry]\r\nServiceType=1\r\nIsPPTP=2\r\n")
    {
        host.home.write(QStringLiteral("KVOClientSetup.ini"), settings);
        host.f = host.settingsFile.load();
    }
    Login &open()
    {
        dialog = std::make_unique<Login>(
            host, sequence,
            LoginServices {requests, pages, lineCheck, prompter, launcher,
                           QUrl(ServiceUrls::noticesBoard(webHost)),
                           QUrl(ServiceUrls::faqBoard(webHost)), QString()});
        return *dialog;
    }
    template<typename T>
    T *child(int id) const
    {
        return dialog->findChild<T *>(QString::number(id));
    }
};

} // namespace

class TstLogin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void setUpTakesTheProductListAndTheSavedChoices()
    {
        Fixture t(
            "[Entry]\r\nServiceType=2\r\nIsPPTP=3\r\nPharamSave=1\r\nDynamicProductName=C\r\n");
        t.web.reply(kPath, QStringLiteral("A:10,B:,C:30"),
                    QStringLiteral("content=dynamic_product_list"));
        t.open();
        QCOMPARE(t.host.calls.first(), QStringLiteral("stop-timers"));
        QCOMPARE(
            t.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::DynamicProductList),
            QStringLiteral("A:10,B:,C:30"));
        auto *products = t.child<QComboBox>(1034);
        QCOMPARE(products->count(), 2);
        QCOMPARE(products->itemText(0), QStringLiteral("A"));
        QCOMPARE(products->currentText(), QStringLiteral("C"));
        QVERIFY(products->isEnabled());
        QVERIFY(t.child<QRadioButton>(2002)->isChecked());
        QVERIFY(t.child<QCheckBox>(1000)->isChecked());
        QCOMPARE(t.child<QLineEdit>(1001)->text(), QStringLiteral("saved"));
        QCOMPARE(t.child<QLineEdit>(1002)->text(), QStringLiteral("secret"));
        QCOMPARE(t.host.f.productMap.size(), 2);
        QVERIFY(t.prompter.boxes().isEmpty());

        // Back to the fixed product: one disabled entry, ServiceType written.
        t.child<QComboBox>(1112)->setCurrentIndex(0);
        QCOMPARE(products->count(), 1);
        QCOMPARE(products->itemText(0), QStringLiteral("고정IP 서버"));
        QVERIFY(!products->isEnabled());
        QCOMPARE(t.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::ServiceType),
                 QStringLiteral("1"));
        QVERIFY(t.host.calls.count(QStringLiteral("columns")) >= 2);
    }

    void unstableLineStillOpensWithTheStoredList()
    {
        Fixture t("[Entry]\r\nServiceType=2\r\nDynamicProductList=X:1\r\n");
        t.lineCheck.up = false;
        t.open();
        QVERIFY(t.web.calls.isEmpty());
        QCOMPARE(t.prompter.texts(),
                 QStringList {QStringLiteral(
                     "인터넷회선이 안정적이지 못합니다.\n회선 상태를 점검후 재시도 하세요.")});
        QCOMPARE(t.prompter.boxes()[0].flags, 0x1010u);
        QCOMPARE(t.child<QComboBox>(1034)->currentText(), QStringLiteral("X"));
    }

    void noDynamicProductsSaysSo()
    {
        Fixture t("[Entry]\r\nServiceType=2\r\n");
        t.open();
        QCOMPARE(t.prompter.texts(),
                 QStringList {QStringLiteral("유동IP 상품을 가져오는데 실패했습니다.")});
        QCOMPARE(t.child<QComboBox>(1034)->count(), 0);
    }

    void enterInThePasswordFieldSignsInOnce()
    {
        Fixture t;
        t.web.reply(kPath, QStringLiteral("OK"),
                    QStringLiteral("vezi_id=abc&vezi_password=pw&content=available_chk"));
        t.web.reply(kPath, QStringLiteral("vpn"),
                    QStringLiteral("vezi_id=abc&vezi_password=pw&content=goodserver"));
        Login &dlg = t.open();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        t.child<QLineEdit>(1001)->setText(QStringLiteral("abc"));
        auto *pw = t.child<QLineEdit>(1002);
        pw->setText(QStringLiteral("pw"));
        pw->setFocus();
        QTest::keyClick(pw, Qt::Key_Return);
        QCOMPARE(t.host.calls.count(QStringLiteral("connect:KVO@abc")), 1);
        QCOMPARE(dlg.outcome(), SignInSequence::Outcome::Started);
        QVERIFY(!dlg.isVisible());
        QVERIFY(!t.host.calls.contains(QStringLiteral("exit")));
    }

    void quitQuestion()
    {
        Fixture t;
        Login &dlg = t.open();
        dlg.show();
        t.prompter.queueAnswer(IdNo);
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QVERIFY(!t.host.calls.contains(QStringLiteral("exit")));
        QCOMPARE(t.prompter.boxes().size(), 1);
        QCOMPARE(t.prompter.boxes()[0].text, QStringLiteral("모라솔 서비스를 종료합니다."));
        QCOMPARE(t.prompter.boxes()[0].caption, QStringLiteral("모라솔-종료"));
        QCOMPARE(t.prompter.boxes()[0].flags, 0x1004u);
        t.prompter.queueAnswer(IdYes);
        dlg.close();
        QVERIFY(t.host.calls.contains(QStringLiteral("exit")));
        QVERIFY(!dlg.isVisible());
    }

    void tunnelChoiceAndSaveBox()
    {
        Fixture t;
        t.open();
        t.child<QRadioButton>(2000)->click();
        QCOMPARE(t.host.f.tunnelType, 1);
        QCOMPARE(t.host.settingsFile.readString(SettingKeys::Entry, SettingKeys::IsPPTP),
                 QStringLiteral("1"));
        t.child<QLineEdit>(1001)->setText(QStringLiteral("me"));
        t.child<QLineEdit>(1002)->setText(QStringLiteral("pw"));
        t.child<QCheckBox>(1000)->click();
        QCOMPARE(t.host.calls.last(), QStringLiteral("save:me:pw:1"));
        t.child<QCheckBox>(1000)->click();
        QCOMPARE(t.host.calls.last(), QStringLiteral("save:me:pw:0"));
    }

    void lineCheckButtonTellsBothWays()
    {
        Fixture t;
        t.open();
        t.child<QPushButton>(1048)->click();
        t.lineCheck.up = false;
        t.child<QPushButton>(1048)->click();
        QCOMPARE(t.prompter.texts(),
                 (QStringList {
                     QStringLiteral("인터넷 회선 상태가 양호합니다. 로그인 하세요."),
                     QStringLiteral(
                         "인터넷회선이 안정적이지 못합니다.\n회선 상태를 점검후 재시도 하세요.")}));
        QCOMPARE(t.prompter.boxes()[0].flags, 0x1000u);
        QCOMPARE(t.prompter.boxes()[1].flags, 0x1010u);
    }

    void pageButtonsOpenTheirPages()
    {
        Fixture t;
        t.open();
        t.child<QPushButton>(1094)->click();
        t.child<QPushButton>(1051)->click();
        t.child<QPushButton>(1009)->click();
        QCOMPARE(t.launcher.calls.size(), 3);
        QVERIFY(
            t.launcher.calls[0].endsWith(QStringLiteral("/service/vezi/vezi_register.php?sn=1")));
        QVERIFY(t.launcher.calls[1].endsWith(QStringLiteral("/bbs/board.php?bo_table=faq&sn=5")));
        QVERIFY(
            t.launcher.calls[2].endsWith(QStringLiteral("/service/vezi/vezi_password_lost.php")));
    }

    void panelsSwitchAndShowAnErrorWhenTheHostIsDown()
    {
        Fixture t;
        Login &dlg = t.open();
        dlg.show();
        QCOMPARE(dlg.tabs()->count(), 2);
        QCOMPARE(dlg.tabs()->tabText(0), QStringLiteral("공지사항"));
        QCOMPARE(dlg.tabs()->tabText(1), QStringLiteral("FAQ"));
        QCOMPARE(dlg.noticesPanel()->pageUrl().toString(),
                 QStringLiteral("http://127.0.0.1:1/latestBoard.php?board_id=notice&cs=y"));
        QCOMPARE(dlg.faqPanel()->pageUrl().toString(),
                 QStringLiteral("https://127.0.0.1:1/latestBoard.php?board_id=faq&cs=y"));
        QVERIFY(dlg.noticesPanel()->isVisible());
        QVERIFY(!dlg.faqPanel()->isVisible());
        dlg.tabs()->setCurrentIndex(1);
        QVERIFY(dlg.faqPanel()->isVisible());
        QVERIFY(!dlg.noticesPanel()->isVisible());
        QSignalSpy done(dlg.noticesPanel(), &BoardPanel::finished);
        QVERIFY(done.count() > 0 || done.wait(10000));
        QVERIFY(dlg.noticesPanel()->toPlainText().contains(
            QStringLiteral("페이지를 표시할 수 없습니다.")));
    }

    // The six buttons are image buttons with their pictures: the standard
    // one at rest, the brightened hover one under the mouse, the grey one in
    // the disabled look; 1048 carries its tooltip; a click still acts.
    void sixPictureButtons()
    {
        struct Row
        {
            int id;
            int standard;
            int hover;
        };
        const Row rows[] = {{1003, 189, 223}, {1094, 190, 226}, {1009, 194, 230},
                            {1048, 191, 227}, {1051, 192, 228}, {1010, 193, 229}};
        Fixture t;
        Login &dlg = t.open();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        for (const Row &r : rows) {
            auto *b = t.child<CPictureButton>(r.id);
            QVERIFY2(b, qPrintable(QString::number(r.id)));
            QVERIFY(b->hasPicture());
            const QImage standard = QImage(QStringLiteral(":/png/%1.png").arg(r.standard))
                                        .convertToFormat(QImage::Format_ARGB32);
            const QImage hover = QImage(QStringLiteral(":/png/%1.png").arg(r.hover))
                                     .convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(b->size(), standard.size());
            QImage white(b->size(), QImage::Format_ARGB32);
            white.fill(Qt::white);
            auto over = [&](const QImage &picture) {
                QImage out = white.convertToFormat(QImage::Format_ARGB32_Premultiplied);
                QPainter p(&out);
                p.drawImage(0, 0, picture);
                return out;
            };
            QCOMPARE(b->surfaceForState(), CPictureButton::Surface::Normal);
            QCOMPARE(b->render(CPictureButton::Surface::Normal, white), over(standard));
            QCOMPARE(b->render(CPictureButton::Surface::Hover, white),
                     over(CPictureButton::brightened(hover)));
            QVERIFY(b->render(CPictureButton::Surface::Hover, white) != over(standard));

            QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), b->mapToGlobal(QPointF(2, 2)));
            QCoreApplication::sendEvent(b, &enter);
            QCOMPARE(b->surfaceForState(), CPictureButton::Surface::Hover);
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(b, &leave);
            QCOMPARE(b->surfaceForState(), CPictureButton::Surface::Normal);
            b->setDisabledLook(true);
            QCOMPARE(b->surfaceForState(), CPictureButton::Surface::Grey);
            QCOMPARE(b->render(CPictureButton::Surface::Grey, white),
                     over(CPictureButton::greyed(standard)));
            b->setDisabledLook(false);
        }
        QCOMPARE(t.child<CPictureButton>(1048)->toolTipText(),
                 QStringLiteral("연결이 안되는 이유를 알아볼까요?"));
        QCOMPARE(t.child<CPictureButton>(1048)->toolTip(),
                 QStringLiteral("연결이 안되는 이유를 알아볼까요?"));
        QVERIFY(t.child<CPictureButton>(1003)->isDefault());
        QTest::mouseClick(t.child<CPictureButton>(1010), Qt::LeftButton);
        QVERIFY(t.host.calls.contains(QStringLiteral("options")));

        // The dialog as a user sees it, for people to look at.
        const QString path = QStringLiteral(KVO_SCREENSHOT_PATH);
        QDir().mkpath(QFileInfo(path).path());
        const QImage shot = dlg.grab().toImage();
        QVERIFY(shot.save(path, "PNG"));
        // The sign-in button's picture is on screen where the button is.
        auto *signIn = t.child<CPictureButton>(1003);
        const QPoint centre = signIn->mapTo(&dlg, signIn->rect().center());
        const QImage picture(QStringLiteral(":/png/189.png"));
        QCOMPARE(QColor(shot.pixel(centre * shot.devicePixelRatio())).rgb() & 0xFFFFFF,
                 QColor(picture.pixel(signIn->rect().center())).rgb() & 0xFFFFFF);
        qInfo("sign-in dialog screenshot: %s", qPrintable(path));
    }
};

QTEST_MAIN(TstLogin)
#include "tst_login.moc"
