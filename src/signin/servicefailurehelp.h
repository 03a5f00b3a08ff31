#pragma once

#include "signin/failurereport.h"

#include <functional>

class LineCheck;
class Prompter;
class ServicePages;
class ServiceRequests;

// The failure report's help, on the real services: pages in the browser,
// the "end old connection" request, the line check against the tunnel
// server, and the datagram to the report host.
class ServiceFailureHelp : public FailureReportServices
{
public:
    struct Sources
    {
        std::function<int()> tunnelType; // for the line check's port
        std::function<QString()> userId; // the datagram's ID field
        QString reportHost;
    };
    ServiceFailureHelp(ServicePages &pages, ServiceRequests &requests, LineCheck &lineCheck,
                       Prompter &prompter, Sources sources);

    void openErrorFaq(int code) override;
    void openSignedInPage(SignedInTarget target, const QString &userId,
                          const QString &password) override;
    QString killLoggedIn(const QString &userId, const QString &password,
                         const QString &extra) override;
    bool lineCheck(const QString &server) override;
    void sendFailureReport(int code, const QString &text) override;

private:
    ServicePages &m_pages;
    ServiceRequests &m_requests;
    LineCheck &m_lineCheck;
    Prompter &m_prompter;
    Sources m_sources;
};
