#include "servicerequests.h"

#include "web/formescape.h"
#include "web/webtransport.h"

AvailabilityReply AvailabilityReply::split(const QString &reply)
{
    const qsizetype colon = reply.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return {reply, {}};
    return {reply.left(colon), reply.mid(colon + 1)};
}

namespace ServiceCatalogue {
namespace {
ServiceRequest contents(const QString &body)
{
    return {ServiceRequest::Transport::ServiceForm, QLatin1String(ServiceUrls::kContentsPath),
            body};
}

QString e(const QString &value)
{
    return EscapeFormValue(value);
}
} // namespace

ServiceRequest productList()
{
    return contents(QStringLiteral("content=dynamic_product_list"));
}

ServiceRequest availabilityFixed(const QString &id, const QString &password)
{
    return contents(QStringLiteral("vezi_id=%1&vezi_password=%2&content=available_chk")
                        .arg(e(id), e(password)));
}

ServiceRequest availabilityDynamic(const QString &id, const QString &password,
                                   const QString &productCode)
{
    return contents(QStringLiteral("vezi_id=%1&vezi_password=%2&dynamic=%3&content=available_chk")
                        .arg(e(id), e(password), e(productCode)));
}

ServiceRequest parentId(const QString &id)
{
    return contents(QStringLiteral("vezi_id=%1&content=get_parent_id").arg(e(id)));
}

ServiceRequest serverFixed(const QString &id, const QString &password)
{
    return contents(
        QStringLiteral("vezi_id=%1&vezi_password=%2&content=goodserver").arg(e(id), e(password)));
}

ServiceRequest serverDynamic(const QString &id, const QString &password, const QString &productCode)
{
    return contents(QStringLiteral("vezi_id=%1&vezi_password=%2&dynamic=%3&content=goodserver")
                        .arg(e(id), e(password), e(productCode)));
}

ServiceRequest killLoggedIn(const QString &id, const QString &password, const QString &extra)
{
    return {ServiceRequest::Transport::ServiceForm, QLatin1String(ServiceUrls::kKillLoggedInPath),
            QStringLiteral("vezi_id=%1&vezi_password=%2&%3").arg(e(id), e(password), extra)};
}

ServiceRequest currentVersion()
{
    return contents(QStringLiteral("content=current_version"));
}

ServiceRequest qos(const WebHost &host, const QString &userId)
{
    return {ServiceRequest::Transport::PlainForm, ServiceUrls::qosUrl(host),
            QStringLiteral("id=") + userId};
}

ServiceRequest tapFileList(const WebHost &host, bool x64)
{
    return {ServiceRequest::Transport::FormToUrl, ServiceUrls::tapFileListUrl(host),
            x64 ? QStringLiteral("content=tap_file_list&arch=x64")
                : QStringLiteral("content=tap_file_list&arch=x86")};
}

QString signedInBody(const QString &id, const QString &password, const QString &target)
{
    const qsizetype at = id.indexOf(QLatin1Char('@'));
    const QString shortId = at < 0 ? id : id.left(at);
    return QStringLiteral("vezi_id=%1&vezi_password=%2&content=login&url=%3")
        .arg(e(shortId), e(password), e(target));
}

} // namespace ServiceCatalogue

ServiceRequests::ServiceRequests(WebTransport &transport, WebHost host)
    : m_transport(transport), m_host(std::move(host))
{ }

QString ServiceRequests::send(const ServiceRequest &request)
{
    switch (request.transport) {
    case ServiceRequest::Transport::ServiceForm:
        return m_transport.postServiceForm(request.target, request.body);
    case ServiceRequest::Transport::FormToUrl:
        return m_transport.postFormToUrl(request.target, request.body);
    case ServiceRequest::Transport::PlainForm:
        return m_transport.postPlainForm(request.target, request.body);
    }
    return {};
}

QString ServiceRequests::productList()
{
    return send(ServiceCatalogue::productList());
}

QString ServiceRequests::availabilityFixed(const QString &id, const QString &password)
{
    return send(ServiceCatalogue::availabilityFixed(id, password));
}

QString ServiceRequests::availabilityDynamic(const QString &id, const QString &password,
                                             const QString &productCode)
{
    return send(ServiceCatalogue::availabilityDynamic(id, password, productCode));
}

QString ServiceRequests::parentId(const QString &id)
{
    return send(ServiceCatalogue::parentId(id));
}

QString ServiceRequests::serverFixed(const QString &id, const QString &password)
{
    return send(ServiceCatalogue::serverFixed(id, password));
}

QString ServiceRequests::serverDynamic(const QString &id, const QString &password,
                                       const QString &productCode)
{
    return send(ServiceCatalogue::serverDynamic(id, password, productCode));
}

bool ServiceRequests::killLoggedIn(const QString &id, const QString &password, const QString &extra)
{
    return send(ServiceCatalogue::killLoggedIn(id, password, extra)) == QLatin1String("SUCCESS");
}

QString ServiceRequests::currentVersion()
{
    return send(ServiceCatalogue::currentVersion());
}

QString ServiceRequests::qosReply(const QString &userId)
{
    return send(ServiceCatalogue::qos(m_host, userId));
}

int ServiceRequests::qos(const QString &userId)
{
    return qosValue(qosReply(userId));
}

int ServiceRequests::qosValue(const QString &reply)
{
    qsizetype i = 0;
    while (i < reply.size() && reply[i].isSpace())
        ++i;
    const qsizetype start = i;
    if (i < reply.size() && (reply[i] == QLatin1Char('-') || reply[i] == QLatin1Char('+')))
        ++i;
    while (i < reply.size() && reply[i] >= QLatin1Char('0') && reply[i] <= QLatin1Char('9'))
        ++i;
    bool ok = false;
    const int value = reply.mid(start, i - start).toInt(&ok);
    return ok ? value : 0;
}

QString ServiceRequests::tapFileList(bool x64)
{
    return send(ServiceCatalogue::tapFileList(m_host, x64));
}
