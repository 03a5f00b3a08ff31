// kvo-service-sim: plays the service on this machine's loopback addresses.
//
//   kvo-service-sim --scenario FILE [--record DIR] [--lifetime SECONDS]
//
// Prints "ready" on standard output once every module listens. Stops on
// SIGTERM/SIGINT, and by itself after --lifetime seconds (default 900), so a
// forgotten simulator never outlives a test run.
#include "recorder.h"
#include "scenario.h"
#include "simmodule.h"

#include "platform/termination.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("KVO service simulator"));
    parser.addHelpOption();
    const QCommandLineOption scenarioOpt(QStringLiteral("scenario"),
                                         QStringLiteral("Scenario file (JSON)."),
                                         QStringLiteral("file"));
    const QCommandLineOption recordOpt(QStringLiteral("record"),
                                       QStringLiteral("Folder for the records of what arrives."),
                                       QStringLiteral("dir"));
    const QCommandLineOption lifetimeOpt(QStringLiteral("lifetime"),
                                         QStringLiteral("Stop after this many seconds."),
                                         QStringLiteral("seconds"), QStringLiteral("900"));
    parser.addOptions({scenarioOpt, recordOpt, lifetimeOpt});
    parser.process(app);

    QTextStream err(stderr);
    if (!parser.isSet(scenarioOpt)) {
        err << "kvo-service-sim: --scenario is required\n";
        return 2;
    }
    Scenario scenario;
    QString error;
    if (!Scenario::load(parser.value(scenarioOpt), scenario, &error)) {
        err << "kvo-service-sim: " << error << "\n";
        return 2;
    }
    Recorder recorder(parser.value(recordOpt));

    auto modules = createSimModules();
    for (const auto &m : modules) {
        if (!m->start(scenario, recorder, &error)) {
            err << "kvo-service-sim: " << m->name() << ": " << error << "\n";
            return 1;
        }
    }

    TerminationWatcher termination;
    QObject::connect(&termination, &TerminationWatcher::terminationRequested, &app,
                     &QCoreApplication::quit);
    QTimer::singleShot(parser.value(lifetimeOpt).toInt() * 1000, &app, &QCoreApplication::quit);

    QTextStream out(stdout);
    out << "ready\n";
    out.flush();
    return app.exec();
}
