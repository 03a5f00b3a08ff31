// The session stream: the bytes, cut into reads at points the input picks,
// go through the frame reader, the record checks and the dispatcher into the
// IP list controller with its model, as the session connection delivers them.
//
// Input: byte 0 the product type (1..3), byte 1 the read size (1..256), then
// the stream.
#include "fuzzsupport.h"
#include "support/quietiplist.h"

#include "core/settings.h"
#include "mainwindow/iplistcontroller.h"
#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/tcpreset.h"
#include "session/sessioncodec.h"
#include "session/sessiondispatcher.h"

#include <QTimer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzApp();
    if (size < 2)
        return 0;
    const int product = 1 + data[0] % 3;
    const size_t step = 1 + data[1];
    data += 2;
    size -= 2;

    // Each input starts from no data files: what an earlier input saved
    // must not decide this one.
    const QString usage = fuzzDir().filePath(QStringLiteral("DynamicIPUse"));
    const QString checked = fuzzDir().filePath(QStringLiteral("CheckedIP"));
    QFile::remove(usage);
    QFile::remove(checked);

    QuietIpListHost host;
    host.f.productType = product;
    MemoryIpListRows rows;
    QuietIpChannel channel;
    NoTcpReset reset;
    IpListController controller(host, rows, channel, reset, usage, checked);
    controller.setUpForProduct(product);
    SessionDispatcher dispatcher;
    controller.connectTo(dispatcher);

    QByteArray buffer;
    for (size_t at = 0; at < size; at += step) {
        buffer.append(reinterpret_cast<const char *>(data + at),
                      qsizetype(std::min(step, size - at)));
        for (;;) {
            qint64 length = 0;
            const FrameScan scan = scanFrame(buffer, &length);
            if (scan == FrameScan::Bad)
                return 0; // the connection is dropped
            if (scan == FrameScan::NeedMore)
                break;
            const SessionFrame frame = takeFrame(buffer, length);
            if (!frameRecordsFit(frame, product))
                return 0;
            dispatcher.dispatch(frame, product);
        }
    }
    // The list must answer for every row it shows.
    for (int i = 0; i < rows.rowCount(); ++i) {
        if (controller.model().findRow(rows.text(i, 0)) > i)
            __builtin_trap();
    }
    return 0;
}
