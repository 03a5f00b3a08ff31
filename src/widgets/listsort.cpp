#include "listsort.h"

#include "platform/ipv4.h"

#include <limits>

namespace ListSort {

int compareText(const QString &a, const QString &b)
{
    const qsizetype n = qMin(a.size(), b.size());
    const ushort *pa = a.utf16();
    const ushort *pb = b.utf16();
    for (qsizetype i = 0; i < n; ++i) {
        if (pa[i] != pb[i])
            return pa[i] < pb[i] ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

WholeNumber parseWholeNumber(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n &&
           (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r' ||
            text[i] == u'\v' || text[i] == u'\f'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    int64_t v = 0;
    bool overflow = false;
    while (i < n && text[i] >= u'0' && text[i] <= u'9') {
        if (!overflow) {
            v = v * 10 + (text[i].unicode() - u'0');
            if (v > int64_t(std::numeric_limits<int32_t>::max()) + 1)
                overflow = true;
        }
        ++i;
    }
    if (negative)
        v = -v;
    if (overflow || v > std::numeric_limits<int32_t>::max())
        v = negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min())
        v = std::numeric_limits<int32_t>::min();
    WholeNumber out;
    out.value = int32_t(v);
    out.exact = QString::number(out.value).size() == text.size();
    return out;
}

int compareNumberOrText(const QString &a, const QString &b)
{
    const WholeNumber na = parseWholeNumber(a);
    const WholeNumber nb = parseWholeNumber(b);
    if (na.value != 0 && nb.value != 0 && na.value != nb.value && na.exact && nb.exact)
        return na.value < nb.value ? -1 : 1;
    return compareText(a, b);
}

int compareAddress(const QString &a, const QString &b)
{
    const uint32_t va = Ipv4::numericValue(a);
    const uint32_t vb = Ipv4::numericValue(b);
    if (va == vb)
        return 0;
    return va < vb ? -1 : 1;
}

int compare(Kind kind, const QString &a, const QString &b)
{
    switch (kind) {
    case Kind::Text:
        return compareText(a, b);
    case Kind::NumberOrText:
        return compareNumberOrText(a, b);
    case Kind::Address:
        return compareAddress(a, b);
    }
    return 0;
}

} // namespace ListSort
