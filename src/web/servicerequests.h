#pragma once

#include "web/webhost.h"

#include <QString>

class WebTransport;

// Reply tokens of the availability request ("available_chk").
namespace AvailabilityToken {
inline constexpr const char *Ok = "OK";
inline constexpr const char *DynamicOk = "dynamicOK";
inline constexpr const char *NoExistId = "NO_EXIST_ID";
inline constexpr const char *NotCorrectPassword = "NOT_CORRECT_PASSWORD";
inline constexpr const char *NoIp = "NO_IP";
inline constexpr const char *DynamicNoIp = "DYNAMIC_NO_IP";
inline constexpr const char *PremiumNoIp = "PREMIUM_NO_IP";
inline constexpr const char *AlreadyUseIp = "ALEADY_USE_IP";
inline constexpr const char *AlreadyLoggedIn = "ALEADY_LOGGED_IN";
inline constexpr const char *DynamicAlreadyLoggedIn = "DYNAMIC_ALEADY_LOGGED_IN";
} // namespace AvailabilityToken

// An availability reply split at its first ":" into the token and the extra
// text (which the end-old-connection request sends back unchanged).
struct AvailabilityReply
{
    QString token;
    QString extra;
    static AvailabilityReply split(const QString &reply);
};

// One request of the catalogue: which transport, where, and the exact body.
struct ServiceRequest
{
    enum class Transport { ServiceForm, FormToUrl, PlainForm };
    Transport transport = Transport::ServiceForm;
    QString target; // path on the web host, or a whole address
    QString body;
};

// Every request the client sends to the service web host, one function each,
// so that every caller sends exactly these bytes. The builders are pure; the
// ServiceRequests object sends them through a transport.
namespace ServiceCatalogue {
ServiceRequest productList();
ServiceRequest availabilityFixed(const QString &id, const QString &password);
ServiceRequest availabilityDynamic(const QString &id, const QString &password,
                                   const QString &productCode);
ServiceRequest parentId(const QString &id);
ServiceRequest serverFixed(const QString &id, const QString &password);
ServiceRequest serverDynamic(const QString &id, const QString &password,
                             const QString &productCode);
// `extra` is the text after ":" of the availability reply, inserted raw.
ServiceRequest killLoggedIn(const QString &id, const QString &password, const QString &extra);
ServiceRequest currentVersion();
// `userId` inserted raw.
ServiceRequest qos(const WebHost &host, const QString &userId);
ServiceRequest tapFileList(const WebHost &host, bool x64);
// The body the browser posts for a signed-in page: ID cut before its first
// "@", every value escaped.
QString signedInBody(const QString &id, const QString &password, const QString &target);
} // namespace ServiceCatalogue

class ServiceRequests
{
public:
    ServiceRequests(WebTransport &transport, WebHost host);

    QString send(const ServiceRequest &request);

    QString productList();
    QString availabilityFixed(const QString &id, const QString &password);
    QString availabilityDynamic(const QString &id, const QString &password,
                                const QString &productCode);
    QString parentId(const QString &id);
    QString serverFixed(const QString &id, const QString &password);
    QString serverDynamic(const QString &id, const QString &password, const QString &productCode);
    // True when the reply is "SUCCESS".
    bool killLoggedIn(const QString &id, const QString &password, const QString &extra);
    QString currentVersion();
    // The reply's leading decimal integer, 0 when there is none.
    int qos(const QString &userId);
    // The QoS reply read: its leading decimal integer after blanks (a sign
    // allowed), 0 when there is none or it does not fit an int.
    static int qosValue(const QString &reply);
    QString qosReply(const QString &userId);
    QString tapFileList(bool x64);

    const WebHost &host() const { return m_host; }

private:
    WebTransport &m_transport;
    WebHost m_host;
};
