#pragma once

#include "platform/firsttextindex.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

// The rows the IP list shows, as the IP list model sees them: a table of
// texts with a check box and a background colour per row. The main window
// puts its list control behind it; the model's own tests and the benchmark
// use the plain table below.
class IpListRows
{
public:
    // Colours are COLORREF values (0x00BBGGRR); kNoColor is "not set".
    static constexpr quint32 kNoColor = 0xFFFFFFFFu;

    enum class SortKind { Text, NumberOrText, Address };

    struct Column
    {
        QString heading;
        int width = 0;
        SortKind sortKind = SortKind::Text;
    };

    virtual ~IpListRows() = default;

    // Deletes every column and row, then inserts the columns (read-only,
    // sortable by a header click) with the header tooltip of column 1.
    virtual void setColumns(const QList<Column> &columns, const QString &secondHeaderTip) = 0;
    virtual int columnCount() const = 0;

    virtual int rowCount() const = 0;
    // Appends a row with its first cell; returns its index.
    virtual int appendRow(const QString &firstCell) = 0;
    // A row to append: its cells, background and check box (set by the program).
    struct NewRow
    {
        QStringList cells;
        quint32 background = kNoColor;
        bool checked = false;
    };
    // Appends the rows in one step, as appendRow, setText, setBackground and
    // setChecked row by row would leave them.
    virtual void appendRows(std::vector<NewRow> rows) = 0;
    // The first row whose first cell is exactly the text; -1 when none.
    virtual int findRow(const QString &firstCell) const = 0;
    // Deletes every row and its row data.
    virtual void clearRows() = 0;
    virtual QString text(int row, int column) const = 0;
    virtual void setText(int row, int column, const QString &text) = 0;
    // Background colour with the default text colour.
    virtual void setBackground(int row, quint32 colorRef) = 0;
    virtual quint32 background(int row) const = 0;
    virtual bool isChecked(int row) const = 0;
    // Sets the check box from the program (never stored as the user's choice).
    virtual void setChecked(int row, bool checked) = 0;

    // The first selected row, -1 when none.
    virtual int selectedRow() const = 0;
    // Selects and focuses the row and scrolls it into view.
    virtual void selectRow(int row) = 0;

    // Sorts again by the column the user last sorted by, in the same
    // direction; nothing when the user has not sorted.
    virtual void sortAgain() = 0;
    // Removes the header's sort arrow; the remembered sort column stays.
    virtual void removeSortArrow() = 0;
};

// A plain in-memory table.
class MemoryIpListRows : public IpListRows
{
public:
    struct Row
    {
        QStringList cells;
        quint32 background = kNoColor;
        bool checked = false;
    };

    void setColumns(const QList<Column> &columns, const QString &secondHeaderTip) override;
    int columnCount() const override { return int(m_columns.size()); }
    int rowCount() const override { return int(m_rows.size()); }
    int appendRow(const QString &firstCell) override;
    void appendRows(std::vector<NewRow> rows) override;
    int findRow(const QString &firstCell) const override;
    void clearRows() override
    {
        m_rows.clear();
        m_selected = -1;
        m_index.clear();
    }
    QString text(int row, int column) const override;
    void setText(int row, int column, const QString &text) override;
    void setBackground(int row, quint32 colorRef) override;
    quint32 background(int row) const override;
    bool isChecked(int row) const override;
    void setChecked(int row, bool checked) override;
    int selectedRow() const override { return m_selected; }
    void selectRow(int row) override { m_selected = row; }
    void sortAgain() override;
    void removeSortArrow() override { m_arrowShown = false; }

    // The user's header click: sorts by the column's kind, reversing the
    // direction on a repeated click as the list control does.
    void sortByUser(int column);
    const QList<Column> &columns() const { return m_columns; }
    const QString &secondHeaderTip() const { return m_tip; }
    bool sortArrowShown() const { return m_arrowShown; }

private:
    void sortRows();

    QList<Column> m_columns;
    // First row per first-cell text; rebuilt after a sort or a first-cell change.
    FirstTextIndex m_index;
    QString m_tip;
    std::vector<Row> m_rows;
    int m_selected = -1;
    int m_sortColumn = -1;
    bool m_ascending = true;
    bool m_arrowShown = false;
};
