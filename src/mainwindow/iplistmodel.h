#pragma once

#include <functional>

#include "mainwindow/iplistrows.h"
#include "session/sessioncodec.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>

// Row colours of the IP list (COLORREF, 0x00BBGGRR).
namespace IpRowColor {
constexpr quint32 Unavailable = 0xBFBFFF; // light red; also a dynamic address used before
constexpr quint32 InUse = 0x80FF80; // light green: the address this client uses
constexpr quint32 Idle = 0xFFFFFF; // white: made idle again
constexpr quint32 Shared = 0x00FFFF; // yellow: shared with other PCs
} // namespace IpRowColor

// State texts of the state column.
namespace IpState {
inline const QString InUse = QStringLiteral("사용");
inline const QString Idle = QStringLiteral("대기");
inline const QString Unavailable = QStringLiteral("불가");
} // namespace IpState

// "DynamicIPUse": the usage history of dynamic addresses. Binary, no header,
// 16-byte records: the address in network byte order (4), padding (4, written
// as zeros, ignored when read), the time of last use (8, unsigned
// little-endian seconds since 1970 UTC). A file cut short is read up to its
// last whole record.
namespace UsageHistoryFile {
struct Record
{
    QString address;
    quint64 time = 0;
};
constexpr int kRecordSize = 16;

QList<Record> read(const QString &path);
QByteArray encodeRecord(const QString &address, quint64 time);
// Records one use. An address already in the file gets only its own
// 16 bytes rewritten in place; a new one is written at the end of the last
// whole record (a torn tail left by an earlier crash is overwritten). So a
// crash can never damage the records already there. False on a file error.
bool recordUse(const QString &path, const QString &address, quint64 time);
// Replaces the file in one step (write then rename) with the given records;
// an empty list removes the file.
bool replace(const QString &path, const QList<Record> &records);
} // namespace UsageHistoryFile

// The IP list of the main window without any widget: the column set-up per
// product, the stores behind the rows (dynamic address array, usage history,
// checked-address list, reported-address list, current address) and the
// operations that keep rows, stores and files in step. Rows are written
// through IpListRows.
class IpListModel
{
public:
    // Column layouts per product: state and PC columns.
    static int stateColumn(int productType) { return productType == 2 ? 2 : 3; }
    static constexpr int kPcColumn = 5;
    static constexpr int kReportedColumn = 1;
    static constexpr int kDynamicTimeColumn = 3;

    // usagePath and checkedPath are the files "DynamicIPUse" and "CheckedIP".
    IpListModel(IpListRows &rows, QString usagePath, QString checkedPath);

    IpListRows &rows() { return m_rows; }
    const IpListRows &rows() const { return m_rows; }

    // The columns of the product (1 fixed, 2 dynamic, 3 KT fixed: the fixed
    // layout, since its rows are written into the same columns).
    static QList<IpListRows::Column> columnsFor(int productType);
    // Deletes columns and rows and inserts the product's columns.
    void setUpColumns(int productType);
    int productType() const { return m_product; }

    // Deletes every row (the stores stay).
    void emptyList() { m_rows.clearRows(); }
    // The first row whose address (column 0) is exactly the text; -1 when none.
    int findRow(const QString &address) const;

    // Dynamic address array.
    const QList<DynamicIpList> &dynamicArray() const { return m_dynamic; }
    void setDynamicArray(const QList<DynamicIpList> &records) { m_dynamic = records; }
    // Fisher–Yates over a 15-bit generator seeded with the seconds since 1970.
    void shuffleDynamic(qint64 seed);
    // Empties the rows and fills them from the dynamic address array; with
    // resort, sorts again as the user last sorted.
    void rebuildDynamicRows(bool resort);

    // Usage history (address text -> seconds since 1970 UTC).
    const QHash<QString, quint64> &usageHistory() const { return m_usage; }
    void loadUsageHistory();
    // Records the use in the history and its file (file errors leave the
    // file as it was; the memory entry is set anyway).
    void recordUse(const QString &address, quint64 time);
    // Empties the history and leaves a file with the one record of address
    // (none when the address is empty).
    void resetUsageHistory(const QString &address, quint64 time);

    // Checked-address list.
    const QStringList &checkedList() const { return m_checked; }
    void loadCheckedList();
    void saveCheckedList();
    bool isChecked(const QString &address) const
    {
        // An empty set still hashes the text: thousands of rows ask.
        return !m_checkedSet.isEmpty() && m_checkedSet.contains(address);
    }
    void addChecked(const QString &address);
    void removeChecked(const QString &address);
    // Removes every address of the set, in one pass over the list.
    void removeChecked(const QSet<QString> &addresses);
    // The user clicked a row's check box: the row's address joins or leaves
    // the list, which is saved at once. Changes of the box by the program or
    // by the keyboard (onCheckBox false) are not stored.
    void checkBoxChanged(int row, bool checked, bool onCheckBox);

    // Reported-address list.
    const QStringList &reportedList() const { return m_reported; }
    void setReportedList(const QStringList &addresses);
    void addReported(const QString &address);
    bool isReported(const QString &address) const
    {
        return !m_reportedSet.isEmpty() && m_reportedSet.contains(address);
    }

    // Current address: empty while none is in use.
    // The address in use, read from its one keeper (the main window).
    QString currentAddress() const { return m_currentSource ? m_currentSource() : QString(); }
    void setCurrentAddressSource(std::function<QString()> source)
    {
        m_currentSource = std::move(source);
    }

    const QString &usagePath() const { return m_usagePath; }
    const QString &checkedPath() const { return m_checkedPath; }

    // "%d-%02d-%02d %02d:%02d:%02d" of the seconds since 1970, local time.
    static QString formatLocalTime(quint64 secondsSince1970);

private:
    IpListRows &m_rows;
    QString m_usagePath;
    QString m_checkedPath;
    int m_product = 0;
    QList<DynamicIpList> m_dynamic;
    QHash<QString, quint64> m_usage;
    // The shown text of each time in m_usage: every rebuild shows them all
    // again, and each conversion to local time reads the zone anew.
    // Emptied with m_usage.
    QHash<quint64, QString> m_usageText;
    // The lists keep their order (the file's, the server's); the sets answer
    // "is it in the list" for lists of up to 122,880 addresses.
    QStringList m_checked;
    QSet<QString> m_checkedSet;
    QStringList m_reported;
    QSet<QString> m_reportedSet;
    std::function<QString()> m_currentSource;
};
