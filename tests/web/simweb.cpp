#include "simweb.h"

#include "scenario.h"
#include "web/webhostmodule.h"

#include "platform/tlsthread.h"

#include <QJsonArray>
#include <QProcess>

#include <gtest/gtest.h>

namespace {
bool makeCa(const QString &dir, const QStringList &names)
{
    QProcess p;
    p.start(QStringLiteral(KVO_SOURCE_DIR "/scripts/make-test-ca"), QStringList {dir} + names);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
} // namespace

const TestCertificates &TestCertificates::get()
{
    static QTemporaryDir root;
    static TestCertificates certs = [] {
        TestCertificates c;
        c.trustedDir = root.filePath(QStringLiteral("trusted"));
        c.strangerDir = root.filePath(QStringLiteral("stranger"));
        if (!makeCa(c.trustedDir, {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")}) ||
            !makeCa(c.strangerDir, {QStringLiteral("127.0.0.2")}))
            ADD_FAILURE() << "scripts/make-test-ca failed (is openssl installed?)";
        return c;
    }();
    return certs;
}

SimWeb::SimWeb(QJsonObject root)
{
    QJsonObject web = root.value(QStringLiteral("web")).toObject();
    if (!web.contains(QStringLiteral("address")))
        web.insert(QStringLiteral("address"), QStringLiteral("127.0.0.2"));
    if (!web.contains(QStringLiteral("httpsPort")))
        web.insert(QStringLiteral("httpsPort"), 0);
    if (!web.contains(QStringLiteral("httpPort")))
        web.insert(QStringLiteral("httpPort"), 0);
    if (!web.contains(QStringLiteral("tlsDir")))
        web.insert(QStringLiteral("tlsDir"), TestCertificates::get().trustedDir);
    root.insert(QStringLiteral("web"), web);
    m_address = web.value(QStringLiteral("address")).toString();
    const Scenario scenario = Scenario::fromJson(root);

    m_module = new WebHostModule;
    m_module->moveToThread(&m_thread);
    // The server's TLS set-up leaves TLS library state in its thread.
    TlsThread::releaseStateWhenFinished(m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_module,
        [&] {
            m_started = m_module->start(scenario, m_recorder, &m_error);
            m_httpsPort = m_module->httpsPort();
            m_httpPort = m_module->httpPort();
        },
        Qt::BlockingQueuedConnection);
}

SimWeb::~SimWeb()
{
    m_module->deleteLater();
    m_thread.quit();
    m_thread.wait();
}

QList<QJsonObject> SimWeb::requests() const
{
    return m_recorder.entries(QStringLiteral("web"));
}

WebHost SimWeb::host() const
{
    WebHost h;
    h.name = m_address;
    h.httpsPort = m_httpsPort;
    h.httpPort = m_httpPort;
    return h;
}

DeploymentConfig SimWeb::config(const QString &caFile) const
{
    DeploymentConfig c = DeploymentConfig::defaults();
    c.webHost = m_address + QLatin1Char(':') + QString::number(m_httpsPort);
    c.caFile = caFile;
    return c;
}

QStringList headerLines(const QJsonObject &request)
{
    QStringList out;
    for (const QJsonValue &v : request.value(QStringLiteral("headers")).toArray())
        out.append(v.toString());
    return out;
}
