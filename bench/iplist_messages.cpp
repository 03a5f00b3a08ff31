// Every message kind of the session at the largest size a frame can carry,
// applied to a full IP list on the real list control (offscreen): decode,
// dispatch and the list's update, all on the window thread. Each iteration
// starts from the same full list (the reset is not timed).
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

#include <functional>

namespace {

constexpr int kFixedMax = int(SessionWire::kPayloadCapacity / SessionWire::kFixedIpInfoSize);
constexpr int kDynamicMax = int(SessionWire::kPayloadCapacity / SessionWire::kDynamicIpListSize);
constexpr int kAddressMax = int(SessionWire::kPayloadCapacity / 4);

QString address(int i)
{
    return QStringLiteral("10.%1.%2.%3").arg((i >> 16) & 255).arg((i >> 8) & 255).arg(i & 255);
}

QList<FixedIpInfo> fixedRecords()
{
    QList<FixedIpInfo> recs;
    for (int i = 0; i < kFixedMax; ++i) {
        FixedIpInfo r;
        r.address = address(i + 1);
        r.userNumber = i % 3 == 0 ? i : 0;
        r.state = i % 5 == 0 ? 0 : 1;
        r.days = i % 40;
        r.pcName = i % 7 == 0 ? QStringLiteral("PC-%1").arg(i) : QString();
        recs.append(r);
    }
    return recs;
}

QList<DynamicIpList> dynamicRecords()
{
    QList<DynamicIpList> recs;
    for (int i = 0; i < kDynamicMax; ++i) {
        DynamicIpList r;
        r.lead.fill(char(i));
        r.address = address(i + 1);
        recs.append(r);
    }
    return recs;
}

// Addresses cycling over the rows of a list of `rows` addresses: every one
// of them hits a row.
QStringList addressesOver(int rows, int count)
{
    QStringList out;
    out.reserve(count);
    for (int i = 0; i < count; ++i)
        out.append(address(i % rows + 1));
    return out;
}

QByteArray shareFrame(int type, int rows)
{
    IpShareNotice n;
    n.pcName = QStringLiteral("OTHER-PC");
    const int count = int((SessionWire::kPayloadCapacity - 4 - n.pcName.size()) / 4);
    n.addresses = addressesOver(rows, count);
    return encodeFrame(type, uint32_t(count), n.encode());
}

QByteArray noticeFrame(int type, const QString &ip)
{
    IpPcNotice n;
    n.address = ip;
    n.pcName = QStringLiteral("OTHER-PC");
    return encodeFrame(type, 1, n.encode());
}

struct Rig
{
    explicit Rig(int product)
        : rows(list),
          controller(host, rows, channel, reset, dir.filePath(QStringLiteral("DynamicIPUse")),
                     dir.filePath(QStringLiteral("CheckedIP")))
    {
        host.f.productType = product;
        list.resize(347, 400);
        list.show();
        controller.setUpForProduct(product);
        for (int i = 1; i < 200; i += 3) {
            controller.model().recordUse(address(i), 1700000000 + quint64(i));
            controller.model().addChecked(address(i + 1));
        }
        controller.connectTo(dispatcher);
        product_ = product;
    }

    // A full list, the current address on its middle row.
    void fill()
    {
        host.current = address(product_ == 2 ? kDynamicMax / 2 : kFixedMax / 2);
        if (product_ == 2)
            controller.onDynamicListUpdate(dynamicRecords());
        else
            controller.onFixedListUpdate(fixedRecords());
    }

    void apply(const QByteArray &bytes)
    {
        qint64 length = 0;
        if (scanFrame(bytes, &length) != FrameScan::Complete)
            qFatal("frame not complete");
        // The frame as the socket's read leaves it in the client's buffer.
        QByteArray buffer(bytes.constData(), bytes.size());
        const SessionFrame frame = takeFrame(buffer, length);
        if (!frameRecordsFit(frame, product_))
            qFatal("records do not fit");
        dispatcher.dispatch(frame, product_);
    }

    QTemporaryDir dir;
    QuietIpListHost host;
    CListCtrlEx list;
    CListCtrlRows rows;
    QuietIpChannel channel;
    NoTcpReset reset;
    IpListController controller;
    SessionDispatcher dispatcher;
    int product_ = 0;
};

void runMessage(benchmark::State &state, int product, const QByteArray &bytes)
{
    Rig rig(product);
    for (auto _ : state) {
        state.PauseTiming();
        rig.fill();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        rig.apply(bytes);
    }
    state.counters["rows"] = rig.controller.rowCount();
}

void runCheckAll(benchmark::State &state, int product)
{
    Rig rig(product);
    rig.fill();
    bool on = true;
    for (auto _ : state) {
        rig.controller.checkAll(on);
        on = !on;
    }
    state.counters["rows"] = rig.controller.rowCount();
}

void registerAll()
{
    using Make = std::function<QByteArray()>;
    struct Case
    {
        const char *name;
        int product;
        Make frame;
    };
    const QString fixedMiddle = address(kFixedMax / 3);
    const QString dynamicMiddle = address(kDynamicMax / 3);
    const QList<Case> cases = {
        {"Fixed/IpInfo_1807", 1,
         [] {
             const auto r = fixedRecords();
             return encodeFrame(SM_IP_INFO, uint32_t(r.size()), SessionEncode::fixedList(r));
         }},
        {"Fixed/IpInfoUpdate_1807", 1,
         [] {
             const auto r = fixedRecords();
             return encodeFrame(SM_IP_INFO_UPDATE, uint32_t(r.size()), SessionEncode::fixedList(r));
         }},
        {"Fixed/ReportedList_122880", 1,
         [] {
             return encodeFrame(SM_BAD_IP_LIST, kAddressMax,
                                SessionEncode::addressList(addressesOver(kFixedMax, kAddressMax)));
         }},
        {"Fixed/ShareAdd_122877", 1,
         [] {
             return shareFrame(SM_IP_SHARE_ADD, kFixedMax);
         }},
        {"Fixed/ShareRemove_122877", 1,
         [] {
             return shareFrame(SM_IP_SHARE_REMOVE, kFixedMax);
         }},
        {"Fixed/Taken", 1,
         [=] {
             return noticeFrame(SM_IP_TAKEN, fixedMiddle);
         }},
        {"Fixed/InUse", 1,
         [=] {
             return noticeFrame(SM_IP_IN_USE, fixedMiddle);
         }},
        {"Fixed/Released", 1,
         [=] {
             return encodeFrame(SM_IP_RELEASED, 1, encodeAddress(fixedMiddle));
         }},
        {"Fixed/ChangeOk", 1,
         [=] {
             return encodeFrame(SM_IP_CHANGE_OK, 1, encodeAddress(fixedMiddle));
         }},
        {"Dynamic/IpInfo_7228", 2,
         [] {
             const auto r = dynamicRecords();
             return encodeFrame(SM_IP_INFO, uint32_t(r.size()), SessionEncode::dynamicList(r));
         }},
        {"Dynamic/IpInfoUpdate_7228", 2,
         [] {
             const auto r = dynamicRecords();
             return encodeFrame(SM_IP_INFO_UPDATE, uint32_t(r.size()),
                                SessionEncode::dynamicList(r));
         }},
        {"Dynamic/DynamicIpInfo_7228", 2,
         [] {
             const auto r = dynamicRecords();
             return encodeFrame(SM_DYNAMIC_IP_INFO, uint32_t(r.size()),
                                SessionEncode::dynamicList(r));
         }},
        {"Dynamic/ReportedList_122880", 2,
         [] {
             return encodeFrame(
                 SM_BAD_IP_LIST, kAddressMax,
                 SessionEncode::addressList(addressesOver(kDynamicMax, kAddressMax)));
         }},
        {"Dynamic/ChangeOk", 2,
         [=] {
             return encodeFrame(SM_IP_CHANGE_OK, 1, encodeAddress(dynamicMiddle));
         }},
    };
    for (const Case &c : cases) {
        const QByteArray bytes = c.frame();
        const int product = c.product;
        benchmark::RegisterBenchmark(
            (std::string("BM_Message/") + c.name).c_str(),
            [bytes, product](benchmark::State &s) { runMessage(s, product, bytes); })
            ->Unit(benchmark::kMillisecond)
            // The untimed refill dominates the small messages: a fixed count
            // keeps the run short.
            ->Iterations(30);
    }
    benchmark::RegisterBenchmark("BM_CheckAll/Fixed_1807", [](benchmark::State &s) {
        runCheckAll(s, 1);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_CheckAll/Dynamic_7228", [](benchmark::State &s) {
        runCheckAll(s, 2);
    })->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
