#include "ipv4.h"

#include <arpa/inet.h>

namespace Ipv4 {

uint32_t numericValue(const QString &dotted, bool *ok)
{
    in_addr a {};
    const QByteArray text = dotted.toLatin1();
    const bool valid = !dotted.isEmpty() && inet_aton(text.constData(), &a) != 0;
    if (ok)
        *ok = valid;
    return valid ? ntohl(a.s_addr) : 0xFFFFFFFFu;
}

uint32_t toNetworkOrderBytes(const QString &dotted, bool *ok)
{
    return htonl(numericValue(dotted, ok));
}

QString fromBytes(const unsigned char bytes[4])
{
    return QStringLiteral("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
}

} // namespace Ipv4
