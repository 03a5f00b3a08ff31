#include "signinsequence.h"

#include "core/settings.h"
#include "platform/ipv4.h"
#include "platform/prompter.h"
#include "web/servicerequests.h"

namespace {
const QString kFailureTokens[] = {
    QStringLiteral("NO_EXIST_ID"),   QStringLiteral("NOT_CORRECT_PASSWORD"),
    QStringLiteral("NO_IP"),         QStringLiteral("DYNAMIC_NO_IP"),
    QStringLiteral("ALEADY_USE_IP"), QStringLiteral("PREMIUM_NO_IP"),
};
} // namespace

SignInSequence::SignInSequence(SignInHost &host, ServiceRequests &requests, Prompter &prompter,
                               Resolver resolve)
    : m_host(host), m_requests(requests), m_prompter(prompter), m_resolve(std::move(resolve))
{ }

bool SignInSequence::isFailureReply(const QString &reply)
{
    for (const QString &token : kFailureTokens) {
        if (reply == token)
            return true;
    }
    return reply.contains(QLatin1String("ALEADY_LOGGED_IN"));
}

SignInSequence::Availability SignInSequence::readAvailability(const QString &reply)
{
    Availability a;
    a.failure = isFailureReply(reply);
    a.mentionsOk = reply.contains(QLatin1String("OK"));
    a.plainOk = reply == QLatin1String("OK") || reply == QLatin1String("dynamicOK");
    return a;
}

QString SignInSequence::readServer(const QString &reply)
{
    // A reply that is neither an IPv4 address nor a host name is no server:
    // it must not reach the settings file, a tunnel program's command line
    // or its configuration. It counts as no answer.
    return isServerAddress(reply) ? reply : QString();
}

QString SignInSequence::askAvailability(const QString &id, const QString &password,
                                        const QString &code, bool &sent)
{
    sent = true;
    switch (m_host.fields().productType) {
    case FixedIp:
        return m_requests.availabilityFixed(id, password);
    case DynamicIp:
        return m_requests.availabilityDynamic(id, password, code);
    default:
        // No request form exists for other products; the reply is empty.
        sent = false;
        return {};
    }
}

QString SignInSequence::askServer(const QString &id, const QString &password, const QString &code)
{
    QString server;
    if (m_host.fields().productType == DynamicIp)
        server = code.isEmpty() ? QString() : m_requests.serverDynamic(id, password, code);
    else
        server = m_requests.serverFixed(id, password);
    return readServer(server);
}

SignInSequence::Outcome SignInSequence::runInteractive(const Input &input)
{
    for (;;) {
        bool again = false;
        const Outcome outcome = interactiveOnce(input, again);
        if (!again)
            return outcome;
    }
}

SignInSequence::Outcome SignInSequence::interactiveOnce(const Input &input, bool &again)
{
    SettingsFields &fields = m_host.fields();
    AccountState &account = m_host.account();

    if (m_host.checkForUpdate())
        return Outcome::Ending;

    if (input.id.isEmpty()) {
        m_prompter.show(QStringLiteral("아이디를 넣어주십시오."), QString(), Mb::Ok);
        return Outcome::Stay;
    }
    if (input.password.isEmpty()) {
        m_prompter.show(QStringLiteral("패스워드를 넣어주십시오."), QString(), Mb::Ok);
        return Outcome::Stay;
    }
    if (fields.productType == DynamicIp && input.id.contains(QLatin1Char('@'))) {
        m_prompter.show(QStringLiteral("유동IP나 KT고정IP는 @없이 로그인해야 합니다."), QString(),
                        Mb::Ok);
        return Outcome::Stay;
    }

    account.userId = input.id;
    account.password = input.password;

    QString code;
    if (fields.productType == DynamicIp) {
        code = fields.productMap.value(input.selectedProduct);
        account.productName = input.selectedProduct;
        fields.dynamicProductName = input.selectedProduct;
        m_host.setProductLabel(input.selectedProduct);
        m_host.settings().write(SettingKeys::Entry, SettingKeys::DynamicProductName,
                                input.selectedProduct);
    }
    bool sent = false;
    const QString reply = askAvailability(input.id, input.password, code, sent);
    const Availability availability = readAvailability(reply);
    if (availability.failure) {
        again = m_host.reportFailure(0, reply) != 0;
        return Outcome::Stay;
    }
    if (!availability.mentionsOk) {
        m_prompter.show(QStringLiteral("서버 HTTPS 통신에 문제가 있습니다."), kNoticeCaption,
                        Mb::Failure);
        return Outcome::Stay;
    }

    account.parentId = m_requests.parentId(input.id);
    const QString server = askServer(input.id, input.password, code);
    fields.server = server;
    if (fields.productType == DynamicIp)
        account.productCode = code;
    if (server.isEmpty()) {
        m_prompter.show(QStringLiteral("서버 주소를 받아오지 못했습니다. 다시 시도해 주십시오."),
                        kNoticeCaption, Mb::Failure);
        return Outcome::Stay;
    }

    m_host.settings().write(SettingKeys::Entry, SettingKeys::SERVER, server);
    if (fields.credentialsSaved)
        m_host.saveCredentials(input.id, input.password, input.saveChecked ? 1 : 0);

    const QString address = m_resolve ? m_resolve(server) : QString();
    if (address.isEmpty()) {
        m_prompter.show(QStringLiteral("DNS 오류 입니다."), kNoticeCaption, Mb::Failure);
        return Outcome::Stay;
    }
    fields.server = address;

    m_host.prepareForTunnel(input.id);
    account.userId = QStringLiteral("KVO@") + input.id;

    const int result = m_host.startTunnel();
    if (result != 0) {
        m_host.reportFailure(result, QString());
        return Outcome::Stay;
    }
    m_host.showMainWindowCentred();
    return Outcome::Started;
}

SignInSequence::Outcome SignInSequence::runAutomatic()
{
    SettingsFields &fields = m_host.fields();
    AccountState &account = m_host.account();
    const QString id = account.userId;
    const QString password = account.password;

    QString code;
    if (fields.productType == DynamicIp) {
        code = fields.productMap.value(fields.dynamicProductName);
        account.productName = fields.dynamicProductName;
    }
    bool sent = false;
    const QString reply = askAvailability(id, password, code, sent);
    const Availability availability = readAvailability(reply);
    if (availability.failure) {
        m_host.reportFailure(0, reply);
        return Outcome::OpenDialog;
    }
    if (!availability.plainOk)
        return Outcome::OpenDialog;

    account.parentId = m_requests.parentId(id);
    const QString server = askServer(id, password, code);
    if (fields.productType == DynamicIp)
        account.productCode = code;
    if (server.isEmpty())
        return Outcome::OpenDialog;
    // Used as sent: not resolved, and SERVER is left as it is.
    fields.server = server;

    m_host.prepareForTunnel(id);
    account.userId = QStringLiteral("KVO@") + id;
    m_host.showMainWindowCentred();
    const int result = m_host.startTunnel();
    if (result != 0) {
        m_host.reportFailure(result, QString());
        return Outcome::OpenDialog;
    }
    return Outcome::Started;
}
