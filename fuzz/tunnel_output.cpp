// The tunnel output classifier: each input line as OpenVPN's output and as
// the QoS reply, and as the dial-up programs' output (pppd, pptp, xl2tpd,
// swanctl) cut into chunks; dial-up status codes from the input's first bytes.
#include "fuzzsupport.h"

#include "platform/dialupppp.h"
#include "tunnel/ovpnoutput.h"

#include <QRegularExpression>

#include <cstdlib>
#include <cstring>

namespace {
void check(bool ok)
{
    if (!ok)
        std::abort();
}

void dialUpLine(const QString &line)
{
    const PppOutput::Line event = PppOutput::classify(line);
    static const QRegularExpression interfaceName(QStringLiteral("^[A-Za-z0-9._-]{1,15}$"));
    static const QRegularExpression dotted(QStringLiteral("^[0-9]{1,3}(\\.[0-9]{1,3}){3}$"));
    switch (event.kind) {
    case PppOutput::Line::Interface:
        // It names a folder under /sys/class/net.
        check(interfaceName.match(event.value).hasMatch() && event.value != QLatin1String(".") &&
              event.value != QLatin1String(".."));
        break;
    case PppOutput::Line::DeviceConnected:
        check(event.value.isEmpty() || interfaceName.match(event.value).hasMatch());
        check(event.value != QLatin1String("..") && event.value != QLatin1String("."));
        break;
    case PppOutput::Line::LocalAddress:
        check(dotted.match(event.value).hasMatch());
        break;
    case PppOutput::Line::PppExited:
        check(event.status >= 0);
        break;
    default:
        check(event.value.isEmpty());
        break;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzApp();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromUtf8(bytes);
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        OvpnOutput::classify(line);
        QString address;
        OvpnOutput::assignedAddress(line, &address);
        OvpnOutput::shaperRate(OvpnOutput::qosFromReply(line));
    }

    // The dial-up output as it arrives: in chunks whose sizes the input's
    // bytes give, every line whole and trimmed whatever the cuts.
    QByteArray carry;
    QStringList lines;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype n = 1 + (uint8_t(bytes[at]) % 61);
        lines += PppOutput::takeLines(carry, bytes.mid(at, n));
        at += n;
    }
    for (const QString &line : lines) {
        check(!line.isEmpty() && line == line.trimmed());
        check(!line.contains(QLatin1Char('\n')));
        dialUpLine(line);
    }
    check(!carry.contains('\n'));

    if (size >= 5) {
        int status = 0;
        std::memcpy(&status, data, 4);
        PppExit::toRasError(status, data[4] & 1);
    }
    return 0;
}
