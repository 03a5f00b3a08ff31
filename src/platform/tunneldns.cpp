#include "tunneldns.h"

#include "ipv4.h"
#include "outsideblock.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct ResolvedAddress
{
    qint32 family = AF_INET;
    QByteArray address;
};

struct ResolvedDomain
{
    QString domain;
    bool routingOnly = false;
};

QDBusArgument &operator<<(QDBusArgument &arg, const ResolvedAddress &a)
{
    arg.beginStructure();
    arg << a.family << a.address;
    arg.endStructure();
    return arg;
}
const QDBusArgument &operator>>(const QDBusArgument &arg, ResolvedAddress &a)
{
    arg.beginStructure();
    arg >> a.family >> a.address;
    arg.endStructure();
    return arg;
}
QDBusArgument &operator<<(QDBusArgument &arg, const ResolvedDomain &d)
{
    arg.beginStructure();
    arg << d.domain << d.routingOnly;
    arg.endStructure();
    return arg;
}
const QDBusArgument &operator>>(const QDBusArgument &arg, ResolvedDomain &d)
{
    arg.beginStructure();
    arg >> d.domain >> d.routingOnly;
    arg.endStructure();
    return arg;
}

} // namespace

Q_DECLARE_METATYPE(ResolvedAddress)
Q_DECLARE_METATYPE(ResolvedDomain)

namespace TunnelDns {

namespace {

const QString kResolvConf = QStringLiteral("/etc/resolv.conf");
const QString kSaved = QStringLiteral("/etc/resolv.conf.kvo-saved");
// What an applier did through resolved or resolvconf, for the start after
// a crash: "resolved <ifindex> <iface>" or "resolvconf <iface>".
const QString kRecordDir = QStringLiteral("/run/kvo");
const QString kRecord = QStringLiteral("/run/kvo/dns");
const QString kResolvedService = QStringLiteral("org.freedesktop.resolve1");
constexpr int kCallMs = 5000;
constexpr int kResolvconfMs = 10000;

QString recordName(const QString &iface)
{
    return iface + QStringLiteral(".kvo");
}

// --- systemd-resolved ------------------------------------------------------

bool resolvedInUse()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kResolvedService).value())
        return false;
    // Only where the C library asks resolved: its stub or its own file.
    const QFileInfo conf(kResolvConf);
    if (conf.isSymLink() && conf.symLinkTarget().startsWith(QLatin1String("/run/systemd/resolve/")))
        return true;
    QFile f(kResolvConf);
    return f.open(QIODevice::ReadOnly) && f.readAll().contains("nameserver 127.0.0.53");
}

bool callResolved(const QString &member, const QVariantList &args, QString *error)
{
    static const bool registered = [] {
        qDBusRegisterMetaType<ResolvedAddress>();
        qDBusRegisterMetaType<QList<ResolvedAddress>>();
        qDBusRegisterMetaType<ResolvedDomain>();
        qDBusRegisterMetaType<QList<ResolvedDomain>>();
        return true;
    }();
    Q_UNUSED(registered);
    QDBusMessage m = QDBusMessage::createMethodCall(
        kResolvedService, QStringLiteral("/org/freedesktop/resolve1"),
        QStringLiteral("org.freedesktop.resolve1.Manager"), member);
    m.setArguments(args);
    const QDBusMessage reply = QDBusConnection::systemBus().call(m, QDBus::Block, kCallMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = QStringLiteral("systemd-resolved %1: %2").arg(member, reply.errorMessage());
    return false;
}

bool applyResolved(int ifindex, const Settings &s, QString *error)
{
    QList<ResolvedAddress> addresses;
    for (const QString &server : s.servers) {
        in_addr a {};
        ::inet_pton(AF_INET, server.toLatin1().constData(), &a);
        addresses.append({AF_INET, QByteArray(reinterpret_cast<const char *>(&a), 4)});
    }
    QList<ResolvedDomain> domains;
    for (const QString &d : s.domains)
        domains.append({d, false});
    // Every name, not only those of the search domains, goes to the tunnel.
    domains.append({QStringLiteral("."), true});
    return callResolved(QStringLiteral("SetLinkDNS"), {ifindex, QVariant::fromValue(addresses)},
                        error) &&
        callResolved(QStringLiteral("SetLinkDomains"), {ifindex, QVariant::fromValue(domains)},
                     error) &&
        callResolved(QStringLiteral("SetLinkDefaultRoute"), {ifindex, true}, error);
}

// --- resolvconf ------------------------------------------------------------

QString resolvconfProgram()
{
    return QStandardPaths::findExecutable(
        QStringLiteral("resolvconf"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});
}

bool resolvconfInUse()
{
    const QFileInfo conf(kResolvConf);
    return !resolvconfProgram().isEmpty() && conf.isSymLink() &&
        conf.symLinkTarget().contains(QLatin1String("resolvconf"));
}

bool runResolvconf(const QStringList &args, const QByteArray &input, QString *error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(resolvconfProgram(), args);
    if (!p.waitForStarted()) {
        if (error)
            *error = QStringLiteral("resolvconf: ") + p.errorString();
        return false;
    }
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(kResolvconfMs)) {
        p.kill();
        p.waitForFinished();
        if (error)
            *error = QStringLiteral("resolvconf did not finish");
        return false;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("resolvconf: ") + QString::fromUtf8(p.readAll()).trimmed();
        return false;
    }
    return true;
}

// --- the record for a start after a crash ----------------------------------

void writeRecord(const QString &text)
{
    QDir().mkpath(kRecordDir);
    QFile f(kRecord);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text.toUtf8() + '\n');
}

void dropRecord()
{
    QFile::remove(kRecord);
}

// --- /etc/resolv.conf --------------------------------------------------------

QByteArray fileText(const Settings &s, const QString &iface, const QByteArray &original)
{
    QByteArray out = "# Written by KVOClient while the tunnel " + iface.toLatin1() +
        " is up; the original is " + kSaved.toLatin1() + "\n";
    for (const QString &server : s.servers)
        out += "nameserver " + server.toLatin1() + '\n';
    if (!s.domains.isEmpty())
        out += "search " + s.domains.join(QLatin1Char(' ')).toLatin1() + '\n';
    // The machine's own resolver options stay.
    for (const QByteArray &line : original.split('\n')) {
        if (line.trimmed().startsWith("options"))
            out += line.trimmed() + '\n';
    }
    return out;
}

bool writeWhole(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return ::fsync(fd) == 0;
}

// Writes the bytes into a new file of /etc and renames it over the path.
bool replaceFile(const QString &path, const QByteArray &bytes, mode_t mode, QString *error)
{
    const QByteArray tmp = QFile::encodeName(path + QStringLiteral(".kvo-new"));
    const int fd =
        ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
        *error = QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(tmp), qt_error_string(errno));
        return false;
    }
    ::fchmod(fd, mode);
    const bool written = writeWhole(fd, bytes);
    ::close(fd);
    if (!written || ::rename(tmp.constData(), QFile::encodeName(path).constData()) != 0) {
        const int e = errno;
        ::unlink(tmp.constData());
        // A file mounted over (as "ip netns exec" does) cannot be renamed
        // over: it is rewritten where it is.
        if (written && (e == EBUSY || e == EXDEV)) {
            const int in =
                ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (in >= 0 && writeWhole(in, bytes)) {
                ::close(in);
                return true;
            }
            if (in >= 0)
                ::close(in);
        }
        *error = QStringLiteral("%1: %2").arg(path, qt_error_string(e));
        return false;
    }
    return true;
}

// Keeps the original beside it: a symbolic link as the same link, a file
// as a copy with its mode. An earlier saved copy is the real original and
// stays.
bool saveOriginal(QByteArray *original, QString *error)
{
    const QFileInfo conf(kResolvConf);
    QFile f(kResolvConf);
    *original = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    if (QFileInfo::exists(kSaved) || QFileInfo(kSaved).isSymLink())
        return true;
    if (conf.isSymLink()) {
        char raw[4096];
        const ssize_t n = ::readlink(QFile::encodeName(kResolvConf).constData(), raw, sizeof raw);
        const QByteArray link =
            n > 0 ? QByteArray(raw, n) : QFile::encodeName(QFile::symLinkTarget(kResolvConf));
        const QByteArray tmp = QFile::encodeName(kSaved + QStringLiteral(".new"));
        ::unlink(tmp.constData());
        if (::symlink(link.constData(), tmp.constData()) != 0 ||
            ::rename(tmp.constData(), QFile::encodeName(kSaved).constData()) != 0) {
            *error = QStringLiteral("%1: %2").arg(kSaved, qt_error_string(errno));
            return false;
        }
        return true;
    }
    struct stat st
    {
    };
    const mode_t mode =
        ::stat(QFile::encodeName(kResolvConf).constData(), &st) == 0 ? st.st_mode & 07777 : 0644;
    if (!conf.exists()) {
        // Nothing to keep: an empty saved file says so and comes back empty.
        return replaceFile(kSaved, QByteArray(), 0644, error);
    }
    return replaceFile(kSaved, *original, mode, error);
}

// Puts the saved original back, unless someone else wrote resolv.conf
// since ours (then theirs stays). Returns what it did.
QString restoreOriginal(const QByteArray &ours)
{
    const QFileInfo saved(kSaved);
    if (!saved.exists() && !saved.isSymLink())
        return QString();
    QFile f(kResolvConf);
    const QByteArray now = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    f.close();
    const bool isOurs = ours.isEmpty() ? now.startsWith("# Written by KVOClient") : now == ours;
    if (!isOurs) {
        QFile::remove(kSaved);
        return QStringLiteral("kept %1 written by another program").arg(kResolvConf);
    }
    if (::rename(QFile::encodeName(kSaved).constData(),
                 QFile::encodeName(kResolvConf).constData()) == 0)
        return QStringLiteral("restored %1").arg(kResolvConf);
    // Mounted over: copied back into place.
    QFile back(kSaved);
    QString error;
    if (back.open(QIODevice::ReadOnly) && replaceFile(kResolvConf, back.readAll(), 0644, &error)) {
        QFile::remove(kSaved);
        return QStringLiteral("restored %1").arg(kResolvConf);
    }
    return QStringLiteral("could not restore %1: %2").arg(kResolvConf, error);
}

} // namespace

Settings checked(const QStringList &servers, const QStringList &domains, QStringList *refused)
{
    Settings s;
    for (const QString &v : servers) {
        if (!isDottedIpv4(v) || v == QLatin1String("0.0.0.0"))
            refused->append(v);
        else if (!s.servers.contains(v) && s.servers.size() < kMaxServers)
            s.servers.append(v);
    }
    for (const QString &v : domains) {
        if (isServerAddress(v) && !isDottedIpv4(v)) {
            if (!s.domains.contains(v, Qt::CaseInsensitive) && s.domains.size() < kMaxDomains)
                s.domains.append(v);
        } else {
            refused->append(v);
        }
    }
    return s;
}

bool valid(const Settings &s)
{
    if (s.servers.isEmpty() || s.servers.size() > kMaxServers || s.domains.size() > kMaxDomains)
        return false;
    for (const QString &v : s.servers)
        if (!isDottedIpv4(v))
            return false;
    for (const QString &v : s.domains)
        if (!isServerAddress(v) || isDottedIpv4(v))
            return false;
    return true;
}

QString printable(const QString &value)
{
    QString out;
    for (const QChar c : value.left(64)) {
        if (c.isPrint() && c != QLatin1Char('\\'))
            out += c;
        else
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    if (value.size() > 64)
        out += QStringLiteral("...");
    return out;
}

QString methodName(Method method)
{
    switch (method) {
    case Method::Resolved:
        return QStringLiteral("systemd-resolved");
    case Method::Resolvconf:
        return QStringLiteral("resolvconf");
    case Method::ResolvConfFile:
        break;
    }
    return kResolvConf;
}

Applier::~Applier()
{
    revert();
}

bool Applier::apply(const QString &iface, const Settings &settings, Method *how, QString *error)
{
    if (!OutsideBlock::isInterfaceName(iface) || !valid(settings)) {
        *error = QStringLiteral("an interface name and 1 to %1 dotted IPv4 servers are needed")
                     .arg(kMaxServers);
        return false;
    }
    const int ifindex = int(::if_nametoindex(iface.toLatin1().constData()));
    if (ifindex <= 0) {
        *error = QStringLiteral("no interface %1").arg(iface);
        return false;
    }
    if (m_active && m_iface != iface)
        revert();

    if (resolvedInUse()) {
        if (!applyResolved(ifindex, settings, error)) {
            callResolved(QStringLiteral("RevertLink"), {ifindex}, nullptr);
            return false;
        }
        writeRecord(QStringLiteral("resolved %1 %2").arg(ifindex).arg(iface));
        m_method = Method::Resolved;
    } else if (resolvconfInUse()) {
        QByteArray input;
        for (const QString &server : settings.servers)
            input += "nameserver " + server.toLatin1() + '\n';
        if (!settings.domains.isEmpty())
            input += "search " + settings.domains.join(QLatin1Char(' ')).toLatin1() + '\n';
        if (!runResolvconf({QStringLiteral("-a"), recordName(iface)}, input, error))
            return false;
        writeRecord(QStringLiteral("resolvconf %1").arg(iface));
        m_method = Method::Resolvconf;
    } else {
        QByteArray original;
        const bool hadSaved = QFileInfo::exists(kSaved) || QFileInfo(kSaved).isSymLink();
        if (!saveOriginal(&original, error))
            return false;
        if (hadSaved && m_active) {
            // Ours is in place: the machine's options are in the saved copy.
            QFile saved(kSaved);
            original = saved.open(QIODevice::ReadOnly) ? saved.readAll() : QByteArray();
        }
        const QByteArray text = fileText(settings, iface, original);
        if (!replaceFile(kResolvConf, text, 0644, error)) {
            if (!hadSaved)
                QFile::remove(kSaved);
            return false;
        }
        m_written = text;
        m_method = Method::ResolvConfFile;
    }
    m_active = true;
    m_iface = iface;
    *how = m_method;
    return true;
}

void Applier::revert()
{
    if (!m_active)
        return;
    m_active = false;
    switch (m_method) {
    case Method::Resolved: {
        const int ifindex = int(::if_nametoindex(m_iface.toLatin1().constData()));
        if (ifindex > 0)
            callResolved(QStringLiteral("RevertLink"), {ifindex}, nullptr);
        dropRecord();
        break;
    }
    case Method::Resolvconf:
        runResolvconf({QStringLiteral("-d"), recordName(m_iface)}, QByteArray(), nullptr);
        dropRecord();
        break;
    case Method::ResolvConfFile:
        restoreOriginal(m_written);
        m_written.clear();
        break;
    }
}

QString Applier::recover()
{
    QStringList done;
    QFile record(kRecord);
    if (record.open(QIODevice::ReadOnly)) {
        const QStringList words = QString::fromUtf8(record.readAll())
                                      .simplified()
                                      .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        record.close();
        if (words.size() == 3 && words.at(0) == QLatin1String("resolved") &&
            OutsideBlock::isInterfaceName(words.at(2))) {
            // Only while the index still names that interface.
            const int ifindex = words.at(1).toInt();
            char name[IF_NAMESIZE] = {};
            if (ifindex > 0 && ::if_indextoname(unsigned(ifindex), name) &&
                QLatin1String(name) == words.at(2) && resolvedInUse() &&
                callResolved(QStringLiteral("RevertLink"), {ifindex}, nullptr))
                done << QStringLiteral("reverted %1 in systemd-resolved").arg(words.at(2));
        } else if (words.size() == 2 && words.at(0) == QLatin1String("resolvconf") &&
                   OutsideBlock::isInterfaceName(words.at(1)) && !resolvconfProgram().isEmpty()) {
            if (runResolvconf({QStringLiteral("-d"), recordName(words.at(1))}, QByteArray(),
                              nullptr))
                done << QStringLiteral("removed the resolvconf record of %1").arg(words.at(1));
        }
        dropRecord();
    }
    const QString restored = restoreOriginal(QByteArray());
    if (!restored.isEmpty())
        done << restored;
    return done.join(QStringLiteral("; "));
}

} // namespace TunnelDns
