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
};

// The driver for a tunnel type (setting IsPPTP): 2 OpenVPN, 1 PPTP, any
// other value L2TP.
std::unique_ptr<VPN> createTunnelDriver(int tunnelType, const TunnelServices &services);
