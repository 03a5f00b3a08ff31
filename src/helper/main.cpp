// kvo-helper: the privileged operations of the KVO client on the system bus.
// Started by D-Bus activation as root; leaves by itself after a quiet time
// with nothing to manage.

#include "helperservice.h"

#include "platform/termination.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kvo-helper"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Privileged helper of the KVO client"));
    parser.addHelpOption();
    const QCommandLineOption busOption(
        QStringLiteral("bus"),
        QStringLiteral(
            "Address of the bus to serve (default: $KVO_HELPER_BUS, else the system bus)."),
        QStringLiteral("address"));
    const QCommandLineOption installOption(
        QStringLiteral("install-dir"),
        QStringLiteral("The installed program folder (default /opt/KVO)."), QStringLiteral("dir"),
        QStringLiteral("/opt/KVO"));
    const QCommandLineOption idleOption(
        QStringLiteral("idle-seconds"),
        QStringLiteral("Quiet time before leaving with nothing to manage (default 60)."),
        QStringLiteral("seconds"), QStringLiteral("60"));
    parser.addOptions({busOption, installOption, idleOption});
    parser.process(app);

    HelperService::Options options;
    options.installDir = parser.value(installOption);
    bool ok = false;
    options.idleSeconds = parser.value(idleOption).toInt(&ok);
    if (!ok || options.idleSeconds < 1 || options.idleSeconds > 86400) {
        std::fprintf(stderr, "kvo-helper: --idle-seconds takes 1 to 86400\n");
        return 2;
    }

    QString address = parser.value(busOption);
    if (address.isEmpty())
        address = qEnvironmentVariable("KVO_HELPER_BUS");
    const QDBusConnection bus = address.isEmpty()
        ? QDBusConnection::systemBus()
        : QDBusConnection::connectToBus(address, QStringLiteral("kvo-helper"));
    if (!bus.isConnected()) {
        std::fprintf(stderr, "kvo-helper: no bus: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }

    HelperService service(bus, options);
    QString error;
    if (!service.start(&error)) {
        std::fprintf(stderr, "kvo-helper: %s\n", qPrintable(error));
        return 1;
    }
    QObject::connect(&service, &HelperService::idle, &app, &QCoreApplication::quit);
    // Stopped: end the tunnels and hang up the links on the way out (the
    // service's destructor), pppd does not end with its parent.
    TerminationWatcher termination;
    QObject::connect(&termination, &TerminationWatcher::terminationRequested, &app,
                     &QCoreApplication::quit);
    return app.exec();
}
