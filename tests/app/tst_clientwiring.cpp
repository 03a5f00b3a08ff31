// The wired program: MainController, the window, the tunnel rules, the
// drivers and the session connection as ClientWiring joins them. The tunnel
// programs are the fakes of tests/tunnel/fakes (the OpenVPN one prints a real
// transcript), the session server is a loopback peer on port 10010.
#include "app/addressverifier.h"
#include "app/clientwiring.h"
#include "app/shellcontrol.h"
#include "core/settings.h"
#include "dialogs/memodialog.h"
#include "dialogs/notifyip.h"
#include "mainwindow/ctarvoclientdlg.h"
#include "mainwindow/iplistcontroller.h"
#include "mainwindow/iplistmodel.h"
#include "mainwindow/maincontroller.h"
#include "platform/clock.h"
#include "platform/dialupppp.h"
#include "platform/launcher.h"
#include "platform/processlist.h"
#include "platform/prompter.h"
#include "session/sessioncodec.h"
#include "signin/failurereport.h"
#include "support/testhome.h"
#include "support/vicistandin.h"
#include "tunnel/tunnelevents.h"
#include "widgets/clistctrlex.h"

#include "session/sessionpeer.h"

#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

const QString kFakes = QStringLiteral(KVO_TUNNEL_FAKES_DIR);
const QString kTranscripts = QStringLiteral(KVO_TEST_DATA_DIR "/openvpn");
const QString kLinkLostText = QStringLiteral("모라솔 서비스가 끊어졌습니다.");

class NoReset : public TcpConnectionResetter
{
public:
    void firstPass() override { }
    void secondPass() override { }
};

class FreeHotKey : public GlobalHotKey
{
public:
    bool registerAltKey(int) override { return m_on = true; }
    void unregisterKey() override { m_on = false; }
    bool isRegistered() const override { return m_on; }

private:
    bool m_on = false;
};

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

bool openVpnRunning()
{
    return ProcessList::findFirstNamed(QStringLiteral("kvo_openvpn")).pid != 0;
}

// The program as KVOClient puts it together, in a program folder of its
// own, with the redial settings given (on, count, seconds).
struct Wired
{
    TestHome home;
    QTemporaryDir fakeLog;
    ViciStandIn charon {fakeLog.path()}; // the machine's charon, for L2TP
    ScriptedPrompter prompter; // the boxes shown on screen
    ShellPrompter shellPrompter {prompter};
    RecordingLauncher launcher;
    MainController controller {shellPrompter, launcher, Clock::system()};
    CTarvoClientDlg window {controller};
    std::unique_ptr<ClientWiring> wiring;
    QStringList statusTexts;
    int signInDialogs = 0;

    Wired(int tunnelType, int redialOn, int redialCount, int redialSeconds,
          const QString &reportHost = QStringLiteral("127.0.0.1"),
          const QByteArray &moreOptions = QByteArray()) // more [Option] lines
    {
        qputenv("KVO_FAKE_LOG", fakeLog.path().toUtf8());
        // Nothing answers on the web host: the version check and the QoS
        // query fail at once.
        home.write(QStringLiteral("KVOService.ini"),
                   "[Service]\r\nWebHost=127.0.0.1:1\r\nWebHttpPort=1\r\nReportHost=" +
                       reportHost.toLatin1() + "\r\n");
        home.write(
            QStringLiteral("KVOClientSetup.ini"),
            QStringLiteral("[Option]\r\nRedialOnLinkFailure=%1\r\nRedialCount=%2\r\n"
                           "RedialSeconds=%3\r\nIsAutoChange=0\r\n%5[Entry]\r\nIsPPTP=%4\r\n")
                .arg(redialOn)
                .arg(redialCount)
                .arg(redialSeconds)
                .arg(tunnelType)
                .arg(QString::fromUtf8(moreOptions))
                .toUtf8());
        QFile::copy(kFakes + QStringLiteral("/kvo_openvpn"),
                    home.file(QStringLiteral("kvo_openvpn")));
        QFile::setPermissions(home.file(QStringLiteral("kvo_openvpn")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ExeOwner);
        home.write(QStringLiteral("transcript"),
                   (kTranscripts + QStringLiteral("/up-then-sigterm.log")).toUtf8());
        home.write(QStringLiteral("stay"), QByteArray());
        home.write(QStringLiteral("tun"), QByteArray());

        ClientWiring::Outside outside;
        outside.dialUp = std::make_unique<PppDialUp>(
            DialUpPrograms {kFakes + QStringLiteral("/pppd"), QStringLiteral("/usr/sbin/pptp"),
                            kFakes + QStringLiteral("/xl2tpd"), kFakes + QStringLiteral("/swanctl"),
                            QString(), charon.path()});
        outside.tunDevice = home.file(QStringLiteral("tun"));
        outside.resetter = std::make_unique<NoReset>();
        outside.hotKey = std::make_unique<FreeHotKey>();
        wiring = std::make_unique<ClientWiring>(controller, window, shellPrompter, launcher,
                                                std::move(outside));
        // The sign-in dialog itself is tested on its own; here its requests
        // are counted.
        QObject::disconnect(&controller, &MainController::signInDialogRequested, wiring.get(),
                            nullptr);
        QObject::connect(&controller, &MainController::signInDialogRequested,
                         [this] { ++signInDialogs; });
        QObject::connect(&controller, &MainController::statusTextChanged,
                         [this](const QString &t) { statusTexts.append(t); });
        wiring->start({});
        QTest::qWait(50);
        // The start-up version check finds no web host and says so.
        prompter.clear();
    }
    ~Wired()
    {
        if (controller.tunnelUp())
            controller.logOut();
        wiring.reset();
        qunsetenv("KVO_FAKE_LOG");
    }

    // What the sign-in does once the service has said yes.
    int signIn(const QString &server)
    {
        wiring->account().userId = QStringLiteral("KVO@tester");
        wiring->account().password = QStringLiteral("pw");
        controller.fields().server = server;
        return wiring->startTunnel();
    }
    bool waitTunnelUp(int ms = 5000)
    {
        return QTest::qWaitFor([&] { return controller.tunnelUp(); }, ms);
    }
    // Signed in over a tunnel to `server`, whose session server `peer` has
    // received the session sign-in frame.
    bool signInWithSession(SessionPeer &peer, const QString &server)
    {
        return signIn(server) == 0 && waitTunnelUp() && peer.waitForBytes(0, 12 + 812);
    }
    QTimer *redialTimer() { return controller.timer(MainTimer::RedialCountdown); }
};

// "KVOClient <arguments>" run by the user in a shell of the same login
// session, while this process goes on dispatching its events.
struct ShellRun
{
    int code = -1;
    QString out;
    QString err;
};

ShellRun runShell(const QString &runtimeDir, const QStringList &arguments)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KVO_CLIENT_BIN), arguments);
    ShellRun r;
    if (!p.waitForStarted(5000) ||
        !QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QJsonObject statusOf(const ShellRun &r)
{
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

} // namespace

class TstClientWiring : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The commands from a second process: what each answers and prints, its
    // exit code, and what it does to the running program, signed out and
    // signed in; refusals are printed, not shown.
    void shellCommandsFromASecondProcess()
    {
        const QString notRunning = QStringLiteral("실행중인 KVOClient 프로그램이 없습니다.");
        const QString notConnected = QStringLiteral("모라솔 서비스에 연결되어 있지 않습니다.");
        QTemporaryDir runtime; // the login session's folder, 0700
        QVERIFY(runtime.isValid());
        SessionPeer peer(QStringLiteral("127.0.79.6"));
        QVERIFY(peer.listening());
        // The check after each change asks a page nobody answers.
        Wired w(TunnelKind::OpenVpn, 0, 0, 1, QStringLiteral("127.0.0.1"),
                "VerifyUrl=http://127.0.0.1:1/myip\r\n");
        const QString socketPath = commandSocketPath(runtime.path(), QStringLiteral("KVOClient"));

        // Help and version need no running copy; commands do.
        ShellRun r = runShell(runtime.path(), {QStringLiteral("--help")});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("--switch [IP]")), qPrintable(r.out));
        r = runShell(runtime.path(), {QStringLiteral("--version")});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.startsWith(QStringLiteral("KVOClient 1.")), qPrintable(r.out));
        for (const QString &command : {QStringLiteral("--status"), QStringLiteral("--switch"),
                                       QStringLiteral("--logout"), QStringLiteral("--quit")}) {
            r = runShell(runtime.path(), {command});
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.contains(notRunning), qPrintable(command + r.err));
        }
        // None of them made a socket or took anything in the folder.
        QVERIFY(QDir(runtime.path()).isEmpty());

        ShellControl shell(w.controller, *w.wiring, w.shellPrompter);
        QVERIFY(shell.listen(socketPath));
        struct stat info
        {
        };
        QCOMPARE(::lstat(QFile::encodeName(socketPath).constData(), &info), 0);
        QVERIFY(S_ISSOCK(info.st_mode));
        QCOMPARE(info.st_mode & 0777, mode_t(0600));

        // Another user who could reach the socket gets no answer at all.
        if (::geteuid() == 0) {
            QCOMPARE(::chmod(QFile::encodeName(runtime.path()).constData(), 0711), 0);
            QCOMPARE(::chmod(QFile::encodeName(socketPath).constData(), 0666), 0);
            const QByteArray where = QFile::encodeName(socketPath);
            const pid_t child = ::fork();
            if (child == 0) {
                // Plain system calls only, as nobody: 0 when the server
                // closed without a byte, 1 when it answered, 2 when it could
                // not even be reached.
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(2);
                const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un addr {};
                addr.sun_family = AF_UNIX;
                ::strncpy(addr.sun_path, where.constData(), sizeof addr.sun_path - 1);
                if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
                    ::_exit(2);
                if (::send(fd, "status\n", 7, MSG_NOSIGNAL) != 7)
                    ::_exit(0); // already dropped
                char byte = 0;
                ::_exit(::read(fd, &byte, 1) > 0 ? 1 : 0);
            }
            QVERIFY(child > 0);
            int wstatus = -1;
            QVERIFY(QTest::qWaitFor([&] { return ::waitpid(child, &wstatus, WNOHANG) == child; },
                                    10000));
            QVERIFY(WIFEXITED(wstatus));
            QCOMPARE(WEXITSTATUS(wstatus), 0);
            QCOMPARE(::chmod(QFile::encodeName(runtime.path()).constData(), 0700), 0);
            QCOMPARE(::chmod(QFile::encodeName(socketPath).constData(), 0600), 0);
        }

        // Signed out: the state, and the tunnel's commands refused as the
        // tray refuses them.
        r = runShell(runtime.path(), {QStringLiteral("--status")});
        QCOMPARE(r.code, 0);
        QJsonObject st = statusOf(r);
        QCOMPARE(st.value(QStringLiteral("signedIn")).toBool(true), false);
        QCOMPARE(st.value(QStringLiteral("tunnel")).toObject().value(QStringLiteral("type")),
                 QStringLiteral("OpenVPN"));
        QCOMPARE(st.value(QStringLiteral("tunnel")).toObject().value(QStringLiteral("state")),
                 QStringLiteral("down"));
        QCOMPARE(st.value(QStringLiteral("listSize")).toInt(-1), 0);
        for (const QString &command : {QStringLiteral("--switch"), QStringLiteral("--logout")}) {
            r = runShell(runtime.path(), {command});
            QCOMPARE(r.code, 1);
            QCOMPARE(r.err.trimmed(), notConnected);
        }
        // Bad arguments are refused before anything is sent.
        for (const QStringList &bad :
             {QStringList {QStringLiteral("--switch"), QStringLiteral("1.2.3")},
              QStringList {QStringLiteral("--switch"), QStringLiteral("1.2.3.4;reboot")},
              QStringList {QStringLiteral("--switch"), QStringLiteral("01.2.3.4")},
              QStringList {QStringLiteral("--status"), QStringLiteral("x")}}) {
            r = runShell(runtime.path(), bad);
            QCOMPARE(r.code, 2);
        }

        // Signed in, a list of three, the first address in use.
        QVERIFY(w.signInWithSession(peer, QStringLiteral("127.0.79.6")));
        QVERIFY(QTest::qWaitFor([&] { return w.wiring->session().connected(); }, 3000));
        const QString a = QStringLiteral("211.2.2.1"), b = QStringLiteral("211.2.2.2"),
                      c = QStringLiteral("211.2.2.3");
        peer.send(encodeFrame(
            SM_IP_INFO, 3,
            SessionEncode::fixedList(
                {{a, 1, 1, 30, QString()}, {b, 2, 1, 30, QString()}, {c, 3, 0, 30, QString()}})));
        IpListController &list = w.wiring->ipList();
        QVERIFY(QTest::qWaitFor([&] { return list.rowCount() == 3; }, 3000));
        list.checkAll(true);
        peer.send(encodeFrame(SM_IP_CHANGE_OK, 0, encodeAddress(a)));
        QVERIFY(QTest::qWaitFor([&] { return w.controller.currentAddress() == a; }, 3000));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return w.wiring->addressVerifier().state() == AddressVerifier::State::Unreachable;
            },
            8000));

        r = runShell(runtime.path(), {QStringLiteral("--status")});
        QCOMPARE(r.code, 0);
        st = statusOf(r);
        QCOMPARE(st.value(QStringLiteral("signedIn")).toBool(false), true);
        QCOMPARE(st.value(QStringLiteral("tunnel")).toObject().value(QStringLiteral("state")),
                 QStringLiteral("up"));
        QCOMPARE(st.value(QStringLiteral("session")).toBool(false), true);
        QCOMPARE(st.value(QStringLiteral("address")).toString(), a);
        QCOMPARE(st.value(QStringLiteral("listSize")).toInt(), 3);
        QCOMPARE(st.value(QStringLiteral("autoChange")).toObject().value(QStringLiteral("on")),
                 false);
        QVERIFY(st.value(QStringLiteral("elapsed")).toString().contains(QLatin1Char(':')));
        QCOMPARE(st.value(QStringLiteral("verify")).toObject().value(QStringLiteral("state")),
                 QStringLiteral("unreachable"));

        // An address no row shows, and one whose row does not qualify.
        r = runShell(runtime.path(), {QStringLiteral("--switch"), QStringLiteral("9.9.9.9")});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err.trimmed(), QStringLiteral("IP 목록에 없는 IP입니다: 9.9.9.9"));
        r = runShell(runtime.path(), {QStringLiteral("--switch"), c});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err.trimmed(),
                 QStringLiteral("체크된 IP가 아니거나 대기인 IP가 아닙니다: ") + c);

        // Change: the next qualifying row goes out on the wire; until its
        // result the button is disabled, and so is the command.
        const qsizetype sent = peer.last().received.size();
        r = runShell(runtime.path(), {QStringLiteral("--switch")});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.trimmed(), QStringLiteral("IP전환 요청: ") + b);
        QVERIFY(QTest::qWaitFor(
            [&] { return peer.last().received.mid(sent).contains(encodeAddress(b)); }, 3000));
        r = runShell(runtime.path(), {QStringLiteral("--switch"), a});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err.trimmed(), QStringLiteral("지금은 IP전환을 할 수 없습니다."));
        peer.send(encodeFrame(SM_IP_CHANGE_OK, 0, encodeAddress(b)));
        QVERIFY(QTest::qWaitFor([&] { return w.controller.currentAddress() == b; }, 3000));
        r = runShell(runtime.path(), {QStringLiteral("--switch"), a});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.trimmed(), QStringLiteral("IP전환 요청: ") + a);
        peer.send(encodeFrame(SM_IP_CHANGE_OK, 0, encodeAddress(a)));
        QVERIFY(QTest::qWaitFor([&] { return w.controller.currentAddress() == a; }, 3000));

        // Change with nothing checked: the button's box text is printed,
        // and no box is shown.
        list.checkAll(false);
        w.prompter.clear();
        r = runShell(runtime.path(), {QStringLiteral("--switch")});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err.trimmed(), QStringLiteral("체크된 IP가 없거나 대기인 IP가 없습니다."));
        QVERIFY2(w.prompter.boxes().isEmpty(), qPrintable(w.prompter.texts().join(u'|')));

        // Log-out, then exit; after it nobody answers.
        r = runShell(runtime.path(), {QStringLiteral("--logout")});
        QCOMPARE(r.code, 0);
        QVERIFY(QTest::qWaitFor([&] { return !w.controller.tunnelUp(); }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return w.signInDialogs == 2; }, 5000));
        r = runShell(runtime.path(), {QStringLiteral("--quit")});
        QCOMPARE(r.code, 0);
        QVERIFY(QTest::qWaitFor([&] { return w.controller.exited(); }, 5000));
        r = runShell(runtime.path(), {QStringLiteral("--status")});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(notRunning), qPrintable(r.err));
    }

    // Log-out over OpenVPN: the window's flags are the tunnel rules' flags,
    // so the end of openvpn that the log-out causes starts no countdown.
    void openVpnLogOutEndsTheTunnelWithoutARedial()
    {
        SessionPeer peer(QStringLiteral("127.0.79.1"));
        QVERIFY(peer.listening());
        Wired w(TunnelKind::OpenVpn, 1, 2, 1);
        QVERIFY(w.signInWithSession(peer, QStringLiteral("127.0.79.1")));
        QCOMPARE(w.controller.trayIconId(), int(TrayIcon::Connected));
        QVERIFY(openVpnRunning());

        w.controller.logOut();
        QVERIFY(QTest::qWaitFor([] { return !openVpnRunning(); }, 3000));
        QTest::qWait(300); // the end of openvpn is handled
        QVERIFY(!w.controller.tunnelUp());
        QVERIFY(w.wiring->tunnelEvents().loggingOut());
        QVERIFY(!w.redialTimer()->isActive());
        QVERIFY(!w.wiring->tunnelEvents().redialPending());
        QCOMPARE(w.controller.trayIconId(), int(TrayIcon::NotConnected));
        QCOMPARE(w.signInDialogs, 2); // at start and after the log-out
        QVERIFY(!w.statusTexts.contains(QStringLiteral("1 초 후에 다시 접속을 시도 합니다.")));
    }

    // Sign-in and log-out cycles over a dial-up link: each link's watcher
    // ends with it, no thread is left behind, and no stale watcher reports
    // the next link as lost.
    void dialUpCyclesLeaveNoWatcherBehind()
    {
        Wired w(TunnelKind::Pptp, 1, 2, 1);
        int threadsAfterFirst = 0;
        for (int cycle = 0; cycle < 4; ++cycle) {
            QCOMPARE(w.signIn(QStringLiteral("up.test")), 0);
            QVERIFY(w.waitTunnelUp());
            QVERIFY(QTest::qWaitFor(
                [&] { return w.wiring->tunnelEvents().linkWatcherCount() == 1; }, 3000));
            w.controller.logOut();
            QCOMPARE(w.wiring->tunnelEvents().linkWatcherCount(), 0);
            QVERIFY(!w.controller.tunnelUp());
            QCOMPARE(w.controller.trayIconId(), int(TrayIcon::NotConnected));
            QTest::qWait(100);
            if (cycle == 0)
                threadsAfterFirst = threadCount();
        }
        QVERIFY2(threadCount() <= threadsAfterFirst,
                 qPrintable(QStringLiteral("%1 threads after four cycles, %2 after one")
                                .arg(threadCount())
                                .arg(threadsAfterFirst)));
        QVERIFY(!w.statusTexts.contains(kLinkLostText));
        QVERIFY(!w.redialTimer()->isActive());
    }

    // A forced sign-out on a dial-up link: the link is hung up, so the tray
    // says so and its tunnel commands are off.
    void forcedSignOutOnDialUpShowsTheTunnelDown()
    {
        Wired w(TunnelKind::L2tp, 1, 2, 1);
        QCOMPARE(w.signIn(QStringLiteral("up.test")), 0);
        QVERIFY(w.waitTunnelUp());
        w.controller.forcedSignOut(QStringLiteral("통신에 문제가 발생하여 연결을 종료합니다."));
        QVERIFY(!w.controller.tunnelUp());
        QCOMPARE(w.controller.trayIconId(), int(TrayIcon::NotConnected));
        QCOMPARE(w.controller.trayTip(), QStringLiteral("모라솔 서비스에 연결되어 있지 않습니다."));
        QCOMPARE(w.wiring->tunnelEvents().linkWatcherCount(), 0);
        QVERIFY(!w.controller.timer(MainTimer::ElapsedTime)->isActive());
        QVERIFY(w.prompter.texts().contains(
            QStringLiteral("통신에 문제가 발생하여 연결을 종료합니다.")));
        QTest::qWait(700); // longer than a watcher's poll
        QVERIFY(!w.statusTexts.contains(kLinkLostText));
        QVERIFY(!w.redialTimer()->isActive());
    }

    // The tunnel lost and dialled again: the countdown, the new tunnel, the
    // new session sign-in; the address in use before the loss is gone
    // everywhere, so the first list after the redial marks no row in use.
    void redialAfterALostTunnelStartsAFreshSession()
    {
        SessionPeer peer(QStringLiteral("127.0.79.2"));
        QVERIFY(peer.listening());
        Wired w(TunnelKind::OpenVpn, 1, 2, 1);
        QVERIFY(w.signInWithSession(peer, QStringLiteral("127.0.79.2")));
        QVERIFY(QTest::qWaitFor([&] { return w.wiring->session().connected(); }, 3000));

        FixedIpInfo a {QStringLiteral("211.1.1.1"), 1, 1, 30, QString()};
        FixedIpInfo b {QStringLiteral("211.1.1.2"), 2, 1, 30, QString()};
        peer.send(encodeFrame(SM_IP_CHANGE_OK, 0, encodeAddress(QStringLiteral("211.1.1.1"))));
        QVERIFY(QTest::qWaitFor(
            [&] { return w.controller.currentAddress() == QStringLiteral("211.1.1.1"); }, 3000));

        // openvpn dies under the client.
        const pid_t pid = ProcessList::findFirstNamed(QStringLiteral("kvo_openvpn")).pid;
        QVERIFY(pid != 0);
        ::kill(pid, SIGKILL);
        QVERIFY(QTest::qWaitFor([&] { return w.redialTimer()->isActive(); }, 3000));
        QVERIFY(w.controller.currentAddress().isEmpty());
        QCOMPARE(w.controller.trayIconId(), int(TrayIcon::NotConnected));

        // One second of countdown, then the attempt brings the tunnel back.
        QVERIFY(w.waitTunnelUp(8000));
        QVERIFY(peer.waitForBytes(1, 12 + 812, 5000));
        QVERIFY(w.statusTexts.contains(QStringLiteral("1 초 후에 다시 접속을 시도 합니다.")));
        QVERIFY(QTest::qWaitFor([&] { return w.wiring->session().connected(); }, 3000));

        peer.send(encodeFrame(SM_IP_INFO, 2, SessionEncode::fixedList({a, b})));
        IpListModel &model = w.wiring->ipList().model();
        QVERIFY(QTest::qWaitFor([&] { return model.rows().rowCount() == 2; }, 3000));
        for (int r = 0; r < 2; ++r)
            QVERIFY2(model.rows().text(r, 3) != IpState::InUse,
                     qPrintable(model.rows().text(r, 0)));
    }

    // No socket can be made for the session: the failure is reported and the
    // tunnel ended.
    void sessionSocketThatCannotBeMadeEndsTheTunnel()
    {
        SessionPeer peer(QStringLiteral("127.0.79.4"));
        QVERIFY(peer.listening());
        QUdpSocket report; // the failure report host
        QVERIFY(report.bind(QHostAddress(QStringLiteral("127.0.79.5")), kFailureReportPort));
        Wired w(TunnelKind::OpenVpn, 0, 0, 1, QStringLiteral("127.0.79.5"));
        QVERIFY(w.signInWithSession(peer, QStringLiteral("127.0.79.4")));
        w.prompter.clear();
        // The connection reports that it could make no socket (its own
        // test makes that happen with no descriptor left).
        Q_EMIT w.wiring->session().socketCreateFailed();
        QVERIFY(QTest::qWaitFor([&] { return report.hasPendingDatagrams(); }, 3000));
        const QByteArray datagram = report.receiveDatagram().data();
        QCOMPARE(datagram.size(), 380);
        QCOMPARE(datagram.left(4), QByteArray(4, '\0')); // code 0
        QCOMPARE(datagram.mid(124).left(31), QByteArray("TARVO_MANAGE_SOCKET_CREATE_FAIL"));
        QVERIFY(QTest::qWaitFor([] { return !openVpnRunning(); }, 3000));
        QVERIFY(QTest::qWaitFor([&] { return !w.controller.tunnelUp(); }, 3000));
        QCOMPARE(peer.count(), 1);
    }

    // The session server closes the connection: the session signs in again
    // over the same tunnel; the tunnel and the window stay as they are.
    void sessionCloseReconnectsOverTheSameTunnel()
    {
        SessionPeer peer(QStringLiteral("127.0.79.3"));
        QVERIFY(peer.listening());
        Wired w(TunnelKind::OpenVpn, 1, 2, 1);
        QVERIFY(w.signInWithSession(peer, QStringLiteral("127.0.79.3")));
        peer.at(0).socket->disconnectFromHost();
        QVERIFY(peer.waitForBytes(1, 12 + 812, 5000));
        QCOMPARE(peer.at(1).received.left(824), peer.at(0).received.left(824));
        QVERIFY(w.controller.tunnelUp());
        QVERIFY(w.statusTexts.contains(QStringLiteral("세션 관리서버 재연결중..")));
        QCOMPARE(w.signInDialogs, 1);
        QVERIFY2(w.prompter.boxes().isEmpty(),
                 qPrintable(w.prompter.texts().join(QLatin1Char('|'))));
    }

    // Buttons 1087 and 1077 of the signed-in window: the memo list request
    // goes out, its answer shows the panel beside the list until the
    // log-out; the report dialog opens on the address in use and its report
    // goes out whole.
    void memoAndReportButtons()
    {
        SessionPeer peer(QStringLiteral("127.0.79.4"));
        QVERIFY(peer.listening());
        Wired w(TunnelKind::OpenVpn, 1, 2, 1);
        w.controller.fields().productType = 1;
        QCOMPARE(w.signIn(QStringLiteral("127.0.79.4")), 0);
        QVERIFY(w.waitTunnelUp());
        QVERIFY(peer.waitForBytes(0, 12 + 812));
        peer.send(encodeFrame(SM_LOGIN_OK, 0));
        FixedIpInfo a;
        a.address = QStringLiteral("211.5.0.1");
        a.state = 1;
        a.userNumber = 21;
        FixedIpInfo b = a;
        b.address = QStringLiteral("211.5.0.2");
        b.userNumber = 22;
        peer.send(encodeFrame(SM_IP_INFO, 2, SessionEncode::fixedList({a, b})));
        QVERIFY(peer.waitForBytes(0, 12 + 812 + 12 + 16));
        peer.send(encodeFrame(SM_IP_CHANGE_OK, 0, encodeAddress(QStringLiteral("211.5.0.1"))));
        QVERIFY(QTest::qWaitFor(
            [&] { return w.controller.currentAddress() == QStringLiteral("211.5.0.1"); }, 5000));
        w.window.show();
        const qsizetype before = peer.at(0).received.size();

        auto *memoButton = qobject_cast<QAbstractButton *>(w.window.control(1087));
        QVERIFY(memoButton && memoButton->isEnabled());
        memoButton->click();
        QVERIFY(peer.waitForBytes(0, before + 12));
        QCOMPARE(peer.at(0).received.mid(before, 12).toHex(),
                 QByteArray("0c000000"
                            "1b000000"
                            "00000000"));
        peer.send(encodeFrame(SM_MEMO_LIST, 1,
                              SessionEncode::memoList({{22, QStringLiteral("회사용")}})));
        MemoDialog *panel = w.wiring->memoPanel();
        QVERIFY(QTest::qWaitFor([&] { return panel->isVisible(); }, 5000));
        QVERIFY(w.controller.memoPanelShown());
        QCOMPARE(panel->geometry(), w.window.memoPanelGeometry());
        QCOMPARE(panel->memoList()->itemText(1, 0), QStringLiteral("회사용"));
        QVERIFY(w.window.ipList()->hideVerticalBar());
        // The panel follows the window's moves and the list's height.
        const QRect first = panel->geometry();
        w.window.move(w.window.pos() + QPoint(40, 30));
        QVERIFY(QTest::qWaitFor([&] { return panel->geometry() != first; }, 3000));
        QCOMPARE(panel->geometry(), first.translated(40, 30));
        w.window.resize(363, 550);
        QVERIFY(
            QTest::qWaitFor([&] { return panel->height() == w.window.ipList()->height(); }, 3000));
        QCOMPARE(panel->geometry(), w.window.memoPanelGeometry());
        QVERIFY(panel->height() > first.height());

        // The report dialog, filled in as a user does.
        const qsizetype beforeReport = peer.at(0).received.size();
        QString shownAddress;
        QTimer::singleShot(100, [&] {
            auto *dlg = qobject_cast<NotifyIp *>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            shownAddress = NotifyIp::addressText(dlg->addressControl()->address());
            dlg->findChild<QRadioButton *>(QStringLiteral("1092"))->click();
            dlg->reasonEdit()->setPlainText(QStringLiteral("광고 미노출"));
            dlg->findChild<QPushButton *>(QStringLiteral("1"))->click();
        });
        qobject_cast<QAbstractButton *>(w.window.control(1077))->click();
        QCOMPARE(shownAddress, QStringLiteral("211.5.0.1"));
        QVERIFY(peer.waitForBytes(0, beforeReport + 12 + 8200));
        const QByteArray report = peer.at(0).received.mid(beforeReport, 12 + 8200);
        QCOMPARE(report.left(20).toHex(),
                 QByteArray("14200000"
                            "1a000000"
                            "01000000"
                            "02000000"
                            "d3050001"));
        // The reason in the code page, zero-filled to the record's end.
        const QByteArray reason("\xb1\xa4\xb0\xed \xb9\xcc\xb3\xeb\xc3\xe2");
        QCOMPARE(report.mid(20, reason.size()), reason);
        QCOMPARE(report.mid(20 + reason.size()), QByteArray(8192 - reason.size(), '\0'));
        QCOMPARE(w.window.ipList()->itemText(0, 1), QStringLiteral("!"));

        w.controller.logOut();
        QVERIFY(!panel->isVisible());
        QVERIFY(!w.controller.memoPanelShown());
        QVERIFY(!w.window.ipList()->hideVerticalBar());

        // The panel goes with the wiring that it reaches the window through.
        const QPointer<MemoDialog> kept = panel;
        w.wiring.reset();
        QVERIFY(kept.isNull());
        w.controller.hideMemoPanel();
    }
};

QTEST_MAIN(TstClientWiring)
#include "tst_clientwiring.moc"
