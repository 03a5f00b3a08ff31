#include "iplistrows.h"

#include "platform/ipv4.h"

#include <algorithm>

void MemoryIpListRows::setColumns(const QList<Column> &columns, const QString &secondHeaderTip)
{
    m_rows.clear();
    m_index.clear();
    m_selected = -1;
    m_columns = columns;
    m_tip = secondHeaderTip;
    m_sortColumn = -1;
    m_arrowShown = false;
}

int MemoryIpListRows::appendRow(const QString &firstCell)
{
    Row r;
    r.cells.append(firstCell);
    m_rows.push_back(std::move(r));
    m_index.appended(firstCell, rowCount() - 1);
    return rowCount() - 1;
}

void MemoryIpListRows::appendRows(std::vector<NewRow> rows)
{
    m_rows.reserve(m_rows.size() + rows.size());
    m_index.expectMore(qsizetype(rows.size()));
    for (NewRow &n : rows) {
        Row r;
        r.cells = std::move(n.cells);
        if (r.cells.isEmpty())
            r.cells.append(QString());
        r.background = n.background;
        r.checked = n.checked;
        m_rows.push_back(std::move(r));
        m_index.appended(m_rows.back().cells[0], rowCount() - 1);
    }
}

int MemoryIpListRows::findRow(const QString &firstCell) const
{
    return m_index.find(
        firstCell, qsizetype(m_rows.size()),
        [this](qsizetype i) -> const QString & { return m_rows[size_t(i)].cells[0]; });
}

QString MemoryIpListRows::text(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0)
        return {};
    const QStringList &cells = m_rows[size_t(row)].cells;
    return column < cells.size() ? cells[column] : QString();
}

void MemoryIpListRows::setText(int row, int column, const QString &text)
{
    if (row < 0 || row >= rowCount() || column < 0)
        return;
    QStringList &cells = m_rows[size_t(row)].cells;
    while (cells.size() <= column)
        cells.append(QString());
    cells[column] = text;
    if (column == 0)
        m_index.drop();
}

void MemoryIpListRows::setBackground(int row, quint32 colorRef)
{
    if (row >= 0 && row < rowCount())
        m_rows[size_t(row)].background = colorRef;
}

quint32 MemoryIpListRows::background(int row) const
{
    return row >= 0 && row < rowCount() ? m_rows[size_t(row)].background : kNoColor;
}

bool MemoryIpListRows::isChecked(int row) const
{
    return row >= 0 && row < rowCount() && m_rows[size_t(row)].checked;
}

void MemoryIpListRows::setChecked(int row, bool checked)
{
    if (row >= 0 && row < rowCount())
        m_rows[size_t(row)].checked = checked;
}

void MemoryIpListRows::sortByUser(int column)
{
    if (column < 0 || column >= columnCount())
        return;
    m_ascending = column == m_sortColumn ? !m_ascending : true;
    m_sortColumn = column;
    m_arrowShown = true;
    sortRows();
}

void MemoryIpListRows::sortAgain()
{
    if (m_sortColumn < 0)
        return;
    m_arrowShown = true;
    sortRows();
}

void MemoryIpListRows::sortRows()
{
    const SortKind kind = m_columns[m_sortColumn].sortKind;
    const int col = m_sortColumn;
    auto cmp = [kind, col](const Row &a, const Row &b) {
        const QString x = col < a.cells.size() ? a.cells[col] : QString();
        const QString y = col < b.cells.size() ? b.cells[col] : QString();
        if (kind == SortKind::Address) {
            const uint32_t u = Ipv4::numericValue(x), v = Ipv4::numericValue(y);
            return u < v ? -1 : (u > v ? 1 : 0);
        }
        if (kind == SortKind::NumberOrText) {
            bool okX = false, okY = false;
            const int u = x.toInt(&okX), v = y.toInt(&okY);
            if (okX && okY)
                return u < v ? -1 : (u > v ? 1 : 0);
        }
        return x.compare(y);
    };
    const bool asc = m_ascending;
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const Row &a, const Row &b) {
        const int c = cmp(a, b);
        return asc ? c < 0 : c > 0;
    });
    m_index.drop();
}
