#include "dialupppp.h"

#include "hostroute.h"
#include "inifile.h"
#include "ipv4.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include "processlist.h"
#include "vici.h"

#include <atomic>
#include <csignal>

#include <unistd.h>

namespace {

// Handles of connections this process did not dial (found in the process
// list): the marker bit and the process id.
constexpr Ras::Handle kForeignBit = Ras::Handle(1) << 40;

// L2TP/IPsec servers are set up for the Windows client, whose IKEv1 and ESP
// proposals are AES or 3DES with SHA-1 (and MODP 2048 or 1024): those
// first, then strongSwan's own defaults.
const QByteArray kIkeProposals =
    "aes256-sha1-modp2048,aes128-sha1-modp2048,aes256-sha1-modp1024,aes128-sha1-modp1024,"
    "3des-sha1-modp1024,default";
const QByteArray kEspProposals = "aes256-sha1,aes128-sha1,3des-sha1,default";
// How long the key exchange may take before the server counts as silent
// (809); charon alone would retransmit for almost three minutes.
constexpr int kIpsecSeconds = 20;
// After xl2tpd says the server closed the L2TP call, how long its word on
// pppd's exit status may take.
constexpr int kCarrierGraceMs = 2000;

QString findProgram(const QString &name)
{
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found.isEmpty() ? name : found;
}

QString hex(unsigned v)
{
    return QStringLiteral("0x%1").arg(v, 8, 16, QLatin1Char('0'));
}

unsigned number(const QString &text)
{
    bool ok = false;
    const unsigned v = text.trimmed().toUInt(&ok, 0);
    return ok ? v : 0;
}

// pppd's option syntax: a double-quoted word with backslash escapes.
QByteArray pppQuoted(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// Writes a file that only the owner may read, before any byte is in it.
bool writePrivateFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (!f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    return f.write(bytes) == bytes.size() && f.flush();
}

bool isPppdProcess(const ProcessEntry &p)
{
    if (p.name == QLatin1String("pppd"))
        return true;
    for (int i = 0; i < qMin(2, int(p.arguments.size())); ++i) {
        if (QFileInfo(p.arguments.at(i)).fileName() == QLatin1String("pppd"))
            return true;
    }
    return false;
}

// The entry a foreign pppd or xl2tpd process dials, from its arguments:
// pppd carries "ipparam <entry>", our xl2tpd a configuration named
// "xl2tpd-<entry>.conf".
QString foreignEntryName(const ProcessEntry &p)
{
    if (isPppdProcess(p)) {
        const qsizetype i = p.arguments.indexOf(QStringLiteral("ipparam"));
        if (i >= 0 && i + 1 < p.arguments.size())
            return p.arguments.at(i + 1);
        return QString();
    }
    static const QRegularExpression conf(QStringLiteral("^xl2tpd-(.+)\\.conf$"));
    for (const QString &arg : p.arguments) {
        const auto m = conf.match(QFileInfo(arg).fileName());
        if (m.hasMatch())
            return m.captured(1);
    }
    return QString();
}

} // namespace

DialUpPrograms DialUpPrograms::fromSystem()
{
    const QString stdbuf = QStandardPaths::findExecutable(QStringLiteral("stdbuf"));
    return {findProgram(QStringLiteral("pppd")), findProgram(QStringLiteral("pptp")),
            findProgram(QStringLiteral("xl2tpd")), findProgram(QStringLiteral("swanctl")), stdbuf};
}

unsigned PppExit::toRasError(int status, bool deviceConnected)
{
    switch (status) {
    case 0: // the peer ended an established link
        return Ras::RemoteDisconnection;
    case 2: // options refused
    case 3: // not enough privilege
    case 9: // the pty program (pptp) could not be run
        return Ras::CannotLoadString;
    case 4: // no PPP in the kernel
        return Ras::PppNoProtocolsConfigured;
    case 5: // ended by a signal
        return Ras::UserDisconnection;
    case 6: // lock failed
    case 7: // device could not be opened
        return Ras::PortNotAvailable;
    case 8: // the connect script (the carrier) failed
        return Ras::NoAnswer;
    case 10: // negotiation failed
        return deviceConnected ? unsigned(Ras::PppLcpTerminated) : unsigned(Ras::NoAnswer);
    case 11: // the peer did not authenticate itself
        return Ras::ServerIdentity;
    case 12: // idle time-out
    case 13: // connect-time limit
        return Ras::RemoteDisconnection;
    case 15: // the peer stopped answering echo requests
        return Ras::PppTimeout;
    case 16: // hang-up of the carrier
        return deviceConnected ? unsigned(Ras::PortDisconnected) : unsigned(Ras::NoAnswer);
    case 19: // our credentials were refused
        return Ras::AuthenticationFailure;
    default: // 1 fatal error, 14 callback, 17 loopback, 18 init script, crashes
        return Ras::FromDevice;
    }
}

struct PppDialUp::Dial
{
    struct Step
    {
        // No program: the link's IPsec connection and key go into charon.
        QString program;
        QStringList arguments;
        unsigned errorOnFailure = 0; // 0: the step whose life is the link's life
    };

    Ras::Handle handle = 0;
    QString entryName;
    bool l2tp = false;
    Ras::DialNotifier notify;
    std::unique_ptr<QTemporaryDir> secrets;
    QList<Step> steps;
    int stepIndex = 0;
    QProcess *process = nullptr;
    qint64 pid = 0; // of the link's process, for the process-list walk
    QByteArray carry;
    int state = Ras::OpenPort;
    bool deviceConnected = false;
    bool connected = false;
    bool hungUp = false;
    bool ended = false;
    bool noAnswer = false;
    int pppStatus = -1; // L2TP: pppd's exit status as xl2tpd reports it
    unsigned failure = 0; // what a line has shown the dial's error to be
    QString interfaceName;
    QString localIp;
    QStringList peerDns; // the DNS servers the peer gave, as pppd says them
    QByteArray peerDnsText; // pppd's file of them, as it writes it
    QString ipsecProposal; // the ESP proposal charon selected, until the SA is up
    // L2TP: the name of the link's own connection, child and key in charon,
    // and whether charon may hold them (unloaded when the dial ends).
    QByteArray ipsecName;
    Vici::Message ipsecConnection;
    Vici::Message ipsecSecret;
    bool ipsecLoaded = false;
    QString protection; // the link's encryption, once negotiated
    HostRoute route; // to the server along the machine's own way there
    QList<std::shared_ptr<AutoResetEvent>> watchers;
};

PppDialUp::PppDialUp(DialUpPrograms programs, QString sysClassNet, QObject *parent,
                     QString peerDnsFile)
    : QObject(parent), m_programs(std::move(programs)),
      m_vici(new ViciClient(m_programs.viciSocket, this)), m_sysClassNet(std::move(sysClassNet)),
      m_peerDnsFile(std::move(peerDnsFile))
{ }

namespace {
// Processes of links that outlive their dial-up object: kept reachable so
// that nothing ends them (QProcess would kill its child when destroyed).
std::vector<QProcess *> &orphanedLinks()
{
    static auto *links = new std::vector<QProcess *>; // never freed: stays reachable
    return *links;
}
} // namespace

PppDialUp::~PppDialUp()
{
    // The links stay up, as dial-up connections outlive their dialler; only
    // our bookkeeping goes. A dial still on its way ends: nobody would hear
    // how it went. Wake whoever waits for a disconnection.
    QMutexLocker lock(&m_mutex);
    for (const auto &d : std::as_const(m_dials)) {
        if (d->process) {
            d->process->disconnect(this);
            d->process->setParent(nullptr);
            if (!d->connected)
                d->process->terminate();
            // QProcess would kill its child on destruction: let it run on.
            d->process->closeReadChannel(QProcess::StandardOutput);
            orphanedLinks().push_back(d->process);
        }
        for (const auto &w : std::as_const(d->watchers))
            w->close();
        if (d->connected) {
            // The server's host route stays with the link; the next dial
            // takes it over by its protocol number. So do its IPsec
            // connection and key, which its rekeying needs.
            d->route.release();
        } else if (d->ipsecLoaded) {
            unloadIpsec(d->ipsecName);
        }
    }
    // What the dials on their way loaded goes from charon before the
    // program does (a second at most; charon answers in milliseconds).
    m_vici->drain(1000);
}

bool PppDialUp::readEntry(const QString &phoneBook, const QString &entryName, Ras::Entry *entry,
                          QString *preSharedKey)
{
    QFile f(phoneBook);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const IniDocument doc = IniDocument::parse(f.readAll());
    if (!doc.contains(entryName, QStringLiteral("dwVpnStrategy")))
        return false;
    auto v = [&](const char *key) {
        return doc.value(entryName, QLatin1String(key));
    };
    entry->options = number(v("dwfOptions"));
    entry->localPhoneNumber = v("szLocalPhoneNumber");
    entry->netProtocols = number(v("dwfNetProtocols"));
    entry->framingProtocol = number(v("dwFramingProtocol"));
    entry->deviceType = v("szDeviceType");
    entry->type = number(v("dwType"));
    entry->encryptionType = number(v("dwEncryptionType"));
    entry->vpnStrategy = number(v("dwVpnStrategy"));
    entry->options2 = number(v("dwfOptions2"));
    if (preSharedKey)
        *preSharedKey = v("PreSharedKey");
    return true;
}

namespace {

unsigned writePhoneBook(const QString &path, const IniDocument &doc)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return Ras::CannotOpenPhonebook;
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    f.write(doc.serialize());
    return f.commit() ? 0u : unsigned(Ras::CannotOpenPhonebook);
}

IniDocument readPhoneBook(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? IniDocument::parse(f.readAll()) : IniDocument();
}

} // namespace

unsigned PppDialUp::setEntryProperties(const QString &phoneBook, const QString &entryName,
                                       const Ras::Entry &e)
{
    if (entryName.isEmpty() || entryName.contains(QLatin1Char(']')))
        return Ras::CannotFindPhonebookEntry;
    IniDocument doc = readPhoneBook(phoneBook);
    const QString s = entryName;
    doc.setValue(s, QStringLiteral("dwfOptions"), hex(e.options));
    doc.setValue(s, QStringLiteral("szLocalPhoneNumber"), e.localPhoneNumber);
    doc.setValue(s, QStringLiteral("dwfNetProtocols"), QString::number(e.netProtocols));
    doc.setValue(s, QStringLiteral("dwFramingProtocol"), QString::number(e.framingProtocol));
    doc.setValue(s, QStringLiteral("szDeviceType"), e.deviceType);
    doc.setValue(s, QStringLiteral("dwType"), QString::number(e.type));
    doc.setValue(s, QStringLiteral("dwEncryptionType"), QString::number(e.encryptionType));
    doc.setValue(s, QStringLiteral("dwVpnStrategy"), QString::number(e.vpnStrategy));
    doc.setValue(s, QStringLiteral("dwfOptions2"), hex(e.options2));
    return writePhoneBook(phoneBook, doc);
}

unsigned PppDialUp::setPreSharedKey(const QString &phoneBook, const QString &entryName,
                                    const QString &key)
{
    IniDocument doc = readPhoneBook(phoneBook);
    if (!doc.contains(entryName, QStringLiteral("dwVpnStrategy")))
        return Ras::CannotFindPhonebookEntry;
    doc.setValue(entryName, QStringLiteral("PreSharedKey"), key);
    return writePhoneBook(phoneBook, doc);
}

unsigned PppDialUp::dial(const QString &phoneBook, const Ras::DialParams &params,
                         Ras::DialNotifier notify, Ras::Handle *handle)
{
    if (!QFileInfo::exists(phoneBook))
        return Ras::CannotOpenPhonebook;
    Ras::Entry entry;
    QString psk;
    if (!readEntry(phoneBook, params.entryName, &entry, &psk))
        return Ras::CannotFindPhonebookEntry;
    // The server goes into pppd's pty command (run by /bin/sh), charon's
    // connection and xl2tpd's file: an address or a host name only.
    if (!isServerAddress(entry.localPhoneNumber))
        return Ras::BadServerName;
    // pppd looks an empty secret up in the system's secrets files (and would
    // answer the server with what it finds there): never for our links.
    if (params.userName.isEmpty() || params.password.isEmpty())
        return Ras::AuthenticationFailure;
    // A line break would end the option or the configuration line early.
    for (const QString *text : std::initializer_list<const QString *> {
             &params.userName, &params.password, &psk, &entry.localPhoneNumber}) {
        if (text->contains(QLatin1Char('\n')) || text->contains(QLatin1Char('\r')))
            return Ras::CannotLoadString;
    }

    auto d = std::make_shared<Dial>();
    d->entryName = params.entryName;
    d->l2tp = entry.vpnStrategy == Ras::StrategyL2tpOnly;
    d->notify = std::move(notify);
    d->secrets =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kvo-dial-XXXXXX"));
    if (!d->secrets->isValid())
        return Ras::CannotLoadString;
    const QString dir = d->secrets->path();
    const QString server = entry.localPhoneNumber;
    // A host name is resolved by the programs themselves; pptp then keeps
    // its own host route.
    bool routed = false;
    if (isDottedIpv4(server))
        routed = d->route.add(server);

    // The user's credentials only ever reach pppd through this file.
    QByteArray options = "name " + pppQuoted(params.userName) + "\npassword " +
        pppQuoted(params.password) + "\nremotename " + pppQuoted(params.entryName) + "\n";
    options += "noauth\nrefuse-pap\nrefuse-eap\nrefuse-mschap\n";
    if (!(entry.options & Ras::OptRequireChap))
        options += "refuse-chap\n";
    // PPTP carries the user's traffic in the clear unless MPPE encrypts it:
    // a server that will not encrypt is refused (742). L2TP is inside IPsec.
    if (!d->l2tp)
        options += "require-mppe-128\n";
    // The default route through the link, also where the machine has one
    // (restored when the link ends); the host route keeps the server's way.
    if (entry.options & Ras::OptRemoteDefaultGateway)
        options += "defaultroute\nreplacedefaultroute\n";
    // The peer's DNS servers: pppd says them in its log, and the client
    // applies them to the link itself. The system's ip-up and ip-down
    // scripts are not run for our links (their hooks would rewrite the
    // machine's resolv.conf with them, and restore it on their own terms):
    // the scripts named here do not exist, in a folder only root can write.
    options += "usepeerdns\nip-up-script " + pppQuoted(dir + QStringLiteral("/no-ip-up")) +
        "\nip-down-script " + pppQuoted(dir + QStringLiteral("/no-ip-down")) + "\n";
    options += "nobsdcomp\nnodeflate\n";
    const QString optionsPath = dir + QStringLiteral("/options");

    if (!d->l2tp) {
        if (!writePrivateFile(optionsPath, options))
            return Ras::CannotLoadString;
        d->steps.append({m_programs.pppd,
                         {QStringLiteral("nodetach"), QStringLiteral("logfd"), QStringLiteral("1"),
                          QStringLiteral("ipparam"), params.entryName, QStringLiteral("file"),
                          optionsPath, QStringLiteral("pty"),
                          QStringLiteral("\"%1\" %2 --nolaunchpppd%3")
                              .arg(m_programs.pptp, server,
                                   routed ? QStringLiteral(" --nohostroute") : QString())},
                         0});
    } else {
        options += "ipparam " + pppQuoted(params.entryName) + "\nlogfd 2\n";
        // A connection, child and key of the link's own in the machine's
        // charon: nothing of another link's, or of the administrator's, is
        // touched. The key belongs to the server's address where there is
        // one (so it wins over the machine's catch-all keys).
        static std::atomic<quint64> ipsecLinks {0};
        d->ipsecName = QByteArrayLiteral("kvo-") + QByteArray::number(qint64(::getpid())) + '-' +
            QByteArray::number(++ipsecLinks);
        Vici::Message &connection = d->ipsecConnection;
        connection.section(d->ipsecName)
            .list("remote_addrs", {server.toUtf8()})
            .value("version", "1")
            .list("proposals", kIkeProposals.split(','))
            .section("local")
            .value("auth", "psk")
            .end()
            .section("remote")
            .value("auth", "psk")
            .end()
            .section("children")
            .section(d->ipsecName)
            .value("mode", "transport")
            .list("esp_proposals", kEspProposals.split(','))
            .list("local_ts", {"dynamic[udp/1701]"})
            .list("remote_ts", {"dynamic[udp/1701]"})
            .end()
            .end()
            .end();
        Vici::Message &secret = d->ipsecSecret;
        secret.value("id", d->ipsecName).value("type", "IKE").value("data", psk.toUtf8());
        if (isDottedIpv4(server))
            secret.list("owners", {server.toUtf8()});
        if (!connection.valid() || !secret.valid())
            return Ras::CannotLoadString;
        const QString xlConf = dir + QStringLiteral("/xl2tpd-%1.conf").arg(params.entryName);
        const QByteArray xl = "[lac " + params.entryName.toUtf8() + "]\nlns = " + server.toUtf8() +
            "\npppoptfile = " + optionsPath.toUtf8() +
            "\nautodial = yes\nredial = no\nlength bit = yes\n";
        if (!writePrivateFile(optionsPath, options) || !writePrivateFile(xlConf, xl))
            return Ras::CannotLoadString;
        d->steps.append({QString(), {}, 711});
        // Its lines as they come: a refusal ends the dial at once.
        QStringList initiate {QStringLiteral("--initiate"),      QStringLiteral("--child"),
                              QString::fromLatin1(d->ipsecName), QStringLiteral("--ike"),
                              QString::fromLatin1(d->ipsecName), QStringLiteral("--timeout"),
                              QString::number(kIpsecSeconds)};
        QString initiator = m_programs.swanctl;
        if (!m_programs.stdbuf.isEmpty()) {
            initiate.prepend(m_programs.swanctl);
            initiate.prepend(QStringLiteral("-oL"));
            initiator = m_programs.stdbuf;
        }
        d->steps.append({initiator, initiate, Ras::VpnTimeout});
        d->steps.append({m_programs.xl2tpd,
                         {QStringLiteral("-D"), QStringLiteral("-c"), xlConf, QStringLiteral("-p"),
                          dir + QStringLiteral("/xl2tpd.pid"), QStringLiteral("-C"),
                          dir + QStringLiteral("/l2tp-control"), QStringLiteral("-s"),
                          dir + QStringLiteral("/l2tp-secrets")},
                         0});
    }

    keepPeerDnsFile();
    {
        QMutexLocker lock(&m_mutex);
        d->handle = m_nextHandle++;
        m_dials.insert(d->handle, d);
    }
    startStep(d.get());
    if (d->ended) { // the first program could not be started
        return Ras::CannotLoadString;
    }
    *handle = d->handle;
    setState(d.get(), Ras::PortOpened);
    return 0;
}

void PppDialUp::startStep(Dial *d)
{
    const Dial::Step &step = d->steps.at(d->stepIndex);
    if (step.program.isEmpty()) {
        loadIpsec(d);
        return;
    }
    auto *p = new QProcess(this);
    d->process = p;
    p->setProcessChannelMode(QProcess::MergedChannels);
    connect(p, &QProcess::readyReadStandardOutput, this, [this, d] { onOutput(d); });
    connect(p, &QProcess::finished, this, [this, d](int code, QProcess::ExitStatus status) {
        onStepFinished(d, code, status == QProcess::CrashExit);
    });
    p->start(step.program, step.arguments, QIODevice::ReadOnly);
    if (!p->waitForStarted(5000)) {
        p->disconnect(this);
        p->deleteLater();
        d->process = nullptr;
        if (d->stepIndex == 0) {
            d->ended = true;
            QMutexLocker lock(&m_mutex);
            m_dials.remove(d->handle);
        } else {
            finish(d, step.errorOnFailure ? step.errorOnFailure : unsigned(Ras::CannotLoadString));
        }
        return;
    }
    if (step.errorOnFailure == 0) {
        QMutexLocker lock(&m_mutex);
        d->pid = p->processId();
    }
}

void PppDialUp::loadIpsec(Dial *d)
{
    const Ras::Handle handle = d->handle;
    // From here on the dial's end unloads them, whether charon took them
    // or not (unloading what is not there does nothing).
    d->ipsecLoaded = true;
    auto next = [this, handle](const Vici::Reply &reply, bool last) {
        Dial *d = find(handle);
        if (!d || d->ended)
            return;
        if (!reply.ok) {
            qWarning("IPsec for %s: %s", d->ipsecName.constData(), qPrintable(reply.error));
            finish(d, d->hungUp ? 0u : 711u);
        } else if (d->hungUp) {
            finish(d, 0);
        } else if (last) {
            ++d->stepIndex;
            startStep(d);
        }
    };
    m_vici->request("load-conn", d->ipsecConnection,
                    [next](const Vici::Reply &r) { next(r, false); });
    m_vici->request("load-shared", d->ipsecSecret, [next](const Vici::Reply &r) { next(r, true); });
}

void PppDialUp::unloadIpsec(const QByteArray &name)
{
    // Its security associations first (charon sends the server their
    // delete at once, without waiting for an answer), then its connection
    // and its key.
    m_vici->request("terminate", Vici::Message().value("ike", name).value("timeout", "-1"));
    m_vici->request("unload-conn", Vici::Message().value("name", name));
    m_vici->request("unload-shared", Vici::Message().value("id", name));
}

void PppDialUp::onOutput(Dial *d)
{
    if (!d->process)
        return;
    for (const QString &line : PppOutput::takeLines(d->carry, d->process->readAllStandardOutput()))
        onLine(d, line);
}

namespace PppOutput {
namespace {
bool dottedIpv4(const QString &text)
{
    static const QRegularExpression dotted(
        QStringLiteral("^[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}$"));
    bool ok = false;
    Ipv4::numericValue(text, &ok);
    return ok && dotted.match(text).hasMatch();
}

bool plainInterfaceName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._-]{1,15}$"));
    return name != QLatin1String(".") && name != QLatin1String("..") &&
        plain.match(name).hasMatch();
}
} // namespace

Line classify(const QString &line)
{
    static const QRegularExpression usingIf(QStringLiteral("Using interface (\\S+)"));
    static const QRegularExpression connectLine(QStringLiteral("Connect: (\\S+) <-->"));
    static const QRegularExpression localIp(QStringLiteral("local\\s+IP address\\s+(\\S+)"));
    static const QRegularExpression peerDns(
        QStringLiteral("^(primary|secondary)\\s+DNS address\\s+(\\S+)$"));
    static const QRegularExpression pppExit(
        QStringLiteral("pppd exited for call \\S+ with code (\\d+)"));
    static const QRegularExpression mppe(
        QStringLiteral("MPPE (\\d{2,3})-bit (stateless|stateful) compression enabled"));
    static const QRegularExpression espProposal(
        QStringLiteral("selected proposal: ESP:([A-Z0-9_/]{1,80})$"));
    static const QRegularExpression childUp(QStringLiteral("CHILD_SA \\S+ established with SPIs"));
    static const QRegularExpression carrierDown(QStringLiteral("Connection (\\d+ )?closed to \\S"));

    Line out;
    if (auto m = usingIf.match(line); m.hasMatch()) {
        if (plainInterfaceName(m.captured(1)))
            out = {Line::Interface, m.captured(1)};
    } else if (auto m = connectLine.match(line); m.hasMatch()) {
        out = {Line::DeviceConnected,
               plainInterfaceName(m.captured(1)) ? m.captured(1) : QString()};
    } else if (line.contains(QLatin1String("authentication succeeded"))) {
        out.kind = Line::Authenticated;
    } else if (line.startsWith(QLatin1String("CHAP authentication failed")) ||
               line.startsWith(QLatin1String("MS-CHAP authentication failed")) ||
               line.startsWith(QLatin1String("PAP authentication failed"))) {
        out.kind = Line::AuthFailed;
    } else if (auto m = localIp.match(line); m.hasMatch()) {
        if (dottedIpv4(m.captured(1)))
            out = {Line::LocalAddress, m.captured(1)};
    } else if (auto m = peerDns.match(line); m.hasMatch()) {
        if (dottedIpv4(m.captured(2)))
            out = {Line::PeerDns, m.captured(2)};
    } else if (line.contains(QLatin1String("remote IP address"))) {
        out.kind = Line::Projected;
    } else if (line.contains(QLatin1String("Connection established to"))) {
        out.kind = Line::CarrierUp;
    } else if (carrierDown.match(line).hasMatch()) {
        out.kind = Line::CarrierDown;
    } else if (auto m = mppe.match(line); m.hasMatch()) {
        out = {Line::Encrypted, QStringLiteral("MPPE %1-bit %2").arg(m.captured(1), m.captured(2))};
    } else if (line.contains(QLatin1String("MPPE required but peer"))) {
        out.kind = Line::EncryptionRefused;
    } else if (auto m = espProposal.match(line); m.hasMatch()) {
        // The extended sequence numbers part says nothing about the cipher.
        QStringList parts = m.captured(1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        parts.removeIf([](const QString &p) { return p.endsWith(QLatin1String("EXT_SEQ")); });
        out = {Line::IpsecProposal, parts.join(QLatin1Char('/'))};
    } else if (childUp.match(line).hasMatch()) {
        out.kind = Line::IpsecUp;
    } else if (line.contains(QLatin1String("received NO_PROPOSAL_CHOSEN")) ||
               line.contains(QLatin1String("received AUTHENTICATION_FAILED")) ||
               line.contains(QLatin1String("decryption failed?"))) {
        out.kind = Line::IpsecRefused;
    } else if (line.contains(QLatin1String("Connection refused")) ||
               line.contains(QLatin1String("Could not open control connection")) ||
               line.contains(QLatin1String("Connection timed out")) ||
               line.contains(QLatin1String("No route to host")) ||
               line.contains(QLatin1String("Maximum retries exceeded"))) {
        out.kind = Line::NoAnswer;
    } else if (auto m = pppExit.match(line); m.hasMatch()) {
        bool ok = false;
        const int status = m.captured(1).toInt(&ok);
        if (ok)
            out = {Line::PppExited, QString(), status};
    }
    return out;
}

QStringList takeLines(QByteArray &carry, const QByteArray &chunk)
{
    carry += chunk;
    QStringList lines;
    qsizetype nl;
    while ((nl = carry.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(carry.left(nl)).trimmed();
        carry.remove(0, nl + 1);
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}
} // namespace PppOutput

void PppDialUp::onLine(Dial *d, const QString &line)
{
    if (d->ended || d->hungUp)
        return;
    const PppOutput::Line event = PppOutput::classify(line);
    switch (event.kind) {
    case PppOutput::Line::None:
        break;
    case PppOutput::Line::Interface:
        d->interfaceName = event.value;
        break;
    case PppOutput::Line::DeviceConnected:
        if (d->interfaceName.isEmpty())
            d->interfaceName = event.value;
        d->deviceConnected = true;
        setState(d, Ras::DeviceConnected);
        setState(d, Ras::Authenticate);
        break;
    case PppOutput::Line::Authenticated:
        setState(d, Ras::Authenticated);
        setState(d, Ras::AuthProject);
        break;
    case PppOutput::Line::LocalAddress:
        d->localIp = event.value;
        break;
    case PppOutput::Line::PeerDns:
        if (d->peerDnsText.count('\n') < 2) {
            // What pppd writes into its file, a line for each it said (the
            // same server twice when the peer gave one).
            d->peerDnsText += "nameserver " + event.value.toLatin1() + '\n';
            QMutexLocker lock(&m_mutex);
            m_peerDnsWritten.append(d->peerDnsText);
        }
        if (d->peerDns.size() < 2 && !d->peerDns.contains(event.value))
            d->peerDns.append(event.value);
        break;
    case PppOutput::Line::Projected:
        setState(d, Ras::Projected);
        d->connected = true;
        setState(d, Ras::Connected);
        break;
    case PppOutput::Line::CarrierUp:
        // L2TP tunnel up: the carrier of the PPP link.
        d->deviceConnected = true;
        break;
    case PppOutput::Line::NoAnswer:
        // pptp says so only while it opens its control connection, which
        // comes after pppd's "Connect:" to pptp's pty; xl2tpd also when an
        // established tunnel dies.
        if (!d->l2tp || !d->deviceConnected)
            d->noAnswer = true;
        if (d->l2tp && d->process)
            d->process->terminate(); // xl2tpd would keep trying
        break;
    case PppOutput::Line::PppExited:
        // xl2tpd outlives its pppd: the link's life is pppd's.
        d->pppStatus = event.status;
        if (d->process)
            d->process->terminate();
        break;
    case PppOutput::Line::CarrierDown:
        // The server closed the L2TP call or tunnel: xl2tpd ends pppd and
        // then waits on for good, saying pppd's status only when it had
        // ended first. A moment for that line, then the link is over.
        if (d->l2tp) {
            QTimer::singleShot(kCarrierGraceMs, this, [this, handle = d->handle] {
                Dial *dial = find(handle);
                if (dial && !dial->ended && dial->process)
                    dial->process->terminate();
            });
        }
        break;
    case PppOutput::Line::AuthFailed:
        d->failure = Ras::AuthenticationFailure;
        break;
    case PppOutput::Line::Encrypted:
        d->protection = event.value;
        break;
    case PppOutput::Line::EncryptionRefused:
        d->failure = Ras::NoRemoteEncryption;
        break;
    case PppOutput::Line::IpsecProposal:
        d->ipsecProposal = event.value;
        break;
    case PppOutput::Line::IpsecUp:
        d->protection = QStringLiteral("IPsec ESP %1").arg(d->ipsecProposal).trimmed();
        break;
    case PppOutput::Line::IpsecRefused:
        // charon would try on until the time-out: the answer is in.
        d->failure = Ras::SecurityNegotiation;
        if (d->process)
            d->process->terminate();
        break;
    }
}

void PppDialUp::setState(Dial *d, int state)
{
    d->state = state;
    if (d->notify)
        d->notify(state, 0);
}

void PppDialUp::onStepFinished(Dial *d, int exitCode, bool crashed)
{
    onOutput(d);
    if (d->process) {
        d->process->deleteLater();
        d->process = nullptr;
    }
    const Dial::Step step = d->steps.at(d->stepIndex);
    if (step.errorOnFailure != 0) {
        if (d->hungUp) {
            finish(d, 0);
        } else if (crashed || exitCode != 0) {
            finish(d, d->failure ? d->failure : step.errorOnFailure);
        } else {
            ++d->stepIndex;
            startStep(d);
        }
        return;
    }
    unsigned error = 0;
    if (!d->hungUp && !d->connected) {
        if (d->l2tp)
            error = d->pppStatus >= 0 ? PppExit::toRasError(d->pppStatus, d->deviceConnected)
                : d->noAnswer         ? unsigned(Ras::NoAnswer)
                                      : unsigned(Ras::FromDevice);
        else if (crashed)
            error = Ras::FromDevice;
        else
            error = PppExit::toRasError(exitCode, d->deviceConnected);
        if (d->noAnswer)
            error = Ras::NoAnswer;
        if (d->failure)
            error = d->failure;
    }
    finish(d, error);
}

void PppDialUp::finish(Dial *d, unsigned error)
{
    if (d->ended)
        return;
    const bool report = error != 0 && !d->hungUp && !d->connected;
    const int state = d->state;
    Ras::DialNotifier notify = d->notify;
    if (d->ipsecLoaded) {
        // The IPsec security association outlives xl2tpd otherwise.
        d->ipsecLoaded = false;
        unloadIpsec(d->ipsecName);
    }
    std::shared_ptr<Dial> keep;
    {
        QMutexLocker lock(&m_mutex);
        d->ended = true;
        d->state = Ras::Disconnected;
        for (const auto &w : std::as_const(d->watchers))
            w->set();
        d->watchers.clear();
        keep = m_dials.take(d->handle);
    }
    if (d->process) {
        d->process->disconnect(this);
        d->process->deleteLater();
        d->process = nullptr;
    }
    d->secrets.reset(); // removes the credentials
    d->route.remove();
    restorePeerDnsFile();
    if (report && notify)
        notify(state, error);
}

PppDialUp::Dial *PppDialUp::find(Ras::Handle handle) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_dials.find(handle);
    return it == m_dials.end() ? nullptr : it->get();
}

unsigned PppDialUp::hangUp(Ras::Handle handle)
{
    if (handle & kForeignBit) {
        const pid_t pid = pid_t(handle & ~kForeignBit);
        return ProcessList::terminate(pid) ? 0u : unsigned(Ras::InvalidHandle);
    }
    Dial *d = find(handle);
    if (!d || d->ended)
        return Ras::InvalidHandle;
    d->hungUp = true;
    if (d->process)
        d->process->terminate();
    else if (d->steps.at(d->stepIndex).program.isEmpty())
        finish(d, 0); // charon's answer on the loading no longer matters
    return 0;
}

unsigned PppDialUp::getConnectStatus(Ras::Handle handle, Ras::ConnStatus *status)
{
    if (handle & kForeignBit) {
        if (!ProcessList::isRunning(pid_t(handle & ~kForeignBit)))
            return Ras::InvalidHandle;
        *status = {Ras::Connected, 0, QStringLiteral("vpn"), QString()};
        return 0;
    }
    Dial *d = find(handle);
    if (!d || d->ended)
        return Ras::InvalidHandle;
    *status = {d->state, 0, QStringLiteral("vpn"), d->interfaceName};
    return 0;
}

unsigned PppDialUp::getProjectedIp(Ras::Handle handle, QString *address)
{
    Dial *d = find(handle);
    if (!d || d->ended)
        return Ras::InvalidHandle;
    if (!d->connected || d->localIp.isEmpty())
        return 731; // the protocol is not configured (yet)
    *address = d->localIp;
    return 0;
}

unsigned PppDialUp::getProtection(Ras::Handle handle, QString *protection)
{
    Dial *d = find(handle);
    if (!d || d->ended)
        return Ras::InvalidHandle;
    *protection = d->connected ? d->protection : QString();
    return 0;
}

unsigned PppDialUp::getPeerDns(Ras::Handle handle, QStringList *servers)
{
    Dial *d = find(handle);
    if (!d || d->ended)
        return Ras::InvalidHandle;
    *servers = d->connected ? d->peerDns : QStringList();
    return 0;
}

void PppDialUp::keepPeerDnsFile()
{
    QMutexLocker lock(&m_mutex);
    for (const auto &d : std::as_const(m_dials)) {
        if (!d->ended)
            return; // kept when the first of them started
    }
    QFile f(m_peerDnsFile);
    if (f.open(QIODevice::ReadOnly))
        m_peerDnsBefore = std::optional<QByteArray>(f.readAll());
    else
        m_peerDnsBefore = std::optional<QByteArray>();
    m_peerDnsWritten.clear();
}

void PppDialUp::restorePeerDnsFile()
{
    QMutexLocker lock(&m_mutex);
    if (!m_dials.isEmpty() || !m_peerDnsBefore)
        return;
    const std::optional<QByteArray> before = *m_peerDnsBefore;
    m_peerDnsBefore.reset();
    QFile f(m_peerDnsFile);
    // Another program's file (another pppd's, the administrator's) stays.
    if (!f.open(QIODevice::ReadOnly) || !m_peerDnsWritten.contains(f.readAll()))
        return;
    f.close();
    if (!before) {
        QFile::remove(m_peerDnsFile);
        return;
    }
    QSaveFile out(m_peerDnsFile);
    if (out.open(QIODevice::WriteOnly) && out.write(*before) == before->size())
        out.commit();
}

unsigned PppDialUp::getStatistics(Ras::Handle handle, Ras::Statistics *stats)
{
    Dial *d = find(handle);
    if (!d || d->ended)
        return Ras::InvalidHandle;
    *stats = {};
    if (d->interfaceName.isEmpty())
        return 0;
    auto counter = [&](const char *name) -> quint64 {
        QFile f(m_sysClassNet + QLatin1Char('/') + d->interfaceName +
                QStringLiteral("/statistics/") + QLatin1String(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toULongLong() : 0;
    };
    stats->bytesSent = counter("tx_bytes");
    stats->bytesReceived = counter("rx_bytes");
    return 0;
}

unsigned PppDialUp::enumConnections(QList<Ras::Connection> *out, int capacity, int *count)
{
    QList<Ras::Connection> all;
    QList<qint64> ownPids;
    {
        QMutexLocker lock(&m_mutex);
        for (const auto &d : std::as_const(m_dials)) {
            if (!d->ended) {
                all.append({d->handle, d->entryName});
                ownPids.append(d->pid);
            }
        }
    }
    // Links that an earlier run of the program left up.
    for (const ProcessEntry &p : ProcessList::snapshot()) {
        if (ownPids.contains(p.pid))
            continue;
        const QString name = foreignEntryName(p);
        if (!name.isEmpty())
            all.append({kForeignBit | Ras::Handle(p.pid), name});
    }
    *count = int(all.size());
    if (out)
        out->clear();
    if (all.size() > capacity)
        return Ras::BufferTooSmall;
    if (out)
        *out = all;
    return 0;
}

unsigned PppDialUp::notifyOnDisconnection(Ras::Handle handle, std::shared_ptr<AutoResetEvent> event)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_dials.find(handle);
    if (it == m_dials.end() || (*it)->ended)
        return Ras::InvalidHandle;
    (*it)->watchers.append(std::move(event));
    return 0;
}
