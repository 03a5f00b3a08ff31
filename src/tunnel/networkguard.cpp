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
    return OutsideGuard(&OutsideBlock::install, &OutsideBlock::remove);
}

OutsideGuard OutsideGuard::throughHelper(QDBusConnection bus)
{
    auto call = [bus](const QString &member, const QVariantList &args, QString *error) mutable {
        QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.kvo.Helper1"),
                                                        QStringLiteral("/org/kvo/Helper1"),
                                                        QStringLiteral("org.kvo.Helper1"), member);
        m.setArguments(args);
        const QDBusMessage reply = bus.call(m, QDBus::BlockWithGui, 25000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
        *error = reply.errorMessage();
        return false;
    };
    return OutsideGuard(
        [call](const QString &iface, const QStringList &servers, QString *error) mutable {
            return call(QStringLiteral("BlockOutside"), {iface, servers}, error);
        },
        [call](QString *error) mutable { return call(QStringLiteral("Unblock"), {}, error); });
}

bool OutsideGuard::tunnelUp(const QString &assignedAddress, const QString &server, QString *error)
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
    if (!m_install(iface, servers, error))
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
