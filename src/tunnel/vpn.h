#pragma once

#include <QObject>
#include <QString>

#include "platform/tunneldns.h"

// Tunnel types as the sign-in dialog stores them (setting IsPPTP).
namespace TunnelKind {
constexpr int Pptp = 1;
constexpr int OpenVpn = 2;
constexpr int L2tp = 3;
} // namespace TunnelKind

// The receiver of a driver's notices: the main window. The two signals stand
// for the window messages "RasDialEvent" (wParam, lParam) and "OVPNEVENT"
// (wParam = event code, lParam always 0). Drivers and their workers post:
// the signal is emitted later from the receiver's own event loop, in the
// order posted, whatever thread posted it.
class TunnelNotifier : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    void postRasDialEvent(int wParam, int lParam);
    void postOvpnEvent(int code);

Q_SIGNALS:
    void rasDialEvent(int wParam, int lParam);
    void ovpnEvent(int code);
};

// The tunnel driver. The main window owns exactly one; deleting it does not
// end its tunnel.
class VPN
{
public:
    virtual ~VPN() = default;

    // Ends every tunnel of this driver's kind that is still up, also one left
    // over from an earlier run; does not wait.
    virtual void CloseExisting() = 0;
    // Starts the tunnel; 0 means started, anything else is an error code for
    // the failure report. Progress arrives through notify.
    virtual int Connect(TunnelNotifier *notify, const QString &userId, const QString &password,
                        const QString &server) = 0;
    // Ends this driver's own tunnel.
    virtual void Disconnect() = 0;
    // The address the tunnel gave this machine; empty when there is none.
    virtual QString GetAssignedIp() = 0;
    // A two-line traffic text, or empty.
    virtual QString GetStatistics() = 0;

    // The DNS servers and search domains the tunnel server handed out for
    // the tunnel that is up, as received (not yet checked); empty for none.
    virtual TunnelDns::Settings pushedDns() const { return {}; }

    // TunnelKind of this driver.
    virtual int tunnelType() const = 0;
};
