// The check after a confirmed change against [Option] VerifyUrl, with the
// simulator's echo page: what the log, the status line and the state say
// for a page that agrees, one that sees another address, one that answers
// nonsense and one that does not answer.
#include "app/addressverifier.h"
#include "core/activitylog.h"
#include "mainwindow/maincontroller.h"
#include "platform/clock.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "support/testhome.h"
#include "web/webtransport.h"

#include "../web/simweb.h"

#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString readLog(MainController &c)
{
    QFile f(c.activityLog()->todayFilePath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

struct Case
{
    const char *name;
    QString page; // "echo", "lying", "closed", "" (no VerifyUrl)
    QString current; // the address the server confirmed
    AddressVerifier::State state;
    QString logLine; // expected in the log; empty: no "IP확인" line at all
    QString statusText; // expected status line; empty: unchanged
};

} // namespace

TEST(AddressVerifier, ComparesTheEchoPageWithTheConfirmedAddress)
{
    using S = AddressVerifier::State;
    // Requests to 127.0.0.2 leave from 127.0.0.1 on loopback.
    const QString mismatch = QStringLiteral("IP확인 불일치: 10.1.1.1 / 127.0.0.1");
    const QList<Case> cases {
        {"match", QStringLiteral("echo"), QStringLiteral("127.0.0.1"), S::Match, {}, {}},
        {"mismatch", QStringLiteral("echo"), QStringLiteral("10.1.1.1"), S::Mismatch, mismatch,
         mismatch},
        {"nonsense",
         QStringLiteral("lying"),
         QStringLiteral("10.1.1.1"),
         S::Unreachable,
         QStringLiteral("IP확인 실패: 10.1.1.1"),
         {}},
        {"unreachable",
         QStringLiteral("closed"),
         QStringLiteral("10.1.1.1"),
         S::Unreachable,
         QStringLiteral("IP확인 실패: 10.1.1.1"),
         {}},
        {"off", QString(), QStringLiteral("10.1.1.1"), S::Off, {}, {}},
    };
    SimWeb web(QJsonObject {{QStringLiteral("web"),
                             QJsonObject {{QStringLiteral("replies"),
                                           QJsonObject {{QStringLiteral("/lying"),
                                                         QStringLiteral("10.1.1.1<script>")}}}}}});
    ASSERT_TRUE(web.started()) << web.error().toStdString();

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestHome home;
        QString url;
        if (c.page == QLatin1String("echo"))
            url = QStringLiteral("http://%1:%2/myip").arg(web.address()).arg(web.httpPort());
        else if (c.page == QLatin1String("lying"))
            url = QStringLiteral("http://%1:%2/lying").arg(web.address()).arg(web.httpPort());
        else if (c.page == QLatin1String("closed"))
            url = QStringLiteral("http://127.0.0.1:1/myip");
        home.write(QStringLiteral("KVOClientSetup.ini"),
                   "[Option]\r\nVerifyUrl=" + url.toUtf8() + "\r\n[Entry]\r\nIsPPTP=0\r\n");
        ScriptedPrompter prompter;
        RecordingLauncher launcher;
        MainController controller(prompter, launcher, Clock::system());
        controller.initialise({});
        ASSERT_EQ(controller.fields().verifyUrl, url);
        AddressVerifier verifier(controller,
                                 [](const QString &u) { return PostFormToUrl(u, QString()); });
        const QString statusBefore = controller.statusText();
        QSignalSpy done(&verifier, &AddressVerifier::finished);

        controller.setCurrentAddress(c.current);
        verifier.verify(c.current);
        if (c.state != S::Off) {
            ASSERT_TRUE(done.wait(15000));
        }
        EXPECT_EQ(verifier.state(), c.state);
        const QString log = readLog(controller);
        if (c.logLine.isEmpty())
            EXPECT_FALSE(log.contains(QStringLiteral("IP확인"))) << log.toStdString();
        else
            EXPECT_TRUE(log.contains(c.logLine)) << log.toStdString();
        EXPECT_EQ(controller.statusText(), c.statusText.isEmpty() ? statusBefore : c.statusText);
        EXPECT_TRUE(prompter.boxes().isEmpty());
    }
}

// An answer about an address we have left since (another change, a
// log-out) says nothing: no log line, no status text.
TEST(AddressVerifier, DropsTheAnswerOfAnAddressNoLongerInUse)
{
    SimWeb web(QJsonObject {});
    ASSERT_TRUE(web.started()) << web.error().toStdString();
    TestHome home;
    const QString url = QStringLiteral("http://%1:%2/myip").arg(web.address()).arg(web.httpPort());
    home.write(QStringLiteral("KVOClientSetup.ini"),
               "[Option]\r\nVerifyUrl=" + url.toUtf8() + "\r\n[Entry]\r\nIsPPTP=0\r\n");
    ScriptedPrompter prompter;
    RecordingLauncher launcher;
    MainController controller(prompter, launcher, Clock::system());
    controller.initialise({});
    AddressVerifier verifier(controller,
                             [](const QString &u) { return PostFormToUrl(u, QString()); });
    QSignalSpy dropped(&verifier, &AddressVerifier::answerDropped);
    controller.setCurrentAddress(QStringLiteral("10.1.1.1"));
    verifier.verify(QStringLiteral("10.1.1.1"));
    controller.setCurrentAddress(QString()); // logged out before the answer
    ASSERT_TRUE(dropped.wait(15000));
    EXPECT_EQ(verifier.state(), AddressVerifier::State::Pending);
    EXPECT_FALSE(readLog(controller).contains(QStringLiteral("IP확인")));
    EXPECT_EQ(controller.statusText(), QStringLiteral("준비중.."));
}
