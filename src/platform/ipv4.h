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
