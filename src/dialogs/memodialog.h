#pragma once

#include "session/sessioncodec.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QRect>

class CListCtrlEx;
class Prompter;
class QLineEdit;

// What the memo panel needs of the main window.
class MemoHost
{
public:
    virtual ~MemoHost() = default;
    // The IP list (control 1019): its ID column, its scrolling and its
    // vertical scroll bar, which the panel takes over while it is shown.
    virtual CListCtrlEx &ipList() = 0;
    // 1 fixed IP, 2 dynamic IP, 3 KT fixed IP.
    virtual int productType() const = 0;
    // The main window's memo-shown flag.
    virtual bool memoShown() const = 0;
    virtual void setMemoShown(bool shown) = 0;
    // Button 1087.
    virtual void setMemoButtonEnabled(bool enabled) = 0;
    // Where the panel goes, in screen coordinates: x the main window's right
    // edge - 170, y the list's top, 300 wide, the list's height.
    virtual QRect panelGeometry() const = 0;
    // SM_MEMO_LIST_REQUEST and SM_MEMO_SAVE; false when nothing was sent.
    virtual bool sendMemoListRequest() = 0;
    virtual bool sendMemoSave(const MemoInfo &memo) = 0;
    virtual Prompter &prompter() = 0;
};

// The memo panel (template 105): a borderless tool window over the right
// part of the IP list with one memo line per IP list row, edited in place.
// Row j of the memo list always belongs to row j of the IP list: the rows
// are derived again from the memo map whenever the IP list's rows change
// (sorting, rebuilding, a new product), and the two lists scroll together.
class MemoDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kListId = 1088;
    static constexpr int kEditorId = 1041;
    static constexpr int kIdColumn = 2;
    static constexpr int kMaxMemoLength = 255;

    explicit MemoDialog(MemoHost &host, QWidget *parent = nullptr);
    ~MemoDialog() override;

    // Button 1087: hides the panel when it is shown, else hides the IP
    // list's vertical scroll bar and asks the server for the memos.
    void memoButtonClicked();
    // SM_MEMO_LIST arrived with n = the frame's param records.
    void memoListReceived(const QList<MemoInfo> &records);
    // Hides the panel and gives the IP list its scroll bar back (forced
    // sign-out, log-out, Esc on the main window).
    void hidePanel();

    // Fill: the column, the memo map and one row per IP list row. False
    // (and an empty map) when there are no records.
    bool fill(const QList<MemoInfo> &records);
    // The rows again from the memo map, against the IP list as it is now.
    void refreshRows();

    CListCtrlEx *memoList() const { return m_list; }
    QLineEdit *editor() const { return m_editor; }
    const QHash<QString, QString> &memos() const { return m_memos; }

    // "'" becomes "\'", as the server expects the text.
    static QString escapeApostrophes(const QString &text);
    // The user number of an ID text: "@" removed, the leading decimal
    // number, 0 when there is none.
    static int userNumberOf(const QString &idText);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setUpColumn();
    void save(int row, int column, bool kept);
    void memoScrolled(int value);
    void ipListScrolled(int value);
    void alignWithIpList();
    void scheduleRefresh();
    void setIpScrollBarHidden(bool hidden);

    MemoHost &m_host;
    QHash<QString, QString> m_memos;
    CListCtrlEx *m_list = nullptr;
    QLineEdit *m_editor = nullptr;
    bool m_programmaticScroll = false;
    bool m_refreshQueued = false;
    // The ID (IP list column 2) of the row the open edit belongs to.
    QString m_editKey;
};
