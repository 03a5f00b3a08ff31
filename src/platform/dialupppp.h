#pragma once

#include "dialup.h"

#include <QMap>
#include <QMutex>
#include <QObject>

#include <memory>
#include <optional>

class QProcess;
class QTemporaryDir;
class ViciClient;

// The programs a dial runs. PPTP: pppd with pptp as its pty. L2TP: the link's
// own IPsec connection and pre-shared key go into the machine's charon
// through its control socket, strongSwan's swanctl sets the connection up,
// then xl2tpd runs pppd.
struct DialUpPrograms
{
    QString pppd;
    QString pptp;
    QString xl2tpd;
    QString swanctl;
    // coreutils' stdbuf, which has swanctl write its progress a line at a
    // time (on a pipe it would come all at once when it ends); empty: none.
    QString stdbuf;
    // charon's control socket, through which each L2TP link loads its own
    // IPsec connection and pre-shared key (and unloads them again).
    QString viciSocket = QStringLiteral("/run/charon.vici");

    // From PATH, with /usr/sbin and /sbin added (where these programs live).
    static DialUpPrograms fromSystem();
};

namespace PppExit {
// pppd's exit status as the error number of the dial. deviceConnected tells
// whether the tunnel's carrier (the PPTP control connection, the L2TP
// tunnel) came up before pppd ended: a hang-up before that means the server
// never answered.
unsigned toRasError(int status, bool deviceConnected);
} // namespace PppExit

// Reading the dial-up programs' log lines (pppd, pptp, xl2tpd, swanctl).
namespace PppOutput {
struct Line
{
    enum Kind {
        None,
        Interface, // "Using interface ppp0": `value` is the interface
        DeviceConnected, // "Connect: ppp0 <--> ...": `value` is the interface
        Authenticated, // "... authentication succeeded"
        LocalAddress, // "local  IP address 10.0.0.2": `value` is the address
        PeerDns, // "primary   DNS address 10.0.0.53" (or "secondary"): `value`
        Projected, // "remote IP address ...": the link is up
        CarrierUp, // xl2tpd "Connection established to ...": the L2TP tunnel
        CarrierDown, // xl2tpd "Connection closed to ...": the L2TP call or tunnel has ended
        AuthFailed, // pppd "CHAP authentication failed": the server refused the credentials
        NoAnswer, // the server refused, timed out, unreachable, retries used up
        PppExited, // xl2tpd "pppd exited for call N with code C": `status`
        Encrypted, // "MPPE 128-bit stateless compression enabled": `value` "MPPE 128-bit stateless"
        EncryptionRefused, // "MPPE required but peer refused" (or "... negotiation failed")
        IpsecProposal, // charon "selected proposal: ESP:...": `value` the algorithms
        IpsecUp, // charon "CHILD_SA KVO{1} established with SPIs ...": L2TP is protected
        IpsecRefused, // the server answered the key exchange with a refusal, or
                      // with what the pre-shared key does not decrypt
    };
    Kind kind = None;
    QString value;
    int status = -1;
};
// The meaning of one trimmed line. An interface that is no plain interface
// name (1-15 of letters, digits, ".", "_", "-"; not "." or "..") and a local
// or DNS address that is no dotted IPv4 address are no event: they would name a
// file under /sys/class/net or reach the main window; so is a proposal of
// anything but A-Z, 0-9, "_" and "/" (at most 80).
Line classify(const QString &line);
// Cuts output into trimmed lines as it arrives (UTF-8); `carry` keeps a
// line's start until its end arrives. Empty lines are skipped.
QStringList takeLines(QByteArray &carry, const QByteArray &chunk);
} // namespace PppOutput

// The dial-up layer on Linux. Credentials go to pppd in an options file of
// mode 0600 inside a private folder of mode 0700, removed when the dial ends;
// the phone-book file itself is mode 0600 because it may hold the
// pre-shared key. Progress comes from the programs' own log lines; the
// counters from /sys/class/net/<interface>/statistics.
class PppDialUp : public QObject, public DialUp
{
    Q_OBJECT
public:
    // peerDnsFile: where pppd writes the peer's DNS servers (put back as it
    // was once the last of our links has ended).
    explicit PppDialUp(DialUpPrograms programs = DialUpPrograms::fromSystem(),
                       QString sysClassNet = QStringLiteral("/sys/class/net"),
                       QObject *parent = nullptr,
                       QString peerDnsFile = QStringLiteral("/etc/ppp/resolv.conf"));
    ~PppDialUp() override;

    unsigned setEntryProperties(const QString &phoneBook, const QString &entryName,
                                const Ras::Entry &entry) override;
    unsigned setPreSharedKey(const QString &phoneBook, const QString &entryName,
                             const QString &key) override;
    unsigned dial(const QString &phoneBook, const Ras::DialParams &params, Ras::DialNotifier notify,
                  Ras::Handle *handle) override;
    unsigned hangUp(Ras::Handle handle) override;
    unsigned getConnectStatus(Ras::Handle handle, Ras::ConnStatus *status) override;
    unsigned getProjectedIp(Ras::Handle handle, QString *address) override;
    unsigned getStatistics(Ras::Handle handle, Ras::Statistics *stats) override;
    unsigned enumConnections(QList<Ras::Connection> *out, int capacity, int *count) override;
    unsigned notifyOnDisconnection(Ras::Handle handle,
                                   std::shared_ptr<AutoResetEvent> event) override;
    unsigned getProtection(Ras::Handle handle, QString *protection) override;
    unsigned getPeerDns(Ras::Handle handle, QStringList *servers) override;

    // Reads an entry back from a phone-book file (for the driver's checks
    // and the tests). False when the file or the entry is missing.
    static bool readEntry(const QString &phoneBook, const QString &entryName, Ras::Entry *entry,
                          QString *preSharedKey = nullptr);

private:
    struct Dial;
    void startStep(Dial *d);
    void loadIpsec(Dial *d);
    void unloadIpsec(const QByteArray &name);
    void onOutput(Dial *d);
    void onLine(Dial *d, const QString &line);
    void onStepFinished(Dial *d, int exitCode, bool crashed);
    void setState(Dial *d, int state);
    void finish(Dial *d, unsigned error);
    Dial *find(Ras::Handle handle) const;

    void keepPeerDnsFile();
    void restorePeerDnsFile();

    DialUpPrograms m_programs;
    ViciClient *m_vici;
    QString m_sysClassNet;
    QString m_peerDnsFile;
    // The file as it was before the first of our live links (nullopt:
    // absent), and the contents our links' pppd wrote into it.
    std::optional<std::optional<QByteArray>> m_peerDnsBefore;
    QList<QByteArray> m_peerDnsWritten;
    Ras::Handle m_nextHandle = 1;
    // Guards m_dials' membership and each dial's watchers: other threads
    // enumerate and register for the disconnection.
    mutable QMutex m_mutex;
    QMap<Ras::Handle, std::shared_ptr<Dial>> m_dials;
};
