#include "widgets/clistctrlex.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <functional>

namespace {

QStringList column(const CListCtrlEx &list, int col)
{
    QStringList out;
    for (int r = 0; r < list.itemCount(); ++r)
        out.append(list.itemText(r, col));
    return out;
}

void clickHeader(CListCtrlEx &list, int section)
{
    QHeaderView *h = list.header();
    const QPoint p(h->sectionViewportPosition(section) + h->sectionSize(section) / 2,
                   h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
}

// An IP-list-like list: address, ID, name.
struct AddressList
{
    CListCtrlEx list;
    AddressList()
    {
        list.resize(400, 300);
        list.insertColumn(0, QStringLiteral("IP"), 120);
        list.insertColumn(1, QStringLiteral("ID"), 80);
        list.insertColumn(2, QStringLiteral("이름"), 80);
        list.setColumnSort(0, ListSort::Kind::Address, CListCtrlEx::SortToggle);
        list.setColumnSort(1, ListSort::Kind::NumberOrText, CListCtrlEx::SortToggle);
        const QStringList ips {QStringLiteral("10.0.0.1"), QStringLiteral("없음"),
                               QStringLiteral("9.0.0.1"), QStringLiteral("192.168.0.1")};
        const QStringList ids {QStringLiteral("@2"), QStringLiteral("@10"), QStringLiteral("7"),
                               QStringLiteral("12")};
        for (int i = 0; i < ips.size(); ++i) {
            const int r = list.insertItem(list.itemCount(), ips[i]);
            list.setItemText(r, 1, ids[i]);
            list.setItemText(r, 2, QStringLiteral("row%1").arg(i));
        }
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
    }
};

} // namespace

class TstListCtrlEx : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void headerClicksSortAddressesNumericallyAndToggle()
    {
        AddressList f;
        clickHeader(f.list, 0);
        QCOMPARE(column(f.list, 0),
                 (QStringList {QStringLiteral("9.0.0.1"), QStringLiteral("10.0.0.1"),
                               QStringLiteral("192.168.0.1"), QStringLiteral("없음")}));
        QCOMPARE(f.list.sortArrow(0), CListCtrlEx::SortArrow::Up);
        // The rows move whole: the other columns follow their address.
        QCOMPARE(column(f.list, 2),
                 (QStringList {QStringLiteral("row2"), QStringLiteral("row0"),
                               QStringLiteral("row3"), QStringLiteral("row1")}));
        clickHeader(f.list, 0);
        QCOMPARE(column(f.list, 0),
                 (QStringList {QStringLiteral("없음"), QStringLiteral("192.168.0.1"),
                               QStringLiteral("10.0.0.1"), QStringLiteral("9.0.0.1")}));
        QCOMPARE(f.list.sortArrow(0), CListCtrlEx::SortArrow::Down);
        // A re-sort without toggling keeps the direction.
        f.list.setItemText(0, 0, QStringLiteral("1.1.1.1"));
        QVERIFY(f.list.sortColumn(0, false));
        QCOMPARE(f.list.itemText(f.list.itemCount() - 1, 0), QStringLiteral("1.1.1.1"));
        QCOMPARE(f.list.sortArrow(0), CListCtrlEx::SortArrow::Down);
    }

    void numberOrTextColumnAndColumnsThatDoNotSort()
    {
        AddressList f;
        clickHeader(f.list, 1);
        // Whole numbers by value, then the IDs as text: "@10" before "@2".
        QCOMPARE(column(f.list, 1),
                 (QStringList {QStringLiteral("7"), QStringLiteral("12"), QStringLiteral("@10"),
                               QStringLiteral("@2")}));
        QCOMPARE(f.list.sortArrow(1), CListCtrlEx::SortArrow::Up);
        QCOMPARE(f.list.sortArrow(0), CListCtrlEx::SortArrow::None);

        // Numbers alone: 7 < 12 < 100, where text would put "100" first.
        f.list.deleteAllItems();
        for (const QString &id : {QStringLiteral("12"), QStringLiteral("7"), QStringLiteral("100")})
            f.list.setItemText(f.list.insertItem(f.list.itemCount(), QString()), 1, id);
        QVERIFY(f.list.sortColumn(1, false));
        QCOMPARE(column(f.list, 1),
                 (QStringList {QStringLiteral("7"), QStringLiteral("12"), QStringLiteral("100")}));

        // The name column has no sort settings: a click changes nothing.
        const QStringList before = column(f.list, 1);
        clickHeader(f.list, 2);
        QVERIFY(!f.list.sortColumn(2, true));
        QCOMPARE(column(f.list, 1), before);
        QCOMPARE(f.list.sortArrow(1), CListCtrlEx::SortArrow::Up);
    }

    void textColumnSortsByCodeUnits()
    {
        CListCtrlEx list;
        list.insertColumn(0, QStringLiteral("메모"), 100);
        list.setColumnSort(0, ListSort::Kind::Text, CListCtrlEx::SortToggle);
        for (const QString &t : {QStringLiteral("b"), QStringLiteral("B"), QStringLiteral("ab"),
                                 QStringLiteral("a"), QStringLiteral("가")})
            list.insertItem(list.itemCount(), t);
        QVERIFY(list.sortColumn(0, true));
        QCOMPARE(column(list, 0),
                 (QStringList {QStringLiteral("B"), QStringLiteral("a"), QStringLiteral("ab"),
                               QStringLiteral("b"), QStringLiteral("가")}));
    }

    void rowColoursFillEveryColumnAndKeepTheDefaultText()
    {
        AddressList f;
        f.list.setItemColor(1, 0x80FF80);
        f.list.setItemColors(2, 0x0000FF, 0xFF0000); // red background, blue text
        QCOMPARE(f.list.itemData(1)->background, 0x80FF80u);
        QCOMPARE(f.list.itemData(1)->textColor, CListCtrlEx::kNoColor);
        QCOMPARE(f.list.itemData(0)->background, CListCtrlEx::kNoColor);
        f.list.clearSelection();
        f.list.setCurrentIndex({});
        QApplication::processEvents();

        const QImage shot = f.list.viewport()->grab().toImage();
        auto pixelIn = [&](int row, int col) {
            const QRect cell = f.list.visualRect(f.list.model()->index(row, col));
            return shot.pixelColor(cell.right() - 3, cell.center().y());
        };
        for (int col = 0; col < 3; ++col) {
            QCOMPARE(pixelIn(1, col), QColor(0x80, 0xFF, 0x80));
            QCOMPARE(pixelIn(2, col), QColor(0xFF, 0x00, 0x00));
            QCOMPARE(pixelIn(0, col), CListCtrlEx::colorFromRef(f.list.defaultBackground()));
        }
        const QModelIndex coloured = f.list.model()->index(1, 1);
        QVERIFY(!coloured.data(Qt::ForegroundRole).isValid()); // default text colour
        QCOMPARE(f.list.model()->index(2, 0).data(Qt::ForegroundRole).value<QBrush>().color(),
                 QColor(0x00, 0x00, 0xFF));

        // setItemColor puts a set text colour back to the default.
        f.list.setItemColor(2, 0x80FF80);
        QCOMPARE(f.list.itemData(2)->textColor, CListCtrlEx::kNoColor);
    }

    void checkBoxesFindAndDelete()
    {
        AddressList f;
        f.list.setCheckBoxes(true);
        QSignalSpy changed(&f.list, &CListCtrlEx::checkChanged);
        f.list.setCheck(2, true);
        f.list.setCheck(2, true); // no change, no notice
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), 2);
        QVERIFY(f.list.checkState(2));
        QVERIFY(!f.list.checkState(0));
        QCOMPARE(f.list.model()->index(2, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        // A click on the row's check box toggles it, as the user does.
        QVERIFY(
            f.list.model()->setData(f.list.model()->index(0, 0), Qt::Checked, Qt::CheckStateRole));
        QVERIFY(f.list.checkState(0));
        QCOMPARE(changed.count(), 2);

        QCOMPARE(f.list.findItem(QStringLiteral("9.0.0.1")), 2);
        QCOMPARE(f.list.findItem(QStringLiteral("ROW0")), -1); // first column only
        f.list.setItemText(3, 0, QStringLiteral("Abc"));
        QCOMPARE(f.list.findItem(QStringLiteral("aBC")), 3);
        QCOMPARE(f.list.findItem(QStringLiteral("9.0.0")), -1); // whole text only
        f.list.deleteAllItems();
        QCOMPARE(f.list.itemCount(), 0);
        QCOMPARE(f.list.findItem(QStringLiteral("9.0.0.1")), -1);
    }

    void rowRecordsAndColumnSettings()
    {
        AddressList f;
        CListCtrlEx::ItemData *d = f.list.ensureItemData(1);
        QVERIFY(d);
        d->userValue = 42;
        f.list.setItemColor(1, 0x123456);
        // An existing record keeps its colours and gets user value 0.
        d = f.list.ensureItemData(1);
        QCOMPARE(d->background, 0x123456u);
        QCOMPARE(d->userValue, 0u);
        QVERIFY(!f.list.ensureItemData(99));
        QVERIFY(!f.list.itemData(-1));

        // A column without settings is neither sortable nor read-only.
        QVERIFY(!f.list.columnSettings(2));
        QVERIFY(!f.list.sortColumn(2, true));
        CListCtrlEx::ColumnSettings &s = f.list.ensureColumnSettings(2);
        QCOMPARE(s.column, 2);
        QVERIFY(!s.readOnly);
        QCOMPARE(s.sortFlags, 0);
        // Settings stay with their column when one is inserted before it.
        f.list.insertColumn(0, QStringLiteral("No"), 30);
        QCOMPARE(f.list.columnCount(), 4);
        QCOMPARE(f.list.columnHeading(1), QStringLiteral("IP"));
        QVERIFY(f.list.columnSettings(1));
        QCOMPARE(f.list.columnSettings(1)->sortKind, ListSort::Kind::Address);
        QVERIFY(!f.list.columnSettings(0));
        QCOMPARE(f.list.itemText(0, 1), QStringLiteral("10.0.0.1"));

        QVERIFY(f.list.deleteItem(0));
        QCOMPARE(f.list.itemCount(), 3);
        QCOMPARE(f.list.itemText(0, 1), QStringLiteral("없음"));
        QCOMPARE(f.list.itemData(0)->background, 0x123456u); // the record moves with its row
    }

    void secondColumnHeaderTooltipFollowsColumnResizes()
    {
        AddressList f;
        QHeaderView *h = f.list.header();
        const int y = h->height() / 2;
        QVERIFY(f.list.headerToolTipAt(QPoint(130, y)).isEmpty()); // not set yet
        f.list.setColumnHeaderTooltip(QString());
        QCOMPARE(f.list.headerToolTipAt(QPoint(130, y)), QStringLiteral("ID"));
        QVERIFY(f.list.headerToolTipAt(QPoint(60, y)).isEmpty());
        QVERIFY(f.list.headerToolTipAt(QPoint(230, y)).isEmpty());
        f.list.setColumnHeaderTooltip(QStringLiteral("아이디 순서"));
        QCOMPARE(f.list.headerToolTipAt(QPoint(130, y)), QStringLiteral("아이디 순서"));
        // Widening the first column moves the second column's tool to the right.
        h->resizeSection(0, 170);
        QVERIFY(f.list.headerToolTipAt(QPoint(130, y)).isEmpty());
        QCOMPARE(f.list.headerToolTipAt(QPoint(180, y)), QStringLiteral("아이디 순서"));

        CListCtrlEx single;
        single.insertColumn(0, QStringLiteral("IP"), 100);
        single.setColumnHeaderTooltip(QStringLiteral("x"));
        QVERIFY(single.headerToolTipAt(QPoint(10, 5)).isEmpty());
    }

    void eitherScrollBarCanBeHidden()
    {
        CListCtrlEx list;
        list.resize(200, 120);
        list.insertColumn(0, QStringLiteral("IP"), 400); // wider than the list
        for (int i = 0; i < 100; ++i)
            list.insertItem(i, QStringLiteral("10.0.0.%1").arg(i));
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QTRY_VERIFY(list.verticalScrollBar()->isVisible());
        QTRY_VERIFY(list.horizontalScrollBar()->isVisible());
        list.setHideHorizontalBar(true);
        QTRY_VERIFY(!list.horizontalScrollBar()->isVisible());
        QVERIFY(list.verticalScrollBar()->isVisible());
        list.setHideVerticalBar(true);
        QTRY_VERIFY(!list.verticalScrollBar()->isVisible());
        list.setHideVerticalBar(false);
        QTRY_VERIFY(list.verticalScrollBar()->isVisible());
    }

    // A memo-like list: the address column is read-only, the memo column
    // edits in place with the owner's line edit.
    void inPlaceEditingKeysAndTabNavigation()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *list = new CListCtrlEx(&window);
        auto *after = new QPushButton(QStringLiteral("다음"), &window);
        layout->addWidget(list);
        layout->addWidget(after);
        QLineEdit editor;
        list->insertColumn(0, QStringLiteral("IP"), 100);
        list->insertColumn(1, QStringLiteral("메모"), 150);
        list->setColumnReadOnly(0, true);
        list->setDefaultEditor(&editor);
        for (int i = 0; i < 3; ++i) {
            list->insertItem(i, QStringLiteral("10.0.0.%1").arg(i + 1));
            list->setItemText(i, 1, QStringLiteral("memo%1").arg(i));
        }
        window.resize(300, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QVERIFY(!list->startEdit(0, 0)); // read-only column
        QVERIFY(!list->startEdit(5, 1)); // outside the rows
        QVERIFY(list->startEdit(0, 1));
        QVERIFY(editor.isVisible());
        QCOMPARE(editor.text(), QStringLiteral("memo0"));
        QTRY_VERIFY(editor.hasFocus());

        // Tab keeps the text and moves to the next row's memo.
        editor.clear();
        QTest::keyClicks(&editor, QStringLiteral("first"));
        QTest::keyClick(&editor, Qt::Key_Tab);
        QCOMPARE(list->itemText(0, 1), QStringLiteral("first"));
        QVERIFY(list->isEditing());
        QCOMPARE(list->editRow(), 1);
        QCOMPARE(list->editColumn(), 1);
        QCOMPARE(editor.text(), QStringLiteral("memo1"));

        // Escape discards.
        editor.setText(QStringLiteral("버림"));
        QTest::keyClick(&editor, Qt::Key_Escape);
        QVERIFY(!list->isEditing());
        QVERIFY(!editor.isVisible());
        QCOMPARE(list->itemText(1, 1), QStringLiteral("memo1"));

        // Enter keeps.
        QVERIFY(list->startEdit(1, 1));
        editor.setText(QStringLiteral("둘째"));
        QTest::keyClick(&editor, Qt::Key_Return);
        QVERIFY(!list->isEditing());
        QCOMPARE(list->itemText(1, 1), QStringLiteral("둘째"));

        // Tab on the last row ends the edit, keeping the text; the focus moves on.
        QVERIFY(list->startEdit(2, 1));
        editor.setText(QStringLiteral("셋째"));
        QTest::keyClick(&editor, Qt::Key_Tab);
        QVERIFY(!list->isEditing());
        QVERIFY(!editor.isVisible());
        QCOMPARE(list->itemText(2, 1), QStringLiteral("셋째"));
        QTRY_VERIFY(after->hasFocus());

        // Losing the focus keeps the typed text.
        QVERIFY(list->startEdit(0, 1));
        QTRY_VERIFY(editor.hasFocus());
        editor.setText(QStringLiteral("포커스"));
        after->setFocus();
        QTRY_VERIFY(!list->isEditing());
        QCOMPARE(list->itemText(0, 1), QStringLiteral("포커스"));

        // Tab in the list itself moves on from the last edited cell...
        list->setFocus();
        QTRY_VERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Tab);
        QVERIFY(list->isEditing());
        QCOMPARE(list->editRow(), 1);
        QCOMPARE(list->editColumn(), 1);
        // ...and backwards, skipping the read-only cells.
        QTest::keyClick(&editor, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(list->editRow(), 0);
        QCOMPARE(list->editColumn(), 1);
        QTest::keyClick(&editor, Qt::Key_Escape);

        // After leaving the rows, Tab starts again at the first editable cell.
        QVERIFY(list->startEdit(2, 1));
        QTest::keyClick(&editor, Qt::Key_Tab);
        QVERIFY(!list->isEditing());
        list->setFocus();
        QTRY_VERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Tab);
        QCOMPARE(list->editRow(), 0);
        QCOMPARE(list->editColumn(), 1);
        QTest::keyClick(&editor, Qt::Key_Escape);
    }

    // Rows deleted or inserted while an edit is open: the kept text goes to
    // the row that was being edited, wherever it has moved, and the editor
    // sits over that row.
    void editFollowsItsRowWhenRowsComeAndGo()
    {
        struct Case
        {
            const char *name;
            int editRow;
            std::function<void(CListCtrlEx &)> change;
            int rowAfter; // where the edited row is now
            bool stillEditing;
        };
        const Case cases[] = {
            {"delete above", 2, [](CListCtrlEx &l) { l.deleteItem(0); }, 1, true},
            {"delete two above", 3,
             [](CListCtrlEx &l) {
                 l.deleteItem(1);
                 l.deleteItem(0);
             },
             1, true},
            {"delete below", 1, [](CListCtrlEx &l) { l.deleteItem(3); }, 1, true},
            {"insert above", 1, [](CListCtrlEx &l) { l.insertItem(0, QStringLiteral("new")); }, 2,
             true},
            {"insert below", 1, [](CListCtrlEx &l) { l.insertItem(3, QStringLiteral("new")); }, 1,
             true},
        };
        for (const Case &c : cases) {
            CListCtrlEx list;
            QLineEdit editor;
            list.insertColumn(0, QStringLiteral("IP"), 100);
            list.insertColumn(1, QStringLiteral("메모"), 150);
            list.setDefaultEditor(&editor);
            for (int i = 0; i < 4; ++i) {
                list.insertItem(i, QStringLiteral("10.0.0.%1").arg(i + 1));
                list.setItemText(i, 1, QStringLiteral("memo%1").arg(i));
            }
            list.resize(300, 300);
            list.show();
            QVERIFY(QTest::qWaitForWindowExposed(&list));
            const QString address = list.itemText(c.editRow, 0);
            QSignalSpy finished(&list, &CListCtrlEx::editFinished);

            QVERIFY2(list.startEdit(c.editRow, 1), c.name);
            c.change(list);
            QCOMPARE(list.isEditing(), c.stillEditing);
            QCOMPARE(list.editRow(), c.rowAfter);
            QCOMPARE(list.itemText(c.rowAfter, 0), address);
            QCOMPARE(editor.geometry().top(),
                     list.visualRect(list.model()->index(c.rowAfter, 1)).top());

            editor.setText(QStringLiteral("kept"));
            list.endEdit(true);
            QCOMPARE(list.itemText(c.rowAfter, 1), QStringLiteral("kept"));
            for (int r = 0; r < list.itemCount(); ++r) {
                if (r != c.rowAfter)
                    QVERIFY2(list.itemText(r, 1) != QStringLiteral("kept"), c.name);
            }
            QCOMPARE(finished.size(), 1);
            QCOMPARE(finished[0][0].toInt(), c.rowAfter);
        }
    }

    // Columns can be deleted: cells, settings and the sort column go with
    // them, later columns move down with theirs.
    void columnDeletionTakesSettingsAndSortAlong()
    {
        AddressList f;
        f.list.setColumnReadOnly(2, true);
        QVERIFY(f.list.sortColumn(1, true));
        QVERIFY(!f.list.deleteColumn(3));
        QVERIFY(!f.list.deleteColumn(-1));

        // An earlier column goes: the sorted one is now column 0, with its
        // kind, direction and arrow.
        const QStringList ids = column(f.list, 1);
        QVERIFY(f.list.deleteColumn(0));
        QCOMPARE(f.list.columnCount(), 2);
        QCOMPARE(f.list.columnHeading(0), QStringLiteral("ID"));
        QCOMPARE(column(f.list, 0), ids);
        QCOMPARE(f.list.lastSortColumn(), 0);
        QCOMPARE(f.list.sortArrow(0), CListCtrlEx::SortArrow::Up);
        QCOMPARE(f.list.columnSettings(0)->sortKind, ListSort::Kind::NumberOrText);
        QVERIFY(f.list.columnSettings(1)->readOnly);
        QVERIFY(!f.list.columnSettings(2));
        // A header click sorts by what is there now.
        clickHeader(f.list, 0);
        QCOMPARE(f.list.sortArrow(0), CListCtrlEx::SortArrow::Down);

        // The sorted column goes: nothing is sorted any more.
        QVERIFY(f.list.deleteColumn(0));
        QCOMPARE(f.list.lastSortColumn(), -1);
        QCOMPARE(f.list.sortArrow(0), CListCtrlEx::SortArrow::None);
        QCOMPARE(f.list.header()->sortIndicatorSection(), -1);
        QCOMPARE(f.list.columnHeading(0), QStringLiteral("이름"));
        QVERIFY(f.list.columnSettings(0)->readOnly);

        // A column inserted before the sorted one moves the sort along.
        f.list.insertColumn(0, QStringLiteral("IP"), 120);
        f.list.setColumnSort(0, ListSort::Kind::Address, CListCtrlEx::SortToggle);
        f.list.setColumnSort(1, ListSort::Kind::Text, CListCtrlEx::SortToggle);
        QVERIFY(f.list.sortColumn(1, true));
        f.list.insertColumn(0, QStringLiteral("No"), 30);
        QCOMPARE(f.list.lastSortColumn(), 2);
        QCOMPARE(f.list.sortArrow(2), CListCtrlEx::SortArrow::Up);

        f.list.deleteAllColumns();
        QCOMPARE(f.list.columnCount(), 0);
        QCOMPARE(f.list.lastSortColumn(), -1);
        QCOMPARE(f.list.itemCount(), 4); // the rows stay, without cells
        QCOMPARE(f.list.itemText(0, 0), QString());
    }

    void deletingTheEditedColumnEndsTheEditWithoutKeeping()
    {
        CListCtrlEx list;
        QLineEdit editor;
        list.insertColumn(0, QStringLiteral("IP"), 100);
        list.insertColumn(1, QStringLiteral("메모"), 150);
        list.insertColumn(2, QStringLiteral("비고"), 150);
        list.setDefaultEditor(&editor);
        list.insertItem(0, QStringLiteral("10.0.0.1"));
        list.setItemText(0, 2, QStringLiteral("old"));
        list.resize(400, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));

        // A column before the edit moves it.
        QVERIFY(list.startEdit(0, 2));
        QVERIFY(list.deleteColumn(1));
        QCOMPARE(list.editColumn(), 1);
        editor.setText(QStringLiteral("new"));
        list.endEdit(true);
        QCOMPARE(list.itemText(0, 0), QStringLiteral("10.0.0.1"));
        QCOMPARE(list.itemText(0, 1), QStringLiteral("new"));

        // The edited column itself ends the edit; nothing is written.
        QVERIFY(list.startEdit(0, 1));
        editor.setText(QStringLiteral("lost"));
        QVERIFY(list.deleteColumn(1));
        QVERIFY(!list.isEditing());
        QVERIFY(!editor.isVisible());
        QCOMPARE(list.columnCount(), 1);
        QCOMPARE(list.itemText(0, 0), QStringLiteral("10.0.0.1"));
        QCOMPARE(list.itemText(0, 1), QString());
    }

    void doubleClickStartsAnEditOrGoesToTheOwner()
    {
        AddressList f;
        QLineEdit editor;
        f.list.setColumnReadOnly(0, true);
        QSignalSpy owner(&f.list, &CListCtrlEx::itemDoubleClicked);
        auto doubleClick = [&](int row, int col) {
            const QRect cell = f.list.visualRect(f.list.model()->index(row, col));
            QTest::mouseClick(f.list.viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(f.list.viewport(), Qt::LeftButton, {}, cell.center());
        };
        // Without an editor nothing is editable: the owner gets every double-click.
        doubleClick(1, 2);
        QCOMPARE(owner.count(), 1);
        QCOMPARE(owner.at(0).at(0).toInt(), 1);
        QCOMPARE(owner.at(0).at(1).toInt(), 2);

        f.list.setDefaultEditor(&editor);
        doubleClick(1, 0); // read-only
        QCOMPARE(owner.count(), 2);
        QVERIFY(!f.list.isEditing());
        doubleClick(1, 2);
        QCOMPARE(owner.count(), 2);
        QVERIFY(f.list.isEditing());
        QCOMPARE(editor.text(), QStringLiteral("row1"));
        f.list.endEdit(false);
    }

    // The exact first-cell search stays right through every kind of change.
    void findItemExactFollowsEveryChange()
    {
        CListCtrlEx list;
        list.insertColumn(0, QStringLiteral("IP"), 100);
        list.insertColumn(1, QStringLiteral("N"), 40);
        list.setColumnSort(0, ListSort::Kind::Address, CListCtrlEx::SortToggle);
        list.insertItem(0, QStringLiteral("10.0.0.3"));
        list.appendItems({{{QStringLiteral("10.0.0.1"), QStringLiteral("a")}, true, 0x123456},
                          {{QStringLiteral("10.0.0.2")}, false, CListCtrlEx::kNoColor},
                          {{QStringLiteral("10.0.0.1"), QStringLiteral("dup")}, false, 0}});
        struct Step
        {
            const char *what;
            std::function<void()> change;
            QList<QPair<QString, int>> expect;
        };
        const QString a1 = QStringLiteral("10.0.0.1"), a2 = QStringLiteral("10.0.0.2"),
                      a3 = QStringLiteral("10.0.0.3"), x = QStringLiteral("10.0.0.9");
        const QList<Step> steps = {
            {"appended",
             [] {},
             {{a3, 0}, {a1, 1}, {a2, 2}, {x, -1}, {QStringLiteral("10.0.0.1 "), -1}}},
            {"inserted at the top", [&] { list.insertItem(0, x); }, {{x, 0}, {a3, 1}, {a1, 2}}},
            {"deleted", [&] { list.deleteItem(1); }, {{x, 0}, {a3, -1}, {a1, 1}, {a2, 2}}},
            {"sorted", [&] { list.sortColumn(0, true); }, {{a1, 0}, {a2, 2}, {x, 3}}},
            {"first cell changed", [&] { list.setItemText(0, 0, a3); }, {{a3, 0}, {a1, 1}}},
            {"other cell changed", [&] { list.setItemText(1, 1, a2); }, {{a2, 2}, {a1, 1}}},
            {"column inserted first",
             [&] { list.insertColumn(0, QStringLiteral("new"), 10); },
             {{a3, -1}, {QString(), 0}}},
            {"column deleted", [&] { list.deleteColumn(0); }, {{a3, 0}, {a1, 1}}},
            {"emptied", [&] { list.deleteAllItems(); }, {{a3, -1}, {a1, -1}}},
            {"appended again", [&] { list.insertItem(5, a2); }, {{a2, 0}, {a1, -1}}},
        };
        for (const Step &s : steps) {
            s.change();
            for (const auto &[text, row] : s.expect)
                QVERIFY2(list.findItemExact(text) == row,
                         qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(s.what), text)));
        }
        // Rows appended in one step carry their check box and colour.
        list.appendItems({{{a1}, true, 0x00FFFF}});
        QVERIFY(list.checkState(1));
        QCOMPARE(list.itemData(1)->background, 0x00FFFFu);
        QCOMPARE(list.itemText(1, 1), QString());
    }
};

QTEST_MAIN(TstListCtrlEx)
#include "tst_listctrlex.moc"
