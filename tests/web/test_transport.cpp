// The three transports against the simulator's web host (and, for the
// receive time-out, a server that stops sending).
#include "simweb.h"

#include "platform/codepage.h"
#include "platform/programfolder.h"
#include "platform/prompter.h"
#include "support/testhome.h"
#include "web/webtransport.h"

#include <QElapsedTimer>
#include <QJsonArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

const QString kContents = QStringLiteral("/service/vezi/vezi_cs_contents.php");

QJsonObject webSection(const QJsonObject &web)
{
    return QJsonObject {{QStringLiteral("web"), web}};
}

QByteArray bodyBytes(const QJsonObject &request)
{
    return QByteArray::fromBase64(
        request.value(QStringLiteral("bodyBase64")).toString().toLatin1());
}

// Sets an environment variable for the lifetime of the object.
class EnvVar
{
public:
    EnvVar(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvVar()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

// No proxy from the machine running the tests gets between client and server.
struct NoProxy
{
    EnvVar a {"http_proxy", QByteArray()};
    EnvVar b {"https_proxy", QByteArray()};
    EnvVar c {"HTTPS_PROXY", QByteArray()};
    EnvVar d {"all_proxy", QByteArray()};
    EnvVar e {"ALL_PROXY", QByteArray()};
};

class ServiceFormTest : public ::testing::Test
{
protected:
    TestHome home;
    NoProxy noProxy;
    ScriptedPrompter prompter;
};

TEST_F(ServiceFormTest, SendsHttp10PostWithTheThreeHeaderLinesAndTheUtf8Body)
{
    SimWeb sim(webSection({{QStringLiteral("currentVersion"), QStringLiteral("1.2.3.4")}}));
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();

    const QString body = QString::fromUtf8("vezi_id=%ed%95%9c&content=current_version&x=한");
    EXPECT_EQ(PostServiceForm(kContents, body, sim.config(), prompter), QStringLiteral("1.2.3.4"));
    EXPECT_TRUE(prompter.boxes().isEmpty());

    const QList<QJsonObject> requests = sim.requests();
    ASSERT_EQ(requests.size(), 1);
    const QJsonObject r = requests[0];
    EXPECT_EQ(r.value(QStringLiteral("scheme")).toString(), QStringLiteral("https"));
    EXPECT_EQ(r.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    EXPECT_EQ(r.value(QStringLiteral("path")).toString(), kContents);
    EXPECT_EQ(r.value(QStringLiteral("version")).toString(), QStringLiteral("HTTP/1.0"));
    EXPECT_EQ(bodyBytes(r), body.toUtf8());

    const QStringList headers = headerLines(r);
    const qsizetype accept = headers.indexOf(QStringLiteral("Accept: text*/*"));
    const qsizetype agent = headers.indexOf(
        QStringLiteral("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0;* Windows NT)"));
    const qsizetype type =
        headers.indexOf(QStringLiteral("Content-type: application/x-www-form-urlencoded"));
    ASSERT_GE(accept, 0) << headers.join(QLatin1Char('|')).toStdString();
    EXPECT_LT(accept, agent);
    EXPECT_LT(agent, type);
    EXPECT_TRUE(headers.contains(QStringLiteral("Content-Length: %1").arg(body.toUtf8().size())));
    EXPECT_TRUE(headers.contains(QStringLiteral("Host: 127.0.0.2:%1").arg(sim.httpsPort())));
    // Exactly one content type and one agent: libcurl's own must not be added.
    EXPECT_EQ(headers.filter(QStringLiteral("content-type"), Qt::CaseInsensitive).size(), 1);
    EXPECT_EQ(headers.filter(QStringLiteral("user-agent"), Qt::CaseInsensitive).size(), 1);
    EXPECT_EQ(headers.filter(QStringLiteral("accept:"), Qt::CaseInsensitive).size(), 1);
}

TEST_F(ServiceFormTest, AnEmptyBodySendsNoBytes)
{
    SimWeb sim(webSection({}));
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    PostServiceForm(kContents, QString(), sim.config(), prompter);
    ASSERT_EQ(sim.requests().size(), 1);
    EXPECT_TRUE(bodyBytes(sim.requests()[0]).isEmpty());
    EXPECT_TRUE(headerLines(sim.requests()[0]).contains(QStringLiteral("Content-Length: 0")));
}

TEST_F(ServiceFormTest, AStatusOtherThan200GivesTheEmptyTextWithoutABox)
{
    for (const int status : {404, 500, 302}) {
        SimWeb sim(webSection({{QStringLiteral("currentVersion"), QStringLiteral("9.9.9.9")},
                               {QStringLiteral("status"),
                                QJsonObject {{QStringLiteral("current_version"), status}}}}));
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        EXPECT_EQ(PostServiceForm(kContents, QStringLiteral("content=current_version"),
                                  sim.config(), prompter),
                  QString())
            << status;
        EXPECT_EQ(sim.requests().size(), 1);
    }
    EXPECT_TRUE(prompter.boxes().isEmpty());
}

TEST_F(ServiceFormTest, AnUnreachableHostShowsTheSendBoxAndPrintsTheMessage)
{
    DeploymentConfig config = DeploymentConfig::defaults();
    config.webHost = QStringLiteral("127.0.0.9:9"); // nothing listens there

    ::testing::internal::CaptureStdout();
    const QString reply =
        PostServiceForm(kContents, QStringLiteral("content=current_version"), config, prompter);
    const std::string out = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(reply, QString());
    ASSERT_EQ(prompter.boxes().size(), 1);
    const ScriptedPrompter::Box box = prompter.boxes()[0];
    const QString prefix = QStringLiteral("HttpSendRequest [7]- "); // couldn't connect
    ASSERT_TRUE(box.text.startsWith(prefix)) << box.text.toStdString();
    const QString message = box.text.mid(prefix.size());
    EXPECT_FALSE(message.isEmpty());
    EXPECT_EQ(box.flags, Mb::Ok);
    EXPECT_EQ(box.caption, applicationName()); // no caption of its own
    EXPECT_EQ(QString::fromStdString(out), message + QLatin1Char('\n'));
}

TEST_F(ServiceFormTest, AWebHostThatIsNoHostNameShowsTheConnectBox)
{
    DeploymentConfig config = DeploymentConfig::defaults();
    config.webHost = QStringLiteral("bad host name");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(
        PostServiceForm(kContents, QStringLiteral("content=current_version"), config, prompter),
        QString());
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(prompter.boxes().size(), 1);
    EXPECT_TRUE(prompter.boxes()[0].text.startsWith(QStringLiteral("InternetConnect [3]- ")))
        << prompter.boxes()[0].text.toStdString();
}

TEST_F(ServiceFormTest, GoesThroughTheProxyOfTheEnvironment)
{
    // The simulator's plain side stands in for the proxy: the tunnel request
    // reaches it, and its refusal is a send failure.
    SimWeb proxy(webSection({}));
    ASSERT_TRUE(proxy.started()) << proxy.error().toStdString();
    EnvVar httpsProxy("https_proxy",
                      QStringLiteral("http://127.0.0.2:%1").arg(proxy.httpPort()).toLatin1());
    EnvVar noProxyList("no_proxy", QByteArray());
    EnvVar noProxyList2("NO_PROXY", QByteArray());
    DeploymentConfig config = DeploymentConfig::defaults();
    config.webHost = QStringLiteral("127.0.0.66:9");

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(
        PostServiceForm(kContents, QStringLiteral("content=current_version"), config, prompter),
        QString());
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(proxy.requests().size(), 1);
    EXPECT_EQ(proxy.requests()[0].value(QStringLiteral("method")).toString(),
              QStringLiteral("CONNECT"));
    EXPECT_EQ(proxy.requests()[0].value(QStringLiteral("path")).toString(),
              QStringLiteral("127.0.0.66:9"));
    ASSERT_EQ(prompter.boxes().size(), 1);
    EXPECT_TRUE(prompter.boxes()[0].text.startsWith(QStringLiteral("HttpSendRequest [")));
}

TEST_F(ServiceFormTest, ALongReplyWithAKoreanCharacterAcrossTheReadBoundaryComesBackWhole)
{
    // The syllable's three bytes sit at 1023..1025, across the first 1024.
    const QString reply = QString(1023, QLatin1Char('A')) + QString::fromUtf8("한") +
        QString(3000, QLatin1Char('B')) + QString::fromUtf8("고정IP:1,유동IP:2");
    SimWeb sim(webSection({{QStringLiteral("productList"), reply}}));
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    EXPECT_EQ(PostServiceForm(kContents, QStringLiteral("content=dynamic_product_list"),
                              sim.config(), prompter),
              reply);
}

struct CertificateCase
{
    const char *name;
    const char *address; // where the simulator listens
    bool strangerCertificate; // signed by a CA the client does not know
    bool withCaFile;
    bool accepted;
    friend void PrintTo(const CertificateCase &c, std::ostream *os) { *os << c.name; }
};

class CertificateTest : public ServiceFormTest,
                        public ::testing::WithParamInterface<CertificateCase>
{
};

TEST_P(CertificateTest, OnlyACertificateForTheHostFromTheSystemOrTheDeploymentCaIsAccepted)
{
    const CertificateCase c = GetParam();
    const TestCertificates &certs = TestCertificates::get();
    SimWeb sim(webSection(
        {{QStringLiteral("address"), QLatin1String(c.address)},
         {QStringLiteral("tlsDir"), c.strangerCertificate ? certs.strangerDir : certs.trustedDir},
         {QStringLiteral("currentVersion"), QStringLiteral("1.0.0.7")}}));
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();

    ::testing::internal::CaptureStdout();
    const QString reply =
        PostServiceForm(kContents, QStringLiteral("content=current_version"),
                        sim.config(c.withCaFile ? certs.trustedCa() : QString()), prompter);
    ::testing::internal::GetCapturedStdout();

    if (c.accepted) {
        EXPECT_EQ(reply, QStringLiteral("1.0.0.7"));
        EXPECT_TRUE(prompter.boxes().isEmpty());
        EXPECT_EQ(sim.requests().size(), 1);
    } else {
        EXPECT_EQ(reply, QString());
        ASSERT_EQ(prompter.boxes().size(), 1);
        EXPECT_TRUE(prompter.boxes()[0].text.startsWith(QStringLiteral("HttpSendRequest [")))
            << prompter.boxes()[0].text.toStdString();
        // The form (with its password) never reached the server.
        EXPECT_TRUE(sim.requests().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CertificateTest,
    ::testing::Values(CertificateCase {"SignedByCaFile", "127.0.0.2", false, true, true},
                      CertificateCase {"SecondNameOfTheCertificate", "127.0.0.3", false, true,
                                       true},
                      CertificateCase {"UnknownCa", "127.0.0.2", true, true, false},
                      CertificateCase {"WrongName", "127.0.0.4", false, true, false},
                      CertificateCase {"NoCaFileSystemCasOnly", "127.0.0.2", false, false, false}),
    [](const auto &info) { return std::string(info.param.name); });

class PlainTransportTest : public ::testing::Test
{
protected:
    TestHome home;
    NoProxy noProxy;
};

TEST_F(PlainTransportTest, PostFormToUrlJoinsTheReplyLinesWithoutSeparator)
{
    SimWeb sim(webSection(
        {{QStringLiteral("replies"),
          QJsonObject {{QStringLiteral("tap_file_list"), QStringLiteral("a\r\nb")},
                       {QStringLiteral("current_version"), QString::fromUtf8("첫줄\n둘째\n")}}}}));
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    const QString url = sim.host().http(kContents);
    EXPECT_EQ(PostFormToUrl(url, QStringLiteral("content=tap_file_list&arch=x64")),
              QStringLiteral("ab"));
    EXPECT_EQ(PostFormToUrl(url, QStringLiteral("content=current_version")),
              QString::fromUtf8("첫줄둘째"));

    ASSERT_EQ(sim.requests().size(), 2);
    const QJsonObject r = sim.requests()[0];
    EXPECT_EQ(r.value(QStringLiteral("scheme")).toString(), QStringLiteral("http"));
    EXPECT_EQ(r.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    EXPECT_EQ(bodyBytes(r), QByteArray("content=tap_file_list&arch=x64"));
    const QStringList headers = headerLines(r);
    EXPECT_TRUE(
        headers.contains(QStringLiteral("Content-Type: application/x-www-form-urlencoded")));
    EXPECT_TRUE(headers.contains(QStringLiteral("User-Agent: KVOClient")));
}

TEST_F(PlainTransportTest, PostPlainFormSendsTheBodyInTheCodePage)
{
    SimWeb sim(webSection({}));
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    const QString body = QString::fromUtf8("id=한글");
    PostPlainForm(sim.host().http(QStringLiteral("/service/vezi/get_qos.php")), body);
    ASSERT_EQ(sim.requests().size(), 1);
    const QJsonObject r = sim.requests()[0];
    EXPECT_EQ(bodyBytes(r), CodePage::fromUnicode(body));
    EXPECT_TRUE(headerLines(r).contains(
        QStringLiteral("Content-Length: %1").arg(CodePage::fromUnicode(body).size())));
}

TEST_F(PlainTransportTest, FailuresGiveTheEmptyText)
{
    SimWeb sim(webSection({{QStringLiteral("status"),
                            QJsonObject {{QStringLiteral("/service/vezi/get_qos.php"), 404}}}}));
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    EXPECT_EQ(PostPlainForm(sim.host().http(QStringLiteral("/service/vezi/get_qos.php")),
                            QStringLiteral("id=a")),
              QString());
    EXPECT_EQ(PostFormToUrl(QStringLiteral("http://127.0.0.9:9/x"), QStringLiteral("a=b")),
              QString());
    EXPECT_EQ(PostFormToUrl(QStringLiteral("not an address"), QStringLiteral("a=b")), QString());
}

TEST_F(PlainTransportTest, PlainFormGoesThroughTheProxyAndFormToUrlDoesNot)
{
    // The simulator stands in for the proxy: a proxied request arrives with
    // the whole address in its request line.
    SimWeb proxy(webSection({}));
    ASSERT_TRUE(proxy.started()) << proxy.error().toStdString();
    EnvVar httpProxy("http_proxy",
                     QStringLiteral("http://127.0.0.2:%1").arg(proxy.httpPort()).toLatin1());
    EnvVar noProxyList("no_proxy", QByteArray());
    EnvVar noProxyList2("NO_PROXY", QByteArray());

    const QString far = QStringLiteral("http://127.0.0.66:9/service/vezi/get_qos.php");
    PostPlainForm(far, QStringLiteral("id=a"));
    ASSERT_EQ(proxy.requests().size(), 1);
    EXPECT_EQ(proxy.requests()[0].value(QStringLiteral("path")).toString(), far);

    PostFormToUrl(far, QStringLiteral("content=tap_file_list&arch=x86"));
    EXPECT_EQ(proxy.requests().size(), 1);
}

// Redirects: PostServiceForm and PostFormToUrl follow them between HTTP and
// HTTPS, with the certificate checks on every host and at most five of them;
// PostPlainForm follows none.
struct RedirectCase
{
    const char *name;
    ScriptedWebTransport::Kind kind;
    const char *from; // a path of the first server ("https:" prefix: its TLS side)
    const char *to; // the Location ({http}, {https}: the first server; {far}: a second
                    // server on 127.0.0.4 whose certificate names other hosts)
    int status;
    bool answered; // the reply "1.0.0.7" arrives
    int firstRequests; // requests the first server saw
    int farRequests;
    bool box; // PostServiceForm's send box
    friend void PrintTo(const RedirectCase &c, std::ostream *os) { *os << c.name; }
};

class RedirectTest : public ::testing::TestWithParam<RedirectCase>
{
protected:
    TestHome home;
    NoProxy noProxy;
    ScriptedPrompter prompter;
};

TEST_P(RedirectTest, FollowedAsTheTransportSays)
{
    const RedirectCase c = GetParam();
    const TestCertificates &certs = TestCertificates::get();
    SimWeb far(webSection({{QStringLiteral("address"), QStringLiteral("127.0.0.4")},
                           {QStringLiteral("currentVersion"), QStringLiteral("1.0.0.7")}}));
    ASSERT_TRUE(far.started()) << far.error().toStdString();
    QString to = QString::fromLatin1(c.to);
    to.replace(QLatin1String("{far}"), QStringLiteral("https://127.0.0.4:%1").arg(far.httpsPort()));
    QString from = QString::fromLatin1(c.from);
    const bool tlsFirst = from.startsWith(QLatin1String("https:"));
    if (tlsFirst)
        from = from.mid(6);
    SimWeb sim(webSection({{QStringLiteral("currentVersion"), QStringLiteral("1.0.0.7")},
                           {QStringLiteral("redirects"),
                            QJsonObject {{from,
                                          QJsonObject {{QStringLiteral("to"), to},
                                                       {QStringLiteral("status"), c.status}}}}}}));
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();

    const QString body = QStringLiteral("content=current_version");
    const DeploymentConfig config = sim.config(certs.trustedCa());
    ::testing::internal::CaptureStdout();
    QString reply;
    switch (c.kind) {
    case ScriptedWebTransport::Kind::ServiceForm:
        reply = PostServiceForm(from, body, config, prompter);
        break;
    case ScriptedWebTransport::Kind::FormToUrl:
        reply =
            PostFormToUrl(tlsFirst ? sim.host().https(from) : sim.host().http(from), body, config);
        break;
    case ScriptedWebTransport::Kind::PlainForm:
        reply = PostPlainForm(sim.host().http(from), body, config);
        break;
    }
    ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(reply, c.answered ? QStringLiteral("1.0.0.7") : QString());
    EXPECT_EQ(sim.requests().size(), c.firstRequests);
    EXPECT_EQ(far.requests().size(), c.farRequests);
    if (c.answered) {
        // 307 posts the form again, to wherever it was sent.
        const QList<QJsonObject> all = sim.requests() + far.requests();
        EXPECT_EQ(all.last().value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
        EXPECT_EQ(bodyBytes(all.last()), body.toUtf8());
    }
    EXPECT_EQ(prompter.boxes().size(), c.box ? 1 : 0);
    if (c.box && !prompter.boxes().isEmpty()) {
        EXPECT_TRUE(prompter.boxes()[0].text.startsWith(QStringLiteral("HttpSendRequest [")))
            << prompter.boxes()[0].text.toStdString();
    }
}

constexpr auto kService = ScriptedWebTransport::Kind::ServiceForm;
constexpr auto kFormToUrl = ScriptedWebTransport::Kind::FormToUrl;
constexpr auto kPlain = ScriptedWebTransport::Kind::PlainForm;

INSTANTIATE_TEST_SUITE_P(
    Cases, RedirectTest,
    ::testing::Values(
        RedirectCase {"ServiceFormHttpsToHttps", kService, "/old.php",
                      "{https}/service/vezi/vezi_cs_contents.php", 307, true, 2, 0, false},
        RedirectCase {"ServiceFormHttpsToHttp", kService, "/old.php",
                      "{http}/service/vezi/vezi_cs_contents.php", 307, true, 2, 0, false},
        RedirectCase {"ServiceFormKeepsTheCertificateCheck", kService, "/old.php",
                      "{far}/service/vezi/vezi_cs_contents.php", 307, false, 1, 0, true},
        RedirectCase {"ServiceFormGivesUpAfterFive", kService, "/loop.php", "{https}/loop.php", 307,
                      false, 6, 0, true},
        RedirectCase {"FormToUrlHttpToHttps", kFormToUrl, "/old.php",
                      "{https}/service/vezi/vezi_cs_contents.php", 307, true, 2, 0, false},
        RedirectCase {"FormToUrlHttpsToHttp", kFormToUrl, "https:/old.php",
                      "{http}/service/vezi/vezi_cs_contents.php", 308, true, 2, 0, false},
        RedirectCase {"FormToUrlKeepsTheCertificateCheck", kFormToUrl, "/old.php",
                      "{far}/service/vezi/vezi_cs_contents.php", 307, false, 1, 0, false},
        RedirectCase {"FormToUrlGivesUpAfterFive", kFormToUrl, "/loop.php", "{http}/loop.php", 302,
                      false, 6, 0, false},
        RedirectCase {"FormToUrlStaysOnTheWeb", kFormToUrl, "/old.php", "file:///etc/hostname", 302,
                      false, 1, 0, false},
        RedirectCase {"PlainFormFollowsNone", kPlain, "/old.php",
                      "{http}/service/vezi/vezi_cs_contents.php", 307, false, 1, 0, false}),
    [](const auto &info) { return std::string(info.param.name); });

// A server that answers 200, sends one line and then nothing more.
class StallingServer
{
public:
    StallingServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(0x7F000005); // 127.0.0.5
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        ::listen(m_fd, 1);
        m_thread = std::thread([this] {
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                return;
            char buf[4096];
            (void)::recv(c, buf, sizeof buf, 0);
            const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nfirst\r\nsec";
            (void)::send(c, reply, sizeof reply - 1, MSG_NOSIGNAL);
            for (int i = 0; i < 200 && !m_stop; ++i)
                ::usleep(100 * 1000);
            ::close(c);
        });
    }
    ~StallingServer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

TEST_F(PlainTransportTest, PostFormToUrlGivesUpAfterFiveSecondsWithoutDataKeepingWhatItRead)
{
    StallingServer server;
    QElapsedTimer timer;
    timer.start();
    const QString reply = PostFormToUrl(
        QStringLiteral("http://127.0.0.5:%1/service/vezi/vezi_cs_contents.php").arg(server.port()),
        QStringLiteral("content=tap_file_list&arch=x64"));
    const qint64 elapsed = timer.elapsed();
    EXPECT_EQ(reply, QStringLiteral("firstsec"));
    EXPECT_GE(elapsed, 4000);
    EXPECT_LT(elapsed, 15000);
}

} // namespace
