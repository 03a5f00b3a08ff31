// The memo panel and the bad-address report dialog, offscreen: through their
// controls against a main window of plain recorded state, and both against
// the simulator's session server over a real session connection.
#include "dialogs/memodialog.h"
#include "dialogs/notifyip.h"
#include "iplist/iplistfixture.h"
#include "mainwindow/clistctrlrows.h"
#include "recorder.h"
#include "scenario.h"
#include "session/clientsock.h"
#include "session/sessionpeer.h"
#include "session/sessionservermodule.h"
#include "widgets/clistctrlex.h"

#include <QButtonGroup>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHeaderView>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>

namespace {

QStringList S(std::initializer_list<const char *> texts)
{
    QStringList out;
    for (const char *t : texts)
        out.append(QString::fromUtf8(t));
    return out;
}

const QString kRetry = QStringLiteral("다시 시도해 주십시오.");
const QString kTooLong = QStringLiteral("메모는 길이 255 이하만 됩니다.");

// The main window as the memo panel sees it: a 363 x 450 window with the IP
// list (control 1019) at its place, set up as the IP list sets it up.
struct MainWindowState : MemoHost
{
    MainWindowState()
    {
        window.setGeometry(100, 100, 363, 450);
        list = new CListCtrlEx(&window);
        list->setObjectName(QStringLiteral("1019"));
        list->setGeometry(8, 80, 347, 222);
        rows = std::make_unique<CListCtrlRows>(*list);
        setProduct(1);
    }
    void setProduct(int type)
    {
        product = type;
        rows->setColumns(IpListModel::columnsFor(type), QStringLiteral("IP불량신고한 아이피"));
    }
    void addRow(const QString &ip, const QString &id)
    {
        const int r = rows->appendRow(ip);
        rows->setText(r, 2, id);
        rows->setText(r, 3, IpState::Idle);
    }
    QStringList memoRows(const MemoDialog &panel) const
    {
        QStringList out;
        for (int i = 0; i < panel.memoList()->itemCount(); ++i)
            out.append(panel.memoList()->itemText(i, 0));
        return out;
    }

    CListCtrlEx &ipList() override { return *list; }
    int productType() const override { return product; }
    bool memoShown() const override { return shown; }
    void setMemoShown(bool s) override { shown = s; }
    void setMemoButtonEnabled(bool enabled) override { buttonStates.append(enabled); }
    QRect panelGeometry() const override
    {
        const QRect frame = window.frameGeometry();
        return QRect(frame.x() + frame.width() - 170, list->mapToGlobal(QPoint(0, 0)).y(), 300,
                     list->height());
    }
    bool sendMemoListRequest() override
    {
        ++requests;
        return channel ? channel->sendMemoListRequest() > 0 : true;
    }
    bool sendMemoSave(const MemoInfo &memo) override
    {
        saves.append(memo);
        return channel ? channel->sendMemoSave(memo) > 0 : true;
    }
    Prompter &prompter() override { return boxes; }

    QWidget window;
    CListCtrlEx *list = nullptr;
    std::unique_ptr<CListCtrlRows> rows;
    int product = 1;
    bool shown = false;
    int requests = 0;
    QList<bool> buttonStates;
    QList<MemoInfo> saves;
    ScriptedPrompter boxes;
    ClientSock *channel = nullptr;
};

// Ends an open edit the way a user does: the editor loses the focus.
void leaveEditor(MemoDialog &panel)
{
    // Where the editor has the focus for real, it moves to the list; where
    // the panel's window is not the active one, the editor is told directly.
    panel.memoList()->setFocus(Qt::MouseFocusReason);
    if (panel.memoList()->isEditing()) {
        QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
        QCoreApplication::sendEvent(panel.editor(), &out);
    }
    QVERIFY(!panel.memoList()->isEditing());
}

void typeMemo(MemoDialog &panel, int row, const QString &text)
{
    QVERIFY(panel.memoList()->startEdit(row, 0));
    panel.editor()->setText(text);
    leaveEditor(panel);
}

struct ReportHost : NotifyIpHost
{
    QString current;
    ScriptedPrompter boxes;
    QStringList sent; // "category|address|reason"
    std::function<void(int, const QString &, const QString &)> forward;

    QString currentAddress() const override { return current; }
    Prompter &prompter() override { return boxes; }
    void sendReport(int category, const QString &address, const QString &reason) override
    {
        sent.append(QStringLiteral("%1|%2|%3").arg(category).arg(address, reason));
        if (forward)
            forward(category, address, reason);
    }
};

void setAddressFields(NotifyIp &dlg, const QStringList &fields)
{
    for (int i = 0; i < 4; ++i)
        dlg.addressControl()->field(i)->setText(fields.value(i));
}

QString saveScreenshot(const QImage &image, const char *name)
{
    const QString path =
        QStringLiteral(KVO_SCREENSHOT_DIR) + QLatin1Char('/') + QString::fromLatin1(name);
    QDir().mkpath(QFileInfo(path).path());
    return image.save(path, "PNG") ? path : QString();
}

const char *kScenario = R"({
  "accounts": [
    { "id": "memouser", "password": "pw", "server": "127.0.79.9", "productType": 1,
      "session": {
        "fixed": [
          { "address": "211.7.0.1", "userNumber": 11, "state": 1 },
          { "address": "211.7.0.2", "userNumber": 12, "state": 1 },
          { "address": "211.7.0.3", "userNumber": 11, "state": 1 },
          { "address": "211.7.0.4", "userNumber": 14, "state": 1 }
        ],
        "reported": ["211.7.0.4"],
        "memos": [ { "userNumber": 11, "text": "쇼핑몰용" } ],
        "memoEveryAddress": true
      } }
  ]
})";

} // namespace

class TstMemoBadIp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Button 1087 asks for the memos with the list's scroll bar hidden; the
    // answer shows the panel beside the list, a memo against every row of
    // its address; the button again hides it; an empty answer asks to retry.
    void memoButtonAndTheAnswer()
    {
        MainWindowState mw;
        mw.addRow(QStringLiteral("211.1.1.1"), QStringLiteral("@11"));
        mw.addRow(QStringLiteral("211.1.1.2"), QStringLiteral("@12"));
        mw.addRow(QStringLiteral("211.1.1.3"), QStringLiteral("@11"));
        mw.addRow(QStringLiteral("211.1.1.4"), QStringLiteral("@13"));
        mw.window.show();
        MemoDialog panel(mw, &mw.window);
        QVERIFY(!panel.isVisible());
        QVERIFY(panel.windowFlags() & Qt::FramelessWindowHint);

        panel.memoButtonClicked();
        QCOMPARE(mw.requests, 1);
        QVERIFY(mw.list->hideVerticalBar());
        QVERIFY(!panel.isVisible());
        // No answer yet: a second press asks again.
        panel.memoButtonClicked();
        QCOMPARE(mw.requests, 2);

        panel.memoListReceived({{11, QStringLiteral("첫 메모")}, {12, QStringLiteral("둘")}});
        QVERIFY(panel.isVisible());
        QVERIFY(mw.shown);
        const QRect frame = mw.window.frameGeometry();
        QCOMPARE(panel.geometry(),
                 QRect(frame.x() + frame.width() - 170, mw.list->mapToGlobal(QPoint(0, 0)).y(), 300,
                       222));
        QCOMPARE(panel.memoList()->columnHeading(0), QStringLiteral("메모 - 더블클릭 : 수정"));
        QCOMPARE(mw.memoRows(panel),
                 (QStringList {QStringLiteral("첫 메모"), QStringLiteral("둘"),
                               QStringLiteral("첫 메모"), QString()}));
        QCOMPARE(mw.buttonStates, (QList<bool> {false, true}));
        QVERIFY(mw.boxes.boxes().isEmpty());

        panel.memoButtonClicked();
        QVERIFY(!panel.isVisible());
        QVERIFY(!mw.shown);
        QVERIFY(!mw.list->hideVerticalBar());
        QCOMPARE(mw.requests, 2);

        panel.memoButtonClicked();
        panel.memoListReceived({});
        QVERIFY(!panel.isVisible());
        QVERIFY(!mw.shown);
        QCOMPARE(mw.boxes.boxes().size(), 1);
        QCOMPARE(mw.boxes.boxes()[0].text, kRetry);
        QCOMPARE(mw.boxes.boxes()[0].caption, QStringLiteral("안내메세지"));
        QCOMPARE(mw.boxes.boxes()[0].flags, 0x1030u);

        // The dynamic product: empty memo rows whatever the server keeps.
        mw.setProduct(2);
        mw.addRow(QStringLiteral("61.1.1.1"), IpState::Idle);
        mw.addRow(QStringLiteral("61.1.1.2"), IpState::Idle);
        panel.memoListReceived({{11, QStringLiteral("첫 메모")}});
        QCOMPARE(mw.memoRows(panel), (QStringList {QString(), QString()}));
    }

    // The editor's text goes out when the editor loses the focus: the
    // apostrophe escaped, the user number from the ID column; 255 characters
    // after escaping, or more than the record's bytes, are refused.
    void savingAMemo()
    {
        struct Case
        {
            const char *name;
            QString typed;
            QString sent; // empty: refused
        };
        const QString a253 = QString(253, QLatin1Char('a'));
        const Case cases[] = {
            {"apostrophe", QStringLiteral("it's"), QStringLiteral("it\\'s")},
            {"254 plain", QString(254, QLatin1Char('a')), QString(254, QLatin1Char('a'))},
            {"255 with the backslash", a253 + QLatin1Char('\''), QString()},
            {"255 plain", QString(255, QLatin1Char('b')), QString()},
            {"over 255 bytes", QString(130, QChar(0xAC00)), QString()},
            {"127 Korean", QString(127, QChar(0xAC00)), QString(127, QChar(0xAC00))},
        };
        for (const Case &c : cases) {
            MainWindowState mw;
            mw.addRow(QStringLiteral("211.1.1.1"), QStringLiteral("@11"));
            mw.addRow(QStringLiteral("211.1.1.2"), QStringLiteral("@4097"));
            mw.window.show();
            MemoDialog panel(mw, &mw.window);
            panel.memoButtonClicked();
            panel.memoListReceived({{4097, QStringLiteral("옛 메모")}});
            typeMemo(panel, 1, c.typed);
            if (c.sent.isEmpty()) {
                QVERIFY2(mw.saves.isEmpty(), c.name);
                QCOMPARE(mw.boxes.texts(), QStringList {kTooLong});
                QCOMPARE(mw.boxes.boxes()[0].flags, 0u);
                QCOMPARE(mw.boxes.boxes()[0].caption, Prompter::displayCaption(QString()));
                // Nothing kept: the row shows the memo the server has.
                QCOMPARE(panel.memoList()->itemText(1, 0), QStringLiteral("옛 메모"));
            } else {
                QVERIFY2(mw.boxes.boxes().isEmpty(), c.name);
                QCOMPARE(mw.saves.size(), 1);
                QCOMPARE(mw.saves[0].userNumber, 4097);
                QCOMPARE(mw.saves[0].text, c.sent);
                QCOMPARE(panel.memos().value(QStringLiteral("@4097")), c.typed);
            }
        }
        QCOMPARE(MemoDialog::userNumberOf(QStringLiteral("@12")), 12);
        QCOMPARE(MemoDialog::userNumberOf(QStringLiteral("@abc")), 0);
        QCOMPARE(MemoDialog::userNumberOf(QStringLiteral("KT 고정IP")), 0);
    }

    // Sorting, rebuilding and a new product move the IP list's rows; the
    // memos stay with their addresses, and an open edit is saved for the
    // address it was opened on.
    void memosFollowTheRows()
    {
        MainWindowState mw;
        mw.addRow(QStringLiteral("10.0.0.3"), QStringLiteral("@13"));
        mw.addRow(QStringLiteral("10.0.0.1"), QStringLiteral("@11"));
        mw.addRow(QStringLiteral("10.0.0.2"), QStringLiteral("@12"));
        mw.window.show();
        MemoDialog panel(mw, &mw.window);
        panel.memoButtonClicked();
        panel.memoListReceived(
            {{11, QStringLiteral("a")}, {12, QStringLiteral("b")}, {13, QStringLiteral("c")}});
        QCOMPARE(mw.memoRows(panel), S({"c", "a", "b"}));

        QVERIFY(mw.list->sortColumn(0, true));
        QCOMPARE(mw.list->itemText(0, 0), QStringLiteral("10.0.0.1"));
        QTRY_COMPARE(mw.memoRows(panel), S({"a", "b", "c"}));

        // An edit open on 10.0.0.3 (@13) while the list is sorted the other way.
        QVERIFY(panel.memoList()->startEdit(2, 0));
        panel.editor()->setText(QStringLiteral("c2"));
        QVERIFY(mw.list->sortColumn(0, true));
        QCOMPARE(mw.list->itemText(0, 0), QStringLiteral("10.0.0.3"));
        QTRY_COMPARE(mw.memoRows(panel), S({"c2", "b", "a"}));
        QCOMPARE(mw.saves.size(), 1);
        QCOMPARE(mw.saves[0].userNumber, 13);
        QCOMPARE(mw.saves[0].text, QStringLiteral("c2"));

        // A rebuild of the rows.
        mw.rows->clearRows();
        mw.addRow(QStringLiteral("10.0.0.2"), QStringLiteral("@12"));
        mw.addRow(QStringLiteral("10.0.0.9"), QStringLiteral("@19"));
        mw.addRow(QStringLiteral("10.0.0.1"), QStringLiteral("@11"));
        QTRY_COMPARE(mw.memoRows(panel), S({"b", "", "a"}));

        // Another product's columns: no memos.
        mw.setProduct(2);
        mw.addRow(QStringLiteral("61.0.0.1"), IpState::Idle);
        QTRY_COMPARE(mw.memoRows(panel), QStringList {QString()});
    }

    // The two lists scroll together, row for row, either way.
    void scrollingTogether()
    {
        MainWindowState mw;
        for (int i = 0; i < 40; ++i)
            mw.addRow(QStringLiteral("10.0.1.%1").arg(i + 1), QStringLiteral("@%1").arg(100 + i));
        mw.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mw.window));
        mw.list->verticalScrollBar()->setValue(7);
        const int seven = mw.list->verticalScrollBar()->value();
        QVERIFY(seven > 0);
        MemoDialog panel(mw, &mw.window);
        panel.memoButtonClicked();
        QList<MemoInfo> memos;
        for (int i = 0; i < 40; ++i)
            memos.append({100 + i, QStringLiteral("memo %1").arg(i)});
        panel.memoListReceived(memos);
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QCOMPARE(panel.memoList()->sizeHintForRow(0), mw.list->sizeHintForRow(0));
        auto firstRow = [](CListCtrlEx *l) {
            return l->indexAt(QPoint(1, 1)).row();
        };
        QCOMPARE(firstRow(panel.memoList()), firstRow(mw.list));
        QVERIFY(firstRow(mw.list) > 0);

        panel.memoList()->verticalScrollBar()->setValue(
            panel.memoList()->verticalScrollBar()->maximum());
        QCOMPARE(firstRow(mw.list), firstRow(panel.memoList()));
        QVERIFY(firstRow(mw.list) > 7);
        mw.list->verticalScrollBar()->setValue(0);
        QCOMPARE(firstRow(panel.memoList()), 0);

        // Closed and opened again further down: the new answer leaves the
        // IP list where the user has it.
        mw.list->verticalScrollBar()->setValue(12);
        const int twelve = firstRow(mw.list);
        QVERIFY(twelve > 0);
        panel.memoButtonClicked();
        panel.memoButtonClicked();
        panel.memoListReceived(memos);
        QCOMPARE(firstRow(mw.list), twelve);
        QCOMPARE(firstRow(panel.memoList()), twelve);

        // The panel over the list, as a user sees it.
        mw.list->verticalScrollBar()->setValue(3);
        typeMemo(panel, 4, QStringLiteral("it's the shop's"));
        const QRect panelRect = panel.geometry();
        const QRect windowRect = mw.window.geometry();
        const QRect all = windowRect.united(panelRect);
        QImage shot(all.size(), QImage::Format_ARGB32);
        shot.fill(Qt::darkGray);
        {
            QPainter p(&shot);
            p.drawPixmap(windowRect.topLeft() - all.topLeft(), mw.window.grab());
            p.drawPixmap(panelRect.topLeft() - all.topLeft(), panel.grab());
        }
        const QString path = saveScreenshot(shot, "memo.png");
        QVERIFY(!path.isEmpty());
        qInfo("memo panel screenshot: %s", qPrintable(path));
    }

    // The report dialog's checks run in the order category, address,
    // reason; each stops with its message and the focus on its control.
    void reportChecks()
    {
        struct Case
        {
            const char *name;
            int category; // -1: none clicked
            QStringList address;
            QString reason;
            QString box; // empty: sent
            int focus; // control id, 0: none checked
            QString sent;
        };
        const QString long8192(8192, QLatin1Char('x'));
        const QString ok8191(8191, QLatin1Char('x'));
        const Case cases[] = {
            {"nothing", -1, {}, {}, QStringLiteral("신고분류를 선택해 주십시오."), 0, {}},
            {"no category",
             -1,
             S({"1", "2", "3", "4"}),
             QStringLiteral("r"),
             QStringLiteral("신고분류를 선택해 주십시오."),
             0,
             {}},
            {"blank address",
             0,
             {},
             QStringLiteral("r"),
             QStringLiteral("아이피주소를 입력해 주십시오."),
             NotifyIp::kAddressId,
             {}},
            {"zero address",
             1,
             S({"0", "0", "0", "0"}),
             QStringLiteral("r"),
             QStringLiteral("아이피주소를 입력해 주십시오."),
             NotifyIp::kAddressId,
             {}},
            {"no reason",
             2,
             S({"1", "2", "3", "4"}),
             {},
             QStringLiteral("신고 이유를 입력해 주십시오."),
             NotifyIp::kReasonId,
             {}},
            {"8192 characters",
             3,
             S({"1", "2", "3", "4"}),
             long8192,
             QStringLiteral("신고 이유는 8192바이트 보다 작아야 합니다."),
             NotifyIp::kReasonId,
             {}},
            {"8191 characters",
             3,
             S({"1", "2", "3", "4"}),
             ok8191,
             {},
             0,
             QStringLiteral("3|1.2.3.4|") + ok8191},
            {"escaped beyond the record",
             3,
             S({"1", "2", "3", "4"}),
             QString(8190, QLatin1Char('x')) + QLatin1Char('\''),
             QStringLiteral("신고 이유는 8192바이트 보다 작아야 합니다."),
             NotifyIp::kReasonId,
             {}},
            {"Korean beyond the record",
             0,
             S({"1", "2", "3", "4"}),
             QString(4096, QChar(0xAC00)),
             QStringLiteral("신고 이유는 8192바이트 보다 작아야 합니다."),
             NotifyIp::kReasonId,
             {}},
            {"apostrophes",
             1,
             S({"211", "7", "", "9"}),
             QStringLiteral("it's 'x'"),
             {},
             0,
             QStringLiteral("1|211.7.0.9|it\\'s \\'x\\'")},
            {"255s",
             2,
             S({"255", "255", "255", "255"}),
             QStringLiteral("게임"),
             {},
             0,
             QStringLiteral("2|255.255.255.255|게임")},
        };
        for (const Case &c : cases) {
            ReportHost host;
            QWidget owner;
            owner.show();
            NotifyIp dlg(host, &owner);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            QCOMPARE(dlg.windowTitle(), QStringLiteral("불량IP신고"));
            if (c.category >= 0)
                QTest::mouseClick(dlg.findChild<QRadioButton *>(
                                      QString::number(NotifyIp::kFirstCategoryId + c.category)),
                                  Qt::LeftButton);
            setAddressFields(dlg, c.address);
            dlg.reasonEdit()->setPlainText(c.reason);
            dlg.findChild<QPushButton *>(QStringLiteral("1"))->click();
            if (c.box.isEmpty()) {
                QVERIFY2(host.boxes.boxes().isEmpty(), c.name);
                QCOMPARE(host.sent, QStringList {c.sent});
                QCOMPARE(dlg.result(), int(QDialog::Accepted));
                QVERIFY(!dlg.isVisible());
            } else {
                QCOMPARE(host.boxes.texts(), QStringList {c.box});
                QCOMPARE(host.boxes.boxes()[0].flags, 0u);
                QCOMPARE(host.boxes.boxes()[0].caption, Prompter::displayCaption(QString()));
                QVERIFY2(host.sent.isEmpty(), c.name);
                QVERIFY2(dlg.isVisible(), c.name);
                if (c.focus == NotifyIp::kAddressId)
                    QTRY_VERIFY(dlg.addressControl()->field(0)->hasFocus());
                if (c.focus == NotifyIp::kReasonId)
                    QTRY_VERIFY(dlg.reasonEdit()->hasFocus());
            }
        }
    }

    // The dialog opens on the address in use; another address typed in is
    // the one reported. "." moves to the next field; cancel sends nothing.
    void addressControl()
    {
        ReportHost host;
        host.current = QStringLiteral("1.2.3.4");
        {
            NotifyIp dlg(host);
            QCOMPARE(dlg.addressControl()->address(), 0x01020304u);
            QCOMPARE(dlg.addressControl()->field(3)->text(), QStringLiteral("4"));
            dlg.addressControl()->field(2)->setText(QStringLiteral("9"));
            dlg.findChild<QRadioButton *>(QStringLiteral("1093"))->click();
            dlg.reasonEdit()->setPlainText(QStringLiteral("r"));
            dlg.findChild<QPushButton *>(QStringLiteral("1"))->click();
            QCOMPARE(host.sent, QStringList {QStringLiteral("3|1.2.9.4|r")});
        }
        host.sent.clear();
        host.current.clear();
        {
            NotifyIp dlg(host);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            QVERIFY(dlg.addressControl()->isBlank());
            dlg.addressControl()->field(0)->setFocus();
            for (const QChar c : QStringLiteral("10.20.30.40"))
                QTest::keyClick(QApplication::focusWidget(), char(c.unicode()));
            QCOMPARE(NotifyIp::addressText(dlg.addressControl()->address()),
                     QStringLiteral("10.20.30.40"));
            QTest::keyClicks(dlg.addressControl()->field(1), QStringLiteral("999"));
            QVERIFY(dlg.addressControl()->field(1)->text().toInt() <= 255);
            dlg.findChild<QPushButton *>(QStringLiteral("2"))->click();
            QVERIFY(host.sent.isEmpty());
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
        }
        // The dialog as a user fills it in.
        host.current = QStringLiteral("211.7.0.2");
        NotifyIp dlg(host);
        dlg.findChild<QRadioButton *>(QStringLiteral("1091"))->setChecked(true);
        dlg.reasonEdit()->setPlainText(QStringLiteral("게임 접속이 안 됩니다."));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QString path = saveScreenshot(dlg.grab().toImage(), "badip.png");
        QVERIFY(!path.isEmpty());
        qInfo("bad-IP dialog screenshot: %s", qPrintable(path));
    }

    // Both features against the simulator's session server: the memo list
    // request and its answer, a memo saved byte for byte and listed again,
    // a report that marks its row once however often it is sent.
    void againstTheSimulator()
    {
        Scenario scenario = Scenario::fromJson(QJsonDocument::fromJson(kScenario).object());
        Recorder recorder;
        SessionServerModule sim;
        QString error;
        QVERIFY2(sim.start(scenario, recorder, &error), qPrintable(error));

        TestHome home;
        IpHostState host(home.file(QStringLiteral("KVOClientSetup.ini")));
        host.user = QStringLiteral("KVO@memouser");
        host.f.productType = 1;
        TestHost sessionHost;
        sessionHost.info.userId = QStringLiteral("KVO@memouser");
        sessionHost.info.parentId = QStringLiteral("memouser");
        sessionHost.info.tunnelAddress = QStringLiteral("10.8.0.6");
        sessionHost.info.pcName = QStringLiteral("MYPC");
        sessionHost.info.tunnelType = 2;
        sessionHost.info.productType = 1;
        ClientSock sock(sessionHost);
        ClientSockChannel channel(sock);
        ResetPasses resets;
        MainWindowState mw;
        mw.channel = &sock;
        IpListController controller(host, *mw.rows, channel, resets,
                                    home.file(QStringLiteral("DynamicIPUse")),
                                    home.file(QStringLiteral("CheckedIP")));
        mw.rows->attach(controller);
        controller.connectTo(sock.dispatcher());
        controller.setUpForProduct(1);
        mw.window.show();
        MemoDialog panel(mw, &mw.window);
        connect(&sock.dispatcher(), &SessionDispatcher::memoListReceived, &panel,
                &MemoDialog::memoListReceived);

        sock.open(QStringLiteral("127.0.79.9"));
        QTRY_VERIFY_WITH_TIMEOUT(!host.addressLabel.isEmpty(), 10000);
        QCOMPARE(mw.list->itemCount(), 4);
        QTRY_COMPARE(mw.list->itemText(3, 1), QStringLiteral("!"));
        // The mark's column explains itself.
        const QPoint onMark(mw.list->header()->sectionViewportPosition(1) + 2, 2);
        QCOMPARE(mw.list->headerToolTipAt(onMark), QStringLiteral("IP불량신고한 아이피"));

        panel.memoButtonClicked();
        QTRY_VERIFY(panel.isVisible());
        QCOMPARE(mw.memoRows(panel),
                 (QStringList {QStringLiteral("쇼핑몰용"), QString(), QStringLiteral("쇼핑몰용"),
                               QString()}));
        typeMemo(panel, 1, QStringLiteral("it's mine"));
        QCOMPARE(mw.saves.size(), 1);
        QJsonObject save;
        QTRY_VERIFY([&] {
            for (const QJsonObject &e : recorder.entries(QStringLiteral("session"))) {
                if (e.value(QStringLiteral("event")).toString() == QStringLiteral("memoSave"))
                    save = e;
            }
            return !save.isEmpty();
        }());
        QByteArray expected(260, '\0');
        expected[0] = 12;
        const QByteArray text = QByteArrayLiteral("it\\'s mine");
        expected.replace(4, text.size(), text);
        QCOMPARE(save.value(QStringLiteral("payloadHex")).toString().toLatin1(), expected.toHex());
        QCOMPARE(save.value(QStringLiteral("param")).toInt(), 1);

        // Closed and opened again: the server's list carries the new memo.
        panel.memoButtonClicked();
        QVERIFY(!panel.isVisible());
        panel.memoButtonClicked();
        QTRY_VERIFY(panel.isVisible());
        QCOMPARE(mw.memoRows(panel).value(1), QStringLiteral("it's mine"));

        // The report of the address in use, twice.
        const QString current = host.addressLabel;
        const int row = controller.model().findRow(current);
        QVERIFY(row >= 0);
        QCOMPARE(mw.list->itemText(row, 1), QString());
        ReportHost reportHost;
        reportHost.current = current;
        reportHost.forward = [&](int category, const QString &address, const QString &reason) {
            controller.reportBadAddress(category, address, reason);
        };
        for (int round = 0; round < 2; ++round) {
            NotifyIp dlg(reportHost);
            dlg.findChild<QRadioButton *>(QStringLiteral("1091"))->click();
            dlg.reasonEdit()->setPlainText(QStringLiteral("게임 'A' 접속불가"));
            dlg.findChild<QPushButton *>(QStringLiteral("1"))->click();
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
        }
        QList<QJsonObject> reports;
        QTRY_COMPARE(([&] {
                         reports.clear();
                         for (const QJsonObject &e : recorder.entries(QStringLiteral("session"))) {
                             if (e.value(QStringLiteral("event")).toString() ==
                                 QStringLiteral("badIpReport"))
                                 reports.append(e);
                         }
                         return reports.size();
                     }()),
                     2);
        for (const QJsonObject &r : reports) {
            QCOMPARE(r.value(QStringLiteral("category")).toInt(), 1);
            QCOMPARE(r.value(QStringLiteral("address")).toString(), current);
            QCOMPARE(r.value(QStringLiteral("reason")).toString(),
                     QStringLiteral("게임 \\'A\\' 접속불가"));
            QCOMPARE(r.value(QStringLiteral("size")).toInt(), 8200);
            QCOMPARE(r.value(QStringLiteral("param")).toInt(), 1);
        }
        QCOMPARE(mw.list->itemText(row, 1), QStringLiteral("!"));
        QCOMPARE(controller.model().reportedList(),
                 (QStringList {QStringLiteral("211.7.0.4"), current}));
        QVERIFY(sim.account(QStringLiteral("memouser"))->reported.contains(current));
        sock.close();
    }

    // A report that cannot go out marks nothing.
    void reportNotSentMarksNothing()
    {
        TestHome home;
        IpHostState host(home.file(QStringLiteral("KVOClientSetup.ini")));
        host.f.productType = 1;
        MemoryIpListRows rows;
        SentRequests session;
        ResetPasses resets;
        IpListController controller(host, rows, session, resets,
                                    home.file(QStringLiteral("DynamicIPUse")),
                                    home.file(QStringLiteral("CheckedIP")));
        controller.setUpForProduct(1);
        controller.onFixedList({fixedRecord("10.1.1.1", 1, 5), fixedRecord("10.1.1.2", 1, 6)});
        session.reportGoesOut = false;
        controller.reportBadAddress(0, QStringLiteral("10.1.1.2"), QStringLiteral("r"));
        QVERIFY(session.sent.contains(QStringLiteral("report 0 10.1.1.2 r")));
        QCOMPARE(rows.text(1, 1), QString());
        QVERIFY(controller.model().reportedList().isEmpty());
        session.reportGoesOut = true;
        controller.reportBadAddress(0, QStringLiteral("10.1.1.2"), QStringLiteral("r"));
        QCOMPARE(rows.text(1, 1), QStringLiteral("!"));
        // An address without a row joins the list all the same.
        controller.reportBadAddress(0, QStringLiteral("10.9.9.9"), QStringLiteral("r"));
        QCOMPARE(controller.model().reportedList(),
                 (QStringList {QStringLiteral("10.1.1.2"), QStringLiteral("10.9.9.9")}));
    }
};

QTEST_MAIN(TstMemoBadIp)
#include "tst_memobadip.moc"
