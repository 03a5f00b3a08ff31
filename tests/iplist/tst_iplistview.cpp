// The IP list on the real list control: columns per product, rows and
// colours as the list shows them, the check-box rule with the mouse and the
// keyboard, the double-click and sorting again after a rebuild.
#include "iplist/iplistfixture.h"
#include "mainwindow/clistctrlrows.h"
#include "widgets/clistctrlex.h"

#include <QApplication>
#include <QCursor>
#include <QHeaderView>
#include <QStyle>
#include <QTest>

namespace {

struct ViewFixture
{
    explicit ViewFixture(int product)
        : host(home.file(QStringLiteral("KVOClientSetup.ini"))), rows(list),
          controller(host, rows, session, resets, home.file(QStringLiteral("DynamicIPUse")),
                     home.file(QStringLiteral("CheckedIP")))
    {
        rows.attach(controller);
        host.f.productType = product;
        controller.setUpForProduct(product);
        list.resize(400, 300);
        list.show();
    }

    IpListModel &model() { return controller.model(); }

    QStringList visibleHeadings()
    {
        QStringList out;
        for (int i = 0; i < list.columnCount(); ++i) {
            if (!list.header()->isSectionHidden(i))
                out.append(list.columnHeading(i));
        }
        return out;
    }

    // A point on the row's check box, in viewport coordinates.
    QPoint checkBoxPoint(int row)
    {
        const QRect r = list.visualRect(list.model()->index(row, 0));
        const int margin =
            list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1;
        const int w = list.style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, &list);
        return QPoint(r.left() + margin + w / 2, r.center().y());
    }

    TestHome home;
    IpHostState host;
    CListCtrlEx list;
    CListCtrlRows rows;
    SentRequests session;
    ResetPasses resets;
    IpListController controller;
};

} // namespace

class TestIpListView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void columnsPerProductAndProductChange()
    {
        ViewFixture fx(1);
        QCOMPARE(
            fx.visibleHeadings(),
            (QStringList {QStringLiteral("IP"), QStringLiteral("!"), QStringLiteral("ID"),
                          QStringLiteral("상태"), QStringLiteral("일수"), QStringLiteral("PC")}));
        QCOMPARE(fx.list.header()->sectionSize(0), 125);
        QVERIFY(fx.list.hasCheckBoxes());
        QVERIFY(fx.list.hideHorizontalBar());
        QVERIFY(!fx.list.hideVerticalBar());

        // Sorted by the fourth column ("상태"), then the product changes: the
        // old columns are gone, not hidden, and so is the sort by them.
        QVERIFY(fx.list.sortColumn(3, true));
        fx.host.f.productType = 2;
        fx.controller.setUpForProduct(2);
        QCOMPARE(fx.list.columnCount(), 4);
        QCOMPARE(fx.visibleHeadings(),
                 (QStringList {QStringLiteral("IP"), QStringLiteral("!"), QStringLiteral("상태"),
                               QStringLiteral("사용시간")}));
        QCOMPARE(fx.list.lastSortColumn(), -1);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(fx.list.sortArrow(i), CListCtrlEx::SortArrow::None);
        QCOMPARE(fx.list.header()->sectionSize(0), 150);
        fx.controller.onDynamicIpInfo(dynamicRecords(3));
        QCOMPARE(fx.list.itemCount(), 3);
        QCOMPARE(fx.list.itemText(0, 2), IpState::Idle);
        QVERIFY(fx.list.columnSettings(1)->sortFlags != 0);
        QVERIFY(fx.list.columnSettings(0)->readOnly);
    }

    void rowsAndColoursOnTheControl()
    {
        ViewFixture fx(1);
        fx.model().addChecked(QStringLiteral("10.0.0.2"));
        fx.controller.onFixedList(
            {fixedRecord("10.0.0.1", 0, 0, 3, "X"), fixedRecord("10.0.0.2", 1, 4, 3, "")});
        fx.controller.onChangeCompleted(QStringLiteral("10.0.0.2"));
        QCOMPARE(fx.list.itemText(0, 3), IpState::Unavailable);
        QCOMPARE(fx.list.itemData(0)->background, IpRowColor::Unavailable);
        QCOMPARE(fx.list.itemData(0)->textColor, CListCtrlEx::kNoColor);
        QCOMPARE(fx.list.itemText(1, 3), IpState::InUse);
        QCOMPARE(fx.list.itemText(1, 5), QStringLiteral("MYPC"));
        QCOMPARE(fx.list.itemData(1)->background, IpRowColor::InUse);
        QVERIFY(fx.list.checkState(1));
        QVERIFY(!fx.list.checkState(0));
        QCOMPARE(fx.list.currentIndex().row(), 1);
        // Filling the list sets the box without storing it.
        QVERIFY(!QFile::exists(fx.home.file(QStringLiteral("CheckedIP"))));
    }

    // Notices find their row by address however the rows were reordered or
    // rewritten since the list was filled: by the user's header click, by a
    // rebuild, by a changed first cell.
    void noticesFindTheirRowAfterTheRowsMoved()
    {
        ViewFixture fx(1);
        fx.controller.onFixedList(
            {fixedRecord("10.0.0.2", 1), fixedRecord("10.0.0.10", 1), fixedRecord("10.0.0.1", 1)});
        auto row = [&](const char *ip) {
            return fx.list.findItem(QString::fromLatin1(ip));
        };
        // Address sort: 10.0.0.1, 10.0.0.2, 10.0.0.10.
        const QHeaderView *h = fx.list.header();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(0) + 5, h->height() / 2));
        QCOMPARE(fx.list.itemText(0, 0), QStringLiteral("10.0.0.1"));
        QCOMPARE(fx.list.itemText(2, 0), QStringLiteral("10.0.0.10"));

        fx.controller.onAddressTaken({QStringLiteral("10.0.0.10"), QStringLiteral("PC-T")});
        QCOMPARE(fx.list.itemText(row("10.0.0.10"), 5), QStringLiteral("PC-T"));
        QCOMPARE(fx.list.itemText(row("10.0.0.1"), 5), QString());
        QCOMPARE(fx.list.itemText(row("10.0.0.2"), 5), QString());

        // The same address twice in one notice adds its PC once.
        fx.controller.onAddressShared(
            {{QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.9")},
             QStringLiteral("PC-S")});
        QCOMPARE(fx.list.itemText(row("10.0.0.2"), 5), QStringLiteral("PC-S"));
        QCOMPARE(fx.list.itemData(row("10.0.0.2"))->background, IpRowColor::Shared);
        fx.controller.onAddressUnshared(
            {{QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.2")}, QStringLiteral("PC-S")});
        QCOMPARE(fx.list.itemText(row("10.0.0.2"), 5), QString());
        QCOMPARE(fx.list.itemData(row("10.0.0.2"))->background, IpRowColor::Idle);

        // A row whose address cell is rewritten answers to its new address only.
        fx.list.setItemText(0, 0, QStringLiteral("10.0.0.77"));
        fx.controller.onAddressReleased(QStringLiteral("10.0.0.1"));
        fx.controller.onAddressTaken({QStringLiteral("10.0.0.77"), QStringLiteral("PC-N")});
        QCOMPARE(fx.list.itemText(0, 5), QStringLiteral("PC-N"));
        QCOMPARE(fx.list.itemText(0, 3), IpState::Unavailable);

        // A row deleted above moves the others up.
        fx.list.deleteItem(0);
        fx.controller.onAddressTaken({QStringLiteral("10.0.0.10"), QStringLiteral("PC-U")});
        QCOMPARE(fx.list.itemText(1, 0), QStringLiteral("10.0.0.10"));
        QCOMPARE(fx.list.itemText(1, 5), QStringLiteral("PC-U"));
    }

    void onlyAClickOnTheBoxIsStored()
    {
        ViewFixture fx(1);
        fx.controller.onFixedList({fixedRecord("10.0.0.1", 1), fixedRecord("10.0.0.2", 1)});
        QVERIFY(QTest::qWaitForWindowExposed(&fx.list));

        const QPoint box = fx.checkBoxPoint(1);
        QCursor::setPos(fx.list.viewport()->mapToGlobal(box));
        QTest::mouseClick(fx.list.viewport(), Qt::LeftButton, {}, box);
        QVERIFY(fx.list.checkState(1));
        QCOMPARE(fx.home.read(QStringLiteral("CheckedIP")).toHex(), QByteArray("0a000002"));

        // The keyboard toggles row 0 while the pointer is elsewhere.
        QCursor::setPos(fx.list.viewport()->mapToGlobal(QPoint(-200, -200)));
        fx.list.setCurrentIndex(fx.list.model()->index(0, 0));
        QTest::keyClick(&fx.list, Qt::Key_Space);
        QVERIFY(fx.list.checkState(0));
        QCOMPARE(fx.home.read(QStringLiteral("CheckedIP")).toHex(), QByteArray("0a000002"));

        // A click on the row's text beside the box changes nothing.
        const QRect cell = fx.list.visualRect(fx.list.model()->index(1, 2));
        QCursor::setPos(fx.list.viewport()->mapToGlobal(cell.center()));
        QTest::mouseClick(fx.list.viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(fx.list.checkState(1));

        // Clearing the box by a click takes the address out of the file.
        QCursor::setPos(fx.list.viewport()->mapToGlobal(box));
        QTest::mouseClick(fx.list.viewport(), Qt::LeftButton, {}, box);
        QVERIFY(!fx.list.checkState(1));
        QCOMPARE(fx.home.read(QStringLiteral("CheckedIP")), QByteArray());
    }

    void doubleClickRequestsAnIdleRow()
    {
        ViewFixture fx(1);
        fx.controller.onFixedList({fixedRecord("10.0.0.1", 2), fixedRecord("10.0.0.2", 1)});
        fx.session.sent.clear();
        QVERIFY(QTest::qWaitForWindowExposed(&fx.list));
        const QRect cell = fx.list.visualRect(fx.list.model()->index(1, 3));
        QTest::mouseClick(fx.list.viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(fx.list.viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(fx.session.changes(), QStringList {QStringLiteral("10.0.0.2")});
        QVERIFY(fx.host.boxes.boxes().isEmpty());
    }

    void rebuildSortsAgainAndRandomOrderDropsTheArrow()
    {
        ViewFixture fx(2);
        fx.controller.onDynamicIpInfo(dynamicRecords(12));
        fx.list.sortColumn(0, true); // ascending
        fx.list.sortColumn(0, true); // descending
        fx.model().rebuildDynamicRows(true);
        QCOMPARE(fx.list.itemText(0, 0), QStringLiteral("10.0.0.12"));
        QCOMPARE(fx.list.itemText(11, 0), QStringLiteral("10.0.0.1"));
        QVERIFY(fx.list.sortArrow(0) != CListCtrlEx::SortArrow::None);

        fx.controller.randomOrder();
        QCOMPARE(fx.list.sortArrow(0), CListCtrlEx::SortArrow::None);
        QCOMPARE(fx.list.lastSortColumn(), 0);
        for (int i = 0; i < 12; ++i)
            QCOMPARE(fx.list.itemText(i, 0), fx.model().dynamicArray()[i].address);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestIpListView t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_iplistview.moc"
