#pragma once

#include <QByteArray>
#include <QString>

class Prompter;

// Service pages the failure report may open with the user signed in.
enum class SignedInTarget {
    FixedExpired, // fixed-IP extension after expiry
    DynamicExpired, // dynamic-IP extension after expiry
    FixedPurchase, // fixed-IP purchase and extension (the KT product's expiry)
    None, // the signed-in window without a target page
};

// What the failure report reaches outside itself; production wires the web
// client, the browser, the line check and the report host.
class FailureReportServices
{
public:
    virtual ~FailureReportServices() = default;
    virtual void openErrorFaq(int code) = 0;
    virtual void openSignedInPage(SignedInTarget target, const QString &userId,
                                  const QString &password) = 0;
    // "end old connection": the reply text of the request, empty on failure.
    virtual QString killLoggedIn(const QString &userId, const QString &password,
                                 const QString &extra) = 0;
    virtual bool lineCheck(const QString &server) = 0;
    virtual void sendFailureReport(int code, const QString &text) = 0;
};

// The main window's state the report reads.
struct FailureContext
{
    int tunnelType = 1;
    int productType = 1;
    QString userId;
    QString password;
    QString server;
};

// Explains a failed connection: by dial-up or OpenVPN error code, or (code 0)
// by the availability reply's token; offers the matching help and sends the
// failure datagram. Returns non-zero when the connection is to be tried again.
int ReportFailure(int code, const QString &reply, const FailureContext &context, Prompter &prompter,
                  FailureReportServices &services);

// The message the dial-up path shows for a code, appended line included.
QString dialupFailureMessage(int code);

// The 380-byte failure datagram: code (LE), "KVO", user ID and text, each a
// zero-ended code-page text cut to its field less one byte.
QByteArray buildFailureDatagram(int code, const QString &userId, const QString &text);

constexpr int kFailureReportPort = 18000;

// Sends the datagram to the report host's first IPv4 address, port 18000.
// A host that does not resolve drops it silently; a socket that cannot be
// made shows "socket create error".
void SendFailureReport(int code, const QString &text, const QString &userId,
                       const QString &reportHost, Prompter &prompter);
