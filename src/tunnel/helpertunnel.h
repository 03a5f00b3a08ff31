#pragma once

#include "ovpnprocess.h"

#include "platform/tcpreset.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QList>
#include <QStringList>

// openvpn run by kvo-helper on the system bus (org.kvo.Helper1), for a
// client that runs as the desktop user: StartOpenVpn/StopOpenVpn, with the
// lines and the end coming back as OpenVpnOutput/OpenVpnEnded addressed to
// this connection alone. The helper stops its child as the driver would
// (SIGTERM, SIGKILL after 700 ms) and reports the end once it has reaped it.
class HelperOvpnProcess : public OvpnProcess
{
    Q_OBJECT
public:
    explicit HelperOvpnProcess(QDBusConnection bus, QObject *parent = nullptr);
    ~HelperOvpnProcess() override;

    bool start(const QString &server, quint32 shaperRate, const QString &userId,
               const QString &password) override;
    bool running() const override { return m_tunnel != 0 && !m_ended; }
    void stop() override;
    // The helper's number for the tunnel, 0 before it started.
    quint32 tunnel() const { return m_tunnel; }

private Q_SLOTS:
    void onOutput(const QDBusMessage &signal);
    void onEnded(const QDBusMessage &signal);

private:
    void take(const QDBusMessage &signal);
    void finish();

    QDBusConnection m_bus;
    QDBusServiceWatcher m_helperWatcher;
    quint32 m_tunnel = 0;
    bool m_starting = false;
    bool m_ended = false;
    // Signals that came before the start's reply named the tunnel.
    QList<QDBusMessage> m_early;
};

// The two reset passes after a switch, done by kvo-helper
// (ResetConnections on port 443), for a client without CAP_NET_ADMIN. The
// helper accepts only the reset hosts of the installed KVOService.ini; a
// refused or failed pass simply does nothing, as a local one would.
class HelperTcpResetter : public TcpConnectionResetter
{
public:
    HelperTcpResetter(QDBusConnection bus, QStringList firstHosts, QStringList secondHosts);
    void firstPass() override;
    void secondPass() override;

private:
    void reset(const QStringList &hosts);

    QDBusConnection m_bus;
    QStringList m_first;
    QStringList m_second;
};

namespace HelperBus {
// Whether kvo-helper runs on the bus or can be started there.
bool available(QDBusConnection bus);
// The helper's tun device check (TunDeviceAvailable); false when it cannot
// be asked.
bool tunDeviceAvailable(QDBusConnection bus);
} // namespace HelperBus
