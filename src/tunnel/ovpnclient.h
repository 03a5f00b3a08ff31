#pragma once

#include "vpn.h"

#include "ovpnoutput.h"
#include "ovpnprocess.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class Prompter;
class TapAdapter;

// The OpenVPN tunnel driver. It runs the OpenVPN program with a fixed
// command line, hands it the credentials on its standard input, reads its
// output on the event loop, turns telling lines into "OVPNEVENT" codes and
// takes the tunnel's address from the output. The program runs through an
// OvpnProcess: the client's own child by default, or kvo-helper's.
class OvpnClient : public QObject, public VPN
{
    Q_OBJECT
public:
    // The reply of the QoS request for a user ID ("id=<user ID>" posted to
    // http://<web host>/service/vezi/get_qos.php); empty on any failure.
    using QosQuery = std::function<QString(const QString &userId)>;

    // processes: how openvpn is run; empty: as this program's own child.
    OvpnClient(Prompter &prompter, TapAdapter &tap, QosQuery qosQuery,
               OvpnProcessFactory processes = {}, QObject *parent = nullptr);
    ~OvpnClient() override;

    void CloseExisting() override;
    int Connect(TunnelNotifier *notify, const QString &userId, const QString &password,
                const QString &server) override;
    void Disconnect() override;
    QString GetAssignedIp() override;
    QString GetStatistics() override { return QString(); }
    TunnelDns::Settings pushedDns() const override { return m_pushedDns; }
    int tunnelType() const override { return TunnelKind::OpenVpn; }

    // The program folder's "kvo_openvpn" when it is there, else openvpn from
    // PATH (or /usr/sbin).
    static QString programPath();
    // The command line after the program.
    static QStringList arguments(const QString &server, quint32 qos);
    // The running child's process id, 0 when none runs or when it is not
    // this program's child.
    qint64 processId() const;
    // Whether the last started child has not been reaped yet.
    bool running() const;
    // What the last Connect recorded: 0 started, 12 or 13.
    int startResult() const { return m_startResult; }

    // The service's OpenVPN servers listen on TCP port 80.
    static constexpr quint16 kServerPort = 80;
    // The process name CloseExisting looks for.
    static const QString kProgramName; // "kvo_openvpn"

private:
    struct Run;
    void onFinished(Run *run);
    void handleLine(Run *run, const QString &line);
    void post(Run *run, int code);

    Prompter &m_prompter;
    TapAdapter &m_tap;
    QosQuery m_qosQuery;
    OvpnProcessFactory m_processes;

    QString m_userId;
    QString m_password;
    QString m_server;
    quint32 m_qos = 0;
    int m_startResult = 0;
    QString m_assignedIp; // not cleared by Connect
    TunnelDns::Settings m_pushedDns; // of the latest push reply
    std::unique_ptr<Run> m_run;
};
