#pragma once

#include <QString>

// The main window reaches the parts that own the session connection, the
// tunnel and the IP list only through these interfaces. Each part fills in
// its own and hands it to MainController (setSessionLink, setTunnelDriver,
// setIpList); until it does, the steps that need it are skipped, as when the
// object does not exist.

// The session socket to the session management server.
class SessionLink
{
public:
    virtual ~SessionLink() = default;
    // A session socket object exists.
    virtual bool exists() const = 0;
    // The socket exists and is connected.
    virtual bool connected() const = 0;
    // Log-out: shut down the sending side and close the socket.
    virtual void shutDownAndClose() = 0;
    // Exit: delete the socket object; its destruction closes the socket
    // without a shut-down first.
    virtual void deleteSocket() = 0;
};

// The one tunnel driver of the main window.
class TunnelDriverHandle
{
public:
    virtual ~TunnelDriverHandle() = default;
    // Start-up: create the driver for the tunnel type (1 PPTP, 3 L2TP:
    // dial-up; 2 OpenVPN; anything else: none) and let it end a tunnel an
    // earlier run left behind.
    virtual void createForTunnelType(int tunnelType) = 0;
    // A driver object exists.
    virtual bool exists() const = 0;
    virtual void Disconnect() = 0;
    // The traffic text for the tray tip; empty when there is none.
    virtual QString GetStatistics() = 0;
    // Exit: delete the driver object. This does not end its tunnel.
    virtual void deleteDriver() = 0;
};

// The IP list and the switching commands.
class IpListOperations
{
public:
    virtual ~IpListOperations() = default;
    // Start-up: the data files are loaded and the columns set up for the
    // product type.
    virtual void setUpForProduct(int productType) = 0;
    virtual int rowCount() const = 0;
    // Empty the IP list (log-out, forced sign-out).
    virtual void emptyList() = 0;
    // The change of button 1017 (tray "IP전환", automatic change).
    virtual void changeAddress() = 0;
};
