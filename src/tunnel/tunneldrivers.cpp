#include "tunneldrivers.h"

#include "pptpclient.h"

std::unique_ptr<VPN> createTunnelDriver(int tunnelType, const TunnelServices &services)
{
    if (tunnelType == TunnelKind::OpenVpn)
        return std::make_unique<OvpnClient>(services.prompter, services.tap, services.qosQuery);
    return std::make_unique<PptpClient>(unsigned(tunnelType), services.dialUp, services.prompter);
}
