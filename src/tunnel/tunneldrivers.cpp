#include "tunneldrivers.h"

#include "pptpclient.h"

std::unique_ptr<VPN> createTunnelDriver(int tunnelType, const TunnelServices &services)
{
    switch (tunnelType) {
    case TunnelKind::OpenVpn:
        return std::make_unique<OvpnClient>(services.prompter, services.tap, services.qosQuery,
                                            services.ovpnProcesses);
    case TunnelKind::Pptp:
    case TunnelKind::L2tp:
        return std::make_unique<PptpClient>(unsigned(tunnelType), services.dialUp,
                                            services.prompter);
    default:
        return nullptr;
    }
}
