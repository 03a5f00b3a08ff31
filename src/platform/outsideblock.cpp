#include "outsideblock.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace OutsideBlock {

namespace {

constexpr int kNftTimeoutMs = 10000;

bool isDottedIpv4(const QString &text)
{
    static const QRegularExpression dotted(
        QStringLiteral("\\A(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])"
                       "(\\.(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])){3}\\z"));
    return dotted.match(text).hasMatch();
}

} // namespace

QString tableName()
{
    return QStringLiteral("kvo_block");
}

bool isInterfaceName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("\\A[A-Za-z0-9_.-]{1,15}\\z"));
    return pattern.match(name).hasMatch() && name != QLatin1String(".") &&
        name != QLatin1String("..");
}

namespace {

// The table with one output chain: loopback, the tunnel and DHCPv6 always
// pass; then the given rules, then the policy.
QString outputTable(const QString &tunnelInterface, const char *policy, const QString &rules)
{
    const QString table = QStringLiteral("inet ") + tableName();
    // "add" then "delete" removes an earlier table in the same transaction
    // whether or not there was one; the new table follows at once.
    QString out;
    out += QStringLiteral("add table %1\n").arg(table);
    out += QStringLiteral("delete table %1\n").arg(table);
    out += QStringLiteral("table %1 {\n").arg(table);
    out += QStringLiteral("\tchain output {\n");
    out += QStringLiteral("\t\ttype filter hook output priority 0; policy %1;\n")
               .arg(QLatin1String(policy));
    out += QStringLiteral("\t\toifname \"lo\" accept\n");
    out += QStringLiteral("\t\toifname \"%1\" accept\n").arg(tunnelInterface);
    out += QStringLiteral("\t\tmeta nfproto ipv6 udp sport 546 udp dport 547 accept\n");
    out += rules;
    out += QStringLiteral("\t}\n");
    out += QStringLiteral("}\n");
    return out;
}

} // namespace

QString ruleset(const QString &tunnelInterface, const QStringList &servers)
{
    if (!isInterfaceName(tunnelInterface) || servers.isEmpty() || servers.size() > kMaxServers)
        return QString();
    for (const QString &s : servers) {
        if (!isDottedIpv4(s))
            return QString();
    }
    return outputTable(
        tunnelInterface, "drop",
        QStringLiteral("\t\tip daddr { %1 } accept\n").arg(servers.join(QStringLiteral(", "))) +
            QStringLiteral("\t\tudp sport 68 udp dport 67 accept\n"));
}

QString ipv6Ruleset(const QString &tunnelInterface)
{
    if (!isInterfaceName(tunnelInterface))
        return QString();
    return outputTable(tunnelInterface, "accept", QStringLiteral("\t\tmeta nfproto ipv6 drop\n"));
}

bool hasIpv6DefaultRoute(const QByteArray &ipv6RouteTable)
{
    constexpr uint kRouteUp = 0x0001;
    constexpr uint kRouteReject = 0x0200;
    for (const QByteArray &line : ipv6RouteTable.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 10 || f.at(0) != QByteArray(32, '0') || f.at(1) != "00" || f.at(9) == "lo")
            continue;
        bool ok = false;
        const uint flags = f.at(8).toUInt(&ok, 16);
        if (ok && (flags & kRouteUp) && !(flags & kRouteReject))
            return true;
    }
    return false;
}

bool hasIpv6DefaultRoute()
{
    QFile f(QStringLiteral("/proc/net/ipv6_route"));
    return f.open(QIODevice::ReadOnly) && hasIpv6DefaultRoute(f.readAll());
}

QString removal()
{
    const QString table = QStringLiteral("inet ") + tableName();
    return QStringLiteral("add table %1\ndelete table %1\n").arg(table);
}

QString nftProgram()
{
    QString p = QStandardPaths::findExecutable(
        QStringLiteral("nft"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (p.isEmpty())
        p = QStandardPaths::findExecutable(QStringLiteral("nft"));
    return p;
}

bool runNft(const QString &input, QString *error)
{
    const QString program = nftProgram();
    if (program.isEmpty()) {
        *error = QStringLiteral("nft is not installed");
        return false;
    }
    QProcess nft;
    nft.setProcessChannelMode(QProcess::MergedChannels);
    nft.start(program, {QStringLiteral("-f"), QStringLiteral("-")});
    if (!nft.waitForStarted()) {
        *error = nft.errorString();
        return false;
    }
    nft.write(input.toUtf8());
    nft.closeWriteChannel();
    if (!nft.waitForFinished(kNftTimeoutMs)) {
        nft.kill();
        nft.waitForFinished();
        *error = QStringLiteral("nft did not finish");
        return false;
    }
    if (nft.exitStatus() != QProcess::NormalExit || nft.exitCode() != 0) {
        *error = QString::fromUtf8(nft.readAll()).trimmed();
        if (error->isEmpty())
            *error = QStringLiteral("nft failed");
        return false;
    }
    return true;
}

bool install(const QString &tunnelInterface, const QStringList &servers, QString *error)
{
    const QString input = ruleset(tunnelInterface, servers);
    if (input.isEmpty()) {
        *error = QStringLiteral("an interface name and 1 to %1 dotted IPv4 servers are needed")
                     .arg(kMaxServers);
        return false;
    }
    return runNft(input, error);
}

bool installIpv6Only(const QString &tunnelInterface, QString *error)
{
    const QString input = ipv6Ruleset(tunnelInterface);
    if (input.isEmpty()) {
        *error = QStringLiteral("an interface name is needed");
        return false;
    }
    return runNft(input, error);
}

bool remove(QString *error)
{
    return runNft(removal(), error);
}

bool installed()
{
    const QString program = nftProgram();
    if (program.isEmpty())
        return false;
    QProcess nft;
    nft.start(
        program,
        {QStringLiteral("list"), QStringLiteral("table"), QStringLiteral("inet"), tableName()});
    return nft.waitForFinished(kNftTimeoutMs) && nft.exitStatus() == QProcess::NormalExit &&
        nft.exitCode() == 0;
}

} // namespace OutsideBlock
