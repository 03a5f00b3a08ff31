#include "iplistcontroller.h"

#include "core/settings.h"
#include "platform/clock.h"
#include "platform/hotkey.h"
#include "platform/prompter.h"
#include "platform/tcpreset.h"
#include "session/clientsock.h"
#include "session/sessiondispatcher.h"

#include <QTimer>

#include <algorithm>

namespace {
const QString kNoUsableAddress = QStringLiteral("사용할 수 있는 IP가 없습니다.");
} // namespace

bool ClientSockChannel::connected() const
{
    return m_sock.connected();
}

void ClientSockChannel::sendIpInfoRequest()
{
    m_sock.sendIpInfoRequest();
}

void ClientSockChannel::sendIpChangeRequest(const QString &address)
{
    m_sock.sendIpChangeRequest(address);
}

void ClientSockChannel::sendBadIpListRequest()
{
    m_sock.sendBadIpListRequest();
}

bool ClientSockChannel::sendBadIpReport(const BadIpInfo &report)
{
    return m_sock.sendBadIpReport(report) == SessionWire::kHeaderSize + SessionWire::kBadIpInfoSize;
}

void ClientSockChannel::stopReplyWatchdog()
{
    m_sock.stopReplyWatchdog();
}

void ClientSockChannel::clearReconnectFlag()
{
    m_sock.setReconnectFlag(false);
}

IpListController::IpListController(IpListHost &host, IpListRows &rows, IpSessionChannel &session,
                                   TcpConnectionResetter &resetter, const QString &usagePath,
                                   const QString &checkedPath, QObject *parent)
    : QObject(parent), m_host(host), m_model(rows, usagePath, checkedPath), m_session(session),
      m_resetter(resetter)
{
    m_model.setCurrentAddressSource([this] { return m_host.currentAddress(); });
}

IpListController::~IpListController() = default;

void IpListController::connectTo(SessionDispatcher &d)
{
    connect(&d, &SessionDispatcher::loginAccepted, this, &IpListController::onLoginAccepted);
    connect(&d, &SessionDispatcher::loginRefused, this, &IpListController::onLoginRefused);
    connect(&d, &SessionDispatcher::expireDateReceived, this, &IpListController::onExpireDate);
    connect(&d, &SessionDispatcher::fixedListReceived, this, &IpListController::onFixedList);
    connect(&d, &SessionDispatcher::dynamicListReceived, this, &IpListController::onDynamicList);
    connect(&d, &SessionDispatcher::fixedListUpdated, this, &IpListController::onFixedListUpdate);
    connect(&d, &SessionDispatcher::dynamicListUpdated, this,
            &IpListController::onDynamicListUpdate);
    connect(&d, &SessionDispatcher::dynamicIpInfoReceived, this,
            &IpListController::onDynamicIpInfo);
    connect(&d, &SessionDispatcher::changeCompleted, this, &IpListController::onChangeCompleted);
    connect(&d, &SessionDispatcher::changeFailed, this, &IpListController::onChangeFailed);
    connect(&d, &SessionDispatcher::addressInUse, this, &IpListController::onAddressInUse);
    connect(&d, &SessionDispatcher::addressTaken, this, &IpListController::onAddressTaken);
    connect(&d, &SessionDispatcher::addressReleased, this, &IpListController::onAddressReleased);
    connect(&d, &SessionDispatcher::addressShared, this, &IpListController::onAddressShared);
    connect(&d, &SessionDispatcher::addressUnshared, this, &IpListController::onAddressUnshared);
    connect(&d, &SessionDispatcher::addressesAdded, this, &IpListController::onAddressesAdded);
    connect(&d, &SessionDispatcher::sessionEnded, this, &IpListController::onSessionEnded);
    connect(&d, &SessionDispatcher::reportedListReceived, this, &IpListController::onReportedList);
}

void IpListController::setHotKey(GlobalHotKey *hotKey)
{
    if (m_hotKey)
        disconnect(m_hotKey, nullptr, this, nullptr);
    m_hotKey = hotKey;
    if (m_hotKey)
        connect(m_hotKey, &GlobalHotKey::pressed, this, &IpListController::hotKeyPressed);
}

quint64 IpListController::nowSeconds() const
{
    return quint64(std::max<qint64>(0, m_host.clock().now().toSecsSinceEpoch()));
}

// ---------------------------------------------------------------- set-up

void IpListController::loadDataFiles()
{
    m_model.loadUsageHistory();
    m_model.loadCheckedList();
    m_filesLoaded = true;
}

void IpListController::setUpForProduct(int productType)
{
    // The first set-up is the start-up one: the data files are read and,
    // right after the list, the hot key is registered.
    const bool startUp = !m_filesLoaded;
    if (startUp)
        loadDataFiles();
    m_host.setStatusText(QString());
    m_model.setUpColumns(productType);
    // A new sign-in starts without an address in use and without the
    // previous session's lists.
    if (!m_host.currentAddress().isEmpty())
        m_host.setCurrentAddress(QString());
    m_model.setDynamicArray({});
    m_model.setReportedList({});

    const bool dynamic = productType == ProductType::DynamicIp;
    for (int id : {IpControl::ProductLabel, IpControl::ExpiryLabel, IpControl::RandomButton,
                   IpControl::ResetButton})
        m_host.setControlShown(id, dynamic);
    m_host.setControlShown(IpControl::MemoButton, !dynamic);
    if (m_host.fields().autoChange)
        m_host.setAutoChangeBox(true);
    for (int id :
         {IpControl::AutoChange, IpControl::AutoChangeMinutes, IpControl::AutoChangeSlider})
        m_host.setControlShown(id, true);
    initIntervalControls();
    if (startUp)
        applyHotKey();
}

void IpListController::initIntervalControls()
{
    const int seconds = m_host.fields().autoChangeSeconds;
    // The slider holds 1 to 30 minutes; a value outside is shown at the end.
    const int position = std::clamp(seconds / 60, 1, 30);
    m_host.setIntervalControls(position, QString::asprintf("%d분", seconds / 60));
    // The slider is set without notice; its value is applied here, so a
    // stored interval off the slider's whole minutes (500 s, 3600 s, 30 s)
    // becomes the slider's (480 s, 1800 s, 60 s) in the file and in memory.
    intervalSliderDrawn(position);
}

// ---------------------------------------------------------------- row texts

QString IpListController::stateText(int state)
{
    switch (state) {
    case 0:
        return IpState::Unavailable;
    case 1:
        return IpState::Idle;
    case 2:
        return IpState::InUse;
    default:
        return {};
    }
}

QString IpListController::idText(int userNumber, const QString &userId)
{
    if (userNumber > 0)
        return QStringLiteral("@%1").arg(userNumber);
    const qsizetype at = userId.indexOf(QLatin1Char('@'));
    return at >= 0 ? userId.mid(at) : QString();
}

QString IpListController::daysText(int days, const QDateTime &now)
{
    if (days != 0)
        return QStringLiteral("%1일").arg(days);
    QDateTime midnight = now;
    midnight.setTime(QTime(0, 0));
    const qint64 left = midnight.toSecsSinceEpoch() + 86400 - now.toSecsSinceEpoch();
    return QStringLiteral("%1시간").arg(left / 3600);
}

bool IpListController::usable(int row) const
{
    const QString s = m_model.rows().text(row, IpListModel::stateColumn(m_model.productType()));
    return s == IpState::Idle || s == IpState::InUse;
}

void IpListController::fillFixedRows(const QList<FixedIpInfo> &records, bool markReported)
{
    const bool kt = m_host.fields().productType == ProductType::KtFixedIp;
    const QString userId = m_host.userId();
    const QDateTime now = m_host.clock().now();
    const QString ktText = QStringLiteral("KT 고정IP");
    const QString mark = QStringLiteral("!");
    QString hoursLeft; // the text of the last day, the same for every such row
    std::vector<IpListRows::NewRow> added;
    added.reserve(size_t(records.size()));
    for (const FixedIpInfo &rec : records) {
        IpListRows::NewRow row;
        const QString state = stateText(rec.state);
        const bool reported = markReported && m_model.isReported(rec.address);
        if (rec.days == 0 && hoursLeft.isNull())
            hoursLeft = daysText(0, now);
        // Columns: address, reported mark, ID, state, days, PC.
        row.cells = {rec.address, reported ? mark : QString(),
                     kt ? ktText : idText(rec.userNumber, userId), state,
                     rec.days != 0 ? daysText(rec.days, now) : hoursLeft};
        if (!kt)
            row.cells.append(rec.pcName);
        if (state == IpState::Unavailable)
            row.background = IpRowColor::Unavailable;
        row.checked = m_model.isChecked(rec.address);
        added.push_back(std::move(row));
    }
    m_model.rows().appendRows(std::move(added));
}

void IpListController::replaceDynamic(const QList<DynamicIpList> &records)
{
    m_model.emptyList();
    m_model.setDynamicArray(records);
    m_model.shuffleDynamic(m_host.clock().now().toSecsSinceEpoch());
    m_model.rebuildDynamicRows(false);
}

void IpListController::endSession(const QString &text)
{
    m_session.clearReconnectFlag();
    m_host.forcedSignOut(text);
}

// ---------------------------------------------------------------- session messages

void IpListController::onLoginAccepted()
{
    m_session.sendIpInfoRequest();
    m_host.setStatusText(QStringLiteral("아이피 사용정보를 불러오고 있습니다."));
}

void IpListController::onLoginRefused()
{
    endSession(QStringLiteral("세션관리 서버에 로그인하지 못했습니다."));
}

void IpListController::onExpireDate(qint64 secondsSince1970Utc)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(secondsSince1970Utc);
    m_host.setExpiryText(QStringLiteral("만료일: ") +
                         QString::asprintf("%d-%02d-%02d %02d:%02d:%02d", t.date().year(),
                                           t.date().month(), t.date().day(), t.time().hour(),
                                           t.time().minute(), t.time().second()));
}

void IpListController::onFixedList(const QList<FixedIpInfo> &records)
{
    IpListRows &rows = m_model.rows();
    QString request;
    m_model.emptyList();
    fillFixedRows(records, false);

    const QString last = m_host.fields().lastUsedIp;
    if (!last.isEmpty()) {
        const int r = m_model.findRow(last);
        if (r >= 0 && usable(r))
            request = last;
    }
    for (int i = 0; request.isEmpty() && i < rows.rowCount(); ++i) {
        if (rows.isChecked(i) && usable(i))
            request = rows.text(i, 0);
    }
    for (int i = 0; request.isEmpty() && i < rows.rowCount(); ++i) {
        if (usable(i))
            request = rows.text(i, 0);
    }

    m_host.log(QStringLiteral("아이피 사용정보 불러옴"));
    if (request.isEmpty()) {
        // The reconnect flag stays: a later session may bring usable addresses.
        m_host.forcedSignOut(kNoUsableAddress);
        return;
    }
    requestChange(request);
    m_session.sendBadIpListRequest();
}

void IpListController::onDynamicList(const QList<DynamicIpList> &records)
{
    IpListRows &rows = m_model.rows();
    replaceDynamic(records);
    QString request;
    const QString last = m_host.fields().lastUsedIp;
    if (!last.isEmpty() && m_model.findRow(last) >= 0)
        request = last;
    else if (rows.rowCount() > 0)
        request = rows.text(0, 0);

    m_host.log(QStringLiteral("아이피 사용정보 불러옴"));
    if (request.isEmpty()) {
        m_host.forcedSignOut(kNoUsableAddress);
        return;
    }
    requestChange(request);
    m_session.sendBadIpListRequest();
}

void IpListController::markCurrentRow(int row)
{
    IpListRows &rows = m_model.rows();
    rows.setText(row, 3, IpState::InUse);
    if (m_host.fields().productType == ProductType::FixedIp)
        rows.setText(row, IpListModel::kPcColumn, m_host.computerName());
    rows.setBackground(row, IpRowColor::InUse);
}

void IpListController::onFixedListUpdate(const QList<FixedIpInfo> &records)
{
    IpListRows &rows = m_model.rows();
    QString request;
    m_model.emptyList();
    fillFixedRows(records, true);

    const QString &current = m_model.currentAddress();
    const int r = current.isEmpty() ? -1 : m_model.findRow(current);
    if (r >= 0) {
        markCurrentRow(r);
    } else {
        for (int i = 0; request.isEmpty() && i < rows.rowCount(); ++i) {
            if (rows.isChecked(i) && usable(i))
                request = rows.text(i, 0);
        }
        for (int i = 0; request.isEmpty() && i < rows.rowCount(); ++i) {
            if (usable(i)) {
                request = rows.text(i, 0);
                rows.setChecked(i, true);
                m_model.addChecked(request);
                m_model.saveCheckedList();
            }
        }
    }

    finishList(request);
}

void IpListController::onDynamicListUpdate(const QList<DynamicIpList> &records)
{
    IpListRows &rows = m_model.rows();
    QString request;
    replaceDynamic(records);
    const QString &current = m_model.currentAddress();
    const int r = current.isEmpty() ? -1 : m_model.findRow(current);
    if (r >= 0) {
        rows.setText(r, 2, IpState::InUse);
        rows.setBackground(r, IpRowColor::InUse);
    } else if (rows.rowCount() > 0) {
        request = rows.text(0, 0);
    }
    finishList(request);
}

void IpListController::finishList(const QString &request)
{
    // A list without a row leaves nothing to use: the sign-in ends.
    if (m_model.rows().rowCount() == 0) {
        endSession(kNoUsableAddress);
        return;
    }
    if (!request.isEmpty())
        requestChange(request);
}

void IpListController::onDynamicIpInfo(const QList<DynamicIpList> &records)
{
    IpListRows &rows = m_model.rows();
    replaceDynamic(records);
    const QString last = m_host.fields().lastUsedIp;
    // An empty list has no first row to ask for: nothing is requested.
    if ((last.isEmpty() || m_model.findRow(last) < 0) && rows.rowCount() > 0)
        requestChange(rows.text(0, 0));
}

void IpListController::onReportedList(const QStringList &addresses)
{
    IpListRows &rows = m_model.rows();
    m_model.setReportedList(addresses);
    const QString mark = QStringLiteral("!");
    for (int i = 0; i < rows.rowCount(); ++i) {
        if (m_model.isReported(rows.text(i, 0)))
            rows.setText(i, IpListModel::kReportedColumn, mark);
    }
}

void IpListController::reportBadAddress(int category, const QString &address, const QString &reason)
{
    if (!m_session.sendBadIpReport(BadIpInfo {category, address, reason}))
        return;
    if (m_model.isReported(address))
        return;
    m_model.addReported(address);
    const int row = m_model.findRow(address);
    if (row >= 0)
        m_model.rows().setText(row, IpListModel::kReportedColumn, QStringLiteral("!"));
}

void IpListController::onAddressesAdded()
{
    const int answer = m_host.prompter().show(
        QStringLiteral("IP가 추가 되었습니다.\n사용하시려면 다시 로그인 해야 합니다.\n다시 "
                       "로그인 하시겠습니까?"),
        kNoticeCaption, Mb::PlainQuestion);
    if (answer == IdYes)
        endSession(QString());
}

void IpListController::onSessionEnded(int type)
{
    switch (type) {
    case SM_SERVER_FULL:
        endSession(
            QStringLiteral("해당 서버의 용량이 다 찼습니다.\n다른 서버로 연결을 해주십시오."));
        break;
    case SM_NO_DYNAMIC_PRODUCT:
        endSession(QStringLiteral("사용 가능한 유동아이피 상품이 없습니다."));
        break;
    case SM_SERVER_DISCONNECT:
        endSession(QStringLiteral("서버에서 연결을 끊었습니다."));
        break;
    case SM_DUPLICATE_LOGIN:
        endSession(QStringLiteral("다른 곳에서 로그인되어 있습니다."));
        break;
    default:
        break;
    }
}

void IpListController::requestChange(const QString &address)
{
    ++m_changeRequests;
    m_lastRequested = address;
    m_session.sendIpChangeRequest(address);
}

QString IpListController::changeAddressTo(const QString &address)
{
    IpListRows &rows = m_model.rows();
    const int row = m_model.findRow(address);
    if (row < 0)
        return QStringLiteral("IP 목록에 없는 IP입니다: %1").arg(address);
    if (!rows.isChecked(row) || !usable(row))
        return QStringLiteral("체크된 IP가 아니거나 대기인 IP가 아닙니다: %1").arg(address);
    if (address == m_model.currentAddress())
        return QString();
    requestChange(address);
    m_host.enableIpControls(false);
    return QString();
}

void IpListController::onChangeCompleted(const QString &address)
{
    IpListRows &rows = m_model.rows();
    const int product = m_host.fields().productType;
    const bool dynamic = product == ProductType::DynamicIp;
    const quint64 now = nowSeconds();

    const QString previous = m_model.currentAddress();
    if (!previous.isEmpty()) {
        const int old = m_model.findRow(previous);
        if (old >= 0) {
            if (dynamic) {
                rows.setText(old, 2, IpState::Idle);
                rows.setBackground(old, IpRowColor::Unavailable);
            } else {
                rows.setText(old, 3, IpState::Idle);
                rows.setText(old, IpListModel::kPcColumn, QString());
                rows.setBackground(old, IpRowColor::Idle);
            }
        }
    }
    // The server has moved us to the address whether or not a row shows it,
    // so it is the current address either way.
    m_host.setCurrentAddress(address);
    const int row = m_model.findRow(address);
    if (row >= 0) {
        if (dynamic) {
            rows.setText(row, 2, IpState::InUse);
            rows.setText(row, IpListModel::kDynamicTimeColumn, IpListModel::formatLocalTime(now));
        } else {
            rows.setText(row, 3, IpState::InUse);
            rows.setText(row, IpListModel::kPcColumn, m_host.computerName());
        }
        rows.setBackground(row, IpRowColor::InUse);
    }

    m_host.fields().lastUsedIp = address;
    if (Settings *s = m_host.settings())
        s->write(SettingKeys::Entry, SettingKeys::LastUsedIP, address);
    if (row >= 0)
        rows.selectRow(row);
    m_host.enableIpControls(true);
    m_session.stopReplyWatchdog();

    if (dynamic) {
        m_model.recordUse(address, now);
        m_host.setStatusText(QStringLiteral("- 유동 IP 연결 성공 -"));
    } else if (product == ProductType::FixedIp) {
        m_host.setStatusText(QStringLiteral("- 고정 IP 연결 성공 -"));
    } else {
        m_host.setStatusText(QStringLiteral("- KT 고정IP 연결 성공 -"));
    }
    m_host.log(address + QStringLiteral("로 IP변경 완료"));
    m_resetter.firstPass();
    m_resetter.secondPass();
    m_host.changeConfirmed(address);
}

void IpListController::onChangeFailed()
{
    m_host.enableIpControls(true);
    // Stopped before the box: a user who leaves the box open must not
    // trigger a reconnect of a session that did answer.
    m_session.stopReplyWatchdog();
    m_host.prompter().show(QStringLiteral("아이피 적용에 실패하였습니다."), kNoticeCaption,
                           Mb::Failure);
    m_host.log(QStringLiteral("IP변경 실패"));
}

void IpListController::onAddressInUse(const IpPcNotice &notice)
{
    m_host.enableIpControls(true);
    m_session.stopReplyWatchdog();
    IpListRows &rows = m_model.rows();
    const int row = m_model.findRow(notice.address);
    if (row >= 0) {
        rows.setText(row, 3, IpState::Unavailable);
        rows.setText(row, IpListModel::kPcColumn, notice.pcName);
        rows.setBackground(row, IpRowColor::Unavailable);
    }
    m_host.prompter().show(notice.address + QStringLiteral("는 다른 PC에서 사용중입니다."),
                           kNoticeCaption, Mb::Failure);
}

void IpListController::onAddressTaken(const IpPcNotice &notice)
{
    IpListRows &rows = m_model.rows();
    const int row = m_model.findRow(notice.address);
    if (row < 0)
        return;
    rows.setText(row, 3, IpState::Unavailable);
    rows.setText(row, IpListModel::kPcColumn, notice.pcName);
    rows.setBackground(row, IpRowColor::Unavailable);
}

void IpListController::onAddressReleased(const QString &address)
{
    IpListRows &rows = m_model.rows();
    const int row = m_model.findRow(address);
    if (row < 0)
        return;
    rows.setText(row, 3, IpState::Idle);
    rows.setText(row, IpListModel::kPcColumn, QString());
    rows.setBackground(row, IpRowColor::Idle);
}

void IpListController::onAddressShared(const IpShareNotice &notice)
{
    IpListRows &rows = m_model.rows();
    const QString comma = QStringLiteral(",");
    // A row named twice in the notice changes once: the second time finds
    // the name there already.
    std::vector<bool> done(size_t(rows.rowCount()), false);
    for (const QString &ip : notice.addresses) {
        const int row = m_model.findRow(ip);
        if (row < 0 || done[size_t(row)])
            continue;
        done[size_t(row)] = true;
        const QString pcs = rows.text(row, IpListModel::kPcColumn);
        if (pcs.isEmpty())
            rows.setText(row, IpListModel::kPcColumn, notice.pcName);
        else if (!(comma + pcs + comma).contains(comma + notice.pcName + comma))
            rows.setText(row, IpListModel::kPcColumn, pcs + comma + notice.pcName);
        rows.setBackground(row, IpRowColor::Shared);
    }
}

void IpListController::onAddressUnshared(const IpShareNotice &notice)
{
    IpListRows &rows = m_model.rows();
    // A row named twice in the notice changes once: the name is gone after
    // the first time.
    std::vector<bool> done(size_t(rows.rowCount()), false);
    for (const QString &ip : notice.addresses) {
        const int row = m_model.findRow(ip);
        if (row < 0 || done[size_t(row)])
            continue;
        done[size_t(row)] = true;
        QStringList kept;
        const QStringList parts = rows.text(row, IpListModel::kPcColumn).split(QLatin1Char(','));
        for (const QString &p : parts) {
            if (p != notice.pcName)
                kept.append(p);
        }
        rows.setText(row, IpListModel::kPcColumn, kept.join(QLatin1Char(',')));
        rows.setBackground(row, IpRowColor::Idle);
    }
}

// ---------------------------------------------------------------- switching

void IpListController::changeAddress()
{
    IpListRows &rows = m_model.rows();
    Prompter &prompter = m_host.prompter();
    if (rows.rowCount() == 1) {
        prompter.show(QStringLiteral("IP를 2개 이상 사용할 때 가능합니다.\n연장/추가/결제 버튼을 "
                                     "클릭하셔서 IP를 추가하시면 가능합니다."),
                      kNoticeCaption, Mb::Notice);
        return;
    }
    QList<int> qualifying;
    for (int i = 0; i < rows.rowCount(); ++i) {
        if (rows.isChecked(i) && usable(i))
            qualifying.append(i);
    }
    if (qualifying.isEmpty()) {
        prompter.show(QStringLiteral("체크된 IP가 없거나 대기인 IP가 없습니다."), kNoticeCaption,
                      Mb::Notice);
        return;
    }
    const QString &current = m_model.currentAddress();
    qsizetype p = -1;
    for (qsizetype k = 0; k < qualifying.size(); ++k) {
        if (rows.text(qualifying[k], 0) == current) {
            p = k;
            break;
        }
    }
    const int next = p + 1 < qualifying.size() ? qualifying[p + 1] : qualifying[0];
    const QString address = rows.text(next, 0);
    if (address == current)
        return;
    requestChange(address);
    m_host.enableIpControls(false);
}

void IpListController::hotKeyPressed()
{
    if (m_session.connected() && rowCount() > 1)
        changeAddress();
}

void IpListController::doubleClickChange()
{
    IpListRows &rows = m_model.rows();
    const int row = rows.selectedRow();
    if (row >= 0 && row < rows.rowCount() &&
        rows.text(row, IpListModel::stateColumn(m_model.productType())) == IpState::Idle) {
        requestChange(rows.text(row, 0));
        return;
    }
    m_host.prompter().show(QStringLiteral("사용중인 IP 입니다."), kNoticeCaption, Mb::Notice);
}

void IpListController::randomOrder()
{
    m_model.shuffleDynamic(m_host.clock().now().toSecsSinceEpoch());
    m_model.rows().removeSortArrow();
    m_model.rebuildDynamicRows(false);
}

void IpListController::resetUsageHistory()
{
    IpListRows &rows = m_model.rows();
    const quint64 now = nowSeconds();
    m_model.resetUsageHistory(m_model.currentAddress(), now);
    const QString stamp = IpListModel::formatLocalTime(now);
    for (int i = 0; i < rows.rowCount(); ++i) {
        if (rows.text(i, 2) != IpState::Idle) {
            rows.setText(i, IpListModel::kDynamicTimeColumn, stamp);
        } else {
            rows.setText(i, IpListModel::kDynamicTimeColumn, QString());
            rows.setBackground(i, IpRowColor::Idle);
        }
    }
    m_host.prompter().show(QStringLiteral("유동IP 사용이력을 초기화 하였습니다."), kNoticeCaption,
                           Mb::Notice);
}

void IpListController::checkAll(bool checked)
{
    IpListRows &rows = m_model.rows();
    QSet<QString> unchecked;
    for (int i = 0; i < rows.rowCount(); ++i) {
        rows.setChecked(i, checked);
        const QString ip = rows.text(i, 0);
        if (checked)
            m_model.addChecked(ip);
        else
            unchecked.insert(ip);
    }
    m_model.removeChecked(unchecked);
    m_model.saveCheckedList();
}

void IpListController::autoChangeBoxClicked(bool checked)
{
    m_host.setControlEnabled(IpControl::AutoChangeMinutes, checked);
    m_host.setControlEnabled(IpControl::AutoChangeSlider, checked);
    SettingsFields &f = m_host.fields();
    Settings *settings = m_host.settings();
    QTimer *timer = m_host.autoChangeTimer();
    if (!checked) {
        if (settings)
            settings->write(SettingKeys::Entry, SettingKeys::IsAutoChange, QStringLiteral("0"));
        f.autoChange = 0;
        if (timer)
            timer->stop();
        return;
    }
    IpListRows &rows = m_model.rows();
    int checkedRows = 0;
    for (int i = 0; i < rows.rowCount(); ++i)
        checkedRows += rows.isChecked(i) ? 1 : 0;
    if (checkedRows == 0) {
        m_host.prompter().show(QStringLiteral("체크된 IP가 없습니다."), QString(), Mb::Ok);
        m_host.setAutoChangeBox(false);
        m_host.setControlEnabled(IpControl::AutoChangeMinutes, false);
        m_host.setControlEnabled(IpControl::AutoChangeSlider, false);
        return;
    }
    if (settings)
        settings->write(SettingKeys::Entry, SettingKeys::IsAutoChange, QStringLiteral("1"));
    f.autoChange = 1;
    if (timer)
        timer->start(f.autoChangeSeconds * 1000);
}

void IpListController::intervalSliderDrawn(int position)
{
    SettingsFields &f = m_host.fields();
    Settings *settings = m_host.settings();
    const int stored = settings
        ? settings->readInt(SettingKeys::Entry, SettingKeys::AutoChangeSec, 500)
        : f.autoChangeSeconds;
    const int n = std::clamp(position, 1, 30) * 60;
    if (stored == n && f.autoChangeSeconds == n)
        return;
    if (settings)
        settings->write(SettingKeys::Entry, SettingKeys::AutoChangeSec, n);
    f.autoChangeSeconds = n;
    // A running timer takes the new period at once; one that is not running
    // (no session yet) starts with it later.
    if (f.autoChange) {
        QTimer *timer = m_host.autoChangeTimer();
        if (timer && timer->isActive()) {
            timer->stop();
            timer->start(n * 1000);
        }
    }
    m_host.setIntervalControls(n / 60, QString::asprintf("%d분", n / 60));
}

void IpListController::applyHotKey()
{
    if (!m_hotKey)
        return;
    const SettingsFields &f = m_host.fields();
    if (!f.useHotKey) {
        m_hotKey->unregisterKey();
        return;
    }
    m_hotKey->unregisterKey();
    if (!m_hotKey->registerAltKey(f.hotKey))
        m_host.prompter().show(QStringLiteral("핫키 등록 실패!"), QString(), Mb::Ok);
}
