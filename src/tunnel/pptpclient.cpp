#include "pptpclient.h"

#include "tunnelcommand.h"

#include "platform/eventwait.h"
#include "platform/ipv4.h"
#include "platform/programfolder.h"
#include "platform/prompter.h"

#include <QElapsedTimer>
#include <QPointer>

const QString PptpClient::kEntryName = TunnelCommand::dialEntryName();
const QString PptpClient::kPreSharedKey = TunnelCommand::preSharedKey();

namespace {
constexpr int kMaxEnumerated = 20;
constexpr int kCredentialChars = 256;
} // namespace

PptpClient::PptpClient(unsigned type, DialUp &dialUp, Prompter &prompter)
    : m_handle(std::make_shared<std::atomic<Ras::Handle>>(0)), m_type(type), m_dialUp(dialUp),
      m_prompter(prompter)
{
    ProgramFolder::ensure();
    m_phoneBook = ProgramFolder::filePath(QStringLiteral("KVORasEntry"));
}

int PptpClient::tunnelType() const
{
    return m_type == 1 ? TunnelKind::Pptp : TunnelKind::L2tp;
}

Ras::Entry PptpClient::entryFor(unsigned type, const QString &server)
{
    return TunnelCommand::dialEntry(type, server);
}

void PptpClient::CloseExisting()
{
    QList<Ras::Connection> connections;
    int count = 0;
    if (m_dialUp.enumConnections(&connections, kMaxEnumerated, &count) != 0)
        return;
    for (const Ras::Connection &c : std::as_const(connections)) {
        if (c.entryName != kEntryName)
            continue;
        if (m_dialUp.hangUp(c.handle) != 0)
            break;
    }
}

int PptpClient::Connect(TunnelNotifier *notify, const QString &userId, const QString &password,
                        const QString &server)
{
    CloseExisting();
    // Only an address or a host name becomes the entry's phone number.
    if (!isServerAddress(server))
        return int(Ras::BadServerName);
    Ras::DialParams params {kEntryName, userId.left(kCredentialChars),
                            password.left(kCredentialChars)};
    m_status = Ras::ConnStatus();

    const unsigned written =
        m_dialUp.setEntryProperties(m_phoneBook, kEntryName, entryFor(m_type, server));
    if (written != 0)
        return int(written);
    if (m_type != 1) {
        const unsigned stored = m_dialUp.setPreSharedKey(m_phoneBook, kEntryName, kPreSharedKey);
        if (stored != 0) {
            m_prompter.show(QStringLiteral("RasSetCredentials failed with error %1").arg(stored),
                            QString(), Mb::Ok);
            return int(stored);
        }
    }
    m_handle->store(0);
    QPointer<TunnelNotifier> target(notify);
    Ras::Handle handle = 0;
    const unsigned result = m_dialUp.dial(
        m_phoneBook, params,
        [target](int state, unsigned error) {
            if (target)
                target->postRasDialEvent(state, int(error));
        },
        &handle);
    m_handle->store(handle);
    return int(result);
}

unsigned PptpClient::refreshStatus()
{
    return m_dialUp.getConnectStatus(handle(), &m_status);
}

void PptpClient::Disconnect()
{
    if (refreshStatus() == Ras::InvalidHandle)
        return;
    m_dialUp.hangUp(handle());
    // Until the connection is really gone; other notices are handled
    // meanwhile. A link program that ignores the hang-up does not hold the
    // user's window for ever.
    QElapsedTimer waited;
    waited.start();
    while (refreshStatus() != Ras::InvalidHandle && waited.elapsed() < 15000)
        waitWhileDispatching(20);
}

QString PptpClient::GetAssignedIp()
{
    QString address;
    if (m_dialUp.getProjectedIp(handle(), &address) != 0)
        return QString();
    return address;
}

QString PptpClient::protection()
{
    QString text;
    if (m_dialUp.getProtection(handle(), &text) != 0)
        return QString();
    return text;
}

TunnelDns::Settings PptpClient::pushedDns() const
{
    TunnelDns::Settings dns;
    if (m_dialUp.getPeerDns(handle(), &dns.servers) != 0)
        return {};
    return dns;
}

QString PptpClient::GetStatistics()
{
    Ras::Statistics stats;
    m_dialUp.getStatistics(handle(), &stats);
    return trafficText(stats.bytesSent, stats.bytesReceived);
}

QString trafficText(quint64 bytesSent, quint64 bytesReceived)
{
    return QString::asprintf("송신 : %.2f KByte\n수신 : %.2f KByte", double(bytesSent) / 1024.0,
                             double(bytesReceived) / 1024.0);
}
