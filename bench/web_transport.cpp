// Cost of one form request to the web host over loopback HTTPS: the whole
// PostServiceForm (handle, TLS handshake with certificate checks, request,
// reply), with the deployment's CaFile (system bundle + CaFile joined per
// request) and, for comparison, the escaping of typical and longest values.
#include "recorder.h"
#include "scenario.h"
#include "web/webhostmodule.h"

#include "platform/deploymentconfig.h"
#include "platform/prompter.h"
#include "web/formescape.h"
#include "web/webtransport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

namespace {

struct Server
{
    QTemporaryDir dir;
    Recorder recorder;
    QThread thread;
    WebHostModule *module = nullptr;
    quint16 port = 0;
    bool ok = false;

    Server()
    {
        // The certificate maker sits in scripts/ beside this folder.
        const QString script = QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
            QStringLiteral("/../scripts/make-test-ca");
        if (QProcess::execute(script, {dir.path(), QStringLiteral("127.0.0.2")}) != 0)
            return;
        const Scenario scenario = Scenario::fromJson(QJsonObject {
            {QStringLiteral("web"),
             QJsonObject {{QStringLiteral("address"), QStringLiteral("127.0.0.2")},
                          {QStringLiteral("httpsPort"), 0},
                          {QStringLiteral("httpPort"), -1},
                          {QStringLiteral("tlsDir"), dir.path()},
                          {QStringLiteral("currentVersion"), QStringLiteral("1.0.0.1")}}}});
        module = new WebHostModule;
        module->moveToThread(&thread);
        thread.start();
        QString error;
        QMetaObject::invokeMethod(
            module,
            [&] {
                ok = module->start(scenario, recorder, &error);
                port = module->httpsPort();
            },
            Qt::BlockingQueuedConnection);
    }
    ~Server()
    {
        if (module)
            module->deleteLater();
        thread.quit();
        thread.wait();
    }
};

void BM_PostServiceFormLoopbackHttps(benchmark::State &state)
{
    static Server server;
    if (!server.ok) {
        state.SkipWithError("web host did not start");
        return;
    }
    DeploymentConfig config = DeploymentConfig::defaults();
    config.webHost = QStringLiteral("127.0.0.2:%1").arg(server.port);
    config.caFile = server.dir.filePath(QStringLiteral("ca.pem"));
    ScriptedPrompter prompter;
    for (auto _ : state) {
        const QString reply =
            PostServiceForm(QStringLiteral("/service/vezi/vezi_cs_contents.php"),
                            QStringLiteral("content=current_version"), config, prompter);
        if (reply != QStringLiteral("1.0.0.1")) {
            state.SkipWithError("wrong reply");
            break;
        }
    }
}
BENCHMARK(BM_PostServiceFormLoopbackHttps)->Unit(benchmark::kMillisecond);

void BM_EscapeCredentials(benchmark::State &state)
{
    const QString id = QStringLiteral("user.name_01@example.kr");
    const QString password = QString::fromUtf8("비밀번호 pw&=+!");
    for (auto _ : state) {
        benchmark::DoNotOptimize(EscapeFormValue(id));
        benchmark::DoNotOptimize(EscapeFormValue(password));
    }
}
BENCHMARK(BM_EscapeCredentials);

void BM_EscapeLongestValue(benchmark::State &state)
{
    // 227 syllables escape to 2043 bytes, just under the limit.
    const QString text(227, QChar(0xD55C));
    for (auto _ : state)
        benchmark::DoNotOptimize(EscapeFormValue(text));
}
BENCHMARK(BM_EscapeLongestValue);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
