#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Reading OpenVPN's standard output: which lines mean what to the main
// window, and where the tunnel's address stands.
namespace OvpnEvent {
constexpr int TcpConnected = 1;
constexpr int CertificateVerified = 2;
constexpr int InterfaceConfigured = 3;
constexpr int Routing = 4;
constexpr int TunnelUp = 5;
constexpr int TunnelEnded = 6;
constexpr int ConnectionRefused = 7;
constexpr int AuthFailed = 8;
constexpr int TapInstallDeclined = 11; // returned by Connect
constexpr int PipesFailed = 12; // returned by Connect
constexpr int StartFailed = 13; // returned by Connect
constexpr int TapTooOld = 14;
} // namespace OvpnEvent

namespace OvpnOutput {

// The event a line gives, 0 for none. The texts are tested in the order of
// the codes 1, 2, 3, 4, 5, 7, 8, 14 and the first found wins; each code has
// the text of the Windows build and, where it differs, Linux openvpn 2.6's.
int classify(const QString &line);

// The tunnel's own address when the line reports it: the Windows adapter's
// "set a DHCP IP/netmask of a.b.c.d/m.m.m.m on interface", Linux's
// "net_addr_v4_add: a.b.c.d/nn dev tun0" or
// "net_addr_ptp_v4_add: a.b.c.d peer e.f.g.h dev tun0".
bool assignedAddress(const QString &line, QString *address);

// The DNS options of the server's "PUSH_REPLY" line, as received:
// "dhcp-option DNS a.b.c.d" to *servers, "dhcp-option DOMAIN name" and
// "DOMAIN-SEARCH name" to *domains. False when the line is no push reply.
bool pushedDns(const QString &line, QStringList *servers, QStringList *domains);

// The tunnel device from "TUN/TAP device tun0 opened"; empty for other lines.
QString openedDevice(const QString &line);

// The account's bandwidth limit from the QoS reply: its leading decimal
// integer, 0 when there is none (and for a negative number).
quint32 qosFromReply(const QString &reply);

// The --shaper rate in bytes per second for a QoS value in units of
// 1048576 bits per second: QoS x 131072, kept within what openvpn accepts
// (at most 100000000). 0 means no shaper.
quint32 shaperRate(quint32 qos);

// Cuts the output into lines as it arrives. A chunk that ends inside a line
// keeps that part until its rest arrives; lines are trimmed, empty ones
// skipped. Bytes are the Korean code page of the wire formats.
class LineSplitter
{
public:
    QStringList feed(const QByteArray &chunk);
    // At the end of the output: the last line when it had no line feed.
    QStringList finish();

private:
    QByteArray m_carry;
};

} // namespace OvpnOutput
