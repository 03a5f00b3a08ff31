#pragma once

#include "ovpnclient.h"

#include <memory>

class DialUp;
class Prompter;
class TapAdapter;

// What the drivers are built from; the main window owns these for the life
// of the program.
struct TunnelServices
{
    Prompter &prompter;
    DialUp &dialUp;
    TapAdapter &tap;
    OvpnClient::QosQuery qosQuery;
    // How openvpn is run; empty: as the client's own child.
    OvpnProcessFactory ovpnProcesses = {};
};

// The driver for a tunnel type (setting IsPPTP): 1 PPTP and 3 L2TP (the
// dial-up driver), 2 OpenVPN; any other value has no driver (null).
std::unique_ptr<VPN> createTunnelDriver(int tunnelType, const TunnelServices &services);
