#include "helperdialup.h"

#include <QDBusConnectionInterface>
#include <QMutexLocker>

namespace {
const QString kService = QStringLiteral("org.kvo.Helper1");
const QString kPath = QStringLiteral("/org/kvo/Helper1");
const QString kInterface = QStringLiteral("org.kvo.Helper1");
const QString kNoSuchTunnel = QStringLiteral("org.kvo.Helper1.Error.NoSuchTunnel");
// A dial may wait for the user to authenticate.
constexpr int kDialTimeoutMs = 5 * 60 * 1000;

QString entryKey(const QString &phoneBook, const QString &entryName)
{
    return phoneBook + QLatin1Char('\n') + entryName;
}
} // namespace

HelperDialUp::HelperDialUp(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus))
{
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("LinkStateChanged"), this,
                  SLOT(onLinkState(QDBusMessage)));
}

bool HelperDialUp::available(QDBusConnection bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(kService).value() ||
        bus.interface()->activatableServiceNames().value().contains(kService);
}

HelperDialUp::~HelperDialUp()
{
    m_bus.disconnect(kService, kPath, kInterface, QStringLiteral("LinkStateChanged"), this,
                     SLOT(onLinkState(QDBusMessage)));
    QMutexLocker lock(&m_mutex);
    for (Link &l : m_links)
        for (const auto &w : std::as_const(l.watchers))
            w->set();
}

QDBusMessage HelperDialUp::call(const QString &member, const QVariantList &args, int timeoutMs)
{
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface, member);
    m.setArguments(args);
    m.setInteractiveAuthorizationAllowed(true);
    return m_bus.call(m, QDBus::BlockWithGui, timeoutMs);
}

unsigned HelperDialUp::setEntryProperties(const QString &phoneBook, const QString &entryName,
                                          const Ras::Entry &entry)
{
    if (entryName.isEmpty())
        return Ras::CannotWritePhonebook;
    m_entries.insert(entryKey(phoneBook, entryName), entry);
    return Ras::Success;
}

unsigned HelperDialUp::setPreSharedKey(const QString &phoneBook, const QString &entryName,
                                       const QString &)
{
    // The helper holds the service's key itself.
    return m_entries.contains(entryKey(phoneBook, entryName)) ? Ras::Success
                                                              : Ras::CannotFindPhonebookEntry;
}

unsigned HelperDialUp::dial(const QString &phoneBook, const Ras::DialParams &params,
                            Ras::DialNotifier notify, Ras::Handle *handle)
{
    const auto entry = m_entries.constFind(entryKey(phoneBook, params.entryName));
    if (entry == m_entries.constEnd())
        return Ras::CannotFindPhonebookEntry;
    const uint type = entry->vpnStrategy == Ras::StrategyL2tpOnly ? 3u : 1u;
    m_dialling = true;
    const QDBusMessage reply =
        call(QStringLiteral("Dial"),
             {type, entry->localPhoneNumber, params.userName, params.password}, kDialTimeoutMs);
    m_dialling = false;
    const QList<std::tuple<Ras::Handle, int, unsigned>> early = std::exchange(m_early, {});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return Ras::CannotLoadString; // no helper, or refused: the set-up is broken
    const unsigned result = reply.arguments().at(0).toUInt();
    const Ras::Handle link = reply.arguments().at(1).toUInt();
    if (result != 0 || link == 0)
        return result != 0 ? result : unsigned(Ras::FromDevice);
    {
        QMutexLocker lock(&m_mutex);
        m_links.insert(link, Link {params.entryName, std::move(notify), {}});
    }
    *handle = link;
    for (const auto &[l, state, error] : early)
        if (l == link)
            deliver(link, state, error);
    return Ras::Success;
}

void HelperDialUp::onLinkState(const QDBusMessage &signal)
{
    const QVariantList args = signal.arguments();
    if (args.size() != 3)
        return;
    const Ras::Handle link = args.at(0).toUInt();
    const int state = args.at(1).toInt();
    const unsigned error = args.at(2).toUInt();
    bool known = false;
    {
        QMutexLocker lock(&m_mutex);
        known = m_links.contains(link);
    }
    if (!known) {
        if (m_dialling)
            m_early.append({link, state, error});
        return;
    }
    deliver(link, state, error);
}

void HelperDialUp::deliver(Ras::Handle link, int state, unsigned error)
{
    // The helper's own word that the link is gone; the dial's notices end
    // before that, as the local layer's do.
    if (state == Ras::Disconnected) {
        ended(link);
        return;
    }
    Ras::DialNotifier notify;
    {
        QMutexLocker lock(&m_mutex);
        notify = m_links.value(link).notify;
    }
    if (notify)
        notify(state, error);
}

void HelperDialUp::ended(Ras::Handle link)
{
    QMutexLocker lock(&m_mutex);
    const Link l = m_links.take(link);
    for (const auto &w : l.watchers)
        w->set();
}

unsigned HelperDialUp::hangUp(Ras::Handle handle)
{
    const QDBusMessage reply = call(QStringLiteral("HangUp"), {uint(handle)});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (reply.errorName() == kNoSuchTunnel)
            ended(handle);
        return Ras::InvalidHandle;
    }
    return reply.arguments().value(0).toUInt();
}

unsigned HelperDialUp::getConnectStatus(Ras::Handle handle, Ras::ConnStatus *status)
{
    {
        // A link the helper has reported ended needs no call (the drivers
        // poll this while they wait for the end).
        QMutexLocker lock(&m_mutex);
        if (!m_links.contains(handle))
            return Ras::InvalidHandle;
    }
    const QDBusMessage reply = call(QStringLiteral("LinkStatus"), {uint(handle)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 4) {
        if (reply.errorName() == kNoSuchTunnel)
            ended(handle);
        return Ras::InvalidHandle;
    }
    const QVariantList a = reply.arguments();
    status->state = a.at(1).toInt();
    status->error = a.at(2).toUInt();
    status->deviceType = QStringLiteral("vpn");
    status->deviceName = a.at(3).toString();
    return a.at(0).toUInt();
}

unsigned HelperDialUp::getProjectedIp(Ras::Handle handle, QString *address)
{
    const QDBusMessage reply = call(QStringLiteral("LinkAddress"), {uint(handle)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return Ras::InvalidHandle;
    *address = reply.arguments().at(1).toString();
    return reply.arguments().at(0).toUInt();
}

unsigned HelperDialUp::getProtection(Ras::Handle handle, QString *protection)
{
    const QDBusMessage reply = call(QStringLiteral("LinkProtection"), {uint(handle)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return Ras::InvalidHandle;
    *protection = reply.arguments().at(1).toString();
    return reply.arguments().at(0).toUInt();
}

unsigned HelperDialUp::getPeerDns(Ras::Handle handle, QStringList *servers)
{
    const QDBusMessage reply = call(QStringLiteral("LinkDns"), {uint(handle)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return Ras::InvalidHandle;
    *servers = reply.arguments().at(1).toStringList();
    return reply.arguments().at(0).toUInt();
}

unsigned HelperDialUp::getStatistics(Ras::Handle handle, Ras::Statistics *stats)
{
    const QDBusMessage reply = call(QStringLiteral("LinkStatistics"), {uint(handle)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 3)
        return Ras::InvalidHandle;
    stats->bytesSent = reply.arguments().at(1).toULongLong();
    stats->bytesReceived = reply.arguments().at(2).toULongLong();
    return reply.arguments().at(0).toUInt();
}

unsigned HelperDialUp::enumConnections(QList<Ras::Connection> *out, int capacity, int *count)
{
    QMutexLocker lock(&m_mutex);
    out->clear();
    *count = int(m_links.size());
    for (auto it = m_links.cbegin(); it != m_links.cend() && out->size() < capacity; ++it)
        out->append(Ras::Connection {it.key(), it->entryName});
    return *count > capacity ? unsigned(Ras::BufferTooSmall) : unsigned(Ras::Success);
}

unsigned HelperDialUp::notifyOnDisconnection(Ras::Handle handle,
                                             std::shared_ptr<AutoResetEvent> event)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_links.find(handle);
    if (it == m_links.end()) {
        event->set();
        return Ras::InvalidHandle;
    }
    it->watchers.append(std::move(event));
    return Ras::Success;
}
