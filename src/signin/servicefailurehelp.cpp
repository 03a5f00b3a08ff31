#include "servicefailurehelp.h"

#include "system/linecheck.h"
#include "web/servicepages.h"
#include "web/servicerequests.h"
#include "web/webhost.h"

ServiceFailureHelp::ServiceFailureHelp(ServicePages &pages, ServiceRequests &requests,
                                       LineCheck &lineCheck, Prompter &prompter, Sources sources)
    : m_pages(pages), m_requests(requests), m_lineCheck(lineCheck), m_prompter(prompter),
      m_sources(std::move(sources))
{ }

void ServiceFailureHelp::openErrorFaq(int code)
{
    m_pages.OpenPage(ServiceUrls::faqForError(m_pages.host(), code));
}

void ServiceFailureHelp::openSignedInPage(SignedInTarget target, const QString &userId,
                                          const QString &password)
{
    const WebHost &host = m_pages.host();
    QString page;
    switch (target) {
    case SignedInTarget::FixedExpired:
        page = ServiceUrls::fixedExtendAfterExpiry(host);
        break;
    case SignedInTarget::DynamicExpired:
        page = ServiceUrls::dynamicExtendAfterExpiry(host);
        break;
    case SignedInTarget::FixedPurchase:
        page = ServiceUrls::fixedBuy(host);
        break;
    case SignedInTarget::None:
        break;
    }
    m_pages.OpenSignedInPage(page, userId, password);
}

QString ServiceFailureHelp::killLoggedIn(const QString &userId, const QString &password,
                                         const QString &extra)
{
    return m_requests.send(ServiceCatalogue::killLoggedIn(userId, password, extra));
}

bool ServiceFailureHelp::lineCheck(const QString &server)
{
    return m_lineCheck.check(server, m_sources.tunnelType ? m_sources.tunnelType() : 0);
}

void ServiceFailureHelp::sendFailureReport(int code, const QString &text)
{
    SendFailureReport(code, text, m_sources.userId ? m_sources.userId() : QString(),
                      m_sources.reportHost, m_prompter);
}
