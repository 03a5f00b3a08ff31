#pragma once

#include "widgets/listsort.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>
#include <QTreeView>

#include <map>
#include <vector>

// The report list behind the IP list and the memo list: rows with check
// boxes and per-row colours, columns with read-only and sort settings,
// sorting by a header click with the header's arrow, a tooltip on the second
// column's header, either scroll bar hidden on request, and in-place editing
// of a cell with an editor widget that the owner supplies.
//
// Colours are COLORREF values (0x00BBGGRR); kNoColor means "not set".
class CListCtrlEx : public QTreeView
{
    Q_OBJECT
public:
    static constexpr quint32 kNoColor = 0xFFFFFFFFu;

    // The record every row carries.
    struct ItemData
    {
        quint32 background = kNoColor;
        quint32 textColor = kNoColor;
        quint32 userValue = 0;
    };

    // Sort flags of a column: any of them makes the column sortable.
    enum SortFlag { SortAscending = 1, SortDescending = 2, SortToggle = 4 };

    struct ColumnSettings
    {
        int column = 0;
        bool readOnly = false;
        int sortFlags = 0;
        ListSort::Kind sortKind = ListSort::Kind::Text;
    };

    enum class SortArrow { None, Up, Down };

    explicit CListCtrlEx(QWidget *parent = nullptr);
    ~CListCtrlEx() override;

    static QColor colorFromRef(quint32 colorRef);
    static quint32 colorToRef(const QColor &color);

    // Columns.
    // Later columns move up by one; their settings and the sort column follow.
    int insertColumn(int index, const QString &heading, int width);
    // Deletes the column with its cells and settings; later columns move down
    // by one with their settings. Deleting the sort column forgets it; an edit
    // in the column ends without keeping its text. False for no such column.
    bool deleteColumn(int column);
    void deleteAllColumns();
    int columnCount() const;
    QString columnHeading(int column) const;
    ColumnSettings &ensureColumnSettings(int column);
    const ColumnSettings *columnSettings(int column) const;
    void setColumnReadOnly(int column, bool readOnly);
    void setColumnSort(int column, ListSort::Kind kind, int flags);

    // Rows.
    // Rows inserted or deleted above the row being edited move the edit with
    // its row.
    int insertItem(int index, const QString &text);
    int itemCount() const;
    bool setItemText(int row, int column, const QString &text);
    QString itemText(int row, int column) const;
    bool deleteItem(int row);
    void deleteAllItems();
    ItemData *ensureItemData(int row);
    const ItemData *itemData(int row) const;
    // Sets the background and puts the text colour back to the default.
    void setItemColor(int row, quint32 background);
    void setItemColors(int row, quint32 background, quint32 textColor);
    // Appends the rows in one step: the view takes them as one insertion.
    // Their check states are set without checkChanged.
    struct NewItem
    {
        QStringList cells;
        bool checked = false;
        quint32 background = kNoColor;
    };
    void appendItems(std::vector<NewItem> items);
    // Exact, case-insensitive search of the first column from the top; -1 when none.
    int findItem(const QString &text) const;
    // The first row whose first cell is exactly the text (case-sensitive);
    // -1 when none. Looked up in an index of the first cells, built again
    // after the rows were sorted, deleted or had their first cell changed.
    int findItemExact(const QString &text) const;
    bool checkState(int row) const;
    void setCheck(int row, bool checked);
    void setCheckBoxes(bool on);
    bool hasCheckBoxes() const { return m_checkBoxes; }

    // The control's own colours, used where a row sets none.
    quint32 defaultBackground() const { return m_defaultBackground; }
    quint32 defaultTextColor() const { return m_defaultText; }

    // Sorts by the column's kind; toggle reverses the direction of a toggling
    // column. Returns false (and changes nothing) for a column that does not sort.
    bool sortColumn(int column, bool toggle);
    int lastSortColumn() const { return m_sortColumn; }
    SortArrow sortArrow(int column) const;

    // The tooltip over the second column's header: the given text, or that
    // column's heading (up to 80 characters) when the text is empty.
    void setColumnHeaderTooltip(const QString &text);
    // The tooltip text shown at a point of the header, empty when none.
    QString headerToolTipAt(const QPoint &headerPos) const;

    void setHideVerticalBar(bool hide);
    void setHideHorizontalBar(bool hide);
    bool hideVerticalBar() const { return m_hideVertical; }
    bool hideHorizontalBar() const { return m_hideHorizontal; }

    // In-place editing. The editor's text is its user property (QLineEdit
    // text, QComboBox current text); the list becomes its parent while an
    // edit runs. Without an editor, or with readOnly, nothing is editable.
    void setDefaultEditor(QWidget *editor, bool readOnly = false);
    QWidget *defaultEditor() const { return m_editor; }
    bool startEdit(int row, int column);
    void endEdit(bool keep);
    bool isEditing() const { return m_editActive; }
    int editRow() const { return m_editRow; }
    int editColumn() const { return m_editColumn; }

Q_SIGNALS:
    // A row's check box changed (by the user or by setCheck).
    void checkChanged(int row, bool checked);
    // A double-click that started no edit; the owner's action runs.
    void itemDoubleClicked(int row, int column);
    // An edit ended; kept tells whether the editor's text went into the cell.
    void editFinished(int row, int column, bool kept);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class Model;
    friend class Model;

    bool navigate(bool forward);
    void showSortArrow();
    bool insideEditor(const QObject *object) const;
    // Puts the open editor over its cell again after rows or columns moved.
    void placeEditor();
    void watchEditor(QWidget *w);

    Model *m_model = nullptr;
    std::map<int, ColumnSettings> m_columns;
    bool m_checkBoxes = false;
    bool m_hideVertical = false;
    bool m_hideHorizontal = false;
    quint32 m_defaultBackground = kNoColor;
    quint32 m_defaultText = kNoColor;
    int m_sortColumn = -1;
    bool m_headerTipSet = false;
    QString m_headerTip;

    QPointer<QWidget> m_editor;
    bool m_editorReadOnly = false;
    bool m_editActive = false;
    bool m_ending = false; // keeps an end of edit from running twice
    bool m_reshaping = false; // rows or columns are being inserted or deleted
    int m_editRow = -1;
    int m_editColumn = -1;
    int m_navRow = -1;
    int m_navColumn = -1;
};
