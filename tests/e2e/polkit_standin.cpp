// Stands in for polkit's authority on a private bus: answers every
// CheckAuthorization with yes and prints each action it was asked for, one a
// line, so that a run of the client as a user can show what the helper
// checked.
//
//   kvo-polkit-standin BUS_ADDRESS
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {

class Authority : public QDBusVirtualObject
{
public:
    QString introspect(const QString &) const override { return QString(); }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() != QLatin1String("CheckAuthorization") ||
            message.signature() != QLatin1String("(sa{sv})sa{ss}us"))
            return false;
        std::printf("%s\n", qPrintable(message.arguments().at(1).toString()));
        std::fflush(stdout);
        QDBusArgument result;
        result.beginStructure();
        result << true << false << QMap<QString, QString>();
        result.endStructure();
        connection.send(message.createReply(QVariant::fromValue(result)));
        return true;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvo-polkit-standin BUS_ADDRESS\n");
        return 2;
    }
    QDBusConnection bus =
        QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), QStringLiteral("authority"));
    Authority authority;
    if (!bus.isConnected() ||
        !bus.registerVirtualObject(QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
                                   &authority) ||
        !bus.registerService(QStringLiteral("org.freedesktop.PolicyKit1"))) {
        std::fprintf(stderr, "kvo-polkit-standin: cannot serve on %s\n", argv[1]);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
