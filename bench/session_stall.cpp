// Processor time the client spends while the server stops in the middle of
// a frame: the peer sends ten bytes of a frame and nothing more; the client
// closes the connection after its 10 s limit. Reported as processor
// milliseconds (user + system) over the wall time of the stall.
#include "session/clientsock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

struct Host : SessionHost
{
    bool tunnelUp() const override { return up; }
    LoginInfo loginInfo() const override
    {
        LoginInfo s;
        s.userId = QStringLiteral("bench");
        s.tunnelAddress = QStringLiteral("10.8.0.2");
        return s;
    }
    int productType() const override { return 1; }
    bool up = true;
};

double cpuMs()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
        (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

void runUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    while (!done() && t.elapsed() < ms) {
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void BM_StallMidFrame(benchmark::State &state)
{
    QTcpServer server;
    if (!server.listen(QHostAddress(QStringLiteral("127.0.77.200")), ClientSock::kPort)) {
        state.SkipWithError("cannot listen");
        return;
    }
    for (auto _ : state) {
        Host host;
        ClientSock sock(host);
        bool closed = false;
        QObject::connect(&sock, &ClientSock::frameRejected, [&] {
            closed = true;
            host.up = false; // no reconnect in the measurement
        });
        sock.open(QStringLiteral("127.0.77.200"));
        runUntil([&] { return server.hasPendingConnections(); }, 3000);
        QTcpSocket *peer = server.nextPendingConnection();
        runUntil([&] { return sock.connected(); }, 3000);
        if (!peer) {
            state.SkipWithError("no connection");
            return;
        }
        const QByteArray frame =
            encodeFrame(SM_IP_CHANGE_OK, 0, encodeAddress(QStringLiteral("1.2.3.4")));
        peer->write(frame.left(10));
        peer->flush();
        const double cpuBefore = cpuMs();
        QElapsedTimer wall;
        wall.start();
        // One sleeping event loop, woken only by the client's own events.
        QEventLoop loop;
        QObject::connect(&sock, &ClientSock::frameRejected, &loop, &QEventLoop::quit);
        QTimer::singleShot(15000, &loop, &QEventLoop::quit);
        if (!closed)
            loop.exec();
        state.counters["stall_wall_ms"] = double(wall.elapsed());
        state.counters["stall_cpu_ms"] = cpuMs() - cpuBefore;
        state.counters["cpu_percent"] = 100.0 * (cpuMs() - cpuBefore) / double(wall.elapsed());
        delete peer;
    }
}
BENCHMARK(BM_StallMidFrame)->Iterations(1)->Unit(benchmark::kSecond);

void BM_IdleSignedIn(benchmark::State &state)
{
    QTcpServer server;
    if (!server.listen(QHostAddress(QStringLiteral("127.0.77.201")), ClientSock::kPort)) {
        state.SkipWithError("cannot listen");
        return;
    }
    for (auto _ : state) {
        Host host;
        ClientSock sock(host);
        sock.open(QStringLiteral("127.0.77.201"));
        runUntil([&] { return sock.connected(); }, 3000);
        const double cpuBefore = cpuMs();
        QElapsedTimer wall;
        wall.start();
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        state.counters["idle_wall_ms"] = double(wall.elapsed());
        state.counters["idle_cpu_ms"] = cpuMs() - cpuBefore;
    }
}
BENCHMARK(BM_IdleSignedIn)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
