#include "clistctrlex.h"

#include "platform/firsttextindex.h"

#include "platform/ipv4.h"

#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMetaProperty>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <numeric>

namespace {

struct Row
{
    QStringList cells;
    bool checked = false;
    CListCtrlEx::ItemData data;
};

} // namespace

// The rows and headings behind the view. Only the visible cells are ever
// asked for, so thousands of rows cost little more than their texts.
class CListCtrlEx::Model : public QAbstractTableModel
{
public:
    explicit Model(CListCtrlEx &list) : QAbstractTableModel(&list), m_list(list) { }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(rows.size());
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(headings.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= int(rows.size()))
            return {};
        const Row &r = rows[size_t(index.row())];
        switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return index.column() < r.cells.size() ? r.cells[index.column()] : QString();
        case Qt::CheckStateRole:
            if (index.column() == 0 && m_list.m_checkBoxes)
                return r.checked ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::BackgroundRole:
            if (r.data.background != kNoColor)
                return QBrush(colorFromRef(r.data.background));
            return {};
        case Qt::ForegroundRole:
            if (r.data.textColor != kNoColor)
                return QBrush(colorFromRef(r.data.textColor));
            return {};
        default:
            return {};
        }
    }

    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0 ||
            !m_list.m_checkBoxes)
            return false;
        m_list.setCheck(index.row(), value.toInt() == Qt::Checked);
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (index.column() == 0 && m_list.m_checkBoxes)
            f |= Qt::ItemIsUserCheckable;
        return f;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
            section < int(headings.size()))
            return headings[size_t(section)];
        return {};
    }

    void rowChanged(int row)
    {
        Q_EMIT dataChanged(index(row, 0), index(row, qMax(0, columnCount() - 1)));
    }

    void insertColumnAt(int at, const QString &heading)
    {
        beginInsertColumns({}, at, at);
        if (at == 0)
            dropIndex();
        headings.insert(headings.begin() + at, heading);
        for (Row &r : rows) {
            if (at <= r.cells.size())
                r.cells.insert(at, QString());
        }
        endInsertColumns();
    }

    void removeColumnAt(int at)
    {
        beginRemoveColumns({}, at, at);
        if (at == 0)
            dropIndex();
        headings.erase(headings.begin() + at);
        for (Row &r : rows) {
            if (at < r.cells.size())
                r.cells.removeAt(at);
        }
        endRemoveColumns();
    }

    int insertRowAt(int at, const QString &text)
    {
        at = std::clamp(at, 0, int(rows.size()));
        beginInsertRows({}, at, at);
        Row r;
        r.cells.append(text);
        rows.insert(rows.begin() + at, std::move(r));
        if (at == int(rows.size()) - 1)
            indexAppended(at);
        else
            dropIndex();
        endInsertRows();
        return at;
    }

    // The items become rows in place: no list of rows in between.
    void appendItems(std::vector<NewItem> &&added)
    {
        if (added.empty())
            return;
        const int first = int(rows.size());
        beginInsertRows({}, first, first + int(added.size()) - 1);
        rows.reserve(rows.size() + added.size());
        firstCells.expectMore(qsizetype(added.size()));
        for (NewItem &n : added) {
            Row &r = rows.emplace_back();
            r.cells = std::move(n.cells);
            if (r.cells.isEmpty())
                r.cells.append(QString());
            r.checked = n.checked;
            r.data.background = n.background;
            indexAppended(int(rows.size()) - 1);
        }
        endInsertRows();
    }

    void removeRowAt(int at)
    {
        beginRemoveRows({}, at, at);
        rows.erase(rows.begin() + at);
        dropIndex();
        endRemoveRows();
    }

    void clear()
    {
        beginResetModel();
        rows.clear();
        firstCells.clear();
        endResetModel();
    }

    // The index of first cells: first row per text.
    void dropIndex() { firstCells.drop(); }
    void indexAppended(int row)
    {
        const QStringList &cells = rows[size_t(row)].cells;
        firstCells.appended(cells.isEmpty() ? QString() : cells[0], row);
    }
    int findExact(const QString &text) const
    {
        return firstCells.find(text, qsizetype(rows.size()), [this](qsizetype i) {
            const QStringList &cells = rows[size_t(i)].cells;
            return cells.isEmpty() ? QString() : cells[0];
        });
    }

    // Reorders the rows by the column's kind; direction is 1 or -1. The
    // keys are worked out once per row, not once per comparison.
    void sortBy(int column, ListSort::Kind kind, int direction)
    {
        const size_t n = rows.size();
        std::vector<int> order(n);
        std::iota(order.begin(), order.end(), 0);
        auto text = [&](int i) -> const QString & {
            static const QString empty;
            const QStringList &c = rows[size_t(i)].cells;
            return column < c.size() ? c[column] : empty;
        };
        if (kind == ListSort::Kind::Address) {
            std::vector<uint32_t> key(n);
            for (size_t i = 0; i < n; ++i)
                key[i] = Ipv4::numericValue(text(int(i)));
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
                return direction > 0 ? key[size_t(a)] < key[size_t(b)]
                                     : key[size_t(b)] < key[size_t(a)];
            });
        } else if (kind == ListSort::Kind::NumberOrText) {
            std::vector<ListSort::WholeNumber> key(n);
            for (size_t i = 0; i < n; ++i)
                key[i] = ListSort::parseWholeNumber(text(int(i)));
            auto cmp = [&](int a, int b) {
                const ListSort::WholeNumber &x = key[size_t(a)];
                const ListSort::WholeNumber &y = key[size_t(b)];
                if (x.value != 0 && y.value != 0 && x.value != y.value && x.exact && y.exact)
                    return x.value < y.value ? -1 : 1;
                return ListSort::compareText(text(a), text(b));
            };
            std::stable_sort(order.begin(), order.end(),
                             [&](int a, int b) { return cmp(a, b) * direction < 0; });
        } else {
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
                return ListSort::compareText(text(a), text(b)) * direction < 0;
            });
        }

        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<int> newRowOf(n);
        for (size_t i = 0; i < n; ++i)
            newRowOf[size_t(order[i])] = int(i);
        std::vector<Row> sorted;
        sorted.reserve(n);
        for (int i : order)
            sorted.push_back(std::move(rows[size_t(i)]));
        rows.swap(sorted);
        dropIndex();
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex &i : before)
            after.append(index(newRowOf[size_t(i.row())], i.column()));
        changePersistentIndexList(before, after);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    std::vector<Row> rows;
    std::vector<QString> headings;
    FirstTextIndex firstCells;

private:
    CListCtrlEx &m_list;
};

CListCtrlEx::CListCtrlEx(QWidget *parent) : QTreeView(parent), m_model(new Model(*this))
{
    setModel(m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    header()->installEventFilter(this);
    viewport()->installEventFilter(this);

    m_defaultBackground = colorToRef(palette().color(QPalette::Base));
    m_defaultText = colorToRef(palette().color(QPalette::Text));

    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) {
        endEdit(true);
        // The header moves its arrow on every click; a column that does not
        // sort gets the old arrow back.
        if (!sortColumn(section, true))
            showSortArrow();
    });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (!startEdit(index.row(), index.column()))
            Q_EMIT itemDoubleClicked(index.row(), index.column());
    });
    // Scrolling moves the cells away from an open editor: the edit ends, kept.
    // Rows or columns that come and go move the editor with its cell instead.
    auto endOnScroll = [this] {
        if (m_editActive && !m_reshaping)
            endEdit(true);
    };
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, endOnScroll);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, endOnScroll);
}

CListCtrlEx::~CListCtrlEx()
{
    // The owner keeps its editor; give it back before the viewport goes.
    if (m_editor && m_editor->parent() == viewport()) {
        m_editor->hide();
        m_editor->setParent(nullptr);
    }
}

QColor CListCtrlEx::colorFromRef(quint32 c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

quint32 CListCtrlEx::colorToRef(const QColor &c)
{
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

int CListCtrlEx::insertColumn(int index, const QString &heading, int width)
{
    index = std::clamp(index, 0, columnCount());
    // Settings are keyed by column index; later columns move up by one.
    std::map<int, ColumnSettings> moved;
    for (auto &[col, s] : m_columns) {
        ColumnSettings c = s;
        if (col >= index)
            c.column = col + 1;
        moved[c.column] = c;
    }
    m_columns.swap(moved);
    if (m_sortColumn >= index)
        ++m_sortColumn;
    if (m_editActive && m_editColumn >= index)
        ++m_editColumn;
    if (m_navColumn >= index)
        ++m_navColumn;
    const QScopedValueRollback<bool> reshaping(m_reshaping, true);
    m_model->insertColumnAt(index, heading);
    setColumnWidth(index, width);
    showSortArrow();
    placeEditor();
    return index;
}

bool CListCtrlEx::deleteColumn(int column)
{
    if (column < 0 || column >= columnCount())
        return false;
    if (m_editActive && m_editColumn == column)
        endEdit(false);
    // Settings are keyed by column index; later columns move down by one.
    std::map<int, ColumnSettings> moved;
    for (auto &[col, s] : m_columns) {
        if (col == column)
            continue;
        ColumnSettings c = s;
        if (col > column)
            c.column = col - 1;
        moved[c.column] = c;
    }
    m_columns.swap(moved);
    if (m_sortColumn == column)
        m_sortColumn = -1;
    else if (m_sortColumn > column)
        --m_sortColumn;
    if (m_editActive && m_editColumn > column)
        --m_editColumn;
    if (m_navColumn == column)
        m_navRow = m_navColumn = -1;
    else if (m_navColumn > column)
        --m_navColumn;
    // The header tooltip belongs to the second column.
    if (column <= 1)
        m_headerTipSet = false;
    const QScopedValueRollback<bool> reshaping(m_reshaping, true);
    m_model->removeColumnAt(column);
    showSortArrow();
    placeEditor();
    return true;
}

void CListCtrlEx::deleteAllColumns()
{
    while (columnCount() > 0)
        deleteColumn(columnCount() - 1);
}

int CListCtrlEx::columnCount() const
{
    return int(m_model->headings.size());
}

QString CListCtrlEx::columnHeading(int column) const
{
    return column >= 0 && column < columnCount() ? m_model->headings[size_t(column)] : QString();
}

CListCtrlEx::ColumnSettings &CListCtrlEx::ensureColumnSettings(int column)
{
    auto it = m_columns.find(column);
    if (it == m_columns.end()) {
        ColumnSettings s;
        s.column = column;
        it = m_columns.emplace(column, s).first;
    }
    return it->second;
}

const CListCtrlEx::ColumnSettings *CListCtrlEx::columnSettings(int column) const
{
    const auto it = m_columns.find(column);
    return it == m_columns.end() ? nullptr : &it->second;
}

void CListCtrlEx::setColumnReadOnly(int column, bool readOnly)
{
    ensureColumnSettings(column).readOnly = readOnly;
}

void CListCtrlEx::setColumnSort(int column, ListSort::Kind kind, int flags)
{
    ColumnSettings &s = ensureColumnSettings(column);
    s.sortKind = kind;
    s.sortFlags = flags;
}

int CListCtrlEx::insertItem(int index, const QString &text)
{
    const QScopedValueRollback<bool> reshaping(m_reshaping, true);
    const int at = m_model->insertRowAt(index, text);
    if (m_editActive && m_editRow >= at)
        ++m_editRow;
    if (m_navRow >= at)
        ++m_navRow;
    placeEditor();
    return at;
}

int CListCtrlEx::itemCount() const
{
    return int(m_model->rows.size());
}

bool CListCtrlEx::setItemText(int row, int column, const QString &text)
{
    if (row < 0 || row >= itemCount() || column < 0 || column >= qMax(1, columnCount()))
        return false;
    QStringList &cells = m_model->rows[size_t(row)].cells;
    if (column < cells.size() && cells[column] == text)
        return true; // nothing to redraw
    while (cells.size() <= column)
        cells.append(QString());
    cells[column] = text;
    if (column == 0)
        m_model->dropIndex();
    const QModelIndex i = m_model->index(row, column);
    Q_EMIT m_model->dataChanged(i, i, {Qt::DisplayRole});
    return true;
}

QString CListCtrlEx::itemText(int row, int column) const
{
    if (row < 0 || row >= itemCount())
        return {};
    const QStringList &cells = m_model->rows[size_t(row)].cells;
    return column >= 0 && column < cells.size() ? cells[column] : QString();
}

bool CListCtrlEx::deleteItem(int row)
{
    if (row < 0 || row >= itemCount())
        return false;
    if (m_editActive && row == m_editRow)
        endEdit(false);
    const QScopedValueRollback<bool> reshaping(m_reshaping, true);
    m_model->removeRowAt(row);
    // The rows below move up by one: the edit and the Tab cell go with them.
    if (m_editActive && m_editRow > row)
        --m_editRow;
    if (m_navRow == row)
        m_navRow = m_navColumn = -1;
    else if (m_navRow > row)
        --m_navRow;
    placeEditor();
    return true;
}

void CListCtrlEx::deleteAllItems()
{
    if (m_editActive)
        endEdit(false);
    m_navRow = m_navColumn = -1;
    m_model->clear();
}

CListCtrlEx::ItemData *CListCtrlEx::ensureItemData(int row)
{
    if (row < 0 || row >= itemCount())
        return nullptr;
    ItemData &d = m_model->rows[size_t(row)].data;
    d.userValue = 0;
    return &d;
}

const CListCtrlEx::ItemData *CListCtrlEx::itemData(int row) const
{
    if (row < 0 || row >= itemCount())
        return nullptr;
    return &m_model->rows[size_t(row)].data;
}

void CListCtrlEx::setItemColor(int row, quint32 background)
{
    setItemColors(row, background, kNoColor);
}

void CListCtrlEx::setItemColors(int row, quint32 background, quint32 textColor)
{
    if (row < 0 || row >= itemCount())
        return;
    ItemData &d = m_model->rows[size_t(row)].data;
    if (d.background == background && d.textColor == textColor)
        return; // nothing to redraw
    d.background = background;
    d.textColor = textColor;
    m_model->rowChanged(row);
}

void CListCtrlEx::appendItems(std::vector<NewItem> items)
{
    const QScopedValueRollback<bool> reshaping(m_reshaping, true);
    m_model->appendItems(std::move(items));
    placeEditor();
}

int CListCtrlEx::findItemExact(const QString &text) const
{
    return m_model->findExact(text);
}

int CListCtrlEx::findItem(const QString &text) const
{
    for (size_t i = 0; i < m_model->rows.size(); ++i) {
        const QStringList &cells = m_model->rows[i].cells;
        const QString first = cells.isEmpty() ? QString() : cells[0];
        if (first.compare(text, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

bool CListCtrlEx::checkState(int row) const
{
    return row >= 0 && row < itemCount() && m_model->rows[size_t(row)].checked;
}

void CListCtrlEx::setCheck(int row, bool checked)
{
    if (row < 0 || row >= itemCount())
        return;
    bool &c = m_model->rows[size_t(row)].checked;
    if (c == checked)
        return;
    c = checked;
    const QModelIndex i = m_model->index(row, 0);
    Q_EMIT m_model->dataChanged(i, i, {Qt::CheckStateRole});
    Q_EMIT checkChanged(row, checked);
}

void CListCtrlEx::setCheckBoxes(bool on)
{
    if (m_checkBoxes == on)
        return;
    m_checkBoxes = on;
    if (itemCount() > 0)
        Q_EMIT m_model->dataChanged(m_model->index(0, 0), m_model->index(itemCount() - 1, 0));
}

bool CListCtrlEx::sortColumn(int column, bool toggle)
{
    const auto it = m_columns.find(column);
    if (it == m_columns.end() || (it->second.sortFlags & 7) == 0)
        return false;
    // The rows move: an edit in progress ends first, on its own row.
    if (m_editActive)
        endEdit(true);
    ColumnSettings &s = it->second;
    if (s.sortFlags & SortToggle) {
        // The first click on a fresh column sorts ascending, each further one reverses.
        if ((s.sortFlags & (SortAscending | SortDescending)) == 0)
            s.sortFlags |= SortDescending;
        if (toggle) {
            const int dir = s.sortFlags & (SortAscending | SortDescending);
            s.sortFlags &= ~(SortAscending | SortDescending);
            if (dir & SortAscending)
                s.sortFlags |= SortDescending;
            if (dir & SortDescending)
                s.sortFlags |= SortAscending;
        }
    }
    const bool ascending = (s.sortFlags & SortAscending) != 0;
    m_sortColumn = column;
    m_model->sortBy(column, s.sortKind, ascending ? 1 : -1);
    showSortArrow();
    return true;
}

void CListCtrlEx::showSortArrow()
{
    const ColumnSettings *s = columnSettings(m_sortColumn);
    if (!s) {
        header()->setSortIndicator(-1, Qt::AscendingOrder);
        return;
    }
    // Qt's styles draw the "up" arrow for the descending indicator.
    const bool ascending = (s->sortFlags & SortAscending) != 0;
    header()->setSortIndicator(m_sortColumn, ascending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

CListCtrlEx::SortArrow CListCtrlEx::sortArrow(int column) const
{
    if (column != m_sortColumn || header()->sortIndicatorSection() != column)
        return SortArrow::None;
    return header()->sortIndicatorOrder() == Qt::DescendingOrder ? SortArrow::Up : SortArrow::Down;
}

void CListCtrlEx::setColumnHeaderTooltip(const QString &text)
{
    if (columnCount() <= 1)
        return;
    m_headerTipSet = true;
    m_headerTip = text.isEmpty() ? columnHeading(1).left(80) : text;
}

QString CListCtrlEx::headerToolTipAt(const QPoint &headerPos) const
{
    if (!m_headerTipSet || columnCount() <= 1)
        return {};
    if (header()->logicalIndexAt(headerPos.x()) != 1)
        return {};
    if (headerPos.y() < 0 || headerPos.y() >= header()->height())
        return {};
    return m_headerTip;
}

void CListCtrlEx::setHideVerticalBar(bool hide)
{
    m_hideVertical = hide;
    setVerticalScrollBarPolicy(hide ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
}

void CListCtrlEx::setHideHorizontalBar(bool hide)
{
    m_hideHorizontal = hide;
    setHorizontalScrollBarPolicy(hide ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
}

void CListCtrlEx::setDefaultEditor(QWidget *editor, bool readOnly)
{
    if (m_editActive)
        endEdit(true);
    m_editor = editor;
    m_editorReadOnly = readOnly;
    if (editor)
        editor->hide();
}

void CListCtrlEx::watchEditor(QWidget *w)
{
    w->removeEventFilter(this);
    w->installEventFilter(this);
    for (QWidget *child : w->findChildren<QWidget *>()) {
        child->removeEventFilter(this);
        child->installEventFilter(this);
    }
}

bool CListCtrlEx::insideEditor(const QObject *object) const
{
    for (const QObject *o = object; o; o = o->parent()) {
        if (o == m_editor.data())
            return true;
    }
    return false;
}

void CListCtrlEx::placeEditor()
{
    if (!m_editActive || !m_editor)
        return;
    executeDelayedItemsLayout();
    QRect cell = visualRect(m_model->index(m_editRow, m_editColumn));
    cell.setRight(qMin(cell.right(), viewport()->width() - 4 - 1));
    m_editor->setGeometry(cell);
}

bool CListCtrlEx::startEdit(int row, int column)
{
    endEdit(true);
    if (row < 0 || row >= itemCount() || column < 0 || column >= columnCount())
        return false;
    if (const ColumnSettings *s = columnSettings(column); s && s->readOnly)
        return false;

    const QModelIndex index = m_model->index(row, column);
    scrollTo(index);
    QRect cell = visualRect(index);
    const int viewportWidth = viewport()->width();
    if (cell.right() >= viewportWidth) {
        const int overhang =
            cell.width() > viewportWidth ? cell.left() : cell.right() - viewportWidth + 1;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + overhang);
    } else if (cell.left() < 0) {
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + cell.left());
    }
    cell = visualRect(index);
    cell.setRight(qMin(cell.right(), viewportWidth - 4 - 1));

    if (!m_editor || m_editorReadOnly)
        return false;

    m_editRow = row;
    m_editColumn = column;
    m_navRow = row;
    m_navColumn = column;

    const QMetaProperty text = m_editor->metaObject()->userProperty();
    if (text.isValid())
        text.write(m_editor, itemText(row, column));

    clearSelection();
    if (m_editor->parentWidget() != viewport())
        m_editor->setParent(viewport());
    m_editor->setGeometry(cell);
    m_editor->show();
    m_editor->raise();
    m_editor->setFocus(Qt::OtherFocusReason);
    watchEditor(m_editor);
    m_editActive = true;
    return true;
}

void CListCtrlEx::endEdit(bool keep)
{
    if (m_ending || !m_editActive)
        return;
    m_ending = true;
    m_editActive = false;
    const int row = m_editRow;
    const int column = m_editColumn;
    bool kept = false;
    if (m_editor) {
        const bool hadFocus = insideEditor(QApplication::focusWidget());
        if (hadFocus)
            setFocus(Qt::OtherFocusReason);
        m_editor->hide();
        if (row >= 0 && row < itemCount() && keep) {
            const QMetaProperty text = m_editor->metaObject()->userProperty();
            if (text.isValid()) {
                setItemText(row, column, text.read(m_editor).toString());
                kept = true;
            }
        }
        if (row >= 0 && row < itemCount())
            m_model->rowChanged(row);
    }
    m_editRow = -1;
    m_editColumn = -1;
    m_ending = false;
    Q_EMIT editFinished(row, column, kept);
}

bool CListCtrlEx::navigate(bool forward)
{
    const int rows = itemCount();
    const int cols = columnCount();
    if (rows == 0 || cols == 0)
        return false;
    int r = m_navRow;
    int c = m_navColumn;
    auto step = [&] {
        if (forward) {
            if (++c >= cols) {
                c = 0;
                ++r;
            }
        } else if (--c < 0) {
            c = cols - 1;
            --r;
        }
    };
    if (r < 0 || r >= rows || c < 0 || c >= cols) {
        r = forward ? 0 : rows - 1;
        c = forward ? 0 : cols - 1;
    } else {
        step();
    }
    while (r >= 0 && r < rows) {
        if (startEdit(r, c))
            return true;
        step();
    }
    // Past the last (or first) row: the edit ends, kept, and the focus moves on.
    endEdit(true);
    m_navRow = -1;
    m_navColumn = -1;
    return false;
}

bool CListCtrlEx::event(QEvent *e)
{
    if (e->type() == QEvent::KeyPress) {
        auto *k = static_cast<QKeyEvent *>(e);
        if ((k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) &&
            !(k->modifiers() & Qt::ControlModifier)) {
            const bool forward = k->key() == Qt::Key_Tab && !(k->modifiers() & Qt::ShiftModifier);
            if (navigate(forward)) {
                e->accept();
                return true;
            }
        }
    }
    return QTreeView::event(e);
}

bool CListCtrlEx::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == header()) {
        if (e->type() == QEvent::ToolTip) {
            auto *help = static_cast<QHelpEvent *>(e);
            const QString tip = headerToolTipAt(help->pos());
            if (tip.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), tip, header());
            return true;
        }
        if (e->type() == QEvent::MouseButtonPress && m_editActive)
            endEdit(true);
        return QTreeView::eventFilter(watched, e);
    }
    if (watched == viewport()) {
        if ((e->type() == QEvent::MouseButtonPress || e->type() == QEvent::Wheel) && m_editActive)
            endEdit(true);
        return QTreeView::eventFilter(watched, e);
    }
    if (m_editActive && insideEditor(watched)) {
        switch (e->type()) {
        case QEvent::KeyPress: {
            auto *k = static_cast<QKeyEvent *>(e);
            switch (k->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                endEdit(true);
                return true;
            case Qt::Key_Escape:
                endEdit(false);
                return true;
            case Qt::Key_Tab:
            case Qt::Key_Backtab:
                if (k->modifiers() & Qt::ControlModifier)
                    break;
                if (!navigate(k->key() == Qt::Key_Tab && !(k->modifiers() & Qt::ShiftModifier)))
                    focusNextPrevChild(k->key() == Qt::Key_Tab &&
                                       !(k->modifiers() & Qt::ShiftModifier));
                return true;
            default:
                break;
            }
            break;
        }
        case QEvent::FocusOut: {
            auto *f = static_cast<QFocusEvent *>(e);
            // The editor's own drop-down takes the focus without ending the edit.
            if (f->reason() != Qt::PopupFocusReason && !insideEditor(QApplication::focusWidget()))
                endEdit(true);
            break;
        }
        default:
            break;
        }
    }
    return QTreeView::eventFilter(watched, e);
}
