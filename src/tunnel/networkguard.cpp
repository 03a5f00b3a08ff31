#include "networkguard.h"

#include "ovpnclient.h"
#include "pptpclient.h"
#include "vpn.h"

#include "platform/networkreturn.h"
#include "platform/outsideblock.h"

#include <QDBusMessage>
#include <QTcpSocket>
#include <QTimer>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>
#include <utility>

namespace LinkCheck {

namespace {
constexpr quint16 kPptpPort = 1723;
} // namespace

QStringList ipv4Addresses(const QString &server)
{
    QStringList out;
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (server.isEmpty() || ::getaddrinfo(server.toUtf8().constData(), nullptr, &hints, &list) != 0)
        return out;
    for (addrinfo *a = list; a && out.size() < OutsideBlock::kMaxServers; a = a->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        const auto *sin = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
        if (::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) {
            const QString s = QString::fromLatin1(text);
            if (!out.contains(s))
                out.append(s);
        }
    }
    ::freeaddrinfo(list);
    return out;
}

void probeServer(const QString &server, quint16 port, int milliseconds, QObject *context,
                 std::function<void(bool)> done)
{
    auto *socket = new QTcpSocket(context);
    auto pending = std::make_shared<std::function<void(bool)>>(std::move(done));
    // The first of connected, an error or the time-out answers; the others
    // find nothing left to answer.
    auto answer = [socket, pending](bool ok) {
        if (!*pending)
            return;
        std::function<void(bool)> f = std::exchange(*pending, nullptr);
        socket->abort();
        socket->deleteLater();
        f(ok);
    };
    QObject::connect(socket, &QTcpSocket::connected, socket, [answer] { answer(true); });
    QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [answer] { answer(false); });
    QTimer::singleShot(milliseconds, socket, [answer] { answer(false); });
    socket->connectToHost(server, port, QIODevice::ReadWrite, QAbstractSocket::IPv4Protocol);
}

void checkTunnel(VPN &driver, const QString &server, QObject *context,
                 std::function<void(bool)> done)
{
    // The quick local checks answer at once (still through the event loop,
    // so every answer arrives the same way).
    auto now = [context, &done](bool carries) {
        QMetaObject::invokeMethod(
            context, [done = std::move(done), carries] { done(carries); }, Qt::QueuedConnection);
    };
    if (runningInterfaceWithAddress(driver.GetAssignedIp()).isEmpty())
        return now(false);
    if (auto *ovpn = dynamic_cast<OvpnClient *>(&driver)) {
        if (!ovpn->running())
            return now(false);
        return probeServer(server, OvpnClient::kServerPort, kProbeMs, context, std::move(done));
    }
    if (auto *dial = dynamic_cast<PptpClient *>(&driver)) {
        if (dial->refreshStatus() != 0 || dial->status().state != Ras::Connected)
            return now(false);
        if (driver.tunnelType() == TunnelKind::Pptp)
            return probeServer(server, kPptpPort, kProbeMs, context, std::move(done));
    }
    now(true);
}

} // namespace LinkCheck

OutsideGuard::OutsideGuard(Install install, Remove remove)
    : m_install(std::move(install)), m_remove(std::move(remove))
{ }

OutsideGuard OutsideGuard::inProcess()
{
    return OutsideGuard(
        [](const QString &iface, const QStringList &servers, bool everything, QString *error) {
            return everything ? OutsideBlock::install(iface, servers, error)
                              : OutsideBlock::installIpv6Only(iface, error);
        },
        &OutsideBlock::remove);
}

namespace {

// One call of kvo-helper, waited for: true for a reply, whose first value
// (if any) goes to *answer; else false with the error's text there.
bool callHelper(QDBusConnection &bus, const QString &member, const QVariantList &args,
                QString *answer)
{
    QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.kvo.Helper1"),
                                                    QStringLiteral("/org/kvo/Helper1"),
                                                    QStringLiteral("org.kvo.Helper1"), member);
    m.setArguments(args);
    const QDBusMessage reply = bus.call(m, QDBus::BlockWithGui, 25000);
    const bool ok = reply.type() == QDBusMessage::ReplyMessage;
    if (answer)
        *answer = ok ? reply.arguments().value(0).toString() : reply.errorMessage();
    return ok;
}

} // namespace

OutsideGuard OutsideGuard::throughHelper(QDBusConnection bus)
{
    return OutsideGuard(
        [bus](const QString &iface, const QStringList &servers, bool everything,
              QString *error) mutable {
            return everything
                ? callHelper(bus, QStringLiteral("BlockOutside"), {iface, servers}, error)
                : callHelper(bus, QStringLiteral("BlockIpv6"), {iface}, error);
        },
        [bus](QString *error) mutable {
            return callHelper(bus, QStringLiteral("Unblock"), {}, error);
        });
}

bool OutsideGuard::tunnelUp(const QString &assignedAddress, const QString &server, bool everything,
                            QString *error)
{
    const QString iface = runningInterfaceWithAddress(assignedAddress);
    if (iface.isEmpty()) {
        *error = QStringLiteral("no running interface holds %1").arg(assignedAddress);
        return false;
    }
    const QStringList servers = LinkCheck::ipv4Addresses(server);
    if (servers.isEmpty()) {
        *error = QStringLiteral("the server %1 has no IPv4 address").arg(server);
        return false;
    }
    if (!m_install(iface, servers, everything, error))
        return false;
    m_active = true;
    return true;
}

void OutsideGuard::release()
{
    if (!m_active)
        return;
    QString error;
    m_remove(&error);
    m_active = false;
}

DnsGuard::DnsGuard(Apply apply, Revert revert)
    : m_apply(std::move(apply)), m_revert(std::move(revert))
{ }

DnsGuard DnsGuard::inProcess()
{
    auto applier = std::make_shared<TunnelDns::Applier>();
    return DnsGuard(
        [applier](const QString &iface, const TunnelDns::Settings &settings, QString *how,
                  QString *error) {
            TunnelDns::Method method {};
            if (!applier->apply(iface, settings, &method, error))
                return false;
            *how = TunnelDns::methodName(method);
            return true;
        },
        [applier] { applier->revert(); });
}

DnsGuard DnsGuard::throughHelper(QDBusConnection bus)
{
    return DnsGuard(
        [bus](const QString &iface, const TunnelDns::Settings &settings, QString *how,
              QString *error) mutable {
            QString answer;
            const bool ok = callHelper(bus, QStringLiteral("SetTunnelDns"),
                                       {iface, settings.servers, settings.domains}, &answer);
            *(ok ? how : error) = answer;
            return ok;
        },
        [bus]() mutable { callHelper(bus, QStringLiteral("RevertTunnelDns"), {}, nullptr); });
}

QStringList DnsGuard::tunnelUp(const QString &assignedAddress, const TunnelDns::Settings &pushed,
                               bool blockOutside)
{
    QStringList lines;
    QStringList refused;
    const TunnelDns::Settings settings =
        TunnelDns::checked(pushed.servers, pushed.domains, &refused);
    for (const QString &value : refused)
        lines << QStringLiteral("터널 DNS 값 거부: \"%1\"").arg(TunnelDns::printable(value));
    if (settings.servers.isEmpty()) {
        release();
        if (!m_toldNoDns) {
            m_toldNoDns = true;
            lines << (blockOutside
                          ? QStringLiteral("터널 서버가 DNS 서버를 알려주지 않았습니다: 이름은 이 "
                                           "컴퓨터의 DNS 서버로 조회하며, 터널 밖 통신 차단 "
                                           "중에는 터널 안에서 닿는 DNS 서버만 답할 수 있습니다")
                          : QStringLiteral("터널 서버가 DNS 서버를 알려주지 않았습니다: 이름은 이 "
                                           "컴퓨터의 DNS 서버로 조회합니다"));
        }
        return lines;
    }
    const QString iface = runningInterfaceWithAddress(assignedAddress);
    QString how;
    QString error;
    if (iface.isEmpty()) {
        error = QStringLiteral("no running interface holds %1").arg(assignedAddress);
    } else if (m_apply(iface, settings, &how, &error)) {
        m_active = true;
        QString line =
            QStringLiteral("터널 DNS 적용: %1").arg(settings.servers.join(QLatin1Char(' ')));
        if (!settings.domains.isEmpty())
            line += QStringLiteral(", 도메인 %1").arg(settings.domains.join(QLatin1Char(' ')));
        lines << line + QStringLiteral(" (%1, %2)").arg(iface, how);
        return lines;
    }
    lines << QStringLiteral("터널 DNS 적용 실패: ") + error;
    return lines;
}

void DnsGuard::release()
{
    if (!m_active)
        return;
    m_active = false;
    m_revert();
}
