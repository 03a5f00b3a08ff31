// Every web reply the sign-in and the download read. The first byte picks
// the reply, the rest is the reply body as the transport received it; the
// body is decoded the way that reply's transport decodes it and then read by
// the same function the sign-in, the version check, the tunnel or the
// download uses. What a reader hands on is checked: a value that reaches a
// command line, a file name, a frame or the settings file must be one the
// reader promises.
#include "fuzzsupport.h"

#include "core/settings.h"
#include "platform/ipv4.h"
#include "session/sessioncodec.h"
#include "signin/signinsequence.h"
#include "tunnel/ovpnoutput.h"
#include "update/downloadjob.h"
#include "update/versioncheck.h"
#include "web/servicerequests.h"
#include "web/webtransport.h"

#include <QRegularExpression>

#include <cstdlib>

namespace {
enum Reply : uint8_t {
    Availability,
    Parent,
    Server,
    Qos,
    ProductList,
    Version,
    DownloadList,
    KillLoggedIn,
    ReplyCount
};

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void availability(const QString &reply)
{
    const SignInSequence::Availability a = SignInSequence::readAvailability(reply);
    check(!a.plainOk || a.mentionsOk);
    check(!(a.failure && a.plainOk));
    // The failure report sends the extra text back; the split keeps every
    // character of the reply.
    const AvailabilityReply split = AvailabilityReply::split(reply);
    check(split.token.size() + split.extra.size() + (split.token.size() < reply.size() ? 1 : 0) ==
          reply.size());
    check(!split.token.contains(QLatin1Char(':')));
}

void parent(const QString &reply)
{
    // Taken as it comes; it travels in the session's sign-in frame.
    LoginPacket p;
    p.parentId = reply;
    p.userId = QStringLiteral("KVO@fuzz");
    p.tunnelAddress = QStringLiteral("10.8.0.6");
    QStringList cut;
    const QByteArray bytes = p.encode(&cut);
    check(bytes.size() == SessionWire::kLoginPacketSize);
    const LoginPacket back = LoginPacket::decode(bytes);
    // However long or odd, the parent ID stays inside its own field.
    check(back.userId == p.userId && back.tunnelAddress == p.tunnelAddress);
}

void server(const QString &reply)
{
    const QString s = SignInSequence::readServer(reply);
    if (s.isEmpty())
        return;
    check(s == reply && isServerAddress(s));
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9.-]+$"));
    check(plain.match(s).hasMatch() && !s.startsWith(QLatin1Char('-')));
}

void qos(const QString &reply)
{
    const quint32 value = OvpnOutput::qosFromReply(reply);
    check(OvpnOutput::shaperRate(value) <= 100000000u);
    const int asInt = ServiceRequests::qosValue(reply);
    check(asInt >= 0 || value == 0);
}

void productList(const QString &reply)
{
    for (const auto &[name, code] : offeredProducts(reply)) {
        check(!code.isEmpty());
        check(!name.contains(QLatin1Char(',')) && !code.contains(QLatin1Char(',')));
    }
    parseProductMap(reply);
    // The list is kept in the settings file and read back from there by the
    // sign-in dialog: what it reads is what was written (without line breaks,
    // which the file cannot hold, and without blanks at either end, which a
    // value read from the file never has), and the file's other values stay
    // as they were.
    Settings settings(fuzzDir().filePath(QStringLiteral("products.ini")));
    check(settings.write(SettingKeys::Entry, SettingKeys::ServiceType, 2));
    if (settings.write(SettingKeys::Entry, SettingKeys::DynamicProductList, reply)) {
        QString expected = reply;
        expected.remove(QLatin1Char('\r'));
        expected.remove(QLatin1Char('\n'));
        expected = expected.trimmed();
        check(settings.readString(SettingKeys::Entry, SettingKeys::DynamicProductList) == expected);
        check(settings.readInt(SettingKeys::Entry, SettingKeys::ServiceType, 0) == 2);
    }
}

void version(const QString &reply)
{
    const bool newer = isNewerVersion(reply, localVersionText());
    check(!(newer && reply.isEmpty()));
    check(!(newer && isNewerVersion(localVersionText(), reply)));
}

void downloadList(const QString &reply)
{
    QStringList entries, names;
    if (!DownloadJob::readFileList(reply, &entries, &names)) {
        check(entries.isEmpty() && names.isEmpty());
        return;
    }
    check(entries.size() == names.size());
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]*$"));
    for (qsizetype i = 0; i < names.size(); ++i) {
        check(names[i].isEmpty() == entries[i].isEmpty());
        if (names[i].isEmpty())
            continue;
        check(plain.match(names[i]).hasMatch() && names[i].size() <= 64);
        check(entries[i].startsWith(QLatin1String("http"), Qt::CaseInsensitive));
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzApp();
    if (size == 0)
        return 0;
    const Reply which = Reply(data[0] % ReplyCount);
    const QByteArray body(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    // The service form's replies are decoded whole, the two plain transports'
    // (QoS, driver file list) line by line.
    switch (which) {
    case Availability:
        availability(ReplyText::whole(body));
        break;
    case Parent:
        parent(ReplyText::whole(body));
        break;
    case Server:
        server(ReplyText::whole(body));
        break;
    case Qos:
        qos(ReplyText::joinedLines(body));
        break;
    case ProductList:
        productList(ReplyText::whole(body));
        break;
    case Version:
        version(ReplyText::whole(body));
        break;
    case DownloadList:
        downloadList(ReplyText::joinedLines(body));
        break;
    case KillLoggedIn: {
        const QString text = ReplyText::whole(body);
        // Only the exact word counts as the old connection ended.
        check((text == QLatin1String("SUCCESS")) == (body == "SUCCESS"));
        break;
    }
    case ReplyCount:
        break;
    }
    return 0;
}
