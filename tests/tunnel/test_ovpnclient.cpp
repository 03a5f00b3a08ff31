#include "tunnel/ovpnclient.h"

#include "platform/processlist.h"
#include "platform/prompter.h"
#include "support/testhome.h"
#include "tunneltestsupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace {

const QString kFakes = QStringLiteral(KVO_TUNNEL_FAKES_DIR);

// A program folder with the stand-in "kvo_openvpn" and a tun node that opens.
struct OvpnRig
{
    TestHome home;
    ScriptedPrompter prompter;
    RecordingDownloader downloader;
    std::unique_ptr<TapAdapter> tap;
    QString qosReply;
    QStringList qosQueries;
    std::unique_ptr<OvpnClient> client;
    TunnelNotifier notifier;
    NoticeLog notices {notifier};

    explicit OvpnRig(bool tunPresent = true)
    {
        EXPECT_TRUE(copyExecutable(kFakes + QStringLiteral("/kvo_openvpn"),
                                   home.file(QStringLiteral("kvo_openvpn"))));
        QString device = home.file(QStringLiteral("tun"));
        if (tunPresent)
            home.write(QStringLiteral("tun"), QByteArray());
        tap = std::make_unique<TapAdapter>(&downloader, QStringLiteral("web.test"), device);
        client = std::make_unique<OvpnClient>(prompter, *tap, [this](const QString &id) {
            qosQueries.append(id);
            return qosReply;
        });
    }
    ~OvpnRig()
    {
        if (client && client->processId() != 0) {
            const pid_t pid = pid_t(client->processId());
            ProcessList::terminate(pid);
            if (!waitUntil([&] { return client->processId() == 0; }, 3000))
                ::kill(pid, SIGKILL); // one that ignores SIGTERM
            waitUntil([&] { return client->processId() == 0; }, 3000);
        }
    }

    // The transcript up to the line the tunnel is up with, for a run that stays.
    void playUpAndStay()
    {
        const QList<QByteArray> lines =
            readFile(QStringLiteral(KVO_TEST_DATA_DIR "/openvpn/up-then-sigterm.log")).split('\n');
        QByteArray upTo;
        for (const QByteArray &l : lines) {
            upTo += l + '\n';
            if (l.contains("Initialization Sequence Completed"))
                break;
        }
        home.write(QStringLiteral("up.log"), upTo);
        home.write(QStringLiteral("transcript"), home.file(QStringLiteral("up.log")).toUtf8());
        home.write(QStringLiteral("stay"), QByteArray());
    }
    void play(const char *name)
    {
        home.write(QStringLiteral("transcript"), QByteArray(KVO_TEST_DATA_DIR "/openvpn/") + name);
    }
    QStringList recordedArgs() const
    {
        return QString::fromUtf8(home.read(QStringLiteral("args.out")))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

} // namespace

TEST(OvpnClientRun, TunnelUpThenDisconnect)
{
    OvpnRig rig;
    rig.playUpAndStay();
    rig.qosReply = QStringLiteral("8");
    ASSERT_EQ(rig.client->Connect(&rig.notifier, QStringLiteral("kvouser"),
                                  QStringLiteral("p@ss word"), QStringLiteral("10.200.0.1")),
              0);
    EXPECT_EQ(rig.client->startResult(), 0);
    ASSERT_TRUE(waitUntil([&] { return rig.notices.ovpn.contains(5); }));
    EXPECT_EQ(rig.notices.ovpn, (QList<int> {1, 2, 2, 3, 4, 5}));
    EXPECT_EQ(rig.client->GetAssignedIp(), QStringLiteral("10.8.0.2"));
    EXPECT_TRUE(rig.client->GetStatistics().isEmpty());
    EXPECT_EQ(rig.qosQueries, QStringList {QStringLiteral("kvouser")});

    // The credentials travel on standard input only.
    EXPECT_EQ(rig.home.read(QStringLiteral("stdin.out")), QByteArray("kvouser\np@ss word\n"));
    const QStringList args = rig.recordedArgs();
    EXPECT_EQ(args, OvpnClient::arguments(QStringLiteral("10.200.0.1"), 8));
    EXPECT_EQ(args.mid(args.size() - 2),
              (QStringList {QStringLiteral("--shaper"), QStringLiteral("1048576")}));
    const qint64 pid = rig.client->processId();
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).contains("p@ss"));

    rig.client->Disconnect();
    ASSERT_TRUE(waitUntil([&] { return rig.notices.ovpn.size() == 7; }, 3000));
    EXPECT_EQ(rig.notices.ovpn.last(), 6);
    EXPECT_EQ(rig.client->processId(), 0);
    EXPECT_FALSE(ProcessList::isRunning(pid_t(pid)));
    // The address stays until the output reports another one.
    EXPECT_EQ(rig.client->GetAssignedIp(), QStringLiteral("10.8.0.2"));
}

TEST(OvpnClientRun, RefusedCredentialsPostEightAndNoSix)
{
    OvpnRig rig;
    rig.play("auth-failed.log");
    ASSERT_EQ(rig.client->Connect(&rig.notifier, QStringLiteral("u"), QStringLiteral("wrong"),
                                  QStringLiteral("10.200.0.1")),
              0);
    ASSERT_TRUE(waitUntil([&] { return rig.client->processId() == 0; }));
    QTest::qWait(50);
    EXPECT_EQ(rig.notices.ovpn, (QList<int> {1, 2, 2, 8}));
    // No QoS reply: no shaper.
    EXPECT_FALSE(rig.recordedArgs().contains(QStringLiteral("--shaper")));
}

TEST(OvpnClientRun, PlainEndAfterTheTunnelWasUpPostsSix)
{
    OvpnRig rig;
    rig.play("up-then-sigterm.log");
    ASSERT_EQ(rig.client->Connect(&rig.notifier, QStringLiteral("u"), QStringLiteral("p"),
                                  QStringLiteral("10.200.0.1")),
              0);
    ASSERT_TRUE(waitUntil([&] { return rig.notices.ovpn.contains(6); }));
    EXPECT_EQ(rig.notices.ovpn, (QList<int> {1, 2, 2, 3, 4, 5, 6}));
}

TEST(OvpnClientRun, ProgramThatCannotStartGivesThirteenAndNoEvent)
{
    OvpnRig rig;
    rig.home.write(QStringLiteral("kvo_openvpn"), "#!/nonexistent/interpreter\n");
    ASSERT_EQ(rig.client->Connect(&rig.notifier, QStringLiteral("u"), QStringLiteral("p"),
                                  QStringLiteral("10.200.0.1")),
              13);
    EXPECT_EQ(rig.client->startResult(), 13);
    QTest::qWait(100);
    EXPECT_TRUE(rig.notices.ovpn.isEmpty());
}

// The server is openvpn's --remote: only an IPv4 address or a host name.
TEST(OvpnClientRun, ServerThatIsNoAddressOrNameStartsNothing)
{
    for (const char *server : {"10.200.0.1 --up /tmp/x", "--config", "$(reboot)", "", "1.2.3"}) {
        SCOPED_TRACE(server);
        OvpnRig rig;
        rig.playUpAndStay();
        EXPECT_EQ(rig.client->Connect(&rig.notifier, QStringLiteral("u"), QStringLiteral("p"),
                                      QString::fromUtf8(server)),
                  13);
        EXPECT_EQ(rig.client->processId(), 0);
        EXPECT_TRUE(rig.qosQueries.isEmpty());
        EXPECT_TRUE(rig.home.read(QStringLiteral("args.out")).isEmpty()); // nothing started
    }
}

TEST(OvpnClientTap, MissingAdapterAsksAndADeclineGivesEleven)
{
    const QString question =
        QStringLiteral("TAP 인터페이스가 설치되지 않았습니다.\n설치하시겠습니까?\n"
                       "(설치하는데 수분이 걸릴 수 있습니다.)");
    {
        OvpnRig rig(false);
        rig.prompter.queueAnswer(IdNo);
        EXPECT_EQ(rig.client->Connect(&rig.notifier, QStringLiteral("u"), QStringLiteral("p"),
                                      QStringLiteral("10.200.0.1")),
                  11);
        ASSERT_EQ(rig.prompter.boxes().size(), 1);
        EXPECT_EQ(rig.prompter.boxes().first().text, question);
        EXPECT_EQ(rig.prompter.boxes().first().caption, QStringLiteral("안내메세지"));
        EXPECT_EQ(rig.prompter.boxes().first().flags, 0x1044u);
        EXPECT_TRUE(rig.downloader.requests.isEmpty());
        EXPECT_TRUE(rig.home.read(QStringLiteral("args.out")).isEmpty()); // nothing started
    }
    {
        OvpnRig rig(false);
        rig.prompter.queueAnswer(IdYes);
        rig.downloader.results = {-1};
        EXPECT_EQ(rig.client->Connect(&rig.notifier, QStringLiteral("u"), QStringLiteral("p"),
                                      QStringLiteral("10.200.0.1")),
                  11);
        EXPECT_EQ(rig.downloader.requests,
                  QStringList {QStringLiteral("http://web.test/service/vezi/vezi_cs_contents.php "
                                              "content=tap_file_list&arch=") +
                               TapAdapter::architecture() + QStringLiteral(" kept")});
        EXPECT_TRUE(rig.home.read(QStringLiteral("args.out")).isEmpty());
    }
}

namespace {
// Starts a process whose name is "kvo_openvpn" and that just waits.
QProcess *startNamedSleeper(const QString &dir, QObject *parent)
{
    const QString path = dir + QStringLiteral("/kvo_openvpn");
    QFile f(path);
    if (!f.exists()) {
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\nwhile :; do sleep 0.05; done\n");
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    auto *p = new QProcess(parent);
    p->start(path, {});
    p->waitForStarted();
    return p;
}
} // namespace

TEST(OvpnClientCloseExisting, EndsTheFirstLeftoverOnlyAndNoOtherOpenvpn)
{
    QTemporaryDir dir;
    QObject owner;
    QProcess *a = startNamedSleeper(dir.path(), &owner);
    QProcess *b = startNamedSleeper(dir.path(), &owner);
    ASSERT_TRUE(waitUntil([&] {
        return ProcessList::findFirstNamed(QStringLiteral("kvo_openvpn")).pid ==
            pid_t(qMin(a->processId(), b->processId()));
    }));
    QProcess *first = a->processId() < b->processId() ? a : b;
    QProcess *second = first == a ? b : a;

    OvpnRig rig;
    rig.client->CloseExisting();
    EXPECT_TRUE(first->waitForFinished(3000));
    QTest::qWait(200);
    EXPECT_EQ(second->state(), QProcess::Running);
    second->kill();
    second->waitForFinished();
}

TEST(OvpnClientLifetime, DeletingTheDriverLeavesTheTunnelAndTheNextDriverEndsIt)
{
    OvpnRig rig;
    rig.playUpAndStay();
    ASSERT_EQ(rig.client->Connect(&rig.notifier, QStringLiteral("u"), QStringLiteral("p"),
                                  QStringLiteral("10.200.0.1")),
              0);
    ASSERT_TRUE(waitUntil([&] { return rig.notices.ovpn.contains(5); }));
    const pid_t pid = pid_t(rig.client->processId());
    rig.client.reset();
    QTest::qWait(200);
    EXPECT_TRUE(ProcessList::isRunning(pid));
    EXPECT_EQ(rig.notices.ovpn.size(), 6); // the old run posts nothing more

    OvpnClient next(rig.prompter, *rig.tap, {});
    next.CloseExisting();
    EXPECT_TRUE(waitUntil([&] { return !ProcessList::isRunning(pid); }, 3000));
    QTest::qWait(50);
    EXPECT_EQ(rig.notices.ovpn.size(), 6);
}

// openvpn 2.6 can miss a SIGTERM while it restarts its connection. The stop
// must end such a child all the same, and nothing it prints on its way out
// may reach the main window: no second refusal (a second "서버에 연결 실패"
// and a restarted countdown), no tunnel coming back up.
TEST(OvpnClientStop, ChildThatIgnoresSigtermIsEndedAndPostsNothingMore)
{
    struct Row
    {
        const char *name;
        bool tunnelUp; // up and staying, else refused and retrying
        bool disconnect; // the log-out's Disconnect, else event 7's CloseExisting
        QList<int> expected;
    };
    const Row rows[] = {
        {"refused, then CloseExisting", false, false, {7}},
        {"refused, then Disconnect", false, true, {7}},
        {"up, then Disconnect", true, true, {1, 2, 2, 3, 4, 5, 6}},
        {"up, then CloseExisting", true, false, {1, 2, 2, 3, 4, 5, 6}},
    };
    const QByteArray refused = "2024-05-02 10:00:01 TCP: connect to [AF_INET]10.200.0.1:80 "
                               "failed: Connection refused\n";
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        OvpnRig rig;
        if (row.tunnelUp) {
            rig.playUpAndStay();
        } else {
            // Refused, and refused again every 0.3 s as openvpn retries.
            rig.home.write(QStringLiteral("refused.log"), refused);
            rig.home.write(QStringLiteral("transcript"),
                           rig.home.file(QStringLiteral("refused.log")).toUtf8());
            rig.home.write(QStringLiteral("stay"), QByteArray());
            rig.home.write(QStringLiteral("retry"), refused);
        }
        rig.home.write(QStringLiteral("ignore-term"), QByteArray());
        ASSERT_EQ(rig.client->Connect(&rig.notifier, QStringLiteral("u"), QStringLiteral("p"),
                                      QStringLiteral("10.200.0.1")),
                  0);
        ASSERT_TRUE(waitUntil([&] { return rig.notices.ovpn.contains(row.tunnelUp ? 5 : 7); }));
        const pid_t pid = pid_t(rig.client->processId());
        ASSERT_GT(pid, 0);
        if (row.tunnelUp) // from now on it keeps saying the tunnel is up
            rig.home.write(QStringLiteral("retry"),
                           "2024-05-02 10:00:09 Initialization Sequence Completed\n");

        if (row.disconnect)
            rig.client->Disconnect();
        else
            rig.client->CloseExisting();

        // Ended means reaped: the driver reports no child only then.
        EXPECT_TRUE(waitUntil([&] { return rig.client->processId() == 0; }, 5000));
        EXPECT_FALSE(ProcessList::isRunning(pid));
        QTest::qWait(700); // two more retries' worth of output, were it alive
        EXPECT_EQ(rig.notices.ovpn, row.expected);
    }
}

// A program of ours left by an earlier run that ignores SIGTERM is ended too.
TEST(OvpnClientStop, LeftoverThatIgnoresSigtermIsEnded)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/kvo_openvpn");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\ntrap '' TERM\nwhile :; do sleep 0.05; done\n");
    }
    QFile::setPermissions(path,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcess leftover;
    leftover.start(path, {});
    ASSERT_TRUE(leftover.waitForStarted());
    ASSERT_TRUE(waitUntil([&] {
        return ProcessList::findFirstNamed(QStringLiteral("kvo_openvpn")).pid ==
            pid_t(leftover.processId());
    }));

    OvpnRig rig;
    rig.client->CloseExisting();
    // Ended and reaped (by its parent here, which the event loop lets run).
    const bool ended = waitUntil([&] { return leftover.state() == QProcess::NotRunning; }, 5000);
    if (!ended)
        leftover.kill();
    EXPECT_TRUE(ended);
}
