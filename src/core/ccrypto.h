#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

class Prompter;

// The saved-password cipher, byte-compatible with files written on Windows
// by the "Microsoft Enhanced Cryptographic Provider v1.0": the key is the MD5
// of the key password's UTF-16LE bytes, used as a 128-bit RC2 key (effective
// key bits 128), CBC with a zero IV and PKCS#5 padding. The clear bytes are
// the archive form of a wide string (see archiveString).
class CCrypto
{
public:
    explicit CCrypto(Prompter &prompter);

    bool DeriveKey(const QString &password);
    // Shows "m_hCryptProv or m_hKey is null" when no key has been derived.
    bool Encrypt(const QString &text, QByteArray &out);
    bool Decrypt(const QByteArray &in, QString &out);

    bool hasKey() const { return m_hasKey; }

    // Raw cipher operations on clear bytes, for the check values.
    QByteArray encryptBytes(const QByteArray &clear) const;
    bool decryptBytes(const QByteArray &cipher, QByteArray &clear) const;

private:
    Prompter &m_prompter;
    std::array<uint8_t, 16> m_key {};
    bool m_hasKey = false;
};

// The key password the program derives its saved-password key from.
extern const QString kKeyPassword; // "QZX"

// The archive form of a wide string: FF, FE FF, the length (one byte below
// 255; else FF + 16 bits below 0xFFFE; else FF FF FF + 32 bits), then the
// characters as UTF-16LE.
QByteArray archiveString(const QString &text);
// Reads an archived string (also the 8-bit form without the FE FF tag).
// False when the bytes are not a whole string.
bool readArchiveString(const QByteArray &bytes, QString &out);

// MD5 of the UTF-16LE bytes of a text (no terminator).
QByteArray md5OfWide(const QString &text);
