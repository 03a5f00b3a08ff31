#include "ovpnclient.h"

#include "tapadapter.h"
#include "tunnelcommand.h"

#include "platform/codepage.h"
#include "platform/ipv4.h"
#include "platform/processlist.h"
#include "platform/programfolder.h"
#include "platform/prompter.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

const QString OvpnClient::kProgramName = QStringLiteral("kvo_openvpn");

struct OvpnClient::Run
{
    QProcess *process = nullptr;
    QPointer<TunnelNotifier> notify;
    OvpnOutput::LineSplitter splitter;
    QByteArray userAnswer;
    QByteArray passwordAnswer;
    int lastCode = 0;
    bool ended = false; // reaped: only then is the child gone
    bool silenced = false; // a newer Connect took over: no more events
    bool stopping = false; // asked to end: its last lines are no news any more
};

namespace {

// How long openvpn gets to remove its routes and address after SIGTERM
// before it is killed. Within the 1000 ms that Disconnect waits, so that a
// child that ignored the SIGTERM is normally reaped before Disconnect
// returns.
constexpr int kStopGraceMs = 700;
constexpr int kDisconnectWaitMs = 1000;

// Ends a child unconditionally: SIGTERM, then SIGKILL when it has not ended
// after the grace. openvpn 2.6 can miss a SIGTERM that arrives while it
// restarts its connection, and would then go on retrying. The timer belongs
// to the process object, so it fires also after the driver has let the
// child go.
void stopChild(QProcess *p)
{
    if (p->state() == QProcess::NotRunning || p->property("kvoStopping").toBool())
        return;
    p->setProperty("kvoStopping", true);
    p->terminate();
    auto *escalate = new QTimer(p);
    escalate->setSingleShot(true);
    QObject::connect(escalate, &QTimer::timeout, p, [p] {
        if (p->state() != QProcess::NotRunning)
            p->kill();
    });
    escalate->start(kStopGraceMs);
}

// Children of drivers that were deleted or replaced while their tunnel was
// up: the tunnel stays (deleting a driver does not end it), and CloseExisting
// can still stop them. Kept reachable for the life of the program.
std::vector<QProcess *> &orphans()
{
    // Never freed: the processes must stay reachable until the very end.
    static auto *list = new std::vector<QProcess *>;
    return *list;
}

void adoptOrphan(QProcess *p)
{
    p->disconnect();
    p->setParent(nullptr);
    // Nobody reads its output any more; let it drain so the child never
    // blocks on a full pipe, and forget it once it has ended.
    QObject::connect(p, &QProcess::readyReadStandardOutput, p, [p] { p->readAll(); });
    QObject::connect(p, &QProcess::finished, p, [p] {
        auto &list = orphans();
        list.erase(std::remove(list.begin(), list.end(), p), list.end());
        p->deleteLater();
    });
    orphans().push_back(p);
}

} // namespace

OvpnClient::OvpnClient(Prompter &prompter, TapAdapter &tap, QosQuery qosQuery, QObject *parent)
    : QObject(parent), m_prompter(prompter), m_tap(tap), m_qosQuery(std::move(qosQuery))
{ }

OvpnClient::~OvpnClient()
{
    if (m_run && m_run->process && !m_run->ended)
        adoptOrphan(m_run->process);
}

QString OvpnClient::programPath()
{
    const QString own = ProgramFolder::filePath(kProgramName);
    if (QFileInfo(own).isExecutable())
        return own;
    QString found = QStandardPaths::findExecutable(QStringLiteral("openvpn"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(
            QStringLiteral("openvpn"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found.isEmpty() ? QStringLiteral("openvpn") : found;
}

QStringList OvpnClient::arguments(const QString &server, quint32 qos)
{
    return TunnelCommand::ovpnArguments(ProgramFolder::path(), server, kServerPort,
                                        OvpnOutput::shaperRate(qos));
}

qint64 OvpnClient::processId() const
{
    if (!m_run || !m_run->process || m_run->ended)
        return 0;
    return m_run->process->processId();
}

void OvpnClient::CloseExisting()
{
    // Our own child first, then a child of an earlier driver of ours, then a
    // program of ours that an earlier run left behind. One at most, and the
    // end is not waited for.
    if (m_run && m_run->process && !m_run->ended &&
        m_run->process->state() != QProcess::NotRunning) {
        m_run->stopping = true;
        stopChild(m_run->process);
        return;
    }
    for (QProcess *p : orphans()) {
        if (p->state() != QProcess::NotRunning && !p->property("kvoStopping").toBool()) {
            stopChild(p);
            return;
        }
    }
    const ProcessEntry leftover = ProcessList::findFirstNamed(kProgramName);
    if (leftover.pid > 0)
        ProcessList::stop(leftover.pid, kStopGraceMs);
}

int OvpnClient::Connect(TunnelNotifier *notify, const QString &userId, const QString &password,
                        const QString &server)
{
    CloseExisting();
    m_userId = userId;
    m_password = password;
    m_server = server;
    // The remote on openvpn's command line: an address or a host name only.
    if (!isServerAddress(server)) {
        m_startResult = OvpnEvent::StartFailed;
        return m_startResult;
    }

    m_qos = OvpnOutput::qosFromReply(m_qosQuery ? m_qosQuery(userId) : QString());

    if (!m_tap.find()) {
        const int answer = m_prompter.show(
            QStringLiteral("TAP 인터페이스가 설치되지 않았습니다.\n설치하시겠습니까?\n(설치하는데 "
                           "수분이 걸릴 수 있습니다.)"),
            kNoticeCaption, Mb::Question);
        if (answer != IdYes || !m_tap.install())
            return OvpnEvent::TapInstallDeclined;
    }

    // The earlier run (if any) is on its way out; its end is no news to the
    // main window any more.
    if (m_run) {
        m_run->silenced = true;
        if (m_run->process && !m_run->ended)
            adoptOrphan(m_run->process);
        m_run.reset();
    }

    auto run = std::make_unique<Run>();
    run->notify = notify;
    run->userAnswer = CodePage::fromUnicode(userId) + '\n';
    run->passwordAnswer = CodePage::fromUnicode(password) + '\n';
    auto *p = new QProcess(this);
    run->process = p;
    p->setProcessChannelMode(QProcess::MergedChannels);
    const pid_t parent = ::getpid();
    p->setChildProcessModifier([parent] {
        // The tunnel must not outlive a client that crashed or was killed.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
    });
    Run *r = run.get();
    connect(p, &QProcess::readyReadStandardOutput, this, [this, r] { onOutput(r); });
    connect(p, &QProcess::finished, this, [this, r] { onFinished(r); });
    m_run = std::move(run);

    p->start(programPath(), arguments(server, m_qos));
    if (!p->waitForStarted(10000)) {
        p->disconnect(this);
        p->deleteLater();
        m_run.reset();
        m_startResult = OvpnEvent::StartFailed;
        return m_startResult;
    }
    // Both lines at once, then end of input: openvpn reads them from
    // /dev/stdin before it connects.
    p->write(r->userAnswer + r->passwordAnswer);
    p->closeWriteChannel();
    m_startResult = 0;
    return m_startResult;
}

void OvpnClient::onOutput(Run *run)
{
    if (!run->process)
        return;
    const QByteArray chunk = run->process->readAllStandardOutput();
    // Prompts only appear where openvpn has a terminal-like input; answer
    // them while our end of its input is open.
    if (run->process->isWritable()) {
        if (chunk.contains("Enter Auth Username:"))
            run->process->write(run->userAnswer);
        else if (chunk.contains("Enter Auth Password:"))
            run->process->write(run->passwordAnswer);
    }
    for (const QString &line : run->splitter.feed(chunk))
        handleLine(run, line);
}

void OvpnClient::handleLine(Run *run, const QString &line)
{
    // A child on its way out may still print (a retry's "Connection
    // refused", even a completed start): none of it is news.
    if (run->silenced || run->stopping)
        return;
    QString address;
    if (OvpnOutput::assignedAddress(line, &address))
        m_assignedIp = address;
    const int code = OvpnOutput::classify(line);
    if (code != 0)
        post(run, code);
}

void OvpnClient::post(Run *run, int code)
{
    run->lastCode = code;
    if (run->notify)
        run->notify->postOvpnEvent(code);
}

void OvpnClient::onFinished(Run *run)
{
    if (run->ended)
        return;
    onOutput(run);
    for (const QString &line : run->splitter.finish())
        handleLine(run, line);
    run->ended = true;
    if (!run->silenced && run->lastCode != OvpnEvent::ConnectionRefused &&
        run->lastCode != OvpnEvent::AuthFailed && run->lastCode != OvpnEvent::TapTooOld)
        post(run, OvpnEvent::TunnelEnded);
    if (run->process) {
        run->process->disconnect(this);
        run->process->deleteLater();
        run->process = nullptr;
    }
}

void OvpnClient::Disconnect()
{
    if (!m_run || !m_run->process || m_run->ended)
        return;
    QProcess *p = m_run->process;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(p, &QProcess::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    // SIGTERM lets openvpn remove its routes and address before it ends;
    // SIGKILL follows after the grace. Should the child still not be reaped
    // when the wait is over, it stays recorded as running and its end is
    // handled by the event loop later.
    m_run->stopping = true;
    stopChild(p);
    limit.start(kDisconnectWaitMs);
    loop.exec();
}

QString OvpnClient::GetAssignedIp()
{
    return m_assignedIp;
}
