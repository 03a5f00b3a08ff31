#include "widgets/cwndresizer.h"

#include <QLabel>
#include <QListWidget>
#include <QSizeGrip>
#include <QTest>

namespace {

// A 300 x 200 window: a list that takes the height, a status line and a
// button under it that follow the bottom edge, a box on the right edge and
// a bar that spans the width.
struct Window
{
    QWidget window;
    QWidget *list = nullptr;
    QWidget *status = nullptr;
    QWidget *button = nullptr;
    QWidget *rightBox = nullptr;
    QWidget *bar = nullptr;
    QWidget *fixed = nullptr;
    CWndResizer resizer;

    static QWidget *make(QWidget *parent, int id, const QRect &r)
    {
        auto *w = new QLabel(parent);
        w->setObjectName(QString::number(id));
        w->setGeometry(r);
        return w;
    }

    Window()
    {
        window.resize(300, 200);
        list = make(&window, 1019, QRect(10, 40, 280, 100));
        status = make(&window, 1032, QRect(10, 150, 200, 18));
        button = make(&window, 1077, QRect(220, 150, 70, 24));
        rightBox = make(&window, 5, QRect(250, 10, 40, 20));
        bar = make(&window, 6, QRect(10, 10, 230, 20));
        fixed = make(&window, 7, QRect(20, 176, 30, 10)); // not registered
        resizer.Hook(&window);
        resizer.SetAnchor(1019, CWndResizer::AnchorTop | CWndResizer::AnchorBottom);
        resizer.SetAnchor(1032, CWndResizer::AnchorBottom);
        resizer.SetAnchor(1077, CWndResizer::AnchorBottom);
        resizer.SetAnchor(5, CWndResizer::AnchorRight);
        resizer.SetAnchor(6, CWndResizer::AnchorLeft | CWndResizer::AnchorRight);
        resizer.SetShowResizeGrip(true);
        resizer.OnSize();
    }
};

} // namespace

class TstWndResizer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void growingAndShrinkingMovesTheAnchoredControls()
    {
        Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QRect list = w.list->geometry();
        const QRect status = w.status->geometry();
        const QRect button = w.button->geometry();
        const QRect right = w.rightBox->geometry();
        const QRect bar = w.bar->geometry();
        const QRect fixed = w.fixed->geometry();

        w.window.resize(300, 300);
        QTRY_COMPARE(w.window.height(), 300);
        QCOMPARE(w.list->geometry(), list.adjusted(0, 0, 0, 100));
        QCOMPARE(w.status->geometry(), status.translated(0, 100));
        QCOMPARE(w.button->geometry(), button.translated(0, 100));
        QCOMPARE(w.rightBox->geometry(), right);
        QCOMPARE(w.bar->geometry(), bar);
        QCOMPARE(w.fixed->geometry(), fixed);

        w.window.resize(360, 300);
        QTRY_COMPARE(w.window.width(), 360);
        QCOMPARE(w.rightBox->geometry(), right.translated(60, 0));
        QCOMPARE(w.bar->geometry(), bar.adjusted(0, 0, 60, 0));
        QCOMPARE(w.status->geometry(), status.translated(0, 100)); // left-anchored

        w.window.resize(300, 200);
        QTRY_COMPARE(w.window.size(), QSize(300, 200));
        QCOMPARE(w.list->geometry(), list);
        QCOMPARE(w.status->geometry(), status);
        QCOMPARE(w.button->geometry(), button);
        QCOMPARE(w.rightBox->geometry(), right);
        QCOMPARE(w.bar->geometry(), bar);
    }

    void theSizeGripStaysInTheBottomRightCorner()
    {
        Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QVERIFY(w.resizer.resizeGripShown());
        auto *grip = w.window.findChild<QSizeGrip *>();
        QVERIFY(grip);
        QVERIFY(grip->isVisible());
        QCOMPARE(grip->geometry().bottomRight(), w.window.rect().bottomRight());
        w.window.resize(300, 420);
        QTRY_COMPARE(w.window.height(), 420);
        QCOMPARE(grip->geometry().bottomRight(), w.window.rect().bottomRight());
        w.resizer.SetShowResizeGrip(false);
        QVERIFY(!grip->isVisible());
    }

    void shrinkingBelowTheMinimumKeepsTheMinimumSize()
    {
        Window w;
        CWndResizer::CPanel *list = w.resizer.CreatePanel(1019);
        QVERIFY(w.resizer.SetMinimumSize(list, QSize(280, 60)));
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        w.window.resize(300, 150); // 50 less: the list would be 50 high
        QTRY_COMPARE(w.window.height(), 150);
        QCOMPARE(w.list->geometry(), QRect(10, 40, 280, 60));
        QCOMPARE(w.status->geometry(), QRect(10, 100, 200, 18));
    }

    void panelsRulesAndDescriptions()
    {
        Window w;
        QVERIFY(!w.resizer.CreatePanel(4242)); // no such control
        QVERIFY(!w.resizer.SetAnchor(4242, CWndResizer::AnchorBottom));
        CWndResizer::CPanel *status = w.resizer.CreatePanel(1032);
        QVERIFY(status);
        QCOMPARE(w.resizer.CreatePanel(1032), status); // found again, not made twice
        QCOMPARE(w.resizer.FindPanel(QStringLiteral("1032")), status);
        QCOMPARE(w.resizer.FindPanel(QStringLiteral("_RESIZEGRIP")), w.resizer.gripPanel());
        QCOMPARE(status->className(), QStringLiteral("CUIPanel"));
        QCOMPARE(w.resizer.gripPanel()->className(), QStringLiteral("CGripperPanel"));
        // A bottom anchor gets left added; a right anchor gets top added.
        QCOMPARE(status->anchor(), CWndResizer::AnchorBottom | CWndResizer::AnchorLeft);
        QCOMPARE(w.resizer.CreatePanel(5)->anchor(),
                 CWndResizer::AnchorRight | CWndResizer::AnchorTop);
        // Contradicting sizes are refused and the old ones stay.
        QVERIFY(w.resizer.SetMaximumSize(status, QSize(300, 40)));
        QVERIFY(!w.resizer.SetMinimumSize(status, QSize(400, 10)));
        QVERIFY(!w.resizer.SetMaximumSize(status, QSize(5, 5)));
        QCOMPARE(status->minSize(), QSize(10, 10));
        QCOMPARE(status->maxSize(), QSize(300, 40));
        QCOMPARE(status->toString(),
                 QStringLiteral("Name(1032), Type(CUIPanel), Anchor(9), Size(w:200, h:18), "
                                "Area(l:10, t:150, r:210, b:168), MinSize(w:10, h:10), "
                                "MaxSize(w:300, h:40), Parent(_root), ChildrenCount(0)"));
        QVERIFY(w.resizer.root().toString().contains(QStringLiteral("Parent(NULL)")));
        QCOMPARE(status->hookedWindow(), &w.window);
    }
};

QTEST_MAIN(TstWndResizer)
#include "tst_wndresizer.moc"
