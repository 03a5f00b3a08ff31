#pragma once

#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// A dial-up layer shaped like the system calls the dial-up tunnel driver was
// designed around: an entry in a private phone book, an asynchronous dial
// that reports every state change and its error code, hang-up, status, the
// PPP IP projection, byte counters, the list of active connections and a
// disconnection signal. Results are error numbers (0 = success) of the same
// numbering, because the failure report explains the user's problem by them.
namespace Ras {

using Handle = quintptr; // 0 = none

// Connection states, numbered as dial-up networking numbers them.
enum State : int {
    OpenPort = 0,
    PortOpened = 1,
    ConnectDevice = 2,
    DeviceConnected = 3,
    AllDevicesConnected = 4,
    Authenticate = 5,
    AuthProject = 10,
    Authenticated = 14,
    Projected = 18,
    Connected = 0x2000,
    Disconnected = 0x2001,
};

// Error numbers the layer returns or reports.
enum Error : unsigned {
    Success = 0,
    InvalidHandle = 6, // the connection is gone
    BufferTooSmall = 603, // more connections than the caller's buffer holds
    PortDisconnected = 619, // the link closed during the dial
    CannotOpenPhonebook = 621,
    CannotWritePhonebook = 621,
    CannotFindPhonebookEntry = 623,
    RemoteDisconnection = 628, // the peer ended the link
    UserDisconnection = 631,
    PortNotAvailable = 633,
    CannotLoadString = 632, // the program's own set-up is broken
    FromDevice = 651, // the tunnel program reported a failure
    NoAnswer = 678,
    AuthenticationFailure = 691,
    PppTimeout = 718,
    PppNoProtocolsConfigured = 720,
    PppLcpTerminated = 734,
    NoRemoteEncryption = 742, // the server would not encrypt the link (PPTP without MPPE)
    ServerIdentity = 778, // the server did not prove its identity
    SecurityNegotiation = 789, // the server refused the key exchange (proposals, pre-shared key)
    VpnTimeout = 809, // the server did not answer the key exchange (L2TP/IPsec)
    BadServerName = 868, // the server address is neither an IPv4 address nor a host name
};

// Entry options in use.
constexpr unsigned OptRemoteDefaultGateway = 0x00000010;
constexpr unsigned OptSecureLocalFiles = 0x00010000;
constexpr unsigned OptRequireChap = 0x08000000;
constexpr unsigned OptRequireMsChap = 0x10000000;
constexpr unsigned OptRequireMsChap2 = 0x20000000;
constexpr unsigned Opt2UsePreSharedKey = 0x10;
constexpr unsigned NetProtocolIp = 4;
constexpr unsigned FramingPpp = 1;
constexpr unsigned TypeVpn = 2;
constexpr unsigned EncryptionNone = 0;
constexpr unsigned EncryptionOptional = 3;
constexpr unsigned StrategyPptpOnly = 1;
constexpr unsigned StrategyL2tpOnly = 3;

// The fields of a phone-book entry the client writes.
struct Entry
{
    unsigned options = 0;
    QString localPhoneNumber; // the server address
    unsigned netProtocols = 0;
    unsigned framingProtocol = 0;
    QString deviceType;
    unsigned type = 0;
    unsigned encryptionType = 0;
    unsigned vpnStrategy = 0;
    unsigned options2 = 0;

    bool operator==(const Entry &) const = default;
};

struct DialParams
{
    QString entryName;
    QString userName;
    QString password;
};

struct ConnStatus
{
    int state = 0;
    unsigned error = 0;
    QString deviceType;
    QString deviceName; // the network interface, once known
};

struct Connection
{
    Handle handle = 0;
    QString entryName;
};

struct Statistics
{
    quint64 bytesSent = 0;
    quint64 bytesReceived = 0;
};

// Called on the thread that dialled, once per state change; error is 0 or
// the number that ended the dial.
using DialNotifier = std::function<void(int state, unsigned error)>;

} // namespace Ras

// An auto-reset event: set() wakes one wait() (or the next one).
class AutoResetEvent
{
public:
    void set();
    // Waits until set; false when the wait ended for another reason (close()).
    bool wait();
    enum WaitResult { Signalled, TimedOut, Closed };
    WaitResult waitFor(int milliseconds);
    // Wakes every waiter for good; later waits return false at once.
    void close();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled = false;
    bool m_closed = false;
};

class DialUp
{
public:
    virtual ~DialUp() = default;

    // Writes (or rewrites) the entry in the phone-book file; any stored
    // pre-shared key stays.
    virtual unsigned setEntryProperties(const QString &phoneBook, const QString &entryName,
                                        const Ras::Entry &entry) = 0;
    // Stores the entry's pre-shared key (L2TP/IPsec).
    virtual unsigned setPreSharedKey(const QString &phoneBook, const QString &entryName,
                                     const QString &key) = 0;
    // Starts the dial and returns at once; progress and the final error
    // arrive through notify. *handle is set when the dial has started.
    virtual unsigned dial(const QString &phoneBook, const Ras::DialParams &params,
                          Ras::DialNotifier notify, Ras::Handle *handle) = 0;
    // Starts ending the connection; does not wait.
    virtual unsigned hangUp(Ras::Handle handle) = 0;
    // InvalidHandle once the connection has ended.
    virtual unsigned getConnectStatus(Ras::Handle handle, Ras::ConnStatus *status) = 0;
    virtual unsigned getProjectedIp(Ras::Handle handle, QString *address) = 0;
    virtual unsigned getStatistics(Ras::Handle handle, Ras::Statistics *stats) = 0;

    // Safe from any thread. Fills up to capacity connections and sets
    // *count to the number there are; BufferTooSmall when they do not fit.
    virtual unsigned enumConnections(QList<Ras::Connection> *out, int capacity, int *count) = 0;
    // Safe from any thread: sets the event when the connection ends.
    virtual unsigned notifyOnDisconnection(Ras::Handle handle,
                                           std::shared_ptr<AutoResetEvent> event) = 0;
    // The link's encryption as negotiated ("MPPE 128-bit stateless",
    // "IPsec ESP AES_CBC_256/HMAC_SHA1_96"); empty until it is up.
    virtual unsigned getProtection(Ras::Handle handle, QString *protection) = 0;
    // The DNS servers the peer gave the link (dotted IPv4, at most two);
    // empty until it is up or when the peer gave none.
    virtual unsigned getPeerDns(Ras::Handle handle, QStringList *servers) = 0;
};
