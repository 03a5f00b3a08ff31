#pragma once

#include <QString>

// A route to one IPv4 host along the way the machine reaches it now (its
// gateway and interface), so that a tunnel which takes over the default
// route does not carry its own packets to the server inside itself. The
// dial-up layer of Windows adds such a route for every VPN connection and
// removes it with the connection; here the dial-up layer does it through
// rtnetlink. The route is marked with a protocol number of its own, so a
// route left behind by a process that was killed is recognised and taken
// over by the next one.
class HostRoute
{
public:
    HostRoute() = default;
    ~HostRoute() { remove(); }
    HostRoute(const HostRoute &) = delete;
    HostRoute &operator=(const HostRoute &) = delete;

    // Adds (or takes over) the route to address, a dotted IPv4 address.
    // Nothing is added when the machine has no route to it, when the address
    // is one of its own, or when a host route of someone else's already
    // leads there; false only when the kernel refused (error says why).
    bool add(const QString &address, QString *error = nullptr);
    // Removes the route this object added; a route already gone is fine.
    void remove();
    // Leaves the route in place and forgets it (its link outlives this
    // object; the next add() for the address takes it over).
    void release() { m_active = false; }

    // Whether this object holds a route now; its gateway (empty on-link).
    bool active() const { return m_active; }
    const QString &gateway() const { return m_gateway; }

    // The routes' protocol number ("proto 201" in ip route).
    static constexpr unsigned char kProtocol = 201;

private:
    bool m_active = false;
    quint32 m_destination = 0; // network order
    quint32 m_gatewayAddress = 0; // network order, 0 on-link
    int m_interface = 0;
    QString m_gateway;
};
