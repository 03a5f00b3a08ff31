#include "settings.h"

#include <QSet>
#include <QUrl>

#include <algorithm>

using namespace SettingKeys;

QMap<QString, QString> parseProductMap(const QString &value)
{
    QMap<QString, QString> map;
    for (const QString &entry : value.split(QLatin1Char(','))) {
        if (entry.isEmpty())
            continue;
        const QStringList parts = entry.split(QLatin1Char(':'));
        map.insert(parts.value(0), parts.value(1));
    }
    return map;
}

QList<QPair<QString, QString>> offeredProducts(const QString &value)
{
    QList<QPair<QString, QString>> out;
    for (const QString &entry : value.split(QLatin1Char(','))) {
        const QStringList parts = entry.split(QLatin1Char(':'));
        if (parts.value(1).isEmpty())
            continue;
        out.append({parts.value(0), parts.value(1)});
    }
    return out;
}

QStringList splitLegacyCheckedList(const QString &value)
{
    QStringList out;
    QSet<QString> seen;
    for (const QString &part : value.split(QLatin1Char(','))) {
        if (!part.isEmpty() && !seen.contains(part)) {
            seen.insert(part);
            out.append(part);
        }
    }
    return out;
}

Settings::Settings(const QString &path) : m_file(path) { }

bool Settings::createIfMissing()
{
    if (m_file.exists())
        return false;
    // The creation values, in the order the first start writes them.
    static const struct
    {
        const QString &section;
        const QString &key;
        const char *value;
    } creation[] = {
        {Option, RedialSeconds, "30"},
        {Option, RedialOnLinkFailure, "1"},
        {Option, BootStart, "0"},
        {Option, UseHotKey, "0"},
        {Option, HotKey, "80"},
        {Entry, ServiceType, "1"},
        {Entry, IsPPTP, "1"},
        {Entry, PharamSave, "0"},
        {Entry, ID, ""},
        {Entry, SERVER, ""},
        {Entry, LastUsedIP, ""},
        {Entry, CheckedIP, ""},
        {Entry, IsAutoChange, "0"},
        {Entry, AutoChangeSec, "300"},
    };
    // One document, one write: the file appears whole or not at all.
    IniDocument doc;
    for (const auto &c : creation)
        doc.setValue(c.section, c.key, QString::fromLatin1(c.value));
    return m_file.replaceWith(doc);
}

namespace {

int flagAboveZero(int value)
{
    return value > 0 ? 1 : 0;
}

int flagNotZero(int value)
{
    return value != 0 ? 1 : 0;
}

} // namespace

QString boundedVerifyUrl(const QString &value)
{
    if (value.isEmpty() || value.size() > kMaxVerifyUrlLength)
        return QString();
    for (QChar c : value) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F || c.unicode() > 0x7E)
            return QString();
    }
    const QUrl url(value, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QString();
    return value;
}

SettingsFields Settings::load() const
{
    const IniDocument doc = m_file.snapshot();
    SettingsFields f;
    f.redialCount = std::clamp(doc.intValue(Option, RedialCount, 0), 0, kMaxRedialCount);
    // A countdown of 0 seconds or less would never reach its end.
    const int redialSeconds = doc.intValue(Option, RedialSeconds, 0);
    f.redialSeconds =
        redialSeconds < 1 ? kRedialSecondsWhenUnset : std::min(redialSeconds, kMaxRedialSeconds);
    f.redialOnLinkFailure = flagAboveZero(doc.intValue(Option, RedialOnLinkFailure, 0));
    f.bootStart = flagNotZero(doc.intValue(Option, BootStart, 0));
    f.credentialsSaved = flagNotZero(doc.intValue(Entry, PharamSave, 0));
    const int tunnel = doc.intValue(Entry, IsPPTP, 1);
    f.tunnelType = tunnel >= TunnelPptp && tunnel <= TunnelL2tp ? tunnel : 0;
    const int product = doc.intValue(Entry, ServiceType, 1);
    f.productType = product >= FixedIp && product <= KtFixedIp ? product : FixedIp;
    f.autoChange = flagAboveZero(doc.intValue(Entry, IsAutoChange, 0));
    // The interval slider's range: a period of 0 would flood the server.
    f.autoChangeSeconds = std::clamp(doc.intValue(Entry, AutoChangeSec, 500), kMinAutoChangeSeconds,
                                     kMaxAutoChangeSeconds);
    f.lastUsedIp = doc.value(Entry, LastUsedIP);
    f.legacyCheckedIp = doc.value(Entry, CheckedIP);
    f.server = doc.value(Entry, SERVER);
    f.dynamicProductName = doc.value(Entry, DynamicProductName);
    const QString list = doc.value(Entry, DynamicProductList);
    if (!list.isEmpty())
        f.productMap = parseProductMap(list);
    f.useHotKey = flagAboveZero(doc.intValue(Option, UseHotKey, 0));
    const int hotKey = doc.intValue(Option, HotKey, 80);
    f.hotKey = hotKey >= 'A' && hotKey <= 'Z' ? hotKey : 'P';
    f.verifyUrl = boundedVerifyUrl(doc.value(Option, VerifyUrl));
    f.blockOutside = flagAboveZero(doc.intValue(Option, BlockOutside, 0));
    return f;
}

QString Settings::readString(const QString &section, const QString &key, const QString &def) const
{
    return m_file.readString(section, key, def);
}

int Settings::readInt(const QString &section, const QString &key, int def) const
{
    return m_file.readInt(section, key, def);
}

bool Settings::write(const QString &section, const QString &key, const QString &value)
{
    return m_file.writeString(section, key, value);
}

bool Settings::write(const QString &section, const QString &key, int value)
{
    return write(section, key, QString::number(value));
}
