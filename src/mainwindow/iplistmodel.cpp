#include "iplistmodel.h"

#include "mainwindow/checkedipfile.h"
#include "platform/ipv4.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <cstring>

namespace UsageHistoryFile {

QByteArray encodeRecord(const QString &address, quint64 time)
{
    QByteArray rec(kRecordSize, '\0');
    const uint32_t n = Ipv4::toNetworkOrderBytes(address);
    std::memcpy(rec.data(), &n, 4);
    qToLittleEndian<quint64>(time, rec.data() + 8);
    return rec;
}

static Record decodeRecord(const char *p)
{
    Record r;
    r.address = Ipv4::fromBytes(reinterpret_cast<const unsigned char *>(p));
    r.time = qFromLittleEndian<quint64>(p + 8);
    return r;
}

QList<Record> read(const QString &path)
{
    QList<Record> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QByteArray bytes = f.readAll();
    const qsizetype whole = bytes.size() / kRecordSize;
    out.reserve(whole);
    for (qsizetype i = 0; i < whole; ++i)
        out.append(decodeRecord(bytes.constData() + i * kRecordSize));
    return out;
}

bool recordUse(const QString &path, const QString &address, quint64 time)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    const QByteArray bytes = f.readAll();
    const qsizetype whole = bytes.size() / kRecordSize;
    const uint32_t wanted = Ipv4::toNetworkOrderBytes(address);
    qint64 at = whole * kRecordSize;
    for (qsizetype i = 0; i < whole; ++i) {
        uint32_t n = 0;
        std::memcpy(&n, bytes.constData() + i * kRecordSize, 4);
        if (n == wanted) {
            at = i * kRecordSize;
            break;
        }
    }
    const QByteArray rec = encodeRecord(address, time);
    if (!f.seek(at) || f.write(rec) != rec.size())
        return false;
    return f.flush();
}

bool replace(const QString &path, const QList<Record> &records)
{
    if (records.isEmpty())
        return !QFile::exists(path) || QFile::remove(path);
    QByteArray bytes;
    for (const Record &r : records)
        bytes += encodeRecord(r.address, r.time);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(bytes);
    return out.commit();
}

} // namespace UsageHistoryFile

IpListModel::IpListModel(IpListRows &rows, QString usagePath, QString checkedPath)
    : m_rows(rows), m_usagePath(std::move(usagePath)), m_checkedPath(std::move(checkedPath))
{ }

QList<IpListRows::Column> IpListModel::columnsFor(int productType)
{
    using K = IpListRows::SortKind;
    if (productType == 2) {
        return {
            {QStringLiteral("IP"), 150, K::Address},
            {QStringLiteral("!"), 17, K::Text},
            {QStringLiteral("상태"), 36, K::Text},
            {QStringLiteral("사용시간"), 120, K::Text},
        };
    }
    return {
        {QStringLiteral("IP"), 125, K::Address},     {QStringLiteral("!"), 17, K::Text},
        {QStringLiteral("ID"), 40, K::NumberOrText}, {QStringLiteral("상태"), 36, K::Text},
        {QStringLiteral("일수"), 45, K::Text},       {QStringLiteral("PC"), 60, K::Text},
    };
}

void IpListModel::setUpColumns(int productType)
{
    m_product = productType;
    m_rows.setColumns(columnsFor(productType), QStringLiteral("IP불량신고한 아이피"));
}

int IpListModel::findRow(const QString &address) const
{
    return m_rows.findRow(address);
}

void IpListModel::shuffleDynamic(qint64 seed)
{
    // The runtime's classic generator: 15-bit draws from a linear congruence.
    uint32_t state = uint32_t(seed);
    auto draw15 = [&state]() -> uint32_t {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFFu;
    };
    QList<DynamicIpList> tmp = m_dynamic;
    const qsizetype n = tmp.size();
    for (qsizetype i = 1; i < n; ++i) {
        const uint64_t range = uint64_t(i) + 1;
        // Draws wide enough for the range, redrawn when they would bias it.
        const int parts = range > 0x8000u ? 2 : 1;
        const uint64_t span = parts == 2 ? (uint64_t(1) << 30) : 0x8000u;
        const uint64_t limit = span - span % range;
        uint64_t r = 0;
        do {
            r = draw15();
            if (parts == 2)
                r = (r << 15) | draw15();
        } while (r >= limit);
        const qsizetype j = qsizetype(r % range);
        if (j != i)
            tmp.swapItemsAt(i, j);
    }
    m_dynamic = std::move(tmp);
}

QString IpListModel::formatLocalTime(quint64 secondsSince1970)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(qint64(secondsSince1970));
    const QDate d = t.date();
    const QTime c = t.time();
    return QString::asprintf("%d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(), d.day(), c.hour(),
                             c.minute(), c.second());
}

void IpListModel::rebuildDynamicRows(bool resort)
{
    m_rows.clearRows();
    const QString inUse = currentAddress();
    const QString mark = QStringLiteral("!");
    std::vector<IpListRows::NewRow> rows;
    rows.reserve(size_t(m_dynamic.size()));
    for (const DynamicIpList &rec : std::as_const(m_dynamic)) {
        const QString &ip = rec.address;
        const bool current = !inUse.isEmpty() && ip == inUse;
        IpListRows::NewRow row;
        row.cells = {ip, isReported(ip) ? mark : QString(),
                     current ? IpState::InUse : IpState::Idle};
        if (current)
            row.background = IpRowColor::InUse;
        row.checked = isChecked(ip);
        const auto used = m_usage.isEmpty() ? m_usage.constEnd() : m_usage.constFind(ip);
        if (used != m_usage.constEnd()) {
            auto text = m_usageText.constFind(*used);
            if (text == m_usageText.constEnd())
                text = m_usageText.insert(*used, formatLocalTime(*used));
            row.cells.append(*text);
            if (!current)
                row.background = IpRowColor::Unavailable;
        }
        rows.push_back(std::move(row));
    }
    m_rows.appendRows(std::move(rows));
    if (resort)
        m_rows.sortAgain();
}

void IpListModel::loadUsageHistory()
{
    const QList<UsageHistoryFile::Record> records = UsageHistoryFile::read(m_usagePath);
    m_usage.clear();
    m_usageText.clear();
    m_usage.reserve(records.size());
    for (const UsageHistoryFile::Record &r : records)
        m_usage.insert(r.address, r.time);
}

void IpListModel::recordUse(const QString &address, quint64 time)
{
    UsageHistoryFile::recordUse(m_usagePath, address, time);
    m_usage.insert(address, time);
}

void IpListModel::resetUsageHistory(const QString &address, quint64 time)
{
    m_usage.clear();
    m_usageText.clear();
    // Without an address in use there is nothing to record: the history is
    // simply empty (a record for the empty text would read 255.255.255.255).
    QList<UsageHistoryFile::Record> records;
    if (!address.isEmpty()) {
        records.append({address, time});
        m_usage.insert(address, time);
    }
    UsageHistoryFile::replace(m_usagePath, records);
}

void IpListModel::loadCheckedList()
{
    CheckedIpFile::load(m_checkedPath, m_checked);
    m_checkedSet = QSet<QString>(m_checked.cbegin(), m_checked.cend());
}

void IpListModel::saveCheckedList()
{
    CheckedIpFile::save(m_checkedPath, m_checked);
}

void IpListModel::addChecked(const QString &address)
{
    if (!m_checkedSet.contains(address)) {
        m_checkedSet.insert(address);
        m_checked.append(address);
    }
}

void IpListModel::removeChecked(const QString &address)
{
    if (m_checkedSet.remove(address))
        m_checked.removeAll(address);
}

void IpListModel::removeChecked(const QSet<QString> &addresses)
{
    if (addresses.isEmpty())
        return;
    m_checked.removeIf([&](const QString &a) { return addresses.contains(a); });
    for (const QString &a : addresses)
        m_checkedSet.remove(a);
}

void IpListModel::checkBoxChanged(int row, bool checked, bool onCheckBox)
{
    if (!onCheckBox || row < 0 || row >= m_rows.rowCount())
        return;
    const QString ip = m_rows.text(row, 0);
    if (checked)
        addChecked(ip);
    else
        removeChecked(ip);
    saveCheckedList();
}

void IpListModel::setReportedList(const QStringList &addresses)
{
    m_reported = addresses;
    m_reportedSet = QSet<QString>(addresses.cbegin(), addresses.cend());
}

void IpListModel::addReported(const QString &address)
{
    if (!m_reportedSet.contains(address)) {
        m_reportedSet.insert(address);
        m_reported.append(address);
    }
}
