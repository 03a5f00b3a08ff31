#include "clistctrlrows.h"

#include "mainwindow/iplistcontroller.h"
#include "widgets/clistctrlex.h"

#include <QCursor>
#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionViewItem>

CListCtrlRows::CListCtrlRows(CListCtrlEx &list, QObject *parent) : QObject(parent), m_list(list)
{
    m_list.setCheckBoxes(true);
    m_list.setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list.setHideHorizontalBar(true);
    m_list.setHideVerticalBar(false);
    m_list.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void CListCtrlRows::attach(IpListController &controller)
{
    m_controller = &controller;
    connect(&m_list, &CListCtrlEx::checkChanged, this, [this](int row, bool checked) {
        if (m_programSetsCheck || !m_controller)
            return;
        m_controller->model().checkBoxChanged(row, checked, pointerOnCheckBox(row));
    });
    connect(&m_list, &CListCtrlEx::itemDoubleClicked, this, [this](int, int) {
        if (m_controller)
            m_controller->doubleClickChange();
    });
}

static ListSort::Kind toListSort(IpListRows::SortKind k)
{
    switch (k) {
    case IpListRows::SortKind::Address:
        return ListSort::Kind::Address;
    case IpListRows::SortKind::NumberOrText:
        return ListSort::Kind::NumberOrText;
    case IpListRows::SortKind::Text:
        break;
    }
    return ListSort::Kind::Text;
}

void CListCtrlRows::setColumns(const QList<Column> &columns, const QString &secondHeaderTip)
{
    // Every column goes (with its settings, the sort column and the header
    // tooltip), then the layout's own.
    m_list.deleteAllItems();
    m_list.deleteAllColumns();
    for (int i = 0; i < columns.size(); ++i) {
        m_list.insertColumn(i, columns[i].heading, columns[i].width);
        m_list.setColumnReadOnly(i, true);
        m_list.setColumnSort(i, toListSort(columns[i].sortKind), CListCtrlEx::SortToggle);
    }
    if (columns.size() > 1)
        m_list.setColumnHeaderTooltip(secondHeaderTip);
}

int CListCtrlRows::columnCount() const
{
    return m_list.columnCount();
}

int CListCtrlRows::rowCount() const
{
    return m_list.itemCount();
}

int CListCtrlRows::appendRow(const QString &firstCell)
{
    return m_list.insertItem(m_list.itemCount(), firstCell);
}

void CListCtrlRows::appendRows(std::vector<NewRow> rows)
{
    std::vector<CListCtrlEx::NewItem> items;
    items.reserve(rows.size());
    for (NewRow &r : rows)
        items.push_back({std::move(r.cells), r.checked, r.background});
    m_list.appendItems(std::move(items));
}

int CListCtrlRows::findRow(const QString &firstCell) const
{
    return m_list.findItemExact(firstCell);
}

void CListCtrlRows::clearRows()
{
    m_list.deleteAllItems();
}

QString CListCtrlRows::text(int row, int column) const
{
    return m_list.itemText(row, column);
}

void CListCtrlRows::setText(int row, int column, const QString &text)
{
    m_list.setItemText(row, column, text);
}

void CListCtrlRows::setBackground(int row, quint32 colorRef)
{
    m_list.setItemColor(row, colorRef);
}

quint32 CListCtrlRows::background(int row) const
{
    const CListCtrlEx::ItemData *d = m_list.itemData(row);
    return d ? d->background : kNoColor;
}

bool CListCtrlRows::isChecked(int row) const
{
    return m_list.checkState(row);
}

void CListCtrlRows::setChecked(int row, bool checked)
{
    m_programSetsCheck = true;
    m_list.setCheck(row, checked);
    m_programSetsCheck = false;
}

int CListCtrlRows::selectedRow() const
{
    const QModelIndexList rows =
        m_list.selectionModel() ? m_list.selectionModel()->selectedRows() : QModelIndexList();
    int first = -1;
    for (const QModelIndex &i : rows) {
        if (first < 0 || i.row() < first)
            first = i.row();
    }
    return first;
}

void CListCtrlRows::selectRow(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    const QModelIndex i = m_list.model()->index(row, 0);
    m_list.selectionModel()->setCurrentIndex(
        i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_list.scrollTo(i);
}

void CListCtrlRows::sortAgain()
{
    if (m_list.lastSortColumn() >= 0)
        m_list.sortColumn(m_list.lastSortColumn(), false);
}

void CListCtrlRows::removeSortArrow()
{
    m_list.header()->setSortIndicator(-1, Qt::AscendingOrder);
}

bool CListCtrlRows::pointerOnCheckBox(int row) const
{
    const QPoint p = m_list.viewport()->mapFromGlobal(QCursor::pos());
    const QModelIndex hit = m_list.indexAt(p);
    if (!hit.isValid() || hit.row() != row || hit.column() != 0)
        return false;
    QStyleOptionViewItem opt;
    opt.initFrom(&m_list);
    opt.rect = m_list.visualRect(hit);
    opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    opt.text = text(row, 0);
    opt.font = m_list.font();
    opt.fontMetrics = QFontMetrics(m_list.font());
    opt.showDecorationSelected = true;
    opt.checkState = isChecked(row) ? Qt::Checked : Qt::Unchecked;
    const QRect box =
        m_list.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, &m_list);
    return box.contains(p);
}
