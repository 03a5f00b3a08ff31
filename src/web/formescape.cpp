#include "formescape.h"

namespace {
bool isSafe(unsigned char c)
{
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        return true;
    switch (c) {
    case '!':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '-':
    case '.':
    case '/':
    case ':':
    case '_':
    case '~':
        return true;
    default:
        return false;
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

QString EscapeFormValue(const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() * 3);
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (isSafe(c)) {
            out.append(ch);
        } else {
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 0xF]);
        }
        if (out.size() > kMaxEscapedValue)
            return {};
    }
    return QString::fromLatin1(out);
}

QString unescapeFormValue(const QString &value)
{
    const QByteArray in = value.toUtf8();
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '+') {
            out.append(' ');
        } else if (c == '%' && i + 2 < in.size() && hexValue(in[i + 1]) >= 0 &&
                   hexValue(in[i + 2]) >= 0) {
            out.append(static_cast<char>(hexValue(in[i + 1]) * 16 + hexValue(in[i + 2])));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return QString::fromUtf8(out);
}
