// The tunnel output classifier: each input line as OpenVPN's output and as
// the QoS reply; dial-up status codes from the input's first bytes.
#include "fuzzsupport.h"

#include "platform/dialupppp.h"
#include "tunnel/ovpnoutput.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzApp();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        OvpnOutput::classify(line);
        QString address;
        OvpnOutput::assignedAddress(line, &address);
        OvpnOutput::shaperRate(OvpnOutput::qosFromReply(line));
    }
    if (size >= 5) {
        int status = 0;
        std::memcpy(&status, data, 4);
        PppExit::toRasError(status, data[4] & 1);
    }
    return 0;
}
