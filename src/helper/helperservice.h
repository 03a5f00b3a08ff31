#pragma once

#include "platform/dialupppp.h"
#include "platform/tunneldns.h"
#include "polkitcheck.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QTemporaryDir>
#include <QTimer>

#include <map>
#include <memory>

class QDBusServiceWatcher;

// The privileged side of the client: org.kvo.Helper1 on /org/kvo/Helper1.
// Each call is checked first (signature, then values), then authorised with
// polkit for the calling bus name, then carried out. The command lines are
// built here from the checked values; the files come from the install
// folder only. Tunnels and links belong to the bus name that started them:
// only it may stop or query them, only it receives their signals, and they
// end when it leaves the bus.
class HelperService : public QDBusVirtualObject
{
    Q_OBJECT
public:
    static const QString kServiceName; // org.kvo.Helper1
    static const QString kObjectPath; // /org/kvo/Helper1
    static const QString kInterface; // org.kvo.Helper1

    struct Options
    {
        QString installDir = QStringLiteral("/opt/KVO");
        int idleSeconds = 60;
        QString tunDevice = QStringLiteral("/dev/net/tun");
    };

    HelperService(QDBusConnection bus, Options options, QObject *parent = nullptr);
    ~HelperService() override;

    // Registers the object and takes the well-known name; false with a
    // reason when either fails.
    bool start(QString *error);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

Q_SIGNALS:
    // Quiet for the idle time with nothing to manage.
    void idle();

private:
    struct Tunnel;
    struct Link;

    QString checkValues(const QDBusMessage &message) const;
    QDBusMessage perform(const QDBusMessage &message);
    QDBusMessage startOpenVpn(const QDBusMessage &message);
    QDBusMessage stopOpenVpn(const QDBusMessage &message);
    QDBusMessage dial(const QDBusMessage &message);
    QDBusMessage linkCall(const QDBusMessage &message);
    QDBusMessage resetConnections(const QDBusMessage &message);
    QDBusMessage outsideBlock(const QDBusMessage &message);
    void removeBlock();
    QDBusMessage tunnelDns(const QDBusMessage &message);
    void revertDns();
    // Whether the interface is one of the caller's tunnels or links.
    bool ownsInterface(const QString &owner, const QString &iface);

    void watchOwner(const QString &owner);
    void stopTunnel(Tunnel &tunnel);
    // Watches the caller from now on; false when it has already left.
    bool callerStillThere(const QString &owner);
    void ownerLeft(const QString &owner);
    void onTunnelOutput(quint32 id);
    void onTunnelFinished(quint32 id, int exitCode, bool crashed);
    void pollLinks();
    void endLink(quint32 id);
    void emitTo(const QString &owner, const QString &name, const QVariantList &args);
    void touch();
    bool managing() const;
    int ownedBy(const QString &owner) const;
    // Why a new tunnel for `owner` is refused; empty when it may start.
    QString refuseNewTunnel(const QString &owner, uint *uid);
    QString openVpnProgram() const;

    QDBusConnection m_bus;
    Options m_options;
    PolkitCheck m_polkit;
    QDBusServiceWatcher *m_watcher;
    PppDialUp m_dialUp;
    QTemporaryDir m_phoneBooks; // mode 0700
    QTimer m_idleTimer;
    QTimer m_linkPoll;
    quint32 m_nextId = 1;
    std::map<quint32, std::unique_ptr<Tunnel>> m_tunnels;
    std::map<quint32, std::unique_ptr<Link>> m_links;
    // The caller whose outside block (OutsideBlock's table) is installed.
    QString m_blockOwner;
    // The tunnel DNS applied for m_dnsOwner's tunnel.
    TunnelDns::Applier m_dns;
    QString m_dnsOwner;
};
