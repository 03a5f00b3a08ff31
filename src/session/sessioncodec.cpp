#include "sessioncodec.h"

#include "platform/codepage.h"
#include "platform/ipv4.h"

#include <algorithm>
#include <cstring>
#include <utility>

using namespace SessionWire;

namespace {

void putU32(QByteArray &out, qsizetype offset, uint32_t v)
{
    out[offset] = char(v & 0xFF);
    out[offset + 1] = char((v >> 8) & 0xFF);
    out[offset + 2] = char((v >> 16) & 0xFF);
    out[offset + 3] = char((v >> 24) & 0xFF);
}

void appendU32(QByteArray &out, uint32_t v)
{
    const qsizetype at = out.size();
    out.resize(at + 4);
    putU32(out, at, v);
}

uint32_t getU32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return uint32_t(u[0]) | (uint32_t(u[1]) << 8) | (uint32_t(u[2]) << 16) | (uint32_t(u[3]) << 24);
}

void putField(QByteArray &out, qsizetype offset, const QByteArray &field)
{
    std::memcpy(out.data() + offset, field.constData(), size_t(field.size()));
}

// Reads the payload as the receiver's zero-filled buffer: bytes the frame
// did not carry read as 0.
class PayloadView
{
public:
    explicit PayloadView(const QByteArray &payload) : m_payload(payload) { }

    // A copy of n bytes from offset, zero-filled beyond the payload.
    QByteArray bytes(qint64 offset, qint64 n) const
    {
        QByteArray out(n, '\0');
        const qint64 have = m_payload.size();
        if (offset < have) {
            const qint64 take = std::min(n, have - offset);
            std::memcpy(out.data(), m_payload.constData() + offset, size_t(take));
        }
        return out;
    }
    // A pointer to n readable bytes from offset (into the payload itself
    // when it holds them, else into a zero-filled copy kept in scratch).
    const char *at(qint64 offset, qint64 n, QByteArray &scratch) const
    {
        if (offset + n <= m_payload.size())
            return m_payload.constData() + offset;
        scratch = bytes(offset, n);
        return scratch.constData();
    }
    uint32_t u32(qint64 offset) const
    {
        QByteArray scratch;
        return getU32(at(offset, 4, scratch));
    }

private:
    const QByteArray &m_payload;
};

// Length of the longest prefix of code page bytes that ends on a whole
// character and is at most max bytes (lead bytes 0x81..0xFE take two).
qsizetype wholeCharPrefix(const QByteArray &bytes, qsizetype max)
{
    qsizetype i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const qsizetype step = (b >= 0x81 && b <= 0xFE) ? 2 : 1;
        if (i + step > max)
            break;
        i += step;
    }
    return std::min(i, bytes.size());
}

QString decodeName(const char *data, qsizetype length)
{
    return CodePage::toUnicodeZ(data, length);
}

} // namespace

FrameScan scanFrame(const QByteArray &buffer, qint64 *frameLength)
{
    if (buffer.size() < 4)
        return FrameScan::NeedMore;
    const qint64 length = getU32(buffer.constData());
    if (length < kHeaderSize || length - 4 > kMaxBody)
        return FrameScan::Bad;
    if (buffer.size() < length)
        return FrameScan::NeedMore;
    if (frameLength)
        *frameLength = length;
    return FrameScan::Complete;
}

QByteArray encodeFrame(int type, uint32_t param, const QByteArray &payload)
{
    QByteArray out;
    out.reserve(kHeaderSize + payload.size());
    appendU32(out, uint32_t(kHeaderSize + payload.size()));
    appendU32(out, uint32_t(type));
    appendU32(out, param);
    out.append(payload);
    return out;
}

SessionFrame decodeFrame(const QByteArray &bytes)
{
    QByteArray copy = bytes; // shared: taking the frame copies the payload only
    return takeFrame(copy, copy.size());
}

SessionFrame takeFrame(QByteArray &buffer, qint64 length)
{
    length = std::min<qint64>(length, buffer.size());
    if (length < kHeaderSize) {
        buffer.remove(0, length);
        return {};
    }
    SessionFrame f;
    f.type = int(getU32(buffer.constData() + 4));
    f.param = getU32(buffer.constData() + 8);
    if (length == buffer.size()) {
        buffer.remove(0, kHeaderSize); // moves the start, copies nothing
        f.payload = std::exchange(buffer, QByteArray());
    } else {
        f.payload = QByteArray(buffer.constData() + kHeaderSize, length - kHeaderSize);
        buffer.remove(0, length);
    }
    return f;
}

bool frameRecordsFit(const SessionFrame &frame, int productType)
{
    const qint64 n = frame.param;
    switch (frame.type) {
    case SM_IP_INFO:
    case SM_IP_INFO_UPDATE: {
        const qint64 size = productType == kProductDynamic ? kDynamicIpListSize : kFixedIpInfoSize;
        return n * size <= kPayloadCapacity;
    }
    case SM_DYNAMIC_IP_INFO:
        return n * kDynamicIpListSize <= kPayloadCapacity;
    case SM_MEMO_LIST:
        return n * kMemoInfoSize <= kPayloadCapacity;
    case SM_BAD_IP_LIST:
        return n * 4 <= kPayloadCapacity;
    case SM_IP_SHARE_ADD:
    case SM_IP_SHARE_REMOVE: {
        // The addresses, the name length and the (cut) name itself.
        if (n * 4 + 4 > kPayloadCapacity)
            return false;
        const qint64 nameLength =
            std::min<qint64>(PayloadView(frame.payload).u32(n * 4), kMaxPcName);
        return n * 4 + 4 + nameLength <= kPayloadCapacity;
    }
    default:
        return true;
    }
}

QByteArray encodeTextField(const QString &text, int fieldSize, bool *cut)
{
    QByteArray bytes = CodePage::fromUnicode(text);
    // A zero inside the text would end it early on the other side.
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    const qsizetype keep = wholeCharPrefix(bytes, fieldSize - 1);
    if (cut)
        *cut = keep < bytes.size();
    QByteArray field(fieldSize, '\0');
    std::memcpy(field.data(), bytes.constData(), size_t(keep));
    return field;
}

bool textFitsField(const QString &text, int fieldSize)
{
    bool cut = false;
    encodeTextField(text, fieldSize, &cut);
    return !cut;
}

QByteArray encodeAddress(const QString &dotted)
{
    const uint32_t v = Ipv4::numericValue(dotted);
    QByteArray out(4, '\0');
    out[0] = char((v >> 24) & 0xFF);
    out[1] = char((v >> 16) & 0xFF);
    out[2] = char((v >> 8) & 0xFF);
    out[3] = char(v & 0xFF);
    return out;
}

QString decodeAddress(const char *fourBytes)
{
    return Ipv4::fromBytes(reinterpret_cast<const unsigned char *>(fourBytes));
}

LoginPacket LoginPacket::fromState(const LoginInfo &state)
{
    LoginPacket p;
    p.parentId = state.parentId;
    p.userId = state.userId;
    p.tunnelAddress = state.tunnelAddress;
    p.pcName = state.pcName.isEmpty() ? state.tunnelAddress : state.pcName;
    p.dialUp = (state.tunnelType == 1 || state.tunnelType == 3) ? 1 : 0;
    p.dynamic = state.productType == kProductDynamic ? 1 : 0;
    if (p.dynamic)
        p.productCode = state.productCode;
    return p;
}

QByteArray LoginPacket::encode(QStringList *cutFields) const
{
    QByteArray out(kLoginPacketSize, '\0');
    auto text = [&](qsizetype offset, const QString &value, int size, const char *name) {
        bool cut = false;
        putField(out, offset, encodeTextField(value, size, &cut));
        if (cut && cutFields)
            cutFields->append(QLatin1String(name));
    };
    text(0, parentId, kTextFieldSize, "parentId");
    text(256, userId, kTextFieldSize, "userId");
    putField(out, 512, encodeAddress(tunnelAddress));
    text(516, pcName, kTextFieldSize, "pcName");
    putU32(out, 772, dialUp);
    putU32(out, 776, dynamic);
    text(780, productCode, kProductCodeSize, "productCode");
    return out;
}

LoginPacket LoginPacket::decode(const QByteArray &payload)
{
    const QByteArray b = PayloadView(payload).bytes(0, kLoginPacketSize);
    const char *d = b.constData();
    LoginPacket p;
    p.parentId = decodeName(d, kTextFieldSize);
    p.userId = decodeName(d + 256, kTextFieldSize);
    p.tunnelAddress = decodeAddress(d + 512);
    p.pcName = decodeName(d + 516, kTextFieldSize);
    p.dialUp = getU32(d + 772);
    p.dynamic = getU32(d + 776);
    p.productCode = decodeName(d + 780, kProductCodeSize);
    return p;
}

QByteArray FixedIpInfo::encode() const
{
    QByteArray out(kFixedIpInfoSize, '\0');
    putField(out, 0, encodeAddress(address));
    putU32(out, 4, uint32_t(userNumber));
    putU32(out, 8, uint32_t(state));
    putU32(out, 12, uint32_t(days));
    putField(out, 16, encodeTextField(pcName, kTextFieldSize));
    return out;
}

FixedIpInfo FixedIpInfo::decode(const char *record)
{
    FixedIpInfo r;
    r.address = decodeAddress(record);
    r.userNumber = int32_t(getU32(record + 4));
    r.state = int32_t(getU32(record + 8));
    r.days = int32_t(getU32(record + 12));
    r.pcName = decodeName(record + 16, kTextFieldSize);
    return r;
}

QByteArray DynamicIpList::encode() const
{
    QByteArray out(kDynamicIpListSize, '\0');
    static_assert(sizeof(lead) == kDynamicLeadSize);
    std::memcpy(out.data(), lead.data(), sizeof(lead));
    putField(out, kDynamicLeadSize, encodeAddress(address));
    return out;
}

DynamicIpList DynamicIpList::decode(const char *record)
{
    DynamicIpList r;
    std::memcpy(r.lead.data(), record, sizeof(r.lead));
    r.address = decodeAddress(record + kDynamicLeadSize);
    return r;
}

QByteArray MemoInfo::encode(bool *cut) const
{
    QByteArray out(kMemoInfoSize, '\0');
    putU32(out, 0, uint32_t(userNumber));
    putField(out, 4, encodeTextField(text, kTextFieldSize, cut));
    return out;
}

MemoInfo MemoInfo::decode(const char *record)
{
    MemoInfo m;
    m.userNumber = int32_t(getU32(record));
    m.text = decodeName(record + 4, kTextFieldSize);
    return m;
}

QByteArray BadIpInfo::encode(bool *cut) const
{
    QByteArray out(kBadIpInfoSize, '\0');
    putU32(out, 0, uint32_t(category));
    putField(out, 4, encodeAddress(address));
    putField(out, 8, encodeTextField(reason, kBadIpReasonSize, cut));
    return out;
}

BadIpInfo BadIpInfo::decode(const QByteArray &payload)
{
    const QByteArray b = PayloadView(payload).bytes(0, kBadIpInfoSize);
    BadIpInfo r;
    r.category = int32_t(getU32(b.constData()));
    r.address = decodeAddress(b.constData() + 4);
    r.reason = decodeName(b.constData() + 8, kBadIpReasonSize);
    return r;
}

namespace {
QByteArray pcNameBytes(const QString &name)
{
    QByteArray bytes = CodePage::fromUnicode(name);
    bytes.truncate(wholeCharPrefix(bytes, kMaxPcName));
    return bytes;
}

QString readPcName(const PayloadView &view, qint64 lengthOffset)
{
    const qint64 length = std::min<qint64>(view.u32(lengthOffset), kMaxPcName);
    QByteArray name = view.bytes(lengthOffset + 4, length);
    // A name cut at 255 bytes must not end in half a character.
    name.truncate(wholeCharPrefix(name, name.size()));
    return decodeName(name.constData(), name.size());
}
} // namespace

QByteArray IpPcNotice::encode() const
{
    const QByteArray name = pcNameBytes(pcName);
    QByteArray out = encodeAddress(address);
    appendU32(out, uint32_t(name.size()));
    out.append(name);
    return out;
}

QByteArray IpShareNotice::encode() const
{
    QByteArray out;
    for (const QString &a : addresses)
        out.append(encodeAddress(a));
    const QByteArray name = pcNameBytes(pcName);
    appendU32(out, uint32_t(name.size()));
    out.append(name);
    return out;
}

namespace {

// Records a frame counts but does not carry: all of them, or the first only
// where the list is a set.
enum class ZeroRecords { UpToCount, Once };

// The frame's count of records of `size` bytes each. Records past the
// payload read as zeros, so they are all alike: the first is decoded and
// the rest share it (a short frame may claim the largest count).
template<typename T, typename Decode>
QList<T> decodeRecords(const SessionFrame &frame, qint64 size, Decode decode,
                       ZeroRecords zeros = ZeroRecords::UpToCount)
{
    const qint64 count = qint64(frame.param);
    // A record the payload ends inside counts as sent: its missing bytes read as zeros.
    const qint64 sent = std::min(count, (qint64(frame.payload.size()) + size - 1) / size);
    const qint64 end = zeros == ZeroRecords::UpToCount ? count : std::min(count, sent + 1);
    QList<T> out;
    out.reserve(qsizetype(end));
    const PayloadView view(frame.payload);
    QByteArray scratch;
    for (qint64 i = 0; i < sent; ++i)
        out.append(decode(view.at(i * size, size, scratch)));
    if (sent < end)
        out.resize(qsizetype(end), decode(view.at(sent * size, size, scratch)));
    return out;
}

} // namespace

namespace SessionDecode {

QList<FixedIpInfo> fixedList(const SessionFrame &frame)
{
    return decodeRecords<FixedIpInfo>(frame, kFixedIpInfoSize, &FixedIpInfo::decode);
}

QList<DynamicIpList> dynamicList(const SessionFrame &frame)
{
    return decodeRecords<DynamicIpList>(frame, kDynamicIpListSize, &DynamicIpList::decode);
}

QList<MemoInfo> memoList(const SessionFrame &frame)
{
    return decodeRecords<MemoInfo>(frame, kMemoInfoSize, &MemoInfo::decode);
}

QStringList addressList(const SessionFrame &frame)
{
    return decodeRecords<QString>(frame, 4, &decodeAddress);
}

QStringList reportedList(const SessionFrame &frame)
{
    return decodeRecords<QString>(frame, 4, &decodeAddress, ZeroRecords::Once);
}

QString address(const SessionFrame &frame)
{
    QByteArray scratch;
    return decodeAddress(PayloadView(frame.payload).at(0, 4, scratch));
}

IpPcNotice ipPcNotice(const SessionFrame &frame)
{
    const PayloadView view(frame.payload);
    IpPcNotice n;
    n.address = address(frame);
    n.pcName = readPcName(view, 4);
    return n;
}

IpShareNotice ipShareNotice(const SessionFrame &frame)
{
    IpShareNotice n;
    n.addresses = addressList(frame);
    n.pcName = readPcName(PayloadView(frame.payload), qint64(frame.param) * 4);
    return n;
}

int64_t expireDate(const SessionFrame &frame)
{
    const PayloadView view(frame.payload);
    return int64_t(uint64_t(view.u32(0)) | (uint64_t(view.u32(4)) << 32));
}

} // namespace SessionDecode

namespace SessionEncode {

QByteArray fixedList(const QList<FixedIpInfo> &records)
{
    QByteArray out;
    out.reserve(records.size() * kFixedIpInfoSize);
    for (const auto &r : records)
        out.append(r.encode());
    return out;
}

QByteArray dynamicList(const QList<DynamicIpList> &records)
{
    QByteArray out;
    out.reserve(records.size() * kDynamicIpListSize);
    for (const auto &r : records)
        out.append(r.encode());
    return out;
}

QByteArray memoList(const QList<MemoInfo> &records)
{
    QByteArray out;
    for (const auto &r : records)
        out.append(r.encode());
    return out;
}

QByteArray addressList(const QStringList &addresses)
{
    QByteArray out;
    for (const auto &a : addresses)
        out.append(encodeAddress(a));
    return out;
}

QByteArray expireDate(int64_t seconds)
{
    QByteArray out;
    appendU32(out, uint32_t(uint64_t(seconds) & 0xFFFFFFFFu));
    appendU32(out, uint32_t(uint64_t(seconds) >> 32));
    return out;
}

} // namespace SessionEncode
