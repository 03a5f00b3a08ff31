#include "codepage.h"

#include <cerrno>
#include <iconv.h>

namespace {

class Converter
{
public:
    Converter(const char *to, const char *from) : m_cd(iconv_open(to, from)) { }
    ~Converter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;
    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts in; on a sequence it cannot convert it appends replacement and
    // skips skipUnit bytes of the input.
    QByteArray run(const QByteArray &in, const QByteArray &replacement, size_t skipUnit)
    {
        QByteArray out;
        out.reserve(in.size() * 2 + 8);
        char *src = const_cast<char *>(in.constData());
        size_t srcLeft = size_t(in.size());
        char buf[1024];
        while (srcLeft > 0) {
            char *dst = buf;
            size_t dstLeft = sizeof buf;
            const size_t r = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, qsizetype(dst - buf));
            if (r == size_t(-1)) {
                if (errno == E2BIG)
                    continue;
                // EILSEQ or EINVAL: an unconvertible or truncated sequence.
                out.append(replacement);
                const size_t skip = std::min(skipUnit, srcLeft);
                src += skip;
                srcLeft -= skip;
                iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
        char *dst = buf;
        size_t dstLeft = sizeof buf;
        iconv(m_cd, nullptr, nullptr, &dst, &dstLeft);
        out.append(buf, qsizetype(dst - buf));
        return out;
    }

private:
    iconv_t m_cd;
};

} // namespace

namespace CodePage {

QByteArray fromUnicode(const QString &text)
{
    if (text.isEmpty())
        return {};
    Converter c("CP949", "UTF-16LE");
    if (!c.valid())
        return text.toLatin1();
    QByteArray in(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    // A surrogate pair is skipped as one "?" per unit; the code page holds
    // nothing outside the basic plane anyway.
    return c.run(in, QByteArray("?"), 2);
}

QString toUnicode(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    Converter c("UTF-16LE", "CP949");
    if (!c.valid())
        return QString::fromLatin1(bytes);
    const QByteArray replacement("\xfd\xff", 2); // U+FFFD, little-endian
    const QByteArray out = c.run(bytes, replacement, 1);
    return QString(reinterpret_cast<const QChar *>(out.constData()), out.size() / 2);
}

QString toUnicodeZ(const char *data, qsizetype maxLen)
{
    qsizetype n = 0;
    while (n < maxLen && data[n] != '\0')
        ++n;
    return toUnicode(QByteArray(data, n));
}

} // namespace CodePage
