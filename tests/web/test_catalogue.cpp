// Every request of the catalogue, as the simulator's web host receives it,
// and the simulator's replies driven by its scenario.
#include "simweb.h"

#include "platform/prompter.h"
#include "support/testhome.h"
#include "web/servicerequests.h"
#include "web/webtransport.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <csignal>
#include <functional>

#include <gtest/gtest.h>

namespace {

const QString kContents = QStringLiteral("/service/vezi/vezi_cs_contents.php");

QJsonObject account(const QString &id, const QString &password, QJsonObject more = {})
{
    more.insert(QStringLiteral("id"), id);
    more.insert(QStringLiteral("password"), password);
    return more;
}

QJsonObject scenario()
{
    const QJsonArray x64 {
        QJsonObject {{QStringLiteral("name"), QStringLiteral("tap0901.sys")},
                     {QStringLiteral("content"), QStringLiteral("driver")}},
        QJsonObject {{QStringLiteral("name"), QStringLiteral("OemVista.inf")},
                     {QStringLiteral("content"), QStringLiteral("inf")}},
    };
    const QJsonArray x86 {QJsonObject {{QStringLiteral("name"), QStringLiteral("tap0901.sys")}}};
    return QJsonObject {
        {QStringLiteral("web"),
         QJsonObject {
             {QStringLiteral("productList"), QString::fromUtf8("유동IP 30일:D10,유동IP 90일:D20")},
             {QStringLiteral("currentVersion"), QStringLiteral("1.0.3.7")},
             {QStringLiteral("tapFiles"),
              QJsonObject {{QStringLiteral("x64"), x64}, {QStringLiteral("x86"), x86}}},
         }},
        {QStringLiteral("accounts"),
         QJsonArray {
             account(QStringLiteral("fix1"), QStringLiteral("pw 1@"),
                     {{QStringLiteral("productType"), 1},
                      {QStringLiteral("parentId"), QStringLiteral("parent1")},
                      {QStringLiteral("server"), QStringLiteral("127.0.0.4")},
                      {QStringLiteral("qos"), 512}}),
             account(QStringLiteral("dyn1"), QStringLiteral("dpw"),
                     {{QStringLiteral("productType"), 2},
                      {QStringLiteral("dynamicProducts"),
                       QJsonArray {QStringLiteral("D10"), QStringLiteral("D20")}},
                      {QStringLiteral("server"), QStringLiteral("127.0.0.5")}}),
             account(QString::fromUtf8("한글"), QString::fromUtf8("비번")),
             account(QStringLiteral("prem"), QStringLiteral("p"),
                     {{QStringLiteral("productType"), 3},
                      {QStringLiteral("availability"), QStringLiteral("PREMIUM_NO_IP")}}),
             account(QStringLiteral("used"), QStringLiteral("p"),
                     {{QStringLiteral("availability"), QStringLiteral("ALEADY_USE_IP")}}),
             account(QStringLiteral("busy"), QStringLiteral("bpw"),
                     {{QStringLiteral("loggedIn"), true},
                      {QStringLiteral("loggedInExtra"), QStringLiteral("sess=42")},
                      {QStringLiteral("dynamicProducts"), QJsonArray {QStringLiteral("D10")}}}),
         }},
    };
}

struct NoProxyEnv
{
    NoProxyEnv()
    {
        for (const char *n : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(n);
    }
};

class CatalogueTest : public ::testing::Test
{
protected:
    TestHome home;
    NoProxyEnv noProxy;
    SimWeb sim {scenario()};
    ScriptedPrompter prompter;
    CurlWebTransport transport {sim.config(), prompter};
    ServiceRequests requests {transport, sim.host()};
};

struct CatalogueCase
{
    const char *name;
    std::function<QString(ServiceRequests &)> send;
    const char *scheme;
    QString path;
    QByteArray body;
    const char *version;
    std::function<QString(const SimWeb &)> reply;
};

QString fixed(const char *text)
{
    return QString::fromUtf8(text);
}

TEST_F(CatalogueTest, EachRequestSendsTheCatalogueBytesAndGetsTheScenarioReply)
{
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    const QString qosPath = QStringLiteral("/service/vezi/get_qos.php");
    const QString killPath = QStringLiteral("/service/vezi/kill_loggedin.php");
    const QList<CatalogueCase> cases = {
        {"product list", [](ServiceRequests &s) { return s.productList(); }, "https", kContents,
         "content=dynamic_product_list", "HTTP/1.0",
         [](const SimWeb &) {
             return fixed("유동IP 30일:D10,유동IP 90일:D20");
         }},
        {"availability fixed",
         [](ServiceRequests &s) {
             return s.availabilityFixed(QStringLiteral("fix1"), QStringLiteral("pw 1@"));
         },
         "https", kContents, "vezi_id=fix1&vezi_password=pw%201%40&content=available_chk",
         "HTTP/1.0",
         [](const SimWeb &) {
             return fixed("OK");
         }},
        {"availability fixed, Korean ID",
         [](ServiceRequests &s) {
             return s.availabilityFixed(QString::fromUtf8("한글"), QString::fromUtf8("비번"));
         },
         "https", kContents,
         "vezi_id=%ed%95%9c%ea%b8%80&vezi_password=%eb%b9%84%eb%b2%88&content=available_chk",
         "HTTP/1.0",
         [](const SimWeb &) {
             return fixed("OK");
         }},
        {"availability dynamic",
         [](ServiceRequests &s) {
             return s.availabilityDynamic(QStringLiteral("dyn1"), QStringLiteral("dpw"),
                                          QStringLiteral("D10"));
         },
         "https", kContents, "vezi_id=dyn1&vezi_password=dpw&dynamic=D10&content=available_chk",
         "HTTP/1.0",
         [](const SimWeb &) {
             return fixed("dynamicOK");
         }},
        {"parent ID", [](ServiceRequests &s) { return s.parentId(QStringLiteral("fix1")); },
         "https", kContents, "vezi_id=fix1&content=get_parent_id", "HTTP/1.0",
         [](const SimWeb &) {
             return fixed("parent1");
         }},
        {"server fixed",
         [](ServiceRequests &s) {
             return s.serverFixed(QStringLiteral("fix1"), QStringLiteral("pw 1@"));
         },
         "https", kContents, "vezi_id=fix1&vezi_password=pw%201%40&content=goodserver", "HTTP/1.0",
         [](const SimWeb &) {
             return fixed("127.0.0.4");
         }},
        {"server dynamic",
         [](ServiceRequests &s) {
             return s.serverDynamic(QStringLiteral("dyn1"), QStringLiteral("dpw"),
                                    QStringLiteral("D20"));
         },
         "https", kContents, "vezi_id=dyn1&vezi_password=dpw&dynamic=D20&content=goodserver",
         "HTTP/1.0",
         [](const SimWeb &) {
             return fixed("127.0.0.5");
         }},
        {"end old connection",
         [](ServiceRequests &s) {
             return s.killLoggedIn(QStringLiteral("busy"), QStringLiteral("bpw"),
                                   QStringLiteral("sess=42"))
                 ? QStringLiteral("SUCCESS")
                 : QStringLiteral("failure");
         },
         "https", killPath, "vezi_id=busy&vezi_password=bpw&sess=42", "HTTP/1.0",
         [](const SimWeb &) {
             return fixed("SUCCESS");
         }},
        {"current version", [](ServiceRequests &s) { return s.currentVersion(); }, "https",
         kContents, "content=current_version", "HTTP/1.0",
         [](const SimWeb &) {
             return fixed("1.0.3.7");
         }},
        {"QoS", [](ServiceRequests &s) { return QString::number(s.qos(QStringLiteral("fix1"))); },
         "http", qosPath, "id=fix1", "HTTP/1.1",
         [](const SimWeb &) {
             return fixed("512");
         }},
        {"TAP file list x64", [](ServiceRequests &s) { return s.tapFileList(true); }, "http",
         kContents, "content=tap_file_list&arch=x64", "HTTP/1.1",
         [](const SimWeb &w) {
             const QString base =
                 QStringLiteral("http://127.0.0.2:%1/files/x64/").arg(w.httpPort());
             return base + QStringLiteral("tap0901.sys,") + base + QStringLiteral("OemVista.inf");
         }},
        {"TAP file list x86", [](ServiceRequests &s) { return s.tapFileList(false); }, "http",
         kContents, "content=tap_file_list&arch=x86", "HTTP/1.1",
         [](const SimWeb &w) {
             return QStringLiteral("http://127.0.0.2:%1/files/x86/tap0901.sys").arg(w.httpPort());
         }},
    };

    for (const CatalogueCase &c : cases) {
        SCOPED_TRACE(c.name);
        const qsizetype before = sim.requests().size();
        EXPECT_EQ(c.send(requests), c.reply(sim));
        const QList<QJsonObject> recorded = sim.requests();
        ASSERT_EQ(recorded.size(), before + 1);
        const QJsonObject r = recorded.last();
        EXPECT_EQ(r.value(QStringLiteral("scheme")).toString(), QLatin1String(c.scheme));
        EXPECT_EQ(r.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
        EXPECT_EQ(r.value(QStringLiteral("path")).toString(), c.path);
        EXPECT_EQ(r.value(QStringLiteral("version")).toString(), QLatin1String(c.version));
        EXPECT_EQ(
            QByteArray::fromBase64(r.value(QStringLiteral("bodyBase64")).toString().toLatin1()),
            c.body);
    }
    EXPECT_TRUE(prompter.boxes().isEmpty());
}

TEST_F(CatalogueTest, EveryAvailabilityTokenCanBeProduced)
{
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    struct Case
    {
        const char *id, *password, *product; // product null: fixed-IP request
        const char *reply;
    };
    const Case cases[] = {
        {"fix1", "pw 1@", nullptr, "OK"},
        {"dyn1", "dpw", "D20", "dynamicOK"},
        {"nobody", "x", nullptr, "NO_EXIST_ID"},
        {"fix1", "wrong", nullptr, "NOT_CORRECT_PASSWORD"},
        {"dyn1", "dpw", nullptr, "NO_IP"},
        {"dyn1", "dpw", "D99", "DYNAMIC_NO_IP"},
        {"prem", "p", nullptr, "PREMIUM_NO_IP"},
        {"used", "p", nullptr, "ALEADY_USE_IP"},
        {"busy", "bpw", nullptr, "ALEADY_LOGGED_IN:sess=42"},
        {"busy", "bpw", "D10", "DYNAMIC_ALEADY_LOGGED_IN:sess=42"},
    };
    for (const Case &c : cases) {
        const QString id = QString::fromUtf8(c.id);
        const QString pw = QString::fromUtf8(c.password);
        const QString reply = c.product
            ? requests.availabilityDynamic(id, pw, QString::fromUtf8(c.product))
            : requests.availabilityFixed(id, pw);
        EXPECT_EQ(reply, QString::fromUtf8(c.reply)) << c.id << " " << (c.product ? c.product : "");
    }
}

TEST_F(CatalogueTest, EndingTheOldConnectionClearsTheLoggedInState)
{
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    const AvailabilityReply first = AvailabilityReply::split(
        requests.availabilityFixed(QStringLiteral("busy"), QStringLiteral("bpw")));
    EXPECT_EQ(first.token, QLatin1String(AvailabilityToken::AlreadyLoggedIn));
    EXPECT_EQ(first.extra, QStringLiteral("sess=42"));

    EXPECT_FALSE(
        requests.killLoggedIn(QStringLiteral("busy"), QStringLiteral("wrong"), first.extra));
    EXPECT_FALSE(requests.killLoggedIn(QStringLiteral("busy"), QStringLiteral("bpw"),
                                       QStringLiteral("sess=41")));
    EXPECT_TRUE(requests.killLoggedIn(QStringLiteral("busy"), QStringLiteral("bpw"), first.extra));
    EXPECT_EQ(requests.availabilityFixed(QStringLiteral("busy"), QStringLiteral("bpw")),
              QStringLiteral("OK"));
    // Nothing left to end.
    EXPECT_FALSE(requests.killLoggedIn(QStringLiteral("busy"), QStringLiteral("bpw"), first.extra));
}

TEST_F(CatalogueTest, ServerAndParentReplies)
{
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    // A wrong password gets no server; an account without a parent is its own.
    EXPECT_EQ(requests.serverFixed(QStringLiteral("fix1"), QStringLiteral("nope")), QString());
    EXPECT_EQ(requests.parentId(QStringLiteral("dyn1")), QStringLiteral("dyn1"));
    EXPECT_EQ(requests.qos(QStringLiteral("nobody")), 0);
}

TEST(AvailabilityReplySplit, SplitsAtTheFirstColon)
{
    const AvailabilityReply a = AvailabilityReply::split(QStringLiteral("ALEADY_LOGGED_IN:a=1:b"));
    EXPECT_EQ(a.token, QStringLiteral("ALEADY_LOGGED_IN"));
    EXPECT_EQ(a.extra, QStringLiteral("a=1:b"));
    const AvailabilityReply b = AvailabilityReply::split(QStringLiteral("OK"));
    EXPECT_EQ(b.token, QStringLiteral("OK"));
    EXPECT_TRUE(b.extra.isEmpty());
}

TEST(SimulatorProcess, ServesRecordsToItsFolderAndStopsOnSigterm)
{
    TestHome home;
    NoProxyEnv noProxy;
    QTemporaryDir dir;
    // The port is chosen by the simulator's scenario: take one that is free now.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress(QStringLiteral("127.0.0.3")), 0));
    const quint16 port = probe.serverPort();
    probe.close();
    const QJsonObject root {
        {QStringLiteral("web"),
         QJsonObject {{QStringLiteral("address"), QStringLiteral("127.0.0.3")},
                      {QStringLiteral("httpsPort"), port},
                      {QStringLiteral("httpPort"), -1}, // HTTPS only
                      {QStringLiteral("tlsDir"), TestCertificates::get().trustedDir},
                      {QStringLiteral("currentVersion"), QStringLiteral("1.0.3.7")}}},
        {QStringLiteral("accounts"),
         QJsonArray {account(QStringLiteral("u"), QStringLiteral("p"))}},
    };
    QFile f(dir.filePath(QStringLiteral("scenario.json")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(root).toJson());
    f.close();

    QProcess sim;
    sim.start(QStringLiteral(KVO_SIM_BIN),
              {QStringLiteral("--scenario"), f.fileName(), QStringLiteral("--record"),
               dir.filePath(QStringLiteral("rec")), QStringLiteral("--lifetime"),
               QStringLiteral("60")});
    ASSERT_TRUE(sim.waitForStarted(10000));
    while (!sim.canReadLine() && sim.waitForReadyRead(10000)) { }
    ASSERT_EQ(sim.readLine().trimmed(), QByteArray("ready")) << sim.readAllStandardError().data();

    DeploymentConfig config = DeploymentConfig::defaults();
    config.webHost = QStringLiteral("127.0.0.3:%1").arg(port);
    config.caFile = TestCertificates::get().trustedCa();
    ScriptedPrompter prompter;
    EXPECT_EQ(
        PostServiceForm(kContents, QStringLiteral("content=current_version"), config, prompter),
        QStringLiteral("1.0.3.7"));

    const QList<QJsonObject> recorded =
        Recorder::readChannelFile(dir.filePath(QStringLiteral("rec")), QStringLiteral("web"));
    ASSERT_EQ(recorded.size(), 1);
    EXPECT_EQ(recorded[0].value(QStringLiteral("body")).toString(),
              QStringLiteral("content=current_version"));

    ::kill(static_cast<pid_t>(sim.processId()), SIGTERM);
    ASSERT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);
}

TEST(SimulatorWebHost, AnswersMalformedRequestsAndOutlivesAStalledPeer)
{
    SimWeb sim(QJsonObject {
        {QStringLiteral("web"),
         QJsonObject {{QStringLiteral("currentVersion"), QStringLiteral("2.0.0.1")}}}});
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();

    // A peer that stops in the middle of its header block.
    QTcpSocket stalled;
    stalled.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), sim.httpPort());
    ASSERT_TRUE(stalled.waitForConnected(5000));
    stalled.write("POST /service/vezi/vezi_cs_contents.php HTTP/1.1\r\nContent-Le");
    stalled.flush();

    const auto exchange = [&](const QByteArray &request) {
        QTcpSocket s;
        s.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), sim.httpPort());
        if (!s.waitForConnected(5000))
            return QByteArray();
        s.write(request);
        QByteArray reply;
        while (s.waitForReadyRead(5000))
            reply += s.readAll();
        return reply + s.readAll();
    };
    EXPECT_TRUE(exchange("GARBAGE\r\n\r\n").startsWith("HTTP/1.0 400"));
    EXPECT_TRUE(
        exchange("POST / HTTP/1.1\r\nContent-Length: x\r\n\r\n").startsWith("HTTP/1.0 400"));
    EXPECT_TRUE(exchange("GET /nothing HTTP/1.1\r\n\r\n").startsWith("HTTP/1.0 404"));
    const QByteArray ok = exchange("POST /service/vezi/vezi_cs_contents.php HTTP/1.0\r\n"
                                   "Content-Length: 23\r\n\r\ncontent=current_version");
    EXPECT_TRUE(ok.startsWith("HTTP/1.0 200")) << ok.constData();
    EXPECT_TRUE(ok.endsWith("\r\n\r\n2.0.0.1")) << ok.constData();
}

} // namespace
