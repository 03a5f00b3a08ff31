#include "networkreturn.h"

#include <QFile>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

const QString kLogin1 = QStringLiteral("org.freedesktop.login1");

QStringList procLines(const char *path)
{
    QFile f(QString::fromLatin1(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

NetworkReturnWatcher::NetworkReturnWatcher(QObject *parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kDefaultSettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        const QString reason = m_reasons.join(QStringLiteral(", "));
        m_reasons.clear();
        Q_EMIT networkReturned(reason);
    });
}

NetworkReturnWatcher::~NetworkReturnWatcher()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool NetworkReturnWatcher::watchSleep(QDBusConnection bus)
{
    return bus.isConnected() &&
        bus.connect(kLogin1, QStringLiteral("/org/freedesktop/login1"),
                    QStringLiteral("org.freedesktop.login1.Manager"),
                    QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

void NetworkReturnWatcher::prepareForSleep(bool sleeping)
{
    if (!sleeping)
        report(QStringLiteral("resume"));
}

QSet<QString> NetworkReturnWatcher::defaultRouteInterfaces()
{
    QSet<QString> out;
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    for (const QString &line : procLines("/proc/net/route")) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        if (f.size() >= 8 && f.at(1) == QLatin1String("00000000") &&
            f.at(7) == QLatin1String("00000000"))
            out.insert(f.at(0));
    }
    // dest plen src plen next-hop metric refcnt use flags iface
    for (const QString &line : procLines("/proc/net/ipv6_route")) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        if (f.size() >= 10 && f.at(1) == QLatin1String("00") &&
            f.at(0) == QString(32, QLatin1Char('0')) && f.at(9) != QLatin1String("lo"))
            out.insert(f.at(9));
    }
    return out;
}

bool NetworkReturnWatcher::watchLinks()
{
    if (m_fd >= 0)
        return true;
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0)
        return false;
    sockaddr_nl local {};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &NetworkReturnWatcher::readNetlink);
    routesChanged();
    return true;
}

void NetworkReturnWatcher::readNetlink()
{
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return; // drained (EAGAIN), or an overrun the next message follows
        bool routes = false;
        int len = int(n);
        for (auto *h = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(h, len);
             h = NLMSG_NEXT(h, len)) {
            if (h->nlmsg_type == RTM_NEWROUTE || h->nlmsg_type == RTM_DELROUTE) {
                routes = true;
                continue;
            }
            if (h->nlmsg_type != RTM_NEWLINK && h->nlmsg_type != RTM_DELLINK)
                continue;
            if (h->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg)))
                continue;
            const auto *info = static_cast<const ifinfomsg *>(NLMSG_DATA(h));
            QString name;
            int attrLen = int(IFLA_PAYLOAD(h));
            for (auto *a = IFLA_RTA(info); RTA_OK(a, attrLen); a = RTA_NEXT(a, attrLen)) {
                if (a->rta_type == IFLA_IFNAME && RTA_PAYLOAD(a) > 0)
                    name = QString::fromLatin1(
                        static_cast<const char *>(RTA_DATA(a)),
                        int(::strnlen(static_cast<const char *>(RTA_DATA(a)), RTA_PAYLOAD(a))));
            }
            const bool up = (info->ifi_flags & IFF_UP) && (info->ifi_flags & IFF_RUNNING);
            linkChanged(info->ifi_index, name, up, h->nlmsg_type == RTM_DELLINK);
        }
        if (routes)
            routesChanged();
    }
}

void NetworkReturnWatcher::linkChanged(int, const QString &name, bool up, bool removed)
{
    auto it = m_links.find(name);
    if (it == m_links.end())
        return;
    LinkState &s = it->second;
    if (removed || !up) {
        s.up = false;
        s.wentDown = true;
        return;
    }
    if (!s.up && s.wentDown) {
        s.wentDown = false;
        report(QStringLiteral("link ") + name);
    }
    s.up = true;
}

void NetworkReturnWatcher::routesChanged()
{
    const QSet<QString> now = defaultRouteInterfaces();
    for (const QString &name : now)
        m_links.try_emplace(name); // remembered until the program ends
    if (now.isEmpty()) {
        if (m_hadDefault)
            m_defaultGone = true;
        return;
    }
    m_hadDefault = true;
    if (m_defaultGone) {
        m_defaultGone = false;
        report(QStringLiteral("default route"));
    }
}

void NetworkReturnWatcher::report(const QString &reason)
{
    if (!m_reasons.contains(reason))
        m_reasons.append(reason);
    m_settle.start();
}

QString runningInterfaceWithAddress(const QString &address)
{
    in_addr wanted {};
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &wanted) != 1)
        return QString();
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return QString();
    QString found;
    for (ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        const auto *a = reinterpret_cast<const sockaddr_in *>(i->ifa_addr);
        if (a->sin_addr.s_addr != wanted.s_addr)
            continue;
        if ((i->ifa_flags & IFF_UP) && (i->ifa_flags & IFF_RUNNING))
            found = QString::fromLatin1(i->ifa_name);
        break;
    }
    ::freeifaddrs(list);
    return found;
}
