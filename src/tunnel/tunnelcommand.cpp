#include "tunnelcommand.h"

#include <QDir>

namespace TunnelCommand {

QString dialEntryName()
{
    return QStringLiteral("KVO");
}

QString preSharedKey()
{
    return QStringLiteral("Q8MZpassage");
}

namespace {
constexpr int kPhoneNumberChars = 128;
} // namespace

QStringList ovpnArguments(const QString &folder, const QString &server, quint16 port,
                          quint32 shaperRate)
{
    const QDir dir(folder);
    QStringList args {QStringLiteral("--remote"), server, QString::number(port),
                      QStringLiteral("--config"), dir.filePath(QStringLiteral("client.ovpn")),
                      QStringLiteral("--ca"), dir.filePath(QStringLiteral("ca.crt")),
                      QStringLiteral("--key"), dir.filePath(QStringLiteral("cl1.key")),
                      QStringLiteral("--cert"), dir.filePath(QStringLiteral("cl1.crt")),
                      // openvpn never prompts on a pipe: the two lines come on stdin.
                      QStringLiteral("--auth-user-pass"), QStringLiteral("/dev/stdin"),
                      QStringLiteral("--reneg-sec"), QStringLiteral("0")};
    if (shaperRate != 0)
        args << QStringLiteral("--shaper") << QString::number(shaperRate);
    return args;
}

Ras::Entry dialEntry(unsigned type, const QString &server)
{
    Ras::Entry e;
    const bool pptp = type == 1;
    e.options = Ras::OptRemoteDefaultGateway | Ras::OptSecureLocalFiles | Ras::OptRequireMsChap2 |
        (pptp ? Ras::OptRequireMsChap : Ras::OptRequireChap);
    e.localPhoneNumber = server.left(kPhoneNumberChars);
    e.netProtocols = Ras::NetProtocolIp;
    e.framingProtocol = Ras::FramingPpp;
    e.deviceType = QStringLiteral("vpn");
    e.type = Ras::TypeVpn;
    e.encryptionType = pptp ? Ras::EncryptionNone : Ras::EncryptionOptional;
    e.vpnStrategy = pptp ? Ras::StrategyPptpOnly : Ras::StrategyL2tpOnly;
    e.options2 = pptp ? 0u : Ras::Opt2UsePreSharedKey;
    return e;
}

} // namespace TunnelCommand
