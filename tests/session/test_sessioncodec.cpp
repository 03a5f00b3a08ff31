// The session frames and records, checked byte by byte at the documented
// offsets, and the reader's acceptance rules.
#include "session/sessioncodec.h"
#include "session/sessiondispatcher.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <functional>

using namespace SessionWire;

namespace {

uint32_t u32At(const QByteArray &b, qsizetype off)
{
    const auto *u = reinterpret_cast<const unsigned char *>(b.constData() + off);
    return uint32_t(u[0]) | (uint32_t(u[1]) << 8) | (uint32_t(u[2]) << 16) | (uint32_t(u[3]) << 24);
}

QByteArray le32(uint32_t v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

// A text field: the bytes up to the first zero.
QByteArray fieldText(const QByteArray &b, qsizetype off, qsizetype size)
{
    const QByteArray f = b.mid(off, size);
    const qsizetype z = f.indexOf('\0');
    return z < 0 ? f : f.left(z);
}

QByteArray rawFrame(uint32_t length, uint32_t type, uint32_t param, const QByteArray &payload)
{
    return le32(length) + le32(type) + le32(param) + payload;
}

} // namespace

TEST(SessionFrame, HeaderIsLengthTypeParamLittleEndian)
{
    const QByteArray f =
        encodeFrame(SM_IP_CHANGE_REQUEST, 1, encodeAddress(QStringLiteral("10.20.30.40")));
    ASSERT_EQ(f.size(), 16);
    EXPECT_EQ(f.toHex(),
              QByteArray("10000000"
                         "03000000"
                         "01000000"
                         "0a141e28"));
    const QByteArray empty = encodeFrame(SM_IP_INFO_REQUEST, 0);
    EXPECT_EQ(empty.toHex(),
              QByteArray("0c000000"
                         "02000000"
                         "00000000"));
}

TEST(SessionFrame, ScanAcceptsWholeFramesAndRefusesImpossibleLengths)
{
    struct Case
    {
        uint32_t length;
        qsizetype have;
        FrameScan expected;
    };
    const Case cases[] = {
        {12, 12, FrameScan::Complete},
        {11, 12, FrameScan::Bad},
        {0, 12, FrameScan::Bad},
        {4, 4, FrameScan::Bad},
        {20, 19, FrameScan::NeedMore},
        {491532, 12, FrameScan::NeedMore}, // body 491,528: the largest frame
        {491533, 12, FrameScan::Bad}, // body one byte above the buffer
        {0xFFFFFFFFu, 12, FrameScan::Bad},
    };
    for (const auto &c : cases) {
        QByteArray buf = le32(c.length);
        buf.append(QByteArray(c.have - 4, '\0'));
        qint64 len = 0;
        EXPECT_EQ(scanFrame(buf, &len), c.expected) << "length " << c.length;
        if (c.expected == FrameScan::Complete) {
            EXPECT_EQ(len, c.length);
        }
    }
    qint64 len = 0;
    EXPECT_EQ(scanFrame(QByteArray("\x0c\x00\x00", 3), &len), FrameScan::NeedMore);
}

TEST(SessionFrame, RecordCountMustFitThePayloadCapacity)
{
    struct Case
    {
        int type;
        int product;
        uint32_t count;
        bool fits;
    };
    const Case cases[] = {
        {SM_IP_INFO, kProductFixed, 1807, true},
        {SM_IP_INFO, kProductFixed, 1808, false},
        {SM_IP_INFO_UPDATE, kProductKtFixed, 1808, false},
        {SM_IP_INFO, kProductDynamic, 7228, true},
        {SM_IP_INFO, kProductDynamic, 7229, false},
        {SM_IP_INFO_UPDATE, kProductDynamic, 7229, false},
        {SM_DYNAMIC_IP_INFO, kProductFixed, 7228, true},
        {SM_DYNAMIC_IP_INFO, kProductFixed, 7229, false},
        {SM_MEMO_LIST, kProductFixed, 1890, true},
        {SM_MEMO_LIST, kProductFixed, 1891, false},
        {SM_BAD_IP_LIST, kProductFixed, 122880, true},
        {SM_BAD_IP_LIST, kProductFixed, 122881, false},
        {SM_IP_SHARE_ADD, kProductFixed, 122879, true},
        {SM_IP_SHARE_REMOVE, kProductFixed, 122880, false},
        {SM_BAD_IP_LIST, kProductFixed, 0xFFFFFFFFu, false},
        {SM_LOGIN_OK, kProductFixed, 0xFFFFFFFFu, true}, // param not read
    };
    for (const auto &c : cases) {
        SessionFrame f {c.type, c.count, {}};
        EXPECT_EQ(frameRecordsFit(f, c.product), c.fits) << c.type << " x" << c.count;
    }
}

TEST(LoginPacketRecord, FieldsAtTheirOffsets)
{
    LoginInfo s;
    s.parentId = QStringLiteral("parent01");
    s.userId = QStringLiteral("fixip@홍길동");
    s.tunnelAddress = QStringLiteral("10.8.0.6");
    s.pcName = QStringLiteral("DESKTOP-1");
    s.tunnelType = 2;
    s.productType = kProductDynamic;
    s.productCode = QStringLiteral("DYN30");
    const QByteArray p = LoginPacket::fromState(s).encode();
    ASSERT_EQ(p.size(), 812);
    EXPECT_EQ(fieldText(p, 0, 256), QByteArray("parent01"));
    // Korean text travels in code page 949: 홍 = B0 FA? check through the code page.
    EXPECT_EQ(fieldText(p, 256, 256), QByteArray("fixip@\xc8\xab\xb1\xe6\xb5\xbf"));
    EXPECT_EQ(p.mid(512, 4).toHex(), QByteArray("0a080006"));
    EXPECT_EQ(fieldText(p, 516, 256), QByteArray("DESKTOP-1"));
    EXPECT_EQ(u32At(p, 772), 0u); // OpenVPN
    EXPECT_EQ(u32At(p, 776), 1u); // dynamic
    EXPECT_EQ(fieldText(p, 780, 32), QByteArray("DYN30"));
    // Everything after each text is zero-filled.
    EXPECT_EQ(p.mid(8, 248), QByteArray(248, '\0'));
    EXPECT_EQ(p.mid(785, 27), QByteArray(27, '\0'));
}

TEST(LoginPacketRecord, FlagsAndFallbacksFollowTunnelAndProduct)
{
    struct Case
    {
        int tunnel;
        int product;
        uint32_t dialUp;
        uint32_t dynamic;
        bool codeSent;
    };
    const Case cases[] = {
        {1, 1, 1, 0, false}, {2, 1, 0, 0, false}, {3, 1, 1, 0, false},
        {1, 2, 1, 1, true},  {2, 2, 0, 1, true},  {3, 3, 1, 0, false},
    };
    for (const auto &c : cases) {
        LoginInfo s;
        s.userId = QStringLiteral("u");
        s.tunnelAddress = QStringLiteral("172.16.1.2");
        s.tunnelType = c.tunnel;
        s.productType = c.product;
        s.productCode = QStringLiteral("P1");
        const QByteArray p = LoginPacket::fromState(s).encode();
        EXPECT_EQ(u32At(p, 772), c.dialUp) << c.tunnel << "/" << c.product;
        EXPECT_EQ(u32At(p, 776), c.dynamic) << c.tunnel << "/" << c.product;
        EXPECT_EQ(fieldText(p, 780, 32), c.codeSent ? QByteArray("P1") : QByteArray());
        // No computer name: the tunnel address as dotted text.
        EXPECT_EQ(fieldText(p, 516, 256), QByteArray("172.16.1.2"));
    }
}

TEST(LoginPacketRecord, OverLongTextsAreCutAtAWholeCharacter)
{
    LoginInfo s;
    s.tunnelAddress = QStringLiteral("10.0.0.1");
    s.productType = kProductDynamic;
    // 255 bytes fit exactly, the terminating zero in the last byte.
    s.userId = QString(255, QLatin1Char('a'));
    // 128 Korean characters are 256 bytes: only 127 whole ones fit.
    s.parentId = QString(128, QChar(0xAC00));
    s.productCode = QString(40, QLatin1Char('c'));
    QStringList cut;
    const QByteArray p = LoginPacket::fromState(s).encode(&cut);
    EXPECT_EQ(p.mid(256, 255), QByteArray(255, 'a'));
    EXPECT_EQ(p[511], '\0');
    EXPECT_EQ(fieldText(p, 0, 256).size(), 254);
    EXPECT_EQ(p.mid(254, 2), QByteArray(2, '\0'));
    EXPECT_EQ(fieldText(p, 780, 32), QByteArray(31, 'c'));
    EXPECT_EQ(cut, (QStringList {QStringLiteral("parentId"), QStringLiteral("productCode")}));

    const LoginPacket back = LoginPacket::decode(p);
    EXPECT_EQ(back.parentId, QString(127, QChar(0xAC00)));
    EXPECT_EQ(back.userId, QString(255, QLatin1Char('a')));
    EXPECT_FALSE(textFitsField(QString(128, QChar(0xAC00)), 256));
    EXPECT_TRUE(textFitsField(QString(127, QChar(0xAC00)), 256));
}

TEST(SessionRecords, FixedIpInfoLayout)
{
    QByteArray rec = encodeAddress(QStringLiteral("211.45.1.9")) + le32(uint32_t(-3)) + le32(2) +
        le32(uint32_t(-1)) + QByteArray("PC-\xb0\xa1");
    rec.append(QByteArray(272 - rec.size(), '\0'));
    const FixedIpInfo r = FixedIpInfo::decode(rec.constData());
    EXPECT_EQ(r.address, QStringLiteral("211.45.1.9"));
    EXPECT_EQ(r.userNumber, -3);
    EXPECT_EQ(r.state, 2);
    EXPECT_EQ(r.days, -1);
    EXPECT_EQ(r.pcName, QStringLiteral("PC-가"));
    EXPECT_EQ(r.encode(), rec);
}

TEST(SessionRecords, DynamicRecordKeepsItsLeadBytes)
{
    QByteArray lead(64, '\0');
    for (int i = 0; i < 64; ++i)
        lead[i] = char(i * 3 + 1);
    const QByteArray rec = lead + encodeAddress(QStringLiteral("1.2.3.4"));
    const DynamicIpList r = DynamicIpList::decode(rec.constData());
    EXPECT_EQ(QByteArray(r.lead.data(), 64), lead);
    EXPECT_EQ(r.address, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(r.encode(), rec);
}

TEST(SessionRecords, MemoAndBadIpLayouts)
{
    MemoInfo m {42, QStringLiteral("it\\'s 메모")};
    const QByteArray mb = m.encode();
    ASSERT_EQ(mb.size(), 260);
    EXPECT_EQ(u32At(mb, 0), 42u);
    EXPECT_EQ(fieldText(mb, 4, 256), QByteArray("it\\'s \xb8\xde\xb8\xf0"));
    EXPECT_EQ(MemoInfo::decode(mb.constData()).text, m.text);

    BadIpInfo b {3, QStringLiteral("5.6.7.8"), QStringLiteral("게임 접속불가")};
    const QByteArray bb = b.encode();
    ASSERT_EQ(bb.size(), 8200);
    EXPECT_EQ(u32At(bb, 0), 3u);
    EXPECT_EQ(bb.mid(4, 4).toHex(), QByteArray("05060708"));
    EXPECT_EQ(BadIpInfo::decode(bb).reason, b.reason);
    EXPECT_EQ(bb[8199], '\0');

    bool cut = false;
    BadIpInfo longReason {0, QStringLiteral("1.1.1.1"), QString(8192, QLatin1Char('x'))};
    const QByteArray lb = longReason.encode(&cut);
    EXPECT_TRUE(cut);
    EXPECT_EQ(fieldText(lb, 8, 8192).size(), 8191);
}

TEST(SessionRecords, PcNamePayloadsAndTheirCut)
{
    IpPcNotice n {QStringLiteral("9.9.9.9"), QStringLiteral("사무실")};
    const QByteArray nb = n.encode();
    EXPECT_EQ(nb.mid(0, 4).toHex(), QByteArray("09090909"));
    EXPECT_EQ(u32At(nb, 4), 6u);
    EXPECT_EQ(nb.size(), 14);
    SessionFrame f {SM_IP_TAKEN, 0, nb};
    const IpPcNotice back = SessionDecode::ipPcNotice(f);
    EXPECT_EQ(back.address, n.address);
    EXPECT_EQ(back.pcName, n.pcName);

    // An announced name length above 255 is read as 255 bytes.
    QByteArray longName =
        encodeAddress(QStringLiteral("9.9.9.9")) + le32(300) + QByteArray(300, 'n');
    EXPECT_EQ(SessionDecode::ipPcNotice({SM_IP_IN_USE, 0, longName}).pcName,
              QString(255, QLatin1Char('n')));

    IpShareNotice s {{QStringLiteral("1.0.0.1"), QStringLiteral("1.0.0.2")}, QStringLiteral("PC2")};
    const QByteArray sb = s.encode();
    EXPECT_EQ(sb.toHex(),
              QByteArray("01000001"
                         "01000002"
                         "03000000"
                         "504332"));
    const IpShareNotice sback = SessionDecode::ipShareNotice({SM_IP_SHARE_ADD, 2, sb});
    EXPECT_EQ(sback.addresses, s.addresses);
    EXPECT_EQ(sback.pcName, s.pcName);
}

TEST(SessionRecords, CountBeyondTheRecordsSentReadsZeroRecords)
{
    FixedIpInfo one {QStringLiteral("8.8.4.4"), 7, 1, 30, {}};
    const SessionFrame f {SM_IP_INFO, 3, one.encode()};
    ASSERT_TRUE(frameRecordsFit(f, kProductFixed));
    const QList<FixedIpInfo> list = SessionDecode::fixedList(f);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].address, QStringLiteral("8.8.4.4"));
    EXPECT_EQ(list[0].days, 30);
    EXPECT_EQ(list[1].address, QStringLiteral("0.0.0.0"));
    EXPECT_EQ(list[2].state, 0); // "불가"

    // A payload that ends inside a record: the record's missing bytes and
    // every later record read as zeros, for each kind of list.
    const QByteArray addresses =
        encodeAddress(QStringLiteral("1.2.3.4")) + QByteArray("\x05\x06", 2);
    EXPECT_EQ(SessionDecode::addressList({SM_BAD_IP_LIST, 4, addresses}),
              QStringList({QStringLiteral("1.2.3.4"), QStringLiteral("5.6.0.0"),
                           QStringLiteral("0.0.0.0"), QStringLiteral("0.0.0.0")}));
    // The reported list is a set: the zero address once, whatever the count.
    const struct
    {
        uint32_t count;
        QStringList reported;
    } sets[] = {
        {0, {}},
        {1, {QStringLiteral("1.2.3.4")}},
        {2, {QStringLiteral("1.2.3.4"), QStringLiteral("5.6.0.0")}},
        {4, {QStringLiteral("1.2.3.4"), QStringLiteral("5.6.0.0"), QStringLiteral("0.0.0.0")}},
        {122880,
         {QStringLiteral("1.2.3.4"), QStringLiteral("5.6.0.0"), QStringLiteral("0.0.0.0")}}};
    for (const auto &c : sets)
        EXPECT_EQ(SessionDecode::reportedList({SM_BAD_IP_LIST, c.count, addresses}), c.reported)
            << c.count;
    QByteArray dynamic(kDynamicIpListSize + 66, '\x07');
    const QList<DynamicIpList> d = SessionDecode::dynamicList({SM_DYNAMIC_IP_INFO, 3, dynamic});
    ASSERT_EQ(d.size(), 3);
    EXPECT_EQ(d[0].address, QStringLiteral("7.7.7.7"));
    EXPECT_EQ(d[1].lead[63], '\x07');
    EXPECT_EQ(d[1].address, QStringLiteral("7.7.0.0"));
    EXPECT_EQ(d[2].lead[0], '\0');
    EXPECT_EQ(d[2].address, QStringLiteral("0.0.0.0"));
    const QList<MemoInfo> m = SessionDecode::memoList({SM_MEMO_LIST, 2, {}});
    ASSERT_EQ(m.size(), 2);
    EXPECT_EQ(m[1].userNumber, 0);
    EXPECT_TRUE(m[1].text.isEmpty());

    const SessionFrame e {SM_EXPIRE_DATE, 0, SessionEncode::expireDate(4102444800LL)};
    EXPECT_EQ(e.payload.toHex(), QByteArray("005786f400000000"));
    EXPECT_EQ(SessionDecode::expireDate(e), 4102444800LL);
}

TEST(SessionDispatch, EachTypeReachesItsOwnSignal)
{
    SessionDispatcher d;
    QStringList seen;
    auto note = [&seen](const QString &what) {
        seen.append(what);
    };
    QObject::connect(&d, &SessionDispatcher::loginAccepted, [&] { note(QStringLiteral("ok")); });
    QObject::connect(&d, &SessionDispatcher::loginRefused, [&] { note(QStringLiteral("fail")); });
    QObject::connect(&d, &SessionDispatcher::expireDateReceived,
                     [&](qint64 t) { note(QStringLiteral("expire %1").arg(t)); });
    QObject::connect(&d, &SessionDispatcher::fixedListReceived, [&](const QList<FixedIpInfo> &l) {
        note(QStringLiteral("fixed %1 %2").arg(l.size()).arg(l.value(0).address));
    });
    QObject::connect(
        &d, &SessionDispatcher::dynamicListReceived, [&](const QList<DynamicIpList> &l) {
            note(QStringLiteral("dynamic %1 %2").arg(l.size()).arg(l.value(0).address));
        });
    QObject::connect(&d, &SessionDispatcher::fixedListUpdated, [&](const QList<FixedIpInfo> &l) {
        note(QStringLiteral("fixed-update %1").arg(l.size()));
    });
    QObject::connect(&d, &SessionDispatcher::dynamicListUpdated,
                     [&](const QList<DynamicIpList> &l) {
                         note(QStringLiteral("dynamic-update %1").arg(l.size()));
                     });
    QObject::connect(
        &d, &SessionDispatcher::dynamicIpInfoReceived,
        [&](const QList<DynamicIpList> &l) { note(QStringLiteral("dyn31 %1").arg(l.size())); });
    QObject::connect(&d, &SessionDispatcher::changeCompleted,
                     [&](const QString &a) { note(QStringLiteral("changed ") + a); });
    QObject::connect(&d, &SessionDispatcher::changeFailed,
                     [&] { note(QStringLiteral("change-failed")); });
    QObject::connect(&d, &SessionDispatcher::addressInUse, [&](const IpPcNotice &n) {
        note(QStringLiteral("in-use %1 %2").arg(n.address, n.pcName));
    });
    QObject::connect(&d, &SessionDispatcher::addressTaken, [&](const IpPcNotice &n) {
        note(QStringLiteral("taken %1 %2").arg(n.address, n.pcName));
    });
    QObject::connect(&d, &SessionDispatcher::addressReleased,
                     [&](const QString &a) { note(QStringLiteral("released ") + a); });
    QObject::connect(&d, &SessionDispatcher::addressShared, [&](const IpShareNotice &n) {
        note(QStringLiteral("shared %1 %2").arg(n.addresses.join(u','), n.pcName));
    });
    QObject::connect(&d, &SessionDispatcher::addressUnshared, [&](const IpShareNotice &n) {
        note(QStringLiteral("unshared %1 %2").arg(n.addresses.join(u','), n.pcName));
    });
    QObject::connect(&d, &SessionDispatcher::addressesAdded,
                     [&] { note(QStringLiteral("added")); });
    QObject::connect(&d, &SessionDispatcher::sessionEnded,
                     [&](int t) { note(QStringLiteral("end %1").arg(t)); });
    QObject::connect(&d, &SessionDispatcher::reportedListReceived, [&](const QStringList &l) {
        note(QStringLiteral("reported ") + l.join(u','));
    });
    QObject::connect(&d, &SessionDispatcher::memoListReceived, [&](const QList<MemoInfo> &l) {
        note(QStringLiteral("memos %1 %2").arg(l.size()).arg(l.value(0).text));
    });
    QObject::connect(&d, &SessionDispatcher::messageIgnored,
                     [&](int t) { note(QStringLiteral("ignored %1").arg(t)); });

    const QByteArray fixed = FixedIpInfo {QStringLiteral("3.3.3.3"), 1, 1, 2, {}}.encode();
    DynamicIpList dynRecord;
    dynRecord.lead.fill('x');
    dynRecord.address = QStringLiteral("4.4.4.4");
    const QByteArray dyn = dynRecord.encode();
    const QByteArray pc = IpPcNotice {QStringLiteral("5.5.5.5"), QStringLiteral("PCX")}.encode();
    const QByteArray share =
        IpShareNotice {{QStringLiteral("6.6.6.6")}, QStringLiteral("PCY")}.encode();
    struct Case
    {
        SessionFrame frame;
        int product;
        QString expected;
    };
    const Case cases[] = {
        {{7, 0, {}}, 1, QStringLiteral("ok")},
        {{8, 0, {}}, 1, QStringLiteral("fail")},
        {{9, 0, SessionEncode::expireDate(1700000000)}, 1, QStringLiteral("expire 1700000000")},
        {{10, 1, fixed}, 1, QStringLiteral("fixed 1 3.3.3.3")},
        {{10, 1, fixed}, 3, QStringLiteral("fixed 1 3.3.3.3")},
        {{10, 1, dyn}, 2, QStringLiteral("dynamic 1 4.4.4.4")},
        {{11, 1, fixed}, 1, QStringLiteral("fixed-update 1")},
        {{11, 2, dyn + dyn}, 2, QStringLiteral("dynamic-update 2")},
        {{31, 1, dyn}, 1, QStringLiteral("dyn31 1")},
        {{12, 0, encodeAddress(QStringLiteral("7.7.7.7"))}, 1, QStringLiteral("changed 7.7.7.7")},
        {{13, 0, {}}, 1, QStringLiteral("change-failed")},
        {{14, 0, pc}, 1, QStringLiteral("in-use 5.5.5.5 PCX")},
        {{15, 0, pc}, 2, QStringLiteral("taken 5.5.5.5 PCX")},
        {{16, 0, encodeAddress(QStringLiteral("8.8.8.8"))}, 1, QStringLiteral("released 8.8.8.8")},
        {{17, 1, share}, 1, QStringLiteral("shared 6.6.6.6 PCY")},
        {{18, 1, share}, 1, QStringLiteral("unshared 6.6.6.6 PCY")},
        {{19, 0, {}}, 1, QStringLiteral("added")},
        {{20, 0, {}}, 1, QStringLiteral("end 20")},
        {{21, 0, {}}, 2, QStringLiteral("end 21")},
        {{22, 0, {}}, 1, QStringLiteral("end 22")},
        {{23, 0, {}}, 1, QStringLiteral("end 23")},
        {{25, 2,
          SessionEncode::addressList({QStringLiteral("1.1.1.1"), QStringLiteral("2.2.2.2")})},
         1,
         QStringLiteral("reported 1.1.1.1,2.2.2.2")},
        {{28, 1, MemoInfo {5, QStringLiteral("메모")}.encode()}, 1, QStringLiteral("memos 1 메모")},
    };
    for (const auto &c : cases) {
        seen.clear();
        d.dispatch(c.frame, c.product);
        EXPECT_EQ(seen, QStringList {c.expected}) << "type " << c.frame.type;
    }
    for (int t : {1, 2, 3, 4, 5, 6, 24, 26, 27, 29, 30, 32, 99}) {
        seen.clear();
        d.dispatch({t, 0, {}}, 1);
        EXPECT_EQ(seen, QStringList {QStringLiteral("ignored %1").arg(t)});
    }
}

TEST(SessionFrame, DecodeSplitsAWholeFrame)
{
    const QByteArray raw = rawFrame(16, SM_IP_RELEASED, 9, QByteArray("\x01\x02\x03\x04", 4));
    const SessionFrame f = decodeFrame(raw);
    EXPECT_EQ(f.type, SM_IP_RELEASED);
    EXPECT_EQ(f.param, 9u);
    EXPECT_EQ(SessionDecode::address(f), QStringLiteral("1.2.3.4"));
}

TEST(SessionFrame, TakeFrameLeavesWhatFollowsAndSparesSharedBytes)
{
    const QByteArray one = rawFrame(16, SM_IP_RELEASED, 9, QByteArray("\x01\x02\x03\x04", 4));
    const QByteArray two = rawFrame(20, SM_EXPIRE_DATE, 0, QByteArray(8, '\x05'));
    struct Case
    {
        const char *name;
        QByteArray buffer;
        QByteArray payload;
        QByteArray left;
    } cases[] = {
        {"alone", one, one.mid(12), {}},
        {"followed by a whole frame", one + two, one.mid(12), two},
        {"followed by a partial frame", one + two.left(5), one.mid(12), two.left(5)},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        // Once as the only holder of the bytes, once with a copy that
        // must keep them.
        for (bool shared : {false, true}) {
            QByteArray buffer(c.buffer.constData(), c.buffer.size());
            const QByteArray copy = shared ? buffer : QByteArray();
            qint64 length = 0;
            ASSERT_EQ(scanFrame(buffer, &length), FrameScan::Complete);
            const SessionFrame f = takeFrame(buffer, length);
            EXPECT_EQ(f.type, SM_IP_RELEASED);
            EXPECT_EQ(f.param, 9u);
            EXPECT_EQ(f.payload, c.payload);
            EXPECT_EQ(buffer, c.left);
            if (shared) {
                EXPECT_EQ(copy, c.buffer);
            }
        }
    }
}
