// Time from OvpnClient::Connect to event 5 (tunnel up) against the real
// openvpn server of scripts/netns-rig, and openvpn's own time from start to
// its "Initialization Sequence Completed" line with the same command line:
// the difference is what the client adds. Needs root; reports an error
// otherwise.
#include "../tests/tunnel/netnsrig.h"

#include "platform/prompter.h"
#include "tunnel/ovpnclient.h"
#include "tunnel/tapadapter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

struct Rig
{
    QTemporaryDir home;
    NetnsRig rig;
    QString error;
    bool ok = false;

    Rig()
    {
        error = NetnsRig::unavailableReason();
        if (!error.isEmpty())
            return;
        qputenv("KVO_HOME", home.path().toUtf8());
        if (!rig.up(&error) || !rig.installClientFiles(home.path()) || !rig.enterClientNamespace())
            return;
        ok = true;
    }
};

Rig &rig()
{
    static Rig r;
    return r;
}

// Runs the event loop until done() or the limit.
bool spinUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

void BM_ConnectToTunnelUp(benchmark::State &state)
{
    if (!rig().ok) {
        state.SkipWithError(("rig not available: " + rig().error.toStdString()).c_str());
        return;
    }
    ScriptedPrompter prompter;
    TapAdapter tap(nullptr, QString());
    OvpnClient client(prompter, tap, {});
    TunnelNotifier notifier;
    QList<int> events;
    QObject::connect(&notifier, &TunnelNotifier::ovpnEvent, [&](int c) { events.append(c); });
    double inConnect = 0;
    for (auto _ : state) {
        events.clear();
        QElapsedTimer t;
        t.start();
        const int started = client.Connect(&notifier, QStringLiteral("kvouser"),
                                           QStringLiteral("kvopass"), rig().rig.serverAddress());
        inConnect += double(t.nsecsElapsed()) / 1e6;
        if (started != 0 || !spinUntil([&] { return events.contains(5); }, 30000)) {
            state.SkipWithError("the tunnel did not come up");
            break;
        }
        state.SetIterationTime(double(t.nsecsElapsed()) / 1e9);
        client.Disconnect();
        spinUntil([&] { return events.contains(6); }, 5000);
    }
    state.counters["ms_in_Connect"] = inConnect / double(state.iterations());
}
BENCHMARK(BM_ConnectToTunnelUp)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_OpenvpnOwnInitLine(benchmark::State &state)
{
    if (!rig().ok) {
        state.SkipWithError(("rig not available: " + rig().error.toStdString()).c_str());
        return;
    }
    for (auto _ : state) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        QByteArray seen;
        bool up = false;
        QElapsedTimer t;
        qint64 elapsed = 0;
        QObject::connect(&p, &QProcess::readyReadStandardOutput, [&] {
            seen += p.readAllStandardOutput();
            if (!up && seen.contains("Initialization Sequence Completed")) {
                elapsed = t.nsecsElapsed();
                up = true;
            }
        });
        t.start();
        p.start(NetnsRig::openvpnPath(), OvpnClient::arguments(rig().rig.serverAddress(), 0));
        p.waitForStarted();
        p.write("kvouser\nkvopass\n");
        p.closeWriteChannel();
        if (!spinUntil([&] { return up; }, 30000)) {
            state.SkipWithError("openvpn did not come up");
            break;
        }
        state.SetIterationTime(double(elapsed) / 1e9);
        p.terminate();
        p.waitForFinished(5000);
    }
}
BENCHMARK(BM_OpenvpnOwnInitLine)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rig().rig.down();
    return 0;
}
