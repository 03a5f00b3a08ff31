#pragma once

#include "platform/dialup.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMap>
#include <QMutex>
#include <QObject>

// The dial-up layer for a client that runs as the desktop user: each
// operation is a call to kvo-helper on the system bus (org.kvo.Helper1),
// which writes the entry, runs pppd and reports the link's states back to
// this connection alone. The phone-book entry is only remembered here; the
// helper builds its own from the server and the tunnel type.
class HelperDialUp : public QObject, public DialUp
{
    Q_OBJECT
public:
    explicit HelperDialUp(QDBusConnection bus, QObject *parent = nullptr);

    // Whether kvo-helper runs on the bus or can be started there.
    static bool available(QDBusConnection bus);
    ~HelperDialUp() override;

    unsigned setEntryProperties(const QString &phoneBook, const QString &entryName,
                                const Ras::Entry &entry) override;
    unsigned setPreSharedKey(const QString &phoneBook, const QString &entryName,
                             const QString &key) override;
    unsigned dial(const QString &phoneBook, const Ras::DialParams &params, Ras::DialNotifier notify,
                  Ras::Handle *handle) override;
    unsigned hangUp(Ras::Handle handle) override;
    unsigned getConnectStatus(Ras::Handle handle, Ras::ConnStatus *status) override;
    unsigned getProjectedIp(Ras::Handle handle, QString *address) override;
    unsigned getStatistics(Ras::Handle handle, Ras::Statistics *stats) override;
    unsigned getProtection(Ras::Handle handle, QString *protection) override;
    unsigned getPeerDns(Ras::Handle handle, QStringList *servers) override;
    unsigned enumConnections(QList<Ras::Connection> *out, int capacity, int *count) override;
    unsigned notifyOnDisconnection(Ras::Handle handle,
                                   std::shared_ptr<AutoResetEvent> event) override;

private Q_SLOTS:
    void onLinkState(const QDBusMessage &signal);

private:
    struct Link
    {
        QString entryName;
        Ras::DialNotifier notify;
        QList<std::shared_ptr<AutoResetEvent>> watchers;
    };
    QDBusMessage call(const QString &member, const QVariantList &args, int timeoutMs = 25000);
    void deliver(Ras::Handle link, int state, unsigned error);
    void ended(Ras::Handle link);

    QDBusConnection m_bus;
    QMap<QString, Ras::Entry> m_entries; // by phone book + entry name
    // States that came before the dial's reply named the link.
    QList<std::tuple<Ras::Handle, int, unsigned>> m_early;
    bool m_dialling = false;
    // Guards m_links: other threads enumerate and register for the end.
    mutable QMutex m_mutex;
    QMap<Ras::Handle, Link> m_links;
};
