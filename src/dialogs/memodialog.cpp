#include "memodialog.h"

#include "platform/prompter.h"
#include "widgets/clistctrlex.h"

#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>

#include <limits>

namespace {

const QString kColumnHeading = QStringLiteral("메모 - 더블클릭 : 수정");
constexpr int kColumnWidth = 278;
constexpr int kPanelWidth = 300;

// Memo rows as high as the IP list's rows, so that row j of both lists
// stands side by side.
class RowHeightDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    int height = 0;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        if (height > 0)
            s.setHeight(height);
        return s;
    }
};

} // namespace

MemoDialog::MemoDialog(MemoHost &host, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint), m_host(host)
{
    setObjectName(QStringLiteral("105"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    resize(kPanelWidth, 222);

    m_list = new CListCtrlEx(this);
    m_list->setObjectName(QString::number(kListId));
    m_list->setGeometry(0, 0, kPanelWidth, height());
    m_list->setHideHorizontalBar(true);
    m_list->setItemDelegate(new RowHeightDelegate(m_list));
    m_list->setVerticalScrollMode(m_host.ipList().verticalScrollMode());
    m_editor = new QLineEdit(this);
    m_editor->setObjectName(QString::number(kEditorId));
    m_editor->hide();
    m_editor->installEventFilter(this);
    setUpColumn();

    connect(m_list, &CListCtrlEx::editFinished, this, &MemoDialog::save);
    connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &MemoDialog::memoScrolled);
    CListCtrlEx &ip = m_host.ipList();
    connect(ip.verticalScrollBar(), &QScrollBar::valueChanged, this, &MemoDialog::ipListScrolled);
    // Every change of the IP list's rows (sorting, a rebuild, a new product's
    // columns, a changed ID) puts the memos against the rows again.
    QAbstractItemModel *model = ip.model();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, &MemoDialog::scheduleRefresh);
    connect(model, &QAbstractItemModel::modelReset, this, &MemoDialog::scheduleRefresh);
    connect(model, &QAbstractItemModel::layoutChanged, this, &MemoDialog::scheduleRefresh);
    connect(model, &QAbstractItemModel::dataChanged, this, &MemoDialog::scheduleRefresh);
}

MemoDialog::~MemoDialog()
{
    // The window goes (exit): an open edit ends without being sent.
    m_editor->removeEventFilter(this);
    disconnect(m_list, nullptr, this, nullptr);
    m_list->endEdit(false);
}

QString MemoDialog::escapeApostrophes(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return out;
}

int MemoDialog::userNumberOf(const QString &idText)
{
    QString digits = idText;
    digits.remove(QLatin1Char('@'));
    qint64 n = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        n = n * 10 + (c.unicode() - '0');
        if (n > std::numeric_limits<int32_t>::max())
            return 0; // no number the server hands out
    }
    return int(n);
}

void MemoDialog::setUpColumn()
{
    m_list->deleteAllItems();
    m_list->deleteAllColumns();
    m_list->insertColumn(0, kColumnHeading, kColumnWidth);
    m_list->setDefaultEditor(m_editor);
}

void MemoDialog::setIpScrollBarHidden(bool hidden)
{
    CListCtrlEx &ip = m_host.ipList();
    ip.setHideVerticalBar(hidden);
    ip.update();
}

void MemoDialog::memoButtonClicked()
{
    if (m_host.memoShown()) {
        setIpScrollBarHidden(false);
        m_host.setMemoButtonEnabled(false);
        hide();
        m_host.setMemoShown(false);
        m_host.setMemoButtonEnabled(true);
        return;
    }
    setIpScrollBarHidden(true);
    m_host.sendMemoListRequest();
}

void MemoDialog::hidePanel()
{
    if (m_list->isEditing())
        m_list->endEdit(true);
    hide();
    setIpScrollBarHidden(false);
    m_host.setMemoShown(false);
}

void MemoDialog::memoListReceived(const QList<MemoInfo> &records)
{
    setGeometry(m_host.panelGeometry());
    m_host.setMemoButtonEnabled(false);
    const bool filled = fill(records);
    alignWithIpList();
    if (filled) {
        m_host.setMemoShown(true);
        show();
        // Shown, the list has its size and its scroll range: align again.
        m_list->doItemsLayout();
        alignWithIpList();
    } else {
        // The panel stays hidden, so the list gets its scroll bar back.
        setIpScrollBarHidden(false);
        m_host.prompter().show(QStringLiteral("다시 시도해 주십시오."), kNoticeCaption, Mb::Notice);
    }
    m_host.setMemoButtonEnabled(true);
}

bool MemoDialog::fill(const QList<MemoInfo> &records)
{
    // Emptying the list moves its scroll bar; the IP list stays where it is.
    m_programmaticScroll = true;
    setUpColumn();
    m_programmaticScroll = false;
    m_memos.clear();
    if (records.isEmpty())
        return false;
    for (const MemoInfo &m : records)
        m_memos.insert(QStringLiteral("@%1").arg(m.userNumber), m.text);
    refreshRows();
    return true;
}

void MemoDialog::scheduleRefresh()
{
    if (m_refreshQueued || !m_host.memoShown())
        return;
    m_refreshQueued = true;
    QTimer::singleShot(0, this, &MemoDialog::refreshRows);
}

void MemoDialog::refreshRows()
{
    m_refreshQueued = false;
    CListCtrlEx &ip = m_host.ipList();
    const int n = ip.itemCount();
    // An open edit stays open while its row still belongs to the same
    // address; otherwise it ends here and is saved for the address it was
    // opened on.
    if (m_list->isEditing()) {
        const int r = m_list->editRow();
        const bool same =
            m_list->itemCount() == n && r < n && ip.itemText(r, kIdColumn) == m_editKey;
        if (!same)
            m_list->endEdit(true);
    }
    auto *delegate = static_cast<RowHeightDelegate *>(m_list->itemDelegate());
    const int rowHeight = n > 0 ? ip.sizeHintForRow(0) : 0;
    if (rowHeight > 0 && delegate->height != rowHeight) {
        delegate->height = rowHeight;
        m_list->doItemsLayout();
    }
    const bool fixed = m_host.productType() == 1;
    m_programmaticScroll = true;
    while (m_list->itemCount() > n)
        m_list->deleteItem(m_list->itemCount() - 1);
    for (int j = 0; j < n; ++j) {
        const QString text = fixed ? m_memos.value(ip.itemText(j, kIdColumn)) : QString();
        if (j >= m_list->itemCount())
            m_list->insertItem(j, text);
        else if (!(m_list->isEditing() && j == m_list->editRow()))
            m_list->setItemText(j, 0, text);
    }
    m_programmaticScroll = false;
    alignWithIpList();
}

void MemoDialog::save(int row, int column, bool kept)
{
    const QString key = m_editKey;
    m_editKey.clear();
    if (!kept || row < 0 || column != 0)
        return;
    const QString typed = m_list->itemText(row, 0);
    const QString text = escapeApostrophes(typed);
    const MemoInfo memo {userNumberOf(key), text};
    bool cut = false;
    memo.encode(&cut);
    // Too long, or more than the record's 255 bytes in the code page.
    if (text.size() >= kMaxMemoLength || cut) {
        m_host.prompter().show(QStringLiteral("메모는 길이 255 이하만 됩니다."), QString(), Mb::Ok);
        // The row shows the memo that is still kept.
        if (row < m_list->itemCount())
            m_list->setItemText(row, 0, m_host.productType() == 1 ? m_memos.value(key) : QString());
        return;
    }
    // The map keeps the text as the server gives it back: without the escape.
    m_memos.insert(key, typed);
    m_host.sendMemoSave(memo);
}

bool MemoDialog::eventFilter(QObject *watched, QEvent *event)
{
    // The edit opens: remember the address (its ID) the row belongs to now.
    if (watched == m_editor && event->type() == QEvent::Show) {
        const int r = m_list->editRow();
        CListCtrlEx &ip = m_host.ipList();
        m_editKey = r >= 0 && r < ip.itemCount() ? ip.itemText(r, kIdColumn) : QString();
    }
    return QDialog::eventFilter(watched, event);
}

void MemoDialog::alignWithIpList()
{
    m_programmaticScroll = true;
    m_list->verticalScrollBar()->setValue(m_host.ipList().verticalScrollBar()->value());
    m_programmaticScroll = false;
}

void MemoDialog::memoScrolled(int value)
{
    if (m_programmaticScroll)
        return;
    m_programmaticScroll = true;
    m_host.ipList().verticalScrollBar()->setValue(value);
    m_programmaticScroll = false;
}

void MemoDialog::ipListScrolled(int value)
{
    if (m_programmaticScroll || !m_host.memoShown())
        return;
    m_programmaticScroll = true;
    m_list->verticalScrollBar()->setValue(value);
    m_programmaticScroll = false;
}

void MemoDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (m_list)
        m_list->setGeometry(m_list->x(), m_list->y(), kPanelWidth, height());
}
