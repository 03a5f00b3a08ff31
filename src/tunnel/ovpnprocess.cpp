#include "ovpnprocess.h"

#include "ovpnclient.h"
#include "tunnelcommand.h"

#include "platform/codepage.h"
#include "platform/programfolder.h"

#include <QProcess>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

DirectOvpnProcess::DirectOvpnProcess(QObject *parent) : OvpnProcess(parent) { }

bool DirectOvpnProcess::start(const QString &server, quint32 shaperRate, const QString &userId,
                              const QString &password)
{
    m_userAnswer = CodePage::fromUnicode(userId) + '\n';
    m_passwordAnswer = CodePage::fromUnicode(password) + '\n';
    auto *p = new QProcess(this);
    p->setProcessChannelMode(QProcess::MergedChannels);
    const pid_t parent = ::getpid();
    p->setChildProcessModifier([parent] {
        // The tunnel must not outlive a client that crashed or was killed.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
    });
    connect(p, &QProcess::readyReadStandardOutput, this, &DirectOvpnProcess::onOutput);
    connect(p, &QProcess::finished, this, &DirectOvpnProcess::onFinished);
    p->start(OvpnClient::programPath(),
             TunnelCommand::ovpnArguments(ProgramFolder::path(), server, OvpnClient::kServerPort,
                                          shaperRate));
    if (!p->waitForStarted(10000)) {
        p->disconnect(this);
        p->deleteLater();
        return false;
    }
    m_process = p;
    // Both lines at once, then end of input: openvpn reads them from
    // /dev/stdin before it connects.
    p->write(m_userAnswer + m_passwordAnswer);
    p->closeWriteChannel();
    return true;
}

bool DirectOvpnProcess::running() const
{
    return m_process && !m_ended && m_process->state() != QProcess::NotRunning;
}

qint64 DirectOvpnProcess::processId() const
{
    return m_process && !m_ended ? m_process->processId() : 0;
}

void DirectOvpnProcess::stop()
{
    // openvpn 2.6 can miss a SIGTERM that arrives while it restarts its
    // connection, and would then go on retrying: SIGKILL follows after the
    // grace. The timer belongs to this object, so it fires also after the
    // driver has let the child go.
    if (!running() || m_stopRequested)
        return;
    m_stopRequested = true;
    m_process->terminate();
    auto *escalate = new QTimer(this);
    escalate->setSingleShot(true);
    connect(escalate, &QTimer::timeout, this, [this] {
        if (running())
            m_process->kill();
    });
    escalate->start(kStopGraceMs);
}

void DirectOvpnProcess::onOutput()
{
    if (!m_process)
        return;
    const QByteArray chunk = m_process->readAllStandardOutput();
    // Prompts only appear where openvpn has a terminal-like input; answer
    // them while our end of its input is open.
    if (m_process->isWritable()) {
        if (chunk.contains("Enter Auth Username:"))
            m_process->write(m_userAnswer);
        else if (chunk.contains("Enter Auth Password:"))
            m_process->write(m_passwordAnswer);
    }
    for (const QString &line : m_splitter.feed(chunk))
        Q_EMIT lineRead(line);
}

void DirectOvpnProcess::onFinished()
{
    if (m_ended)
        return;
    onOutput();
    for (const QString &line : m_splitter.finish())
        Q_EMIT lineRead(line);
    m_ended = true;
    Q_EMIT ended();
}
