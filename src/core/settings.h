#pragma once

#include "platform/inifile.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

// Section and key names of "KVOClientSetup.ini".
namespace SettingKeys {
inline const QString Option = QStringLiteral("Option");
inline const QString Entry = QStringLiteral("Entry");

inline const QString RedialCount = QStringLiteral("RedialCount");
inline const QString RedialSeconds = QStringLiteral("RedialSeconds");
inline const QString RedialOnLinkFailure = QStringLiteral("RedialOnLinkFailure");
inline const QString BootStart = QStringLiteral("BootStart");
inline const QString UseHotKey = QStringLiteral("UseHotKey");
inline const QString BlockOutside = QStringLiteral("BlockOutside");
inline const QString HotKey = QStringLiteral("HotKey");
inline const QString ServiceType = QStringLiteral("ServiceType");
inline const QString IsPPTP = QStringLiteral("IsPPTP");
inline const QString PharamSave = QStringLiteral("PharamSave");
inline const QString ID = QStringLiteral("ID");
inline const QString SERVER = QStringLiteral("SERVER");
inline const QString LastUsedIP = QStringLiteral("LastUsedIP");
inline const QString CheckedIP = QStringLiteral("CheckedIP");
inline const QString IsAutoChange = QStringLiteral("IsAutoChange");
inline const QString AutoChangeSec = QStringLiteral("AutoChangeSec");
inline const QString DynamicProductName = QStringLiteral("DynamicProductName");
inline const QString DynamicProductList = QStringLiteral("DynamicProductList");
inline const QString VerifyUrl = QStringLiteral("VerifyUrl");
} // namespace SettingKeys

// The bounds the load puts on the numbers of the file.
constexpr int kMaxRedialCount = 999;
constexpr int kRedialSecondsWhenUnset = 30;
constexpr int kMaxRedialSeconds = 3600;
constexpr int kMinAutoChangeSeconds = 60;
constexpr int kMaxAutoChangeSeconds = 1800;
constexpr int kMaxVerifyUrlLength = 1024;

// Product types (ServiceType) and tunnel types (IsPPTP).
enum ProductType { FixedIp = 1, DynamicIp = 2, KtFixedIp = 3 };
enum TunnelType { TunnelPptp = 1, TunnelOpenVpn = 2, TunnelL2tp = 3 };

// The settings the main window keeps in memory after the start-up load.
// Every number is bounded by the load, whatever the file holds:
//   RedialCount 0..999 (below 0 none, above 999 is 999);
//   RedialSeconds 1..3600 (0, below 0 or a non-number is 30, above 3600 is 3600);
//   RedialOnLinkFailure, IsAutoChange, UseHotKey, BlockOutside: 1 above 0, else 0;
//   BootStart, PharamSave: 1 when not 0, else 0;
//   IsPPTP 1..3, anything else 0 (no tunnel type chosen);
//   ServiceType 1..3, anything else 1;
//   AutoChangeSec 60..1800 (below is 60, above is 1800; the interval slider
//   then keeps whole minutes);
//   HotKey 65..90 (A to Z), anything else 80 (P);
//   VerifyUrl an http or https address with a host, at most
//   kMaxVerifyUrlLength characters, no blanks or control characters; anything
//   else is empty (no check).
struct SettingsFields
{
    int redialCount = 0;
    int redialSeconds = kRedialSecondsWhenUnset;
    int redialOnLinkFailure = 0;
    int bootStart = 0;
    int credentialsSaved = 0; // PharamSave
    int tunnelType = 1; // IsPPTP
    int productType = 1; // ServiceType
    int autoChange = 0; // 0 or 1
    int autoChangeSeconds = 500;
    QString lastUsedIp;
    QString legacyCheckedIp;
    QString server;
    QString dynamicProductName;
    QMap<QString, QString> productMap; // name -> code
    int useHotKey = 0; // 0 or 1
    int hotKey = 80;
    // [Option] VerifyUrl: the page that answers with the address a request
    // came from; empty: switches are not checked.
    QString verifyUrl;
    int blockOutside = 0; // [Option] BlockOutside: no traffic outside the tunnel
};

// VerifyUrl as the load keeps it: the value, or empty when it is not a usable
// http or https address.
QString boundedVerifyUrl(const QString &value);

// The product list value "name:code,name:code".
// As a map: every non-empty entry, a later name replacing an earlier one.
QMap<QString, QString> parseProductMap(const QString &value);
// As the sign-in dialog offers it: entries with a code, in list order.
QList<QPair<QString, QString>> offeredProducts(const QString &value);
// The legacy comma list of checked addresses, without repeats, in order.
QStringList splitLegacyCheckedList(const QString &value);

// The settings file "KVOClientSetup.ini" of the program folder.
class Settings
{
public:
    explicit Settings(const QString &path);

    const QString &path() const { return m_file.path(); }

    // Writes the creation values when the file does not exist yet; an
    // existing file is never completed with missing keys. Returns true when
    // it created the file.
    bool createIfMissing();

    // Reads every key into the in-memory fields.
    SettingsFields load() const;

    QString readString(const QString &section, const QString &key, const QString &def = {}) const;
    int readInt(const QString &section, const QString &key, int def) const;
    bool write(const QString &section, const QString &key, const QString &value);
    bool write(const QString &section, const QString &key, int value);

private:
    IniFile m_file;
};
