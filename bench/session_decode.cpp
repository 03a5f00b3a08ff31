// Reading the largest address lists: the frame found in the receive buffer,
// split, checked, decoded and dispatched to a handler that touches every
// record (1807 fixed records, 7228 dynamic records).
#include "session/sessioncodec.h"
#include "session/sessiondispatcher.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

QByteArray fixedFrame()
{
    QList<FixedIpInfo> list;
    for (int i = 0; i < 1807; ++i)
        list.append(
            {QStringLiteral("211.%1.%2.%3").arg(i / 65536).arg((i / 256) % 256).arg(i % 256), i + 1,
             i % 3, i % 40, i % 5 == 0 ? QStringLiteral("사무실-PC") : QString()});
    return encodeFrame(SM_IP_INFO, 1807, SessionEncode::fixedList(list));
}

QByteArray dynamicFrame()
{
    QList<DynamicIpList> list;
    for (int i = 0; i < 7228; ++i) {
        DynamicIpList r;
        r.lead.fill(char(i));
        r.address = QStringLiteral("61.%1.%2.%3").arg(i / 65536).arg((i / 256) % 256).arg(i % 256);
        list.append(r);
    }
    return encodeFrame(SM_IP_INFO, 7228, SessionEncode::dynamicList(list));
}

void readAndDispatch(benchmark::State &state, const QByteArray &wire, int product)
{
    SessionDispatcher dispatcher;
    qsizetype touched = 0;
    QObject::connect(&dispatcher, &SessionDispatcher::fixedListReceived,
                     [&](const QList<FixedIpInfo> &l) {
                         for (const auto &r : l)
                             touched += r.address.size() + r.pcName.size();
                     });
    QObject::connect(&dispatcher, &SessionDispatcher::dynamicListReceived,
                     [&](const QList<DynamicIpList> &l) {
                         for (const auto &r : l)
                             touched += r.address.size();
                     });
    for (auto _ : state) {
        qint64 length = 0;
        if (scanFrame(wire, &length) != FrameScan::Complete)
            state.SkipWithError("frame not whole");
        // The frame as the socket's read leaves it in the client's buffer.
        QByteArray buffer(wire.constData(), wire.size());
        const SessionFrame frame = takeFrame(buffer, length);
        if (!frameRecordsFit(frame, product))
            state.SkipWithError("records do not fit");
        dispatcher.dispatch(frame, product);
    }
    benchmark::DoNotOptimize(touched);
    state.SetBytesProcessed(int64_t(state.iterations()) * wire.size());
}

void BM_FixedList1807(benchmark::State &state)
{
    readAndDispatch(state, fixedFrame(), SessionWire::kProductFixed);
}
BENCHMARK(BM_FixedList1807)->Unit(benchmark::kMillisecond);

void BM_DynamicList7228(benchmark::State &state)
{
    readAndDispatch(state, dynamicFrame(), SessionWire::kProductDynamic);
}
BENCHMARK(BM_DynamicList7228)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
