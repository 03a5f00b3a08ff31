#include "helpertunnel.h"

#include "ovpnclient.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {
const QString kService = QStringLiteral("org.kvo.Helper1");
const QString kPath = QStringLiteral("/org/kvo/Helper1");
const QString kInterface = QStringLiteral("org.kvo.Helper1");
const QString kNoSuchTunnel = QStringLiteral("org.kvo.Helper1.Error.NoSuchTunnel");
// A start may wait for the user to authenticate.
constexpr int kStartTimeoutMs = 5 * 60 * 1000;

QDBusMessage helperCall(const QString &member, const QVariantList &args)
{
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface, member);
    m.setArguments(args);
    m.setInteractiveAuthorizationAllowed(true);
    return m;
}
} // namespace

HelperOvpnProcess::HelperOvpnProcess(QDBusConnection bus, QObject *parent)
    : OvpnProcess(parent), m_bus(std::move(bus)),
      m_helperWatcher(kService, m_bus, QDBusServiceWatcher::WatchForUnregistration)
{
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("OpenVpnOutput"), this,
                  SLOT(onOutput(QDBusMessage)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("OpenVpnEnded"), this,
                  SLOT(onEnded(QDBusMessage)));
    // A helper that left the bus took its children with it.
    connect(&m_helperWatcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        if (running())
            finish();
    });
}

HelperOvpnProcess::~HelperOvpnProcess()
{
    m_bus.disconnect(kService, kPath, kInterface, QStringLiteral("OpenVpnOutput"), this,
                     SLOT(onOutput(QDBusMessage)));
    m_bus.disconnect(kService, kPath, kInterface, QStringLiteral("OpenVpnEnded"), this,
                     SLOT(onEnded(QDBusMessage)));
}

bool HelperOvpnProcess::start(const QString &server, quint32 shaperRate, const QString &userId,
                              const QString &password)
{
    if (m_tunnel != 0 || !m_bus.isConnected())
        return false;
    m_starting = true;
    const QDBusMessage reply = m_bus.call(
        helperCall(QStringLiteral("StartOpenVpn"),
                   {server, uint(OvpnClient::kServerPort), uint(shaperRate), userId, password}),
        QDBus::BlockWithGui, kStartTimeoutMs);
    m_starting = false;
    const QList<QDBusMessage> early = std::exchange(m_early, {});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 ||
        reply.arguments().at(0).toUInt() == 0) {
        if (reply.type() == QDBusMessage::ErrorMessage)
            qWarning("openvpn through kvo-helper: %s", qPrintable(reply.errorMessage()));
        return false;
    }
    m_tunnel = reply.arguments().at(0).toUInt();
    for (const QDBusMessage &m : early)
        take(m);
    return true;
}

void HelperOvpnProcess::stop()
{
    if (!running() || m_stopRequested)
        return;
    m_stopRequested = true;
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(helperCall(QStringLiteral("StopOpenVpn"), {m_tunnel})), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        // The helper does not know the tunnel although its end has not been
        // reported (the end signal comes before this reply), or the helper
        // is gone: no end signal will come.
        const QString error = watcher->error().name();
        if (watcher->isError() && running() &&
            (error == kNoSuchTunnel ||
             error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
             error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")))
            finish();
    });
}

void HelperOvpnProcess::onOutput(const QDBusMessage &signal)
{
    if (m_tunnel == 0 && m_starting)
        m_early.append(signal);
    else
        take(signal);
}

void HelperOvpnProcess::onEnded(const QDBusMessage &signal)
{
    onOutput(signal);
}

void HelperOvpnProcess::take(const QDBusMessage &signal)
{
    const QVariantList args = signal.arguments();
    if (m_tunnel == 0 || m_ended || args.isEmpty() || args.at(0).toUInt() != m_tunnel)
        return;
    if (signal.member() == QLatin1String("OpenVpnOutput") && args.size() == 2)
        Q_EMIT lineRead(args.at(1).toString());
    else if (signal.member() == QLatin1String("OpenVpnEnded") && args.size() == 3)
        finish();
}

void HelperOvpnProcess::finish()
{
    m_ended = true;
    Q_EMIT ended();
}

HelperTcpResetter::HelperTcpResetter(QDBusConnection bus, QStringList firstHosts,
                                     QStringList secondHosts)
    : m_bus(std::move(bus)), m_first(std::move(firstHosts)), m_second(std::move(secondHosts))
{ }

void HelperTcpResetter::firstPass()
{
    reset(m_first);
}

void HelperTcpResetter::secondPass()
{
    reset(m_second);
}

void HelperTcpResetter::reset(const QStringList &hosts)
{
    if (hosts.isEmpty() || !m_bus.isConnected())
        return;
    // Not waited for: the switch goes on while the helper works.
    m_bus.asyncCall(helperCall(QStringLiteral("ResetConnections"), {hosts, uint(443)}));
}

namespace HelperBus {

bool available(QDBusConnection bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(kService).value() ||
        bus.interface()->activatableServiceNames().value().contains(kService);
}

bool tunDeviceAvailable(QDBusConnection bus)
{
    const QDBusMessage reply =
        bus.call(helperCall(QStringLiteral("TunDeviceAvailable"), {}), QDBus::BlockWithGui, 25000);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1 &&
        reply.arguments().at(0).toBool();
}

} // namespace HelperBus
