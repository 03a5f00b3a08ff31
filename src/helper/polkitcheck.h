#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

// Asks polkit's authority (org.freedesktop.PolicyKit1 on the same bus)
// whether a bus name may perform an action. The answer comes back on the
// event loop; any failure to ask counts as a refusal.
class PolkitCheck : public QObject
{
    Q_OBJECT
public:
    enum class Answer { Yes, No, Challenge };
    using Done = std::function<void(Answer)>;

    explicit PolkitCheck(QDBusConnection bus, QObject *parent = nullptr);

    // interactive: the caller allows an authentication dialog (the call's
    // ALLOW_INTERACTIVE_AUTHORIZATION flag).
    void check(const QString &busName, const QString &actionId, bool interactive, Done done);

private:
    QDBusConnection m_bus;
};
