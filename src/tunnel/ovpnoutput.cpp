#include "ovpnoutput.h"

#include "platform/codepage.h"

#include <QRegularExpression>

#include <array>

namespace OvpnOutput {

namespace {

struct Marker
{
    int code;
    std::array<QLatin1String, 3> texts;
};

// In the order the lines are tested.
const std::array<Marker, 8> kMarkers = {{
    {OvpnEvent::TcpConnected, {QLatin1String("TCP connection established")}},
    {OvpnEvent::CertificateVerified, {QLatin1String("VERIFY OK")}},
    {OvpnEvent::InterfaceConfigured,
     {QLatin1String("Notified TAP-Windows driver"), QLatin1String("net_addr_v4_add:"),
      QLatin1String("net_addr_ptp_v4_add:")}},
    {OvpnEvent::Routing, {QLatin1String("route.exe ADD"), QLatin1String("net_route_v4_add:")}},
    {OvpnEvent::TunnelUp, {QLatin1String("Initialization Sequence Completed")}},
    {OvpnEvent::ConnectionRefused, {QLatin1String("Connection refused")}},
    {OvpnEvent::AuthFailed, {QLatin1String("AUTH_FAILED")}},
    {OvpnEvent::TapTooOld,
     {QLatin1String("ERROR:  This version of OpenVPN requires a TAP-Windows driver")}},
}};

} // namespace

int classify(const QString &line)
{
    for (const Marker &m : kMarkers) {
        for (const QLatin1String &text : m.texts) {
            if (text.size() > 0 && line.contains(text, Qt::CaseSensitive))
                return m.code;
        }
    }
    return 0;
}

bool assignedAddress(const QString &line, QString *address)
{
    static const QLatin1String dhcp("set a DHCP IP/netmask of");
    qsizetype at = line.indexOf(dhcp);
    if (at >= 0) {
        // The address starts one character after the phrase, up to the "/".
        QString rest = line.mid(at + dhcp.size() + 1);
        const qsizetype slash = rest.indexOf(QLatin1Char('/'));
        if (slash >= 0)
            rest.truncate(slash);
        *address = rest.trimmed();
        return true;
    }
    for (const QLatin1String tag :
         {QLatin1String("net_addr_v4_add:"), QLatin1String("net_addr_ptp_v4_add:")}) {
        at = line.indexOf(tag);
        if (at < 0)
            continue;
        QString word = line.mid(at + tag.size()).trimmed().section(QLatin1Char(' '), 0, 0);
        const qsizetype slash = word.indexOf(QLatin1Char('/'));
        if (slash >= 0)
            word.truncate(slash);
        if (word.isEmpty())
            return false;
        *address = word;
        return true;
    }
    return false;
}

bool pushedDns(const QString &line, QStringList *servers, QStringList *domains)
{
    static const QLatin1String tag("PUSH_REPLY,");
    const qsizetype at = line.indexOf(tag);
    if (at < 0)
        return false;
    QString options = line.mid(at + tag.size());
    // openvpn quotes the control message: 'PUSH_REPLY,...'
    if (options.endsWith(QLatin1Char('\'')))
        options.chop(1);
    for (const QString &option : options.split(QLatin1Char(','))) {
        const QStringList words = option.split(QLatin1Char(' '));
        if (words.size() < 2 || words.at(0) != QLatin1String("dhcp-option"))
            continue;
        // The value is everything after the kind, blanks included, so that
        // a value with a blank is refused rather than cut to a valid word.
        const QString value = option.section(QLatin1Char(' '), 2);
        if (words.at(1) == QLatin1String("DNS"))
            servers->append(value);
        else if (words.at(1) == QLatin1String("DOMAIN") ||
                 words.at(1) == QLatin1String("DOMAIN-SEARCH"))
            domains->append(value);
    }
    return true;
}

QString openedDevice(const QString &line)
{
    static const QRegularExpression opened(
        QStringLiteral("TUN/TAP device ([A-Za-z0-9_.-]{1,15}) opened"));
    const QRegularExpressionMatch m = opened.match(line);
    return m.hasMatch() ? m.captured(1) : QString();
}

quint32 qosFromReply(const QString &reply)
{
    const QString text = reply.trimmed();
    quint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        value = value * 10 + quint64(c.unicode() - '0');
        if (value > 0xFFFFFFFFull)
            return 0xFFFFFFFFu;
    }
    return quint32(value);
}

quint32 shaperRate(quint32 qos)
{
    // openvpn refuses a --shaper above this rate and ends at once.
    constexpr quint64 kMaxShaper = 100000000;
    const quint64 rate = quint64(qos) * 131072u;
    return quint32(qMin(rate, kMaxShaper));
}

namespace {
QStringList splitLines(const QByteArray &bytes)
{
    QStringList out;
    for (const QByteArray &raw : bytes.split('\n')) {
        const QString line = CodePage::toUnicode(raw).trimmed();
        if (!line.isEmpty())
            out.append(line);
    }
    return out;
}
} // namespace

QStringList LineSplitter::feed(const QByteArray &chunk)
{
    m_carry += chunk;
    const qsizetype last = m_carry.lastIndexOf('\n');
    if (last < 0)
        return {};
    const QByteArray complete = m_carry.left(last);
    m_carry.remove(0, last + 1);
    return splitLines(complete);
}

QStringList LineSplitter::finish()
{
    const QByteArray rest = m_carry;
    m_carry.clear();
    return splitLines(rest);
}

} // namespace OvpnOutput
