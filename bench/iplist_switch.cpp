// Switch latency on loopback: from the Change command to the row marked in
// use and both TCP reset passes done, against a session server that answers
// every change request at once. The server's own share (request read to
// answer written) is reported as server_us.
#include "core/settings.h"
#include "mainwindow/iplistcontroller.h"
#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/tcpreset.h"
#include "session/clientsock.h"
#include "session/sessioncodec.h"
#include "support/quietiplist.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QString kServer = QStringLiteral("127.0.0.78");

// Counts the confirmed changes.
struct Host : QuietIpListHost
{
    void setCurrentAddress(const QString &text) override
    {
        QuietIpListHost::setCurrentAddress(text);
        ++completed;
    }
    int completed = 0;
};

struct SockHost : SessionHost
{
    bool tunnelUp() const override { return true; }
    LoginInfo loginInfo() const override
    {
        LoginInfo i;
        i.userId = QStringLiteral("KVO@bench");
        i.tunnelAddress = QStringLiteral("10.8.0.6");
        i.tunnelType = 2;
        i.productType = 1;
        return i;
    }
    int productType() const override { return 1; }
};

// Answers each change request with the change done for the same address.
class AnsweringServer : public QObject
{
public:
    AnsweringServer()
    {
        m_server.listen(QHostAddress(kServer), ClientSock::kPort);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection())
                connect(s, &QTcpSocket::readyRead, this, [this, s] { onRead(s); });
        });
    }
    bool listening() const { return m_server.isListening(); }
    qint64 serverNanos = 0;

private:
    void onRead(QTcpSocket *s)
    {
        QElapsedTimer t;
        t.start();
        m_buffer += s->readAll();
        qint64 len = 0;
        while (scanFrame(m_buffer, &len) == FrameScan::Complete) {
            const SessionFrame f = takeFrame(m_buffer, len);
            if (f.type == SM_IP_CHANGE_REQUEST) {
                s->write(encodeFrame(SM_IP_CHANGE_OK, 0, f.payload));
                s->flush();
            }
        }
        serverNanos += t.nsecsElapsed();
    }
    QTcpServer m_server;
    QByteArray m_buffer;
};

template<class Pred>
bool spin(Pred done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

void BM_SwitchOnLoopback(benchmark::State &state)
{
    AnsweringServer server;
    if (!server.listening()) {
        state.SkipWithError("cannot listen on 127.0.0.78:10010");
        return;
    }
    QTemporaryDir dir;
    Host host;
    host.f.productType = 1;
    SockHost sockHost;
    ClientSock sock(sockHost);
    ClientSockChannel channel(sock);
    // The real passes: a sock_diag dump each, with hosts nothing connects to.
    NetlinkTcpResetter resetter({QStringLiteral("192.0.2.1")}, {QStringLiteral("192.0.2.2")});
    MemoryIpListRows rows;
    IpListController controller(host, rows, channel, resetter,
                                dir.filePath(QStringLiteral("DynamicIPUse")),
                                dir.filePath(QStringLiteral("CheckedIP")));
    controller.setUpForProduct(1);
    controller.connectTo(sock.dispatcher());
    sock.open(kServer);
    if (!spin([&] { return sock.connected(); }, 5000)) {
        state.SkipWithError("no session connection");
        return;
    }
    QList<FixedIpInfo> list;
    for (int i = 1; i <= 20; ++i) {
        FixedIpInfo r;
        r.address = QStringLiteral("10.2.0.%1").arg(i);
        r.state = 1;
        r.days = 30;
        list.append(r);
        controller.model().addChecked(r.address);
    }
    controller.onFixedList(list);
    if (!spin([&] { return host.completed == 1; }, 5000)) {
        state.SkipWithError("first change not confirmed");
        return;
    }
    server.serverNanos = 0;
    for (auto _ : state) {
        const int before = host.completed;
        controller.changeAddress();
        if (!spin([&] { return host.completed > before; }, 5000)) {
            state.SkipWithError("change not confirmed");
            break;
        }
    }
    state.counters["server_us"] = benchmark::Counter(
        double(server.serverNanos) / 1000.0 / double(std::max<int64_t>(1, state.iterations())));
}

} // namespace

BENCHMARK(BM_SwitchOnLoopback)->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
