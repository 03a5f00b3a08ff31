#include "checkedipfile.h"

#include "platform/ipv4.h"

#include <QFile>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cstring>

namespace CheckedIpFile {

void load(const QString &path, QStringList &list)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = f.readAll();
    QSet<QString> seen(list.cbegin(), list.cend());
    // Room for the largest list the service sends; a damaged file may be
    // far larger, and then mostly repeats.
    const qsizetype expected = list.size() + std::min<qsizetype>(bytes.size() / 4, 1 << 17);
    seen.reserve(expected);
    list.reserve(expected);
    for (qsizetype off = 0; off + 4 <= bytes.size(); off += 4) {
        const QString ip =
            Ipv4::fromBytes(reinterpret_cast<const unsigned char *>(bytes.constData() + off));
        if (!seen.contains(ip)) {
            seen.insert(ip);
            list.append(ip);
        }
    }
}

bool save(const QString &path, const QStringList &list)
{
    QByteArray bytes;
    bytes.reserve(list.size() * 4);
    for (const QString &ip : list) {
        const uint32_t n = Ipv4::toNetworkOrderBytes(ip);
        char raw[4];
        std::memcpy(raw, &n, 4);
        bytes.append(raw, 4);
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(bytes);
    return out.commit();
}

bool merge(const QString &path, const QStringList &more, QStringList &list)
{
    load(path, list);
    QSet<QString> seen(list.cbegin(), list.cend());
    for (const QString &text : more) {
        bool ok = false;
        const uint32_t n = Ipv4::toNetworkOrderBytes(text, &ok);
        if (!ok)
            continue;
        // As the file will give it back: "%d.%d.%d.%d".
        unsigned char raw[4];
        std::memcpy(raw, &n, 4);
        const QString ip = Ipv4::fromBytes(raw);
        if (!seen.contains(ip)) {
            seen.insert(ip);
            list.append(ip);
        }
    }
    return save(path, list);
}

} // namespace CheckedIpFile
