#include "ovpnclient.h"

#include "tapadapter.h"
#include "tunnelcommand.h"

#include "platform/ipv4.h"
#include "platform/processlist.h"
#include "platform/programfolder.h"
#include "platform/prompter.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <vector>

const QString OvpnClient::kProgramName = QStringLiteral("kvo_openvpn");

struct OvpnClient::Run
{
    OvpnProcess *process = nullptr;
    QPointer<TunnelNotifier> notify;
    int lastCode = 0;
    bool ended = false; // reaped: only then is the child gone
    bool silenced = false; // a newer Connect took over: no more events
    bool stopping = false; // asked to end: its last lines are no news any more
};

namespace {

// Within the 1000 ms that Disconnect waits, the stop grace (700 ms) ends,
// so that a child that ignored the SIGTERM is normally reaped before
// Disconnect returns.
constexpr int kDisconnectWaitMs = 1000;

// Children of drivers that were deleted or replaced while their tunnel was
// up: the tunnel stays (deleting a driver does not end it), and CloseExisting
// can still stop them. Kept reachable for the life of the program.
std::vector<OvpnProcess *> &orphans()
{
    // Never freed: the processes must stay reachable until the very end.
    static auto *list = new std::vector<OvpnProcess *>;
    return *list;
}

void adoptOrphan(OvpnProcess *p)
{
    // Nobody reads its lines any more; forget it once it has ended.
    p->disconnect();
    p->setParent(nullptr);
    QObject::connect(p, &OvpnProcess::ended, p, [p] {
        auto &list = orphans();
        list.erase(std::remove(list.begin(), list.end(), p), list.end());
        p->deleteLater();
    });
    orphans().push_back(p);
}

} // namespace

OvpnClient::OvpnClient(Prompter &prompter, TapAdapter &tap, QosQuery qosQuery,
                       OvpnProcessFactory processes, QObject *parent)
    : QObject(parent), m_prompter(prompter), m_tap(tap), m_qosQuery(std::move(qosQuery)),
      m_processes(std::move(processes))
{
    if (!m_processes)
        m_processes = [](QObject *owner) {
            return new DirectOvpnProcess(owner);
        };
}

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

bool OvpnClient::running() const
{
    return m_run && m_run->process && !m_run->ended;
}

void OvpnClient::CloseExisting()
{
    // Our own child first, then a child of an earlier driver of ours, then a
    // program of ours that an earlier run left behind. One at most, and the
    // end is not waited for.
    if (m_run && m_run->process && !m_run->ended && m_run->process->running()) {
        m_run->stopping = true;
        m_run->process->stop();
        return;
    }
    for (OvpnProcess *p : orphans()) {
        if (p->running() && !p->stopRequested()) {
            p->stop();
            return;
        }
    }
    const ProcessEntry leftover = ProcessList::findFirstNamed(kProgramName);
    if (leftover.pid > 0)
        ProcessList::stop(leftover.pid, DirectOvpnProcess::kStopGraceMs);
}

int OvpnClient::Connect(TunnelNotifier *notify, const QString &userId, const QString &password,
                        const QString &server)
{
    CloseExisting();
    m_userId = userId;
    m_password = password;
    m_server = server;
    m_pushedDns = {};
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
    OvpnProcess *p = m_processes(this);
    run->process = p;
    Run *r = run.get();
    connect(p, &OvpnProcess::lineRead, this,
            [this, r](const QString &line) { handleLine(r, line); });
    connect(p, &OvpnProcess::ended, this, [this, r] { onFinished(r); });
    m_run = std::move(run);

    if (!p->start(server, OvpnOutput::shaperRate(m_qos), userId, password)) {
        p->disconnect(this);
        p->deleteLater();
        m_run.reset();
        m_startResult = OvpnEvent::StartFailed;
        return m_startResult;
    }
    m_startResult = 0;
    return m_startResult;
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
    TunnelDns::Settings pushed;
    if (OvpnOutput::pushedDns(line, &pushed.servers, &pushed.domains))
        m_pushedDns = pushed;
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
    OvpnProcess *p = m_run->process;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(p, &OvpnProcess::ended, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    // SIGTERM lets openvpn remove its routes and address before it ends;
    // SIGKILL follows after the grace. Should the child still not be reaped
    // when the wait is over, it stays recorded as running and its end is
    // handled by the event loop later.
    m_run->stopping = true;
    p->stop();
    limit.start(kDisconnectWaitMs);
    loop.exec();
}

QString OvpnClient::GetAssignedIp()
{
    return m_assignedIp;
}
