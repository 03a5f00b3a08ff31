#pragma once

#include <QString>

#include <cstdint>

// IPv4 addresses as dotted text ("%d.%d.%d.%d") and as the 4 bytes in
// network order, with the conversions' classic rules: text that is not an
// address converts to 255.255.255.255.
namespace Ipv4 {
// The 4 bytes, first octet first.
uint32_t toNetworkOrderBytes(const QString &dotted, bool *ok = nullptr);
QString fromBytes(const unsigned char bytes[4]);
// Host-order numeric value for comparisons (a non-address is 0xFFFFFFFF).
uint32_t numericValue(const QString &dotted, bool *ok = nullptr);
} // namespace Ipv4

// Whether a server address as the service hands it out may be dialled: a
// dotted IPv4 address of four decimal numbers (0 to 255, no leading zeros)
// or a host name (labels of letters, digits and "-", none starting or ending
// with "-", at most 63 characters each and 253 in all, the last not all
// digits). Nothing else reaches a command line or a configuration file: no
// blanks, quotes, shell characters, line breaks or leading "-".
bool isServerAddress(const QString &text);

// Strictly a dotted IPv4 address: four decimal numbers 0 to 255 without
// leading zeros, nothing before, between or after them.
bool isDottedIpv4(const QString &text);
