#include "helperservice.h"

#include "platform/codepage.h"
#include "platform/deploymentconfig.h"
#include "platform/ipv4.h"
#include "platform/outsideblock.h"
#include "platform/processlist.h"
#include "platform/tcpreset.h"
#include "platform/tunneldns.h"
#include "tunnel/ovpnoutput.h"
#include "tunnel/tapadapter.h"
#include "tunnel/tunnelcommand.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

const QString HelperService::kServiceName = QStringLiteral("org.kvo.Helper1");
const QString HelperService::kObjectPath = QStringLiteral("/org/kvo/Helper1");
const QString HelperService::kInterface = QStringLiteral("org.kvo.Helper1");

struct HelperService::Tunnel
{
    QString owner;
    uint uid = 0; // the owner's user
    bool stopping = false; // a stop is on its way: another does nothing
    QProcess *process = nullptr;
    OvpnOutput::LineSplitter splitter;
    QString device; // from openvpn's "TUN/TAP device ... opened"
};

struct HelperService::Link
{
    QString owner;
    uint uid = 0; // the owner's user
    Ras::Handle handle = 0;
    QString phoneBook;
};

using namespace Qt::StringLiterals;

namespace {

const QString kErrorNotAuthorized = QStringLiteral("org.kvo.Helper1.Error.NotAuthorized");
const QString kErrorNoSuchTunnel = QStringLiteral("org.kvo.Helper1.Error.NoSuchTunnel");
const QString kErrorFailed = QStringLiteral("org.kvo.Helper1.Error.Failed");
const QString kErrorInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");

const QString kActionConnect = QStringLiteral("org.kvo.helper.connect");
const QString kActionReset = QStringLiteral("org.kvo.helper.reset-connections");

// openvpn's own limits for --shaper, in bytes per second.
constexpr quint32 kShaperMin = 100;
constexpr quint32 kShaperMax = 100000000;
// The dial-up driver cuts its credentials to this length too.
constexpr int kCredentialChars = 256;
constexpr int kMaxResetHosts = 64;
// Tunnels and links one caller may hold at once.
constexpr int kMaxPerCaller = 4;
// The same per user (over all of its bus connections), and in all.
constexpr int kMaxPerUser = 4;
constexpr int kMaxTunnels = 16;
constexpr uint kResetPort = 443;
// Authorisations waiting for polkit: per caller, and in all.
constexpr int kMaxChecksPerCaller = 2;
constexpr int kMaxChecks = 32;
constexpr int kStopGraceMs = 700;
constexpr int kLinkPollMs = 1000;

struct Method
{
    const char *name;
    const char *signature;
    bool reset; // the reset action, else the connect action
};

// clang-format off
constexpr Method kMethods[] = {
    {"StartOpenVpn", "suuss", false},
    {"StopOpenVpn", "u", false},
    {"Dial", "usss", false},
    {"HangUp", "u", false},
    {"LinkStatus", "u", false},
    {"LinkAddress", "u", false},
    {"LinkStatistics", "u", false},
    {"LinkProtection", "u", false},
    {"LinkDns", "u", false},
    {"ResetConnections", "asu", true},
    {"TunDeviceAvailable", "", false},
    {"BlockOutside", "sas", false},
    {"Unblock", "", false},
    {"BlockIpv6", "s", false},
    {"SetTunnelDns", "sasas", false},
    {"RevertTunnelDns", "", false},
};
// clang-format on

const Method *findMethod(const QString &name)
{
    for (const Method &m : kMethods)
        if (name == QLatin1String(m.name))
            return &m;
    return nullptr;
}

// The credentials go to the child one a line: no line breaks, no NULs.
bool isCredential(const QString &text)
{
    return text.size() <= kCredentialChars && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QChar(0));
}

bool isDottedAddress(const QString &text)
{
    bool ok = false;
    Ipv4::numericValue(text, &ok);
    return ok && isServerAddress(text);
}

// Directives of an openvpn configuration that run programs or load code.
// The install folder's configuration must carry none of them: the tunnel
// runs as root for any local user.
// The directives an installed client.ovpn may hold: those of a client's
// connection. Anything else (scripts, plug-ins, other files to read or
// write, management, "setenv opt" that turns any option into one openvpn
// may ignore) keeps openvpn from being started by root.
bool allowedDirective(const QString &name)
{
    static const QSet<QString> allowed {
        u"client"_s, u"dev"_s, u"dev-type"_s, u"proto"_s, u"remote"_s, u"remote-random"_s,
        u"resolv-retry"_s, u"nobind"_s, u"persist-key"_s, u"persist-tun"_s, u"remote-cert-tls"_s,
        u"remote-cert-eku"_s, u"remote-cert-ku"_s, u"verify-x509-name"_s, u"ns-cert-type"_s,
        u"ca"_s, u"cert"_s, u"key"_s, u"tls-auth"_s, u"tls-crypt"_s, u"key-direction"_s,
        u"cipher"_s, u"data-ciphers"_s, u"data-ciphers-fallback"_s, u"ncp-ciphers"_s, u"auth"_s,
        u"tls-client"_s, u"tls-version-min"_s, u"tls-cipher"_s, u"tls-ciphersuites"_s,
        u"comp-lzo"_s, u"compress"_s, u"allow-compression"_s, u"verb"_s, u"mute"_s,
        u"mute-replay-warnings"_s, u"auth-nocache"_s, u"auth-retry"_s, u"reneg-sec"_s, u"ping"_s,
        u"ping-restart"_s, u"keepalive"_s, u"tun-mtu"_s, u"link-mtu"_s, u"mssfix"_s, u"fragment"_s,
        u"sndbuf"_s, u"rcvbuf"_s, u"float"_s, u"pull"_s, u"connect-retry"_s, u"connect-retry-max"_s,
        u"connect-timeout"_s, u"server-poll-timeout"_s, u"hand-window"_s, u"explicit-exit-notify"_s,
        u"route-delay"_s, u"topology"_s, u"pull-filter"_s, u"redirect-gateway"_s, u"dhcp-option"_s,
        u"route"_s, u"route-nopull"_s, u"ignore-unknown-option"_s, u"auth-user-pass"_s,
        u"persist-remote-ip"_s, u"tls-timeout"_s, u"replay-window"_s,
        // Windows' own, which name nothing here.
        u"route-method"_s, u"ip-win32"_s, u"tap-sleep"_s, u"register-dns"_s, u"block-outside-dns"_s,
        u"dhcp-renew"_s, u"dhcp-release"_s};
    return allowed.contains(name);
}

// The inline files a client.ovpn may carry (<ca> ... </ca>).
bool allowedInline(const QString &name)
{
    return name == QLatin1String("ca") || name == QLatin1String("cert") ||
        name == QLatin1String("key") || name == QLatin1String("tls-auth") ||
        name == QLatin1String("tls-crypt");
}

// The first word of a configuration line as openvpn reads it: after
// blanks, quoted with " (backslash escapes) or ', a leading "--" dropped.
QString firstWord(const QString &line)
{
    QString word;
    qsizetype i = 0;
    while (i < line.size() && line.at(i).isSpace())
        ++i;
    QChar quote;
    for (; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quote.isNull()) {
            if (c.isSpace())
                break;
            if (c == QLatin1Char('"') || c == QLatin1Char('\''))
                quote = c;
            else if (c == QLatin1Char('\\') && i + 1 < line.size())
                word += line.at(++i);
            else
                word += c;
        } else if (c == quote) {
            quote = QChar();
        } else if (quote == QLatin1Char('"') && c == QLatin1Char('\\') && i + 1 < line.size()) {
            word += line.at(++i);
        } else {
            word += c;
        }
    }
    if (word.startsWith(QLatin1String("--")))
        word = word.mid(2);
    return word;
}

// The first directive of the installed configuration that is not allowed;
// empty when there is none (or no file: openvpn reports that itself).
QString refusedDirective(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QString inlineFile; // the tag whose inline file is being skipped
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (!inlineFile.isEmpty()) {
            if (line == QStringLiteral("</%1>").arg(inlineFile))
                inlineFile.clear();
            continue;
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('<')) && line.endsWith(QLatin1Char('>'))) {
            const QString tag = line.mid(1, line.size() - 2);
            if (!allowedInline(tag))
                return line;
            inlineFile = tag;
            continue;
        }
        const QString word = firstWord(line);
        if (!allowedDirective(word))
            return word;
    }
    return QString();
}

} // namespace

HelperService::HelperService(QDBusConnection bus, Options options, QObject *parent)
    : QDBusVirtualObject(parent), m_bus(bus), m_options(std::move(options)), m_polkit(bus),
      m_watcher(new QDBusServiceWatcher(this)),
      m_phoneBooks(QDir::tempPath() + QStringLiteral("/kvo-helper-XXXXXX"))
{
    m_watcher->setConnection(m_bus);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &HelperService::ownerLeft);
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        if (managing())
            touch();
        else
            Q_EMIT idle();
    });
    m_linkPoll.setInterval(kLinkPollMs);
    connect(&m_linkPoll, &QTimer::timeout, this, &HelperService::pollLinks);
}

HelperService::~HelperService()
{
    for (auto &[id, t] : m_tunnels) {
        if (t->process) {
            t->process->disconnect(this);
            t->process->kill();
            t->process->waitForFinished(2000);
        }
    }
    for (auto &[id, l] : m_links)
        m_dialUp.hangUp(l->handle);
    if (!m_blockOwner.isEmpty())
        removeBlock();
    revertDns();
}

bool HelperService::start(QString *error)
{
    if (!m_phoneBooks.isValid()) {
        *error = QStringLiteral("no private folder: ") + m_phoneBooks.errorString();
        return false;
    }
    if (!m_bus.registerVirtualObject(kObjectPath, this)) {
        *error = QStringLiteral("cannot register ") + kObjectPath;
        return false;
    }
    if (!m_bus.registerService(kServiceName)) {
        *error = QStringLiteral("cannot own ") + kServiceName + QStringLiteral(": ") +
            m_bus.lastError().message();
        return false;
    }
    // A table left by a helper that did not end in order (nobody watches
    // its owner any more).
    if (!OutsideBlock::nftProgram().isEmpty()) {
        QString ignored;
        OutsideBlock::remove(&ignored);
    }
    // The resolver set-up a killed helper or root client left applied.
    if (const QString recovered = TunnelDns::Applier::recover(); !recovered.isEmpty())
        qInfo("kvo-helper: DNS recovered: %s", qPrintable(recovered));
    touch();
    return true;
}

QString HelperService::introspect(const QString &path) const
{
    if (path != kObjectPath)
        return QString();
    // The committed interface description, without its document frame.
    QFile f(QStringLiteral(":/org.kvo.Helper1.xml"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const QString xml = QString::fromUtf8(f.readAll());
    const qsizetype from = xml.indexOf(QLatin1String("<interface "));
    const qsizetype to = xml.lastIndexOf(QLatin1String("</interface>"));
    if (from < 0 || to < from)
        return QString();
    return xml.mid(from, to - from + int(sizeof("</interface>") - 1)) + QLatin1Char('\n');
}

bool HelperService::handleMessage(const QDBusMessage &message, const QDBusConnection &)
{
    if (message.type() != QDBusMessage::MethodCallMessage || message.interface() != kInterface)
        return false; // Introspectable and Peer are answered by the library
    touch();
    const Method *method = findMethod(message.member());
    if (!method) {
        m_bus.send(
            message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                     QStringLiteral("No method %1").arg(message.member())));
        return true;
    }
    if (message.signature() != QLatin1String(method->signature)) {
        m_bus.send(
            message.createErrorReply(kErrorInvalidArgs,
                                     QStringLiteral("%1 takes (%2)")
                                         .arg(message.member(), QLatin1String(method->signature))));
        return true;
    }
    const QString bad = checkValues(message);
    if (!bad.isEmpty()) {
        m_bus.send(message.createErrorReply(kErrorInvalidArgs, bad));
        return true;
    }
    // One caller cannot fill the helper's allowance of pending replies on
    // the bus, and so fail every other caller's checks.
    if (m_polkit.pendingFor(message.service()) >= kMaxChecksPerCaller ||
        m_polkit.pending() >= kMaxChecks) {
        m_bus.send(message.createErrorReply(
            kErrorFailed, QStringLiteral("too many authorisations waiting; try again")));
        return true;
    }
    message.setDelayedReply(true);
    watchOwner(message.service()); // its checks are cancelled when it leaves
    m_polkit.check(message.service(), method->reset ? kActionReset : kActionConnect,
                   message.isInteractiveAuthorizationAllowed(),
                   [this, message](PolkitCheck::Answer answer, const QString &why) {
                       touch();
                       switch (answer) {
                       case PolkitCheck::Answer::Yes:
                           m_bus.send(perform(message));
                           return;
                       case PolkitCheck::Answer::Failed:
                           m_bus.send(message.createErrorReply(kErrorFailed, why));
                           return;
                       case PolkitCheck::Answer::Challenge:
                           m_bus.send(message.createErrorReply(
                               kErrorNotAuthorized, QStringLiteral("Authentication is required")));
                           return;
                       case PolkitCheck::Answer::No:
                           m_bus.send(message.createErrorReply(kErrorNotAuthorized,
                                                               QStringLiteral("Not authorized")));
                           return;
                       }
                   });
    return true;
}

QString HelperService::checkValues(const QDBusMessage &message) const
{
    const QString member = message.member();
    const QVariantList args = message.arguments();
    if (member == QLatin1String("StartOpenVpn")) {
        if (!isServerAddress(args.at(0).toString()))
            return QStringLiteral("server must be an IPv4 address or a host name");
        const uint port = args.at(1).toUInt();
        if (port < 1 || port > 65535)
            return QStringLiteral("port must be 1 to 65535");
        const uint shaper = args.at(2).toUInt();
        if (shaper != 0 && (shaper < kShaperMin || shaper > kShaperMax))
            return QStringLiteral("shaper must be 0 or %1 to %2").arg(kShaperMin).arg(kShaperMax);
        if (!isCredential(args.at(3).toString()) || !isCredential(args.at(4).toString()))
            return QStringLiteral("user and password: one line of at most %1 characters each")
                .arg(kCredentialChars);
    } else if (member == QLatin1String("Dial")) {
        const uint type = args.at(0).toUInt();
        if (type != 1 && type != 3)
            return QStringLiteral("type must be 1 (PPTP) or 3 (L2TP)");
        if (!isServerAddress(args.at(1).toString()))
            return QStringLiteral("server must be an IPv4 address or a host name");
        // An empty one would have pppd look the secret up in the system's
        // secrets files, and answer a caller-chosen server with root's.
        if (!isCredential(args.at(2).toString()) || !isCredential(args.at(3).toString()) ||
            args.at(2).toString().isEmpty() || args.at(3).toString().isEmpty())
            return QStringLiteral("user and password: one line of 1 to %1 characters each")
                .arg(kCredentialChars);
    } else if (member == QLatin1String("ResetConnections")) {
        const QStringList hosts = args.at(0).toStringList();
        if (hosts.size() > kMaxResetHosts)
            return QStringLiteral("at most %1 hosts").arg(kMaxResetHosts);
        // Only the hosts this installation resets after an address change:
        // no caller drops other connections of the machine.
        const DeploymentConfig deployment = DeploymentConfig::load(
            QDir(m_options.installDir).filePath(QStringLiteral("KVOService.ini")));
        const QStringList allowed = deployment.resetHostsFirst + deployment.resetHostsSecond;
        for (const QString &h : hosts) {
            if (!isDottedAddress(h))
                return QStringLiteral("hosts must be dotted IPv4 addresses");
            if (!allowed.contains(h))
                return QStringLiteral("%1 is not a reset host of this installation").arg(h);
        }
        // The client resets HTTPS connections only.
        if (args.at(1).toUInt() != kResetPort)
            return QStringLiteral("port must be %1").arg(kResetPort);
    } else if (member == QLatin1String("SetTunnelDns")) {
        if (!OutsideBlock::isInterfaceName(args.at(0).toString()) ||
            !TunnelDns::valid({args.at(1).toStringList(), args.at(2).toStringList()}))
            return QStringLiteral("an interface name, 1 to %1 dotted IPv4 servers and at most "
                                  "%2 host names")
                .arg(TunnelDns::kMaxServers)
                .arg(TunnelDns::kMaxDomains);
    } else if (member == QLatin1String("BlockIpv6")) {
        if (OutsideBlock::ipv6Ruleset(args.at(0).toString()).isEmpty())
            return QStringLiteral("an interface name");
    } else if (member == QLatin1String("BlockOutside")) {
        if (OutsideBlock::ruleset(args.at(0).toString(), args.at(1).toStringList()).isEmpty())
            return QStringLiteral("an interface name and 1 to %1 dotted IPv4 servers")
                .arg(OutsideBlock::kMaxServers);
    }
    return QString();
}

QDBusMessage HelperService::perform(const QDBusMessage &message)
{
    const QString member = message.member();
    if (member == QLatin1String("StartOpenVpn"))
        return startOpenVpn(message);
    if (member == QLatin1String("StopOpenVpn"))
        return stopOpenVpn(message);
    if (member == QLatin1String("Dial"))
        return dial(message);
    if (member == QLatin1String("ResetConnections"))
        return resetConnections(message);
    if (member == QLatin1String("BlockOutside") || member == QLatin1String("BlockIpv6") ||
        member == QLatin1String("Unblock"))
        return outsideBlock(message);
    if (member == QLatin1String("SetTunnelDns") || member == QLatin1String("RevertTunnelDns"))
        return tunnelDns(message);
    if (member == QLatin1String("TunDeviceAvailable"))
        return message.createReply(TapAdapter(nullptr, QString(), m_options.tunDevice).find());
    return linkCall(message);
}

QString HelperService::openVpnProgram() const
{
    const QString own = QDir(m_options.installDir).filePath(QStringLiteral("kvo_openvpn"));
    if (QFileInfo(own).isExecutable())
        return own;
    return QStandardPaths::findExecutable(
        QStringLiteral("openvpn"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin")});
}

QString HelperService::refuseNewTunnel(const QString &owner, uint *uid)
{
    // A caller that left while polkit was asked gets nothing started.
    if (!callerStillThere(owner))
        return QStringLiteral("caller left");
    const QDBusReply<uint> user = m_bus.interface()->serviceUid(owner);
    if (!user.isValid())
        return QStringLiteral("caller left");
    *uid = user.value();
    if (ownedBy(owner) >= kMaxPerCaller)
        return QStringLiteral("too many tunnels");
    int ofUser = 0;
    for (const auto &[id, t] : m_tunnels)
        ofUser += t->uid == *uid ? 1 : 0;
    for (const auto &[id, l] : m_links)
        ofUser += l->uid == *uid ? 1 : 0;
    if (ofUser >= kMaxPerUser)
        return QStringLiteral("too many tunnels for this user");
    if (m_tunnels.size() + m_links.size() >= kMaxTunnels)
        return QStringLiteral("too many tunnels");
    return QString();
}

QDBusMessage HelperService::startOpenVpn(const QDBusMessage &message)
{
    const QString owner = message.service();
    const QVariantList args = message.arguments();
    uint uid = 0;
    if (const QString refusal = refuseNewTunnel(owner, &uid); !refusal.isEmpty())
        return message.createErrorReply(kErrorFailed, refusal);
    const QString program = openVpnProgram();
    if (program.isEmpty())
        return message.createErrorReply(kErrorFailed, QStringLiteral("openvpn is not installed"));
    const QString config = QDir(m_options.installDir).filePath(QStringLiteral("client.ovpn"));
    if (const QString refused = refusedDirective(config); !refused.isEmpty())
        return message.createErrorReply(
            kErrorFailed,
            QStringLiteral("the installed configuration holds \"%1\"").arg(refused.left(80)));

    QStringList arguments =
        TunnelCommand::ovpnArguments(m_options.installDir, args.at(0).toString(),
                                     quint16(args.at(1).toUInt()), args.at(2).toUInt());
    // Last, so that it holds whatever the configuration says.
    // The caller chooses the server: it must hold a server's certificate.
    arguments << QStringLiteral("--script-security") << QStringLiteral("1")
              << QStringLiteral("--remote-cert-tls") << QStringLiteral("server");

    const quint32 id = m_nextId++;
    auto tunnel = std::make_unique<Tunnel>();
    tunnel->owner = owner;
    tunnel->uid = uid;
    auto *p = new QProcess(this);
    tunnel->process = p;
    p->setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(m_options.installDir);
    const pid_t parent = ::getpid();
    p->setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
    });
    connect(p, &QProcess::readyReadStandardOutput, this, [this, id] { onTunnelOutput(id); });
    connect(p, &QProcess::finished, this, [this, id](int code, QProcess::ExitStatus status) {
        onTunnelFinished(id, code, status == QProcess::CrashExit);
    });
    p->start(program, arguments);
    if (!p->waitForStarted(10000)) {
        p->disconnect(this);
        p->deleteLater();
        return message.createErrorReply(kErrorFailed, QStringLiteral("openvpn did not start"));
    }
    p->write(CodePage::fromUnicode(args.at(3).toString()) + '\n' +
             CodePage::fromUnicode(args.at(4).toString()) + '\n');
    p->closeWriteChannel();
    m_tunnels.emplace(id, std::move(tunnel));
    qInfo("kvo-helper: openvpn %u started for %s", id, qPrintable(owner));
    return message.createReply(id);
}

QDBusMessage HelperService::stopOpenVpn(const QDBusMessage &message)
{
    const auto it = m_tunnels.find(message.arguments().at(0).toUInt());
    if (it == m_tunnels.end() || it->second->owner != message.service())
        return message.createErrorReply(kErrorNoSuchTunnel, QStringLiteral("No such tunnel"));
    stopTunnel(*it->second);
    return message.createReply();
}

void HelperService::stopTunnel(Tunnel &tunnel)
{
    // One stop per tunnel: it holds the process until it has ended.
    if (tunnel.stopping)
        return;
    tunnel.stopping = true;
    ProcessList::stop(pid_t(tunnel.process->processId()), kStopGraceMs);
}

void HelperService::onTunnelOutput(quint32 id)
{
    const auto it = m_tunnels.find(id);
    if (it == m_tunnels.end())
        return;
    Tunnel &t = *it->second;
    for (const QString &line : t.splitter.feed(t.process->readAllStandardOutput())) {
        if (const QString device = OvpnOutput::openedDevice(line); !device.isEmpty())
            t.device = device;
        emitTo(t.owner, QStringLiteral("OpenVpnOutput"), {id, line});
    }
}

void HelperService::onTunnelFinished(quint32 id, int exitCode, bool crashed)
{
    const auto it = m_tunnels.find(id);
    if (it == m_tunnels.end())
        return;
    onTunnelOutput(id);
    std::unique_ptr<Tunnel> t = std::move(it->second);
    m_tunnels.erase(it);
    for (const QString &line : t->splitter.finish())
        emitTo(t->owner, QStringLiteral("OpenVpnOutput"), {id, line});
    emitTo(t->owner, QStringLiteral("OpenVpnEnded"), {id, exitCode, crashed});
    if (m_dnsOwner == t->owner && m_dns.interfaceName() == t->device)
        revertDns();
    t->process->disconnect(this);
    t->process->deleteLater();
    qInfo("kvo-helper: openvpn %u ended (%d)", id, exitCode);
    touch();
}

QDBusMessage HelperService::dial(const QDBusMessage &message)
{
    const QString owner = message.service();
    const QVariantList args = message.arguments();
    uint uid = 0;
    if (const QString refusal = refuseNewTunnel(owner, &uid); !refusal.isEmpty())
        return message.createErrorReply(kErrorFailed, refusal);
    const unsigned type = args.at(0).toUInt();
    const quint32 id = m_nextId++;
    auto link = std::make_unique<Link>();
    link->owner = owner;
    link->uid = uid;
    link->phoneBook = m_phoneBooks.filePath(QStringLiteral("link-%1").arg(id));
    const QString entry = TunnelCommand::dialEntryName();
    unsigned result = m_dialUp.setEntryProperties(
        link->phoneBook, entry, TunnelCommand::dialEntry(type, args.at(1).toString()));
    if (result == 0 && type == 3)
        result = m_dialUp.setPreSharedKey(link->phoneBook, entry, TunnelCommand::preSharedKey());
    if (result == 0) {
        const Ras::DialParams params {entry, args.at(2).toString(), args.at(3).toString()};
        result = m_dialUp.dial(
            link->phoneBook, params,
            [this, id, owner](int state, unsigned error) {
                emitTo(owner, QStringLiteral("LinkStateChanged"), {id, state, error});
            },
            &link->handle);
    }
    if (result != 0 || link->handle == 0) {
        QFile::remove(link->phoneBook);
        return message.createReply(QVariantList {result == 0 ? uint(Ras::FromDevice) : result, 0u});
    }
    m_links.emplace(id, std::move(link));
    m_linkPoll.start();
    qInfo("kvo-helper: link %u dialled for %s", id, qPrintable(owner));
    return message.createReply(QVariantList {0u, id});
}

QDBusMessage HelperService::linkCall(const QDBusMessage &message)
{
    const QString member = message.member();
    const auto it = m_links.find(message.arguments().at(0).toUInt());
    if (it == m_links.end() || it->second->owner != message.service())
        return message.createErrorReply(kErrorNoSuchTunnel, QStringLiteral("No such link"));
    const Ras::Handle handle = it->second->handle;
    if (member == QLatin1String("HangUp"))
        return message.createReply(m_dialUp.hangUp(handle));
    if (member == QLatin1String("LinkStatus")) {
        Ras::ConnStatus status;
        const unsigned r = m_dialUp.getConnectStatus(handle, &status);
        return message.createReply(QVariantList {r, status.state, status.error, status.deviceName});
    }
    if (member == QLatin1String("LinkAddress")) {
        QString address;
        const unsigned r = m_dialUp.getProjectedIp(handle, &address);
        return message.createReply(QVariantList {r, address});
    }
    if (member == QLatin1String("LinkDns")) {
        QStringList servers;
        const unsigned r = m_dialUp.getPeerDns(handle, &servers);
        return message.createReply(QVariantList {r, servers});
    }
    if (member == QLatin1String("LinkProtection")) {
        QString protection;
        const unsigned r = m_dialUp.getProtection(handle, &protection);
        return message.createReply(QVariantList {r, protection});
    }
    Ras::Statistics stats;
    const unsigned r = m_dialUp.getStatistics(handle, &stats);
    return message.createReply(QVariantList {r, stats.bytesSent, stats.bytesReceived});
}

void HelperService::pollLinks()
{
    QList<quint32> ended;
    for (const auto &[id, l] : m_links) {
        Ras::ConnStatus status;
        if (m_dialUp.getConnectStatus(l->handle, &status) == Ras::InvalidHandle)
            ended.append(id);
    }
    for (quint32 id : ended)
        endLink(id);
    if (m_links.empty())
        m_linkPoll.stop();
}

void HelperService::endLink(quint32 id)
{
    const auto it = m_links.find(id);
    if (it == m_links.end())
        return;
    std::unique_ptr<Link> l = std::move(it->second);
    m_links.erase(it);
    if (m_dnsOwner == l->owner && !ownsInterface(l->owner, m_dns.interfaceName()))
        revertDns();
    QFile::remove(l->phoneBook);
    emitTo(l->owner, QStringLiteral("LinkStateChanged"), {id, int(Ras::Disconnected), 0u});
    qInfo("kvo-helper: link %u ended", id);
    touch();
}

QDBusMessage HelperService::resetConnections(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    // Only the caller's own connections: never another user's.
    const QDBusReply<uint> uid = m_bus.interface()->serviceUid(message.service());
    if (!uid.isValid())
        return message.createErrorReply(kErrorFailed, QStringLiteral("caller left"));
    const int count = TcpReset::resetConnectionsTo(args.at(0).toStringList(),
                                                   quint16(args.at(1).toUInt()), uid.value());
    return message.createReply(count);
}

QDBusMessage HelperService::outsideBlock(const QDBusMessage &message)
{
    const QString owner = message.service();
    // One table for the machine: it belongs to the caller that set it last.
    if (!m_blockOwner.isEmpty() && m_blockOwner != owner &&
        m_bus.interface()->isServiceRegistered(m_blockOwner).value())
        return message.createErrorReply(kErrorNoSuchTunnel,
                                        QStringLiteral("the block belongs to another client"));
    QString error;
    if (message.member() == QLatin1String("Unblock")) {
        if (!OutsideBlock::remove(&error))
            return message.createErrorReply(kErrorFailed, error);
        m_blockOwner.clear();
        return message.createReply();
    }
    // A caller that left while polkit was asked gets nothing installed.
    if (!callerStillThere(owner))
        return message.createErrorReply(kErrorFailed, QStringLiteral("caller left"));
    const QVariantList args = message.arguments();
    const bool installed = message.member() == QLatin1String("BlockIpv6")
        ? OutsideBlock::installIpv6Only(args.at(0).toString(), &error)
        : OutsideBlock::install(args.at(0).toString(), args.at(1).toStringList(), &error);
    if (!installed)
        return message.createErrorReply(kErrorFailed, error);
    m_blockOwner = owner;
    qInfo("kvo-helper: outside traffic blocked for %s", qPrintable(owner));
    return message.createReply();
}

bool HelperService::ownsInterface(const QString &owner, const QString &iface)
{
    if (iface.isEmpty())
        return false;
    for (const auto &[id, t] : m_tunnels)
        if (t->owner == owner && t->device == iface)
            return true;
    for (const auto &[id, l] : m_links) {
        Ras::ConnStatus status;
        if (l->owner == owner && m_dialUp.getConnectStatus(l->handle, &status) == 0 &&
            status.deviceName == iface)
            return true;
    }
    return false;
}

QDBusMessage HelperService::tunnelDns(const QDBusMessage &message)
{
    const QString owner = message.service();
    // The machine has one resolver set-up: it belongs to the caller that
    // applied its tunnel's last.
    if (!m_dnsOwner.isEmpty() && m_dnsOwner != owner &&
        m_bus.interface()->isServiceRegistered(m_dnsOwner).value())
        return message.createErrorReply(kErrorNoSuchTunnel,
                                        QStringLiteral("the DNS belongs to another client"));
    if (message.member() == QLatin1String("RevertTunnelDns")) {
        revertDns();
        return message.createReply();
    }
    if (!callerStillThere(owner))
        return message.createErrorReply(kErrorFailed, QStringLiteral("caller left"));
    const QVariantList args = message.arguments();
    const QString iface = args.at(0).toString();
    if (!ownsInterface(owner, iface))
        return message.createErrorReply(kErrorNoSuchTunnel,
                                        QStringLiteral("%1 is not the caller's tunnel").arg(iface));
    TunnelDns::Method how {};
    QString error;
    if (!m_dns.apply(iface, {args.at(1).toStringList(), args.at(2).toStringList()}, &how, &error))
        return message.createErrorReply(kErrorFailed, error);
    m_dnsOwner = owner;
    qInfo("kvo-helper: DNS of %s applied for %s through %s", qPrintable(iface), qPrintable(owner),
          qPrintable(TunnelDns::methodName(how)));
    return message.createReply(TunnelDns::methodName(how));
}

void HelperService::revertDns()
{
    if (m_dns.active())
        qInfo("kvo-helper: DNS of %s reverted", qPrintable(m_dns.interfaceName()));
    m_dns.revert();
    m_dnsOwner.clear();
}

void HelperService::removeBlock()
{
    QString error;
    if (!OutsideBlock::remove(&error))
        qWarning("kvo-helper: the outside block stays: %s", qPrintable(error));
    m_blockOwner.clear();
}

void HelperService::watchOwner(const QString &owner)
{
    if (!m_watcher->watchedServices().contains(owner))
        m_watcher->addWatchedService(owner);
}

bool HelperService::callerStillThere(const QString &owner)
{
    // Watched first, asked second: a caller that leaves after the answer is
    // seen to leave (ownerLeft, once this call has set up what it undoes),
    // and one that left before is told here. Bus names are never reused.
    watchOwner(owner);
    if (m_bus.interface()->isServiceRegistered(owner).value())
        return true;
    if (ownedBy(owner) == 0 && owner != m_blockOwner && owner != m_dnsOwner)
        m_watcher->removeWatchedService(owner);
    return false;
}

void HelperService::ownerLeft(const QString &owner)
{
    m_watcher->removeWatchedService(owner);
    m_polkit.cancelFor(owner);
    if (owner == m_blockOwner) {
        qInfo("kvo-helper: %s left, removing the outside block", qPrintable(owner));
        removeBlock();
    }
    if (owner == m_dnsOwner)
        revertDns();
    for (const auto &[id, t] : m_tunnels) {
        if (t->owner == owner) {
            qInfo("kvo-helper: %s left, ending openvpn %u", qPrintable(owner), id);
            stopTunnel(*t);
        }
    }
    for (const auto &[id, l] : m_links) {
        if (l->owner == owner) {
            qInfo("kvo-helper: %s left, hanging up link %u", qPrintable(owner), id);
            m_dialUp.hangUp(l->handle);
        }
    }
}

void HelperService::emitTo(const QString &owner, const QString &name, const QVariantList &args)
{
    QDBusMessage signal = QDBusMessage::createTargetedSignal(owner, kObjectPath, kInterface, name);
    signal.setArguments(args);
    m_bus.send(signal);
}

void HelperService::touch()
{
    m_idleTimer.start(m_options.idleSeconds * 1000);
}

int HelperService::ownedBy(const QString &owner) const
{
    int n = 0;
    for (const auto &[id, t] : m_tunnels)
        n += t->owner == owner ? 1 : 0;
    for (const auto &[id, l] : m_links)
        n += l->owner == owner ? 1 : 0;
    return n;
}

bool HelperService::managing() const
{
    return !m_tunnels.empty() || !m_links.empty() || m_polkit.pending() > 0 ||
        !m_blockOwner.isEmpty() || m_dns.active();
}
