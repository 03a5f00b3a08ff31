// Decode + dispatch + IP list rebuild for the largest lists a frame can carry:
// 1807 FixedIpInfo records and 7228 __DynamicIpList records, on a plain row
// table and on the real list control (offscreen).
#include "core/settings.h"
#include "mainwindow/clistctrlrows.h"
#include "mainwindow/iplistcontroller.h"
#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/tcpreset.h"
#include "session/sessioncodec.h"
#include "session/sessiondispatcher.h"
#include "support/quietiplist.h"
#include "widgets/clistctrlex.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace {

QString address(int i)
{
    return QStringLiteral("10.%1.%2.%3").arg((i >> 16) & 255).arg((i >> 8) & 255).arg(i & 255);
}

QByteArray fixedFrame()
{
    QList<FixedIpInfo> recs;
    for (int i = 0; i < 1807; ++i) {
        FixedIpInfo r;
        r.address = address(i + 1);
        r.userNumber = i % 3 == 0 ? i : 0;
        r.state = i % 5 == 0 ? 0 : 1;
        r.days = i % 40;
        r.pcName = i % 7 == 0 ? QStringLiteral("PC-%1").arg(i) : QString();
        recs.append(r);
    }
    return encodeFrame(SM_IP_INFO, uint32_t(recs.size()), SessionEncode::fixedList(recs));
}

QByteArray dynamicFrame()
{
    QList<DynamicIpList> recs;
    for (int i = 0; i < 7228; ++i) {
        DynamicIpList r;
        r.lead.fill(char(i));
        r.address = address(i + 1);
        recs.append(r);
    }
    return encodeFrame(SM_IP_INFO, uint32_t(recs.size()), SessionEncode::dynamicList(recs));
}

template<class MakeRows>
void runList(benchmark::State &state, int product, const QByteArray &bytes, MakeRows makeRows)
{
    QTemporaryDir dir;
    QuietIpListHost host;
    host.f.productType = product;
    auto rows = makeRows();
    QuietIpChannel channel;
    NoTcpReset reset;
    IpListController controller(host, *rows.second, channel, reset,
                                dir.filePath(QStringLiteral("DynamicIPUse")),
                                dir.filePath(QStringLiteral("CheckedIP")));
    controller.setUpForProduct(product);
    // Some history and checks, as a running client has them.
    for (int i = 1; i < 200; i += 3) {
        controller.model().recordUse(address(i), 1700000000 + quint64(i));
        controller.model().addChecked(address(i + 1));
    }
    SessionDispatcher dispatcher;
    controller.connectTo(dispatcher);
    for (auto _ : state) {
        qint64 length = 0;
        if (scanFrame(bytes, &length) != FrameScan::Complete)
            state.SkipWithError("frame not complete");
        // The frame as the socket's read leaves it in the client's buffer.
        QByteArray buffer(bytes.constData(), bytes.size());
        const SessionFrame frame = takeFrame(buffer, length);
        if (!frameRecordsFit(frame, product))
            state.SkipWithError("records do not fit");
        dispatcher.dispatch(frame, product);
        benchmark::DoNotOptimize(controller.rowCount());
    }
    state.counters["rows"] = controller.rowCount();
    state.counters["records_per_s"] = benchmark::Counter(
        double(controller.rowCount()) * double(state.iterations()), benchmark::Counter::kIsRate);
}

auto memoryRows()
{
    auto r = std::make_shared<MemoryIpListRows>();
    return std::make_pair(std::shared_ptr<QObject>(), std::shared_ptr<IpListRows>(r));
}

auto controlRows()
{
    auto list = std::make_shared<CListCtrlEx>();
    auto rows = std::make_shared<CListCtrlRows>(*list);
    // The rows adapter is kept alive with the list it renders into.
    auto keep = std::shared_ptr<IpListRows>(rows, rows.get());
    return std::make_pair(std::shared_ptr<QObject>(list), keep);
}

void BM_FixedList1807_Table(benchmark::State &state)
{
    static const QByteArray bytes = fixedFrame();
    runList(state, 1, bytes, [] { return memoryRows(); });
}

void BM_DynamicList7228_Table(benchmark::State &state)
{
    static const QByteArray bytes = dynamicFrame();
    runList(state, 2, bytes, [] { return memoryRows(); });
}

void BM_FixedList1807_ListControl(benchmark::State &state)
{
    static const QByteArray bytes = fixedFrame();
    runList(state, 1, bytes, [] { return controlRows(); });
}

void BM_DynamicList7228_ListControl(benchmark::State &state)
{
    static const QByteArray bytes = dynamicFrame();
    runList(state, 2, bytes, [] { return controlRows(); });
}

} // namespace

BENCHMARK(BM_FixedList1807_Table)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DynamicList7228_Table)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FixedList1807_ListControl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DynamicList7228_ListControl)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
