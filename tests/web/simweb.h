#pragma once

#include "recorder.h"
#include "web/webhost.h"

#include "platform/deploymentconfig.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

class WebHostModule;

// Certificates made for this test run by scripts/make-test-ca: the trusted
// CA signs a certificate for 127.0.0.2 and 127.0.0.3; the other CA, unknown
// to the client, signs one for 127.0.0.2.
struct TestCertificates
{
    QString trustedDir;
    QString strangerDir;
    QString trustedCa() const { return trustedDir + QStringLiteral("/ca.pem"); }
    QString strangerCa() const { return strangerDir + QStringLiteral("/ca.pem"); }
    static const TestCertificates &get();
};

// The simulator's web host, running in a thread of its own (the client's
// transports block the calling thread).
class SimWeb
{
public:
    // `root` is a scenario; web.address defaults to 127.0.0.2, the ports to
    // free ones, the TLS files to the trusted CA's server certificate.
    explicit SimWeb(QJsonObject root);
    ~SimWeb();

    bool started() const { return m_started; }
    const QString &error() const { return m_error; }
    QString address() const { return m_address; }
    quint16 httpsPort() const { return m_httpsPort; }
    quint16 httpPort() const { return m_httpPort; }

    QList<QJsonObject> requests() const;
    WebHost host() const;
    // A deployment pointing at this server, trusting `caFile`.
    DeploymentConfig config(const QString &caFile = TestCertificates::get().trustedCa()) const;

private:
    Recorder m_recorder;
    QThread m_thread;
    WebHostModule *m_module = nullptr;
    bool m_started = false;
    QString m_error;
    QString m_address;
    quint16 m_httpsPort = 0;
    quint16 m_httpPort = 0;
};

// The HTTP header lines of a recorded request, in order.
QStringList headerLines(const QJsonObject &request);
