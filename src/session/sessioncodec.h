#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

// The session management protocol's frames and records, as pure functions.
//
// A frame is: length (4, the whole frame), type (4), param (4), payload.
// Integers are 32-bit little-endian, addresses are the 4 octets in written
// order, texts are zero-terminated code page 949 in fixed-size fields.

// Message types, named as the server's catalogue names them.
constexpr int SM_LOGIN = 1;
constexpr int SM_IP_INFO_REQUEST = 2;
constexpr int SM_IP_CHANGE_REQUEST = 3;
constexpr int SM_LOGIN_OK = 7;
constexpr int SM_LOGIN_FAIL = 8;
constexpr int SM_EXPIRE_DATE = 9;
constexpr int SM_IP_INFO = 10;
constexpr int SM_IP_INFO_UPDATE = 11;
constexpr int SM_IP_CHANGE_OK = 12;
constexpr int SM_IP_CHANGE_FAIL = 13;
constexpr int SM_IP_IN_USE = 14;
constexpr int SM_IP_TAKEN = 15;
constexpr int SM_IP_RELEASED = 16;
constexpr int SM_IP_SHARE_ADD = 17;
constexpr int SM_IP_SHARE_REMOVE = 18;
constexpr int SM_IP_ADDED = 19;
constexpr int SM_SERVER_FULL = 20;
constexpr int SM_NO_DYNAMIC_PRODUCT = 21;
constexpr int SM_SERVER_DISCONNECT = 22;
constexpr int SM_DUPLICATE_LOGIN = 23;
constexpr int SM_BAD_IP_LIST_REQUEST = 24;
constexpr int SM_BAD_IP_LIST = 25;
constexpr int SM_BAD_IP_REPORT = 26;
constexpr int SM_MEMO_LIST_REQUEST = 27;
constexpr int SM_MEMO_LIST = 28;
constexpr int SM_MEMO_SAVE = 29;
constexpr int SM_DYNAMIC_IP_INFO = 31;

namespace SessionWire {
constexpr int kHeaderSize = 12;
// What the receiver can take after the length field: type, param and payload.
constexpr qint64 kMaxBody = 491528;
constexpr qint64 kPayloadCapacity = 491520;
constexpr int kLoginPacketSize = 812;
constexpr int kFixedIpInfoSize = 272;
constexpr int kDynamicIpListSize = 68;
constexpr int kDynamicLeadSize = 64;
constexpr int kMemoInfoSize = 260;
constexpr int kBadIpInfoSize = 8200;
constexpr int kBadIpReasonSize = 8192;
constexpr int kTextFieldSize = 256;
constexpr int kProductCodeSize = 32;
constexpr int kMaxPcName = 255;

// Product type codes (setting ServiceType).
constexpr int kProductFixed = 1;
constexpr int kProductDynamic = 2;
constexpr int kProductKtFixed = 3;
} // namespace SessionWire

// One received or sent frame, without its length field.
struct SessionFrame
{
    int type = 0;
    uint32_t param = 0;
    QByteArray payload;
};

// Outcome of looking at the front of a receive buffer.
enum class FrameScan {
    NeedMore, // not a whole frame yet
    Complete, // *frameLength bytes at the front are one frame
    Bad // the announced length is impossible: below 12 or a body above 491,528
};
FrameScan scanFrame(const QByteArray &buffer, qint64 *frameLength);

// A whole frame (length field included) as sent on the wire.
QByteArray encodeFrame(int type, uint32_t param, const QByteArray &payload = {});
// Splits a whole frame (as scanFrame found it) into its parts.
SessionFrame decodeFrame(const QByteArray &bytes);
// Takes the first frame, `length` bytes as scanFrame found it, out of
// `buffer`. When the buffer holds that frame alone it becomes the payload
// itself, with no copy (lists run to 491,520 bytes).
SessionFrame takeFrame(QByteArray &buffer, qint64 length);

// Whether the records the param announces fit the payload capacity (the
// receiver's 491,520 bytes). List types read their records with the product
// type's record size; frames of other types always fit.
bool frameRecordsFit(const SessionFrame &frame, int productType);

// Text fields. Texts are cut at the last whole code page character that
// leaves room for the terminating zero; *cut tells whether anything was lost.
QByteArray encodeTextField(const QString &text, int fieldSize, bool *cut = nullptr);
// Whether the text fits its field whole (for callers that refuse instead).
bool textFitsField(const QString &text, int fieldSize);

// The address as its 4 wire bytes; text that is not an address gives
// 255.255.255.255 as inet_addr does.
QByteArray encodeAddress(const QString &dotted);
QString decodeAddress(const char *fourBytes);

// The main window's state the sign-in record is built from.
struct LoginInfo
{
    QString parentId;
    QString userId;
    QString tunnelAddress; // dotted; empty when the tunnel reports none
    QString pcName; // this computer's name, may be empty
    int tunnelType = 0; // 1 PPTP, 2 OpenVPN, 3 L2TP
    int productType = 0; // 1 fixed, 2 dynamic, 3 KT fixed
    QString productCode; // the chosen dynamic product
};

// `LoginPacket`, the 812-byte payload of SM_LOGIN.
struct LoginPacket
{
    QString parentId;
    QString userId;
    QString tunnelAddress;
    QString pcName;
    uint32_t dialUp = 0;
    uint32_t dynamic = 0;
    QString productCode;

    // Applies the record's rules: the PC name falls back to the tunnel
    // address, the dial-up flag follows PPTP/L2TP, the product code travels
    // only for the dynamic product.
    static LoginPacket fromState(const LoginInfo &state);
    // Over-long texts are cut (see encodeTextField); the names of the fields
    // that were cut are appended to *cutFields.
    QByteArray encode(QStringList *cutFields = nullptr) const;
    static LoginPacket decode(const QByteArray &payload);
};

// `FixedIpInfo`: one address of the fixed-IP products (272 bytes).
struct FixedIpInfo
{
    QString address;
    int32_t userNumber = 0;
    int32_t state = 0; // 0 unavailable, 1 idle, 2 in use
    int32_t days = 0;
    QString pcName;

    QByteArray encode() const;
    static FixedIpInfo decode(const char *record);
};

// `__DynamicIpList`: one address of the dynamic product (68 bytes). The
// 64 leading bytes are kept as received and never interpreted; they are
// held in the record itself, not in an allocation of their own, since the
// lists carry thousands of records.
struct DynamicIpList
{
    std::array<char, SessionWire::kDynamicLeadSize> lead {};
    QString address;

    QByteArray encode() const;
    static DynamicIpList decode(const char *record);
};

// `MemoInfo` (260 bytes).
struct MemoInfo
{
    int32_t userNumber = 0;
    QString text;

    QByteArray encode(bool *cut = nullptr) const;
    static MemoInfo decode(const char *record);
};

// `BadIpInfo` (8200 bytes).
struct BadIpInfo
{
    int32_t category = 0;
    QString address;
    QString reason;

    QByteArray encode(bool *cut = nullptr) const;
    static BadIpInfo decode(const QByteArray &payload);
};

// Payload of SM_IP_IN_USE and SM_IP_TAKEN.
struct IpPcNotice
{
    QString address;
    QString pcName;

    QByteArray encode() const;
};

// Payload of SM_IP_SHARE_ADD and SM_IP_SHARE_REMOVE (param = address count).
struct IpShareNotice
{
    QStringList addresses;
    QString pcName;

    QByteArray encode() const;
};

// Payload decoders of received frames. They read as the receiver's
// zero-filled buffer does: bytes the payload did not carry read as 0, so a
// count above the records sent yields 0.0.0.0 records. Call them only on
// frames that passed frameRecordsFit.
namespace SessionDecode {
QList<FixedIpInfo> fixedList(const SessionFrame &frame);
QList<DynamicIpList> dynamicList(const SessionFrame &frame);
QList<MemoInfo> memoList(const SessionFrame &frame);
QStringList addressList(const SessionFrame &frame);
// The reported addresses are a set: the zero address once however many
// records past the payload the frame counts.
QStringList reportedList(const SessionFrame &frame);
QString address(const SessionFrame &frame);
IpPcNotice ipPcNotice(const SessionFrame &frame);
IpShareNotice ipShareNotice(const SessionFrame &frame);
int64_t expireDate(const SessionFrame &frame);
} // namespace SessionDecode

// Payload encoders of the lists a server sends.
namespace SessionEncode {
QByteArray fixedList(const QList<FixedIpInfo> &records);
QByteArray dynamicList(const QList<DynamicIpList> &records);
QByteArray memoList(const QList<MemoInfo> &records);
QByteArray addressList(const QStringList &addresses);
QByteArray expireDate(int64_t seconds);
} // namespace SessionEncode
