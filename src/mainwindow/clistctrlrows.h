#pragma once

#include "mainwindow/iplistrows.h"

#include <QObject>
#include <QPointer>

class CListCtrlEx;
class IpListController;

// The IP list's rows on the main window's list control 1019. The list is
// set up as the IP list wants it: check boxes, full-row select, the vertical
// scroll bar always shown, no horizontal one.
class CListCtrlRows : public QObject, public IpListRows
{
    Q_OBJECT
public:
    explicit CListCtrlRows(CListCtrlEx &list, QObject *parent = nullptr);

    // Routes the list's check-box changes (only a click on the box itself
    // counts as the user's choice) and double-clicks to the controller.
    void attach(IpListController &controller);

    void setColumns(const QList<Column> &columns, const QString &secondHeaderTip) override;
    int columnCount() const override;
    int rowCount() const override;
    int appendRow(const QString &firstCell) override;
    void appendRows(std::vector<NewRow> rows) override;
    int findRow(const QString &firstCell) const override;
    void clearRows() override;
    QString text(int row, int column) const override;
    void setText(int row, int column, const QString &text) override;
    void setBackground(int row, quint32 colorRef) override;
    quint32 background(int row) const override;
    bool isChecked(int row) const override;
    void setChecked(int row, bool checked) override;
    int selectedRow() const override;
    void selectRow(int row) override;
    void sortAgain() override;
    void removeSortArrow() override;

    // Whether the mouse pointer is on the check box of the row.
    bool pointerOnCheckBox(int row) const;

private:
    CListCtrlEx &m_list;
    QPointer<IpListController> m_controller;
    bool m_programSetsCheck = false;
};
