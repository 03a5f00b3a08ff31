#include "networkguard.h"

#include "ovpnclient.h"
#include "pptpclient.h"
#include "vpn.h"

#include "platform/networkreturn.h"
#include "platform/outsideblock.h"

#include <QDBusMessage>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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

bool serverAnswers(const QString &server, quint16 port, int milliseconds)
{
    const QStringList addresses = ipv4Addresses(server);
    if (addresses.isEmpty())
        return false;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, addresses.first().toLatin1().constData(), &to.sin_addr);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
    if (!ok && errno == EINPROGRESS) {
        pollfd p {fd, POLLOUT, 0};
        if (::poll(&p, 1, milliseconds) == 1) {
            int error = 0;
            socklen_t len = sizeof error;
            ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
        }
    }
    ::close(fd);
    return ok;
}

bool tunnelCarriesTraffic(VPN &driver, const QString &server)
{
    if (runningInterfaceWithAddress(driver.GetAssignedIp()).isEmpty())
        return false;
    if (auto *ovpn = dynamic_cast<OvpnClient *>(&driver)) {
        if (!ovpn->running())
            return false;
        return serverAnswers(server, OvpnClient::kServerPort, kProbeMs);
    }
    if (auto *dial = dynamic_cast<PptpClient *>(&driver)) {
        if (dial->refreshStatus() != 0 || dial->status().state != Ras::Connected)
            return false;
        if (driver.tunnelType() == TunnelKind::Pptp)
            return serverAnswers(server, kPptpPort, kProbeMs);
        return true;
    }
    return true;
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
