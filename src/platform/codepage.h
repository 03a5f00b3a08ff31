#pragma once

#include <QByteArray>
#include <QString>

// The Korean 8-bit code page (949) of the wire formats: the fixed text fields
// of session frames, the failure datagram and the OpenVPN pipe text. Files a
// Linux user reads (log, settings) are UTF-8 instead.
namespace CodePage {

// Characters the code page cannot hold become "?", as the system's default
// character does.
QByteArray fromUnicode(const QString &text);

// Byte sequences that are not code page 949 become U+FFFD.
QString toUnicode(const QByteArray &bytes);

// Decodes up to the first zero byte (fixed-size fields).
QString toUnicodeZ(const char *data, qsizetype maxLen);

} // namespace CodePage
