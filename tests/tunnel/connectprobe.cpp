// A client process for the tunnel's life-time test: brings the OpenVPN tunnel
// up with the real driver, prints "UP <openvpn pid>" and then waits to be
// killed. Arguments: server, user ID, password (KVO_HOME names the folder).
#include "platform/prompter.h"
#include "tunnel/ovpnclient.h"
#include "tunnel/tapadapter.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    ScriptedPrompter prompter;
    TapAdapter tap(nullptr, QString());
    OvpnClient client(prompter, tap, {});
    TunnelNotifier notifier;
    QObject::connect(&notifier, &TunnelNotifier::ovpnEvent, &app, [&](int code) {
        if (code == 5) {
            std::printf("UP %lld\n", static_cast<long long>(client.processId()));
            std::fflush(stdout);
        } else if (code == 6 || code == 7 || code == 8) {
            std::printf("END %d\n", code);
            std::fflush(stdout);
            app.exit(1);
        }
    });
    if (client.Connect(&notifier, args.at(2), args.at(3), args.at(1)) != 0)
        return 1;
    return app.exec();
}
