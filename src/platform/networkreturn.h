#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <map>

class QSocketNotifier;

// Tells when the network may have changed under a running tunnel: the
// machine resumed from sleep (logind's PrepareForSleep(false) on the system
// bus), or an interface that carried the default route went down and came
// up again, or a default route came back after there was none (netlink
// route events). Each is reported once, a settling time later (so DHCP has
// its turn), as networkReturned with a short reason for the log; events
// within the settling time are reported together.
class NetworkReturnWatcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultSettleMs = 2000;

    explicit NetworkReturnWatcher(QObject *parent = nullptr);
    ~NetworkReturnWatcher() override;

    // Listens for org.freedesktop.login1.Manager.PrepareForSleep sent by
    // org.freedesktop.login1 on the bus; false when the bus refuses.
    bool watchSleep(QDBusConnection bus);
    // Opens a NETLINK_ROUTE socket in the calling thread's network namespace
    // and learns the default route's interfaces; false when it cannot.
    bool watchLinks();
    void setSettleMs(int ms) { m_settle.setInterval(ms); }

    // The interfaces of this namespace's default routes (IPv4 and IPv6,
    // from /proc/net), by name.
    static QSet<QString> defaultRouteInterfaces();

Q_SIGNALS:
    // "resume", "link <name>" or "default route".
    void networkReturned(const QString &reason);

private Q_SLOTS:
    void prepareForSleep(bool sleeping);

private:
    void readNetlink();
    void linkChanged(int index, const QString &name, bool up, bool removed);
    void routesChanged();
    void report(const QString &reason);

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_settle;
    QStringList m_reasons;
    // Interfaces that carried a default route, and whether each is up and
    // has been down since.
    struct LinkState
    {
        bool up = true;
        bool wentDown = false;
    };
    std::map<QString, LinkState> m_links;
    bool m_hadDefault = false;
    bool m_defaultGone = false;
};

// The running interface holding a local address (dotted IPv4); empty when
// no interface holds it or the one that does is not up and running.
QString runningInterfaceWithAddress(const QString &address);
