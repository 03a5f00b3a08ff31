#include "ccrypto.h"

#include "platform/codepage.h"
#include "platform/prompter.h"

#include <nettle/arctwo.h>
#include <nettle/cbc.h>
#include <nettle/md5.h>

#include <cstring>

const QString kKeyPassword = QStringLiteral("QZX");

namespace {

QByteArray wideBytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

void appendLe(QByteArray &out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

} // namespace

QByteArray md5OfWide(const QString &text)
{
    const QByteArray bytes = wideBytes(text);
    md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, size_t(bytes.size()), reinterpret_cast<const uint8_t *>(bytes.constData()));
    QByteArray digest(MD5_DIGEST_SIZE, '\0');
    md5_digest(&ctx, MD5_DIGEST_SIZE, reinterpret_cast<uint8_t *>(digest.data()));
    return digest;
}

QByteArray archiveString(const QString &text)
{
    QByteArray out;
    out.append(char(0xFF));
    appendLe(out, 0xFFFE, 2);
    const auto n = uint32_t(text.size());
    if (n < 0xFF) {
        out.append(char(n));
    } else if (n < 0xFFFE) {
        out.append(char(0xFF));
        appendLe(out, n, 2);
    } else {
        out.append(char(0xFF));
        appendLe(out, 0xFFFF, 2);
        appendLe(out, n, 4);
    }
    out.append(wideBytes(text));
    return out;
}

bool readArchiveString(const QByteArray &bytes, QString &out)
{
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData());
    const qsizetype size = bytes.size();
    qsizetype pos = 0;
    auto need = [&](qsizetype n) {
        return pos + n <= size;
    };
    auto u16 = [&] {
        const uint32_t v = p[pos] | (uint32_t(p[pos + 1]) << 8);
        pos += 2;
        return v;
    };

    bool wide = false;
    uint64_t length = 0;
    // Length prefix; a 16-bit FFFE in the prefix marks a wide string and is
    // followed by the real length.
    for (;;) {
        if (!need(1))
            return false;
        const uint8_t b = p[pos++];
        if (b < 0xFF) {
            length = b;
            break;
        }
        if (!need(2))
            return false;
        const uint32_t w = u16();
        if (w == 0xFFFE) {
            if (wide)
                return false;
            wide = true;
            continue;
        }
        if (w < 0xFFFF) {
            length = w;
            break;
        }
        if (!need(4))
            return false;
        length = p[pos] | (uint32_t(p[pos + 1]) << 8) | (uint32_t(p[pos + 2]) << 16) |
            (uint32_t(p[pos + 3]) << 24);
        pos += 4;
        break;
    }
    const uint64_t byteCount = wide ? length * 2 : length;
    if (byteCount > uint64_t(size - pos))
        return false;
    if (wide) {
        QString text;
        text.resize(qsizetype(length));
        for (qsizetype i = 0; i < qsizetype(length); ++i)
            text[i] = QChar(char16_t(p[pos + 2 * i] | (p[pos + 2 * i + 1] << 8)));
        out = text;
    } else {
        out = CodePage::toUnicode(bytes.mid(pos, qsizetype(length)));
    }
    return true;
}

CCrypto::CCrypto(Prompter &prompter) : m_prompter(prompter) { }

bool CCrypto::DeriveKey(const QString &password)
{
    const QByteArray digest = md5OfWide(password);
    std::memcpy(m_key.data(), digest.constData(), m_key.size());
    m_hasKey = true;
    return true;
}

QByteArray CCrypto::encryptBytes(const QByteArray &clear) const
{
    arctwo_ctx ctx;
    arctwo_set_key_ekb(&ctx, m_key.size(), m_key.data(), 128);
    // PKCS#5: always pad, 1 to 8 bytes of the pad length.
    const int pad = ARCTWO_BLOCK_SIZE - int(clear.size() % ARCTWO_BLOCK_SIZE);
    QByteArray buf = clear;
    buf.append(QByteArray(pad, char(pad)));
    uint8_t iv[ARCTWO_BLOCK_SIZE] = {};
    auto *data = reinterpret_cast<uint8_t *>(buf.data());
    cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func *>(arctwo_encrypt), ARCTWO_BLOCK_SIZE, iv,
                size_t(buf.size()), data, data);
    return buf;
}

bool CCrypto::decryptBytes(const QByteArray &cipher, QByteArray &clear) const
{
    if (cipher.isEmpty() || cipher.size() % ARCTWO_BLOCK_SIZE != 0)
        return false;
    arctwo_ctx ctx;
    arctwo_set_key_ekb(&ctx, m_key.size(), m_key.data(), 128);
    QByteArray buf(cipher.size(), '\0');
    uint8_t iv[ARCTWO_BLOCK_SIZE] = {};
    cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func *>(arctwo_decrypt), ARCTWO_BLOCK_SIZE, iv,
                size_t(cipher.size()), reinterpret_cast<uint8_t *>(buf.data()),
                reinterpret_cast<const uint8_t *>(cipher.constData()));
    const int pad = uint8_t(buf.back());
    if (pad < 1 || pad > ARCTWO_BLOCK_SIZE)
        return false;
    for (qsizetype i = buf.size() - pad; i < buf.size(); ++i) {
        if (uint8_t(buf[i]) != pad)
            return false;
    }
    buf.chop(pad);
    clear = buf;
    return true;
}

bool CCrypto::Encrypt(const QString &text, QByteArray &out)
{
    if (!m_hasKey) {
        m_prompter.show(QStringLiteral("m_hCryptProv or m_hKey is null"), QString(), Mb::Ok);
        return false;
    }
    out = encryptBytes(archiveString(text));
    return true;
}

bool CCrypto::Decrypt(const QByteArray &in, QString &out)
{
    if (!m_hasKey)
        return false;
    QByteArray clear;
    if (!decryptBytes(in, clear))
        return false;
    return readArchiveString(clear, out);
}
