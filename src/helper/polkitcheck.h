#pragma once

#include <QDBusConnection>
#include <QMultiHash>
#include <QObject>
#include <QString>

#include <functional>

// Asks polkit's authority (org.freedesktop.PolicyKit1 on the same bus)
// whether a bus name may perform an action. The answer comes back on the
// event loop. polkit's refusal is No; a check that could not be made or
// answered (no authority, a bus limit, a time-out, a cancellation) is
// Failed: both are refusals, told apart for the caller.
class PolkitCheck : public QObject
{
    Q_OBJECT
public:
    enum class Answer { Yes, No, Challenge, Failed };
    using Done = std::function<void(Answer, const QString &why)>;

    explicit PolkitCheck(QDBusConnection bus, QObject *parent = nullptr);

    // interactive: the caller allows an authentication dialog (the call's
    // ALLOW_INTERACTIVE_AUTHORIZATION flag).
    void check(const QString &busName, const QString &actionId, bool interactive, Done done);
    // The checks not yet answered for this bus name.
    int pendingFor(const QString &busName) const;
    int pending() const;
    // Cancels them at polkit (an authentication dialog goes away); their
    // answers arrive as Failed.
    void cancelFor(const QString &busName);

private:
    QDBusConnection m_bus;
    quint64 m_nextId = 1;
    QMultiHash<QString, QString> m_pending; // bus name -> cancellation id
};
