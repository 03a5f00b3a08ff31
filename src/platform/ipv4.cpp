#include "ipv4.h"

#include <QStringList>

#include <algorithm>
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
    // Lists and files carry thousands of addresses: no QString::arg.
    char text[16];
    char *p = text;
    for (int i = 0; i < 4; ++i) {
        const unsigned v = bytes[i];
        if (v >= 100)
            *p++ = char('0' + v / 100);
        if (v >= 10)
            *p++ = char('0' + (v / 10) % 10);
        *p++ = char('0' + v % 10);
        if (i < 3)
            *p++ = '.';
    }
    return QString::fromLatin1(text, p - text);
}

} // namespace Ipv4

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isDottedQuad(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
            return false;
        if (!std::all_of(part.begin(), part.end(), isAsciiDigit) || part.toInt() > 255)
            return false;
    }
    return true;
}

bool isHostName(const QString &text)
{
    if (text.isEmpty() || text.size() > 253)
        return false;
    const QStringList labels = text.split(QLatin1Char('.'));
    for (const QString &label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-')
            return false;
        for (QChar c : label) {
            const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
            if (!letter && !isAsciiDigit(c) && c != QLatin1Char('-'))
                return false;
        }
    }
    // "1.2.3" or "256.1.1.1" is a broken address, not a name.
    return !std::all_of(labels.back().begin(), labels.back().end(), isAsciiDigit);
}

} // namespace

bool isServerAddress(const QString &text)
{
    return isDottedQuad(text) || isHostName(text);
}

bool isDottedIpv4(const QString &text)
{
    return isDottedQuad(text);
}
