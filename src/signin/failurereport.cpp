#include "failurereport.h"

#include "platform/codepage.h"
#include "platform/eventwait.h"
#include "platform/prompter.h"
#include "system/linecheck.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

// Dial-up message by code.
struct FormatRow
{
    std::initializer_list<int> codes;
    const char16_t *format;
};
const FormatRow kFormats[] = {
    {{619, 651, 806, 807, 809},
     u"%1 : 공유기 및 네트워크 장비의 설정 문제이거나 다른 PC에서 사용중입니다."},
    {{624, 711, 720, 756}, u"%1 : 윈도우의 서비스 설정변경이 필요합니다."},
    {{628, 629, 633, 668, 691, 718, 734, 769},
     u"%1 : 인터넷회선이 안정적이지 못합니다. 로그인화면에서 회선점검이 가능합니다."},
    {{632}, u"%1 : 모라솔 프로그램을 고객님의 OS에 맞게 재설치 해주세요."},
    {{638}, u"%1 : 요청이 시간 초과되었습니다."},
    {{778}, u"%1 : 서버의 ID를 확인 할 수 없습니다."},
};
const char16_t *const kFormatOther = u"%1 : 문제가 지속되시면 모라솔 고객상담센터에 연락주세요.";

// What follows the message: the appended line, the box and the answer.
enum class Follow {
    FaqOnYes, // Yes/No; Yes opens the FAQ page; 0
    LineCheckOnOk, // OK/Cancel; OK: the line check's answer; Cancel: 0
    RetryOnCancel, // OK/Cancel; OK: 0; Cancel: 1
    Retry, // OK; 1
};
struct PromptRow
{
    std::initializer_list<int> codes;
    const char16_t *appended;
    Follow follow;
};
const char16_t *const kCallCentre = u"\n문제가 지속되시면 모라솔 고객상담센터에 연락주세요.";
const PromptRow kPrompts[] = {
    {{619, 651, 806, 807, 809}, u"\nFAQ(공유기 설정 방법)를 보시겠습니까?", Follow::FaqOnYes},
    {{624, 711, 720}, u"\nFAQ(윈도우 서비스 시작 방법)를 보시겠습니까?", Follow::FaqOnYes},
    {{678}, u"\nFAQ(방화벽 및 핑 체크 방법)를 보시겠습니까?", Follow::FaqOnYes},
    {{638, 734}, kCallCentre, Follow::LineCheckOnOk},
    {{668, 718, 769}, u"", Follow::LineCheckOnOk},
    {{628, 629, 633, 691}, u"", Follow::RetryOnCancel},
    {{778}, kCallCentre, Follow::RetryOnCancel},
    {{632}, kCallCentre, Follow::Retry},
    {{756}, u"\n문제가 지속되시면 컴퓨터를 재부팅 해주십시요.", Follow::Retry},
};
const PromptRow kPromptOther = {{}, u"", Follow::Retry};

template<typename Row>
const Row *findRow(const Row *begin, const Row *end, int code)
{
    for (const Row *r = begin; r != end; ++r) {
        if (std::find(r->codes.begin(), r->codes.end(), code) != r->codes.end())
            return r;
    }
    return nullptr;
}

// Availability reply tokens.
enum class TokenAction { None, SignedInPage, EndOldConnection };
struct TokenRow
{
    const char16_t *token;
    const char16_t *message;
    unsigned flags;
    TokenAction action;
    SignedInTarget target;
};
const char16_t *const kExpired = u"서비스 사용기간이 만료되었습니다. 연장하시겠습니까?";
const char16_t *const kWrongCredentials =
    u"입력하신 아이디 혹은 패스워드가 틀렸습니다. 다시 로그인 해 주십시오.";
const TokenRow kTokens[] = {
    {u"NO_EXIST_ID", kWrongCredentials, Mb::Failure, TokenAction::None, SignedInTarget::None},
    {u"NOT_CORRECT_PASSWORD", kWrongCredentials, Mb::Failure, TokenAction::None,
     SignedInTarget::None},
    {u"NO_IP", kExpired, Mb::Question, TokenAction::SignedInPage, SignedInTarget::FixedExpired},
    {u"DYNAMIC_NO_IP", kExpired, Mb::Question, TokenAction::SignedInPage,
     SignedInTarget::DynamicExpired},
    {u"PREMIUM_NO_IP", u"KT고정IP 서비스 사용기간이 만료되었습니다. 연장하시겠습니까?",
     Mb::Question, TokenAction::SignedInPage, SignedInTarget::FixedPurchase},
    {u"ALEADY_USE_IP", u"현재 사용중인 IP의 아이디 입니다.", Mb::Failure, TokenAction::None,
     SignedInTarget::None},
    {u"ALEADY_LOGGED_IN",
     u"이미 연결되어 있거나 기존 연결이 종료되지 않았습니다. 강제종료 후 다시 접속 하시겠습니까?",
     Mb::Question, TokenAction::EndOldConnection, SignedInTarget::None},
    {u"DYNAMIC_ALEADY_LOGGED_IN",
     u"이미 유동IP로 로그인되어 있습니다. 강제종료 후 다시 접속 하시겠습니까?", Mb::Question,
     TokenAction::EndOldConnection, SignedInTarget::None},
};

int endOldConnection(const QString &extra, const FailureContext &ctx, Prompter &prompter,
                     FailureReportServices &services)
{
    const QString reply = services.killLoggedIn(ctx.userId, ctx.password, extra);
    if (reply == QStringLiteral("SUCCESS")) {
        waitWhileDispatching(1000);
        return 1;
    }
    prompter.show(QStringLiteral("기존 연결을 종료하는데 실패하였습니다."), kNoticeCaption,
                  Mb::SystemModal);
    return 0;
}

} // namespace

QString dialupFailureMessage(int code)
{
    const FormatRow *f = findRow(std::begin(kFormats), std::end(kFormats), code);
    const PromptRow *p = findRow(std::begin(kPrompts), std::end(kPrompts), code);
    return QString::fromUtf16(f ? f->format : kFormatOther).arg(code) +
        QString::fromUtf16((p ? p : &kPromptOther)->appended);
}

int ReportFailure(int code, const QString &reply, const FailureContext &ctx, Prompter &prompter,
                  FailureReportServices &services)
{
    int result = 0;
    QString reportText;

    if (code != 0 && ctx.tunnelType != 1 && ctx.tunnelType != 3) {
        // The OpenVPN driver's start errors.
        reportText = code == 11 ? QStringLiteral("TAP 인터페이스에 문제가 있습니다.")
                                : QStringLiteral("OPENVPN 실행에 문제가 있습니다.");
        prompter.show(reportText, kNoticeCaption, Mb::Failure);
    } else if (code != 0) {
        reportText = dialupFailureMessage(code);
        const PromptRow *row = findRow(std::begin(kPrompts), std::end(kPrompts), code);
        switch ((row ? row : &kPromptOther)->follow) {
        case Follow::FaqOnYes:
            if (prompter.show(reportText, kNoticeCaption, Mb::Question) == IdYes)
                services.openErrorFaq(code);
            break;
        case Follow::LineCheckOnOk:
            if (prompter.show(reportText, kNoticeCaption, Mb::RetryChoice) == IdOk)
                result = services.lineCheck(ctx.server) ? 1 : 0;
            break;
        case Follow::RetryOnCancel:
            result = prompter.show(reportText, kNoticeCaption, Mb::RetryChoice) == IdCancel ? 1 : 0;
            break;
        case Follow::Retry:
            prompter.show(reportText, kNoticeCaption, Mb::Failure);
            result = 1;
            break;
        }
    } else {
        const qsizetype colon = reply.indexOf(QLatin1Char(':'));
        const QString token = colon < 0 ? reply : reply.left(colon);
        const QString extra = colon < 0 ? QString() : reply.mid(colon + 1);
        reportText = token;
        for (const TokenRow &row : kTokens) {
            if (token != QString::fromUtf16(row.token))
                continue;
            const int answer =
                prompter.show(QString::fromUtf16(row.message), kNoticeCaption, row.flags);
            if (answer != IdYes)
                break;
            if (row.action == TokenAction::SignedInPage) {
                SignedInTarget target = row.target;
                if (target == SignedInTarget::DynamicExpired && ctx.productType != 2)
                    target = SignedInTarget::None;
                services.openSignedInPage(target, ctx.userId, ctx.password);
            } else if (row.action == TokenAction::EndOldConnection) {
                result = endOldConnection(extra, ctx, prompter, services);
            }
            break;
        }
    }

    services.sendFailureReport(code, reportText);
    return result;
}

QByteArray buildFailureDatagram(int code, const QString &userId, const QString &text)
{
    QByteArray d(380, '\0');
    const auto u = static_cast<uint32_t>(code);
    for (int i = 0; i < 4; ++i)
        d[i] = char((u >> (8 * i)) & 0xFF);
    auto put = [&d](int offset, int size, const QByteArray &bytes) {
        const qsizetype n = std::min<qsizetype>(bytes.size(), size - 1);
        std::memcpy(d.data() + offset, bytes.constData(), size_t(n));
    };
    put(4, 20, QByteArray("KVO"));
    put(24, 100, CodePage::fromUnicode(userId));
    put(124, 256, CodePage::fromUnicode(text));
    return d;
}

void SendFailureReport(int code, const QString &text, const QString &userId,
                       const QString &reportHost, Prompter &prompter)
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
        prompter.show(QStringLiteral("socket create error"), QString(), Mb::Ok);
        return;
    }
    const QString address = resolveFirstIpv4(reportHost);
    if (address.isEmpty())
        return;
    socket.writeDatagram(buildFailureDatagram(code, userId, text), QHostAddress(address),
                         kFailureReportPort);
}
