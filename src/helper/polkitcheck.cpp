#include "polkitcheck.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QMap>

namespace {

// polkit's subject: (sa{sv}), here "system-bus-name" with {"name": <name>}.
struct Subject
{
    QString kind;
    QVariantMap details;
};

// polkit's answer: (bba{ss}).
struct AuthorizationResult
{
    bool authorized = false;
    bool challenge = false;
    QMap<QString, QString> details;
};

QDBusArgument &operator<<(QDBusArgument &arg, const Subject &s)
{
    arg.beginStructure();
    arg << s.kind << s.details;
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, Subject &s)
{
    arg.beginStructure();
    arg >> s.kind >> s.details;
    arg.endStructure();
    return arg;
}

QDBusArgument &operator<<(QDBusArgument &arg, const AuthorizationResult &r)
{
    arg.beginStructure();
    arg << r.authorized << r.challenge << r.details;
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, AuthorizationResult &r)
{
    arg.beginStructure();
    arg >> r.authorized >> r.challenge >> r.details;
    arg.endStructure();
    return arg;
}

// polkit's CheckAuthorizationFlags: AllowUserInteraction.
constexpr uint kAllowUserInteraction = 1;
// An authentication dialog may stay open a long time.
constexpr int kInteractiveTimeoutMs = 5 * 60 * 1000;
constexpr int kTimeoutMs = 25 * 1000;

} // namespace

Q_DECLARE_METATYPE(Subject)
Q_DECLARE_METATYPE(AuthorizationResult)

PolkitCheck::PolkitCheck(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus))
{
    qDBusRegisterMetaType<Subject>();
    qDBusRegisterMetaType<AuthorizationResult>();
    qDBusRegisterMetaType<QMap<QString, QString>>();
}

void PolkitCheck::check(const QString &busName, const QString &actionId, bool interactive,
                        Done done)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.PolicyKit1"),
                                       QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
                                       QStringLiteral("org.freedesktop.PolicyKit1.Authority"),
                                       QStringLiteral("CheckAuthorization"));
    Subject subject {QStringLiteral("system-bus-name"),
                     {{QStringLiteral("name"), QVariant::fromValue(busName)}}};
    const QString cancellationId = QStringLiteral("kvo-helper-%1").arg(m_nextId++);
    call << QVariant::fromValue(subject) << actionId
         << QVariant::fromValue(QMap<QString, QString>())
         << uint(interactive ? kAllowUserInteraction : 0) << cancellationId;
    m_pending.insert(busName, cancellationId);
    const QDBusPendingCall pending =
        m_bus.asyncCall(call, interactive ? kInteractiveTimeoutMs : kTimeoutMs);
    auto *watcher = new QDBusPendingCallWatcher(pending, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, busName, cancellationId, done = std::move(done)] {
                watcher->deleteLater();
                m_pending.remove(busName, cancellationId);
                const QDBusPendingReply<AuthorizationResult> reply = *watcher;
                if (reply.isError()) {
                    // polkit's own "not authorised" is its refusal; anything
                    // else (the bus, a time-out, a cancellation) is no answer.
                    const QString name = reply.error().name();
                    done(name == QLatin1String("org.freedesktop.PolicyKit1.Error.NotAuthorized")
                             ? Answer::No
                             : Answer::Failed,
                         QStringLiteral("polkit: %1: %2").arg(name, reply.error().message()));
                    return;
                }
                const AuthorizationResult r = reply.value();
                done(r.authorized      ? Answer::Yes
                         : r.challenge ? Answer::Challenge
                                       : Answer::No,
                     QString());
            });
}

int PolkitCheck::pendingFor(const QString &busName) const
{
    return int(m_pending.count(busName));
}

int PolkitCheck::pending() const
{
    return int(m_pending.size());
}

void PolkitCheck::cancelFor(const QString &busName)
{
    for (const QString &id : m_pending.values(busName)) {
        QDBusMessage cancel =
            QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.PolicyKit1"),
                                           QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
                                           QStringLiteral("org.freedesktop.PolicyKit1.Authority"),
                                           QStringLiteral("CancelCheckAuthorization"));
        cancel << id;
        m_bus.send(cancel);
    }
}
