#pragma once

#include <QString>

#include <sys/time.h>

// A TCP connect that gives up after a time-out, without blocking longer.
class CSocketWithTimeout
{
public:
    CSocketWithTimeout() = default;
    ~CSocketWithTimeout();
    CSocketWithTimeout(const CSocketWithTimeout &) = delete;
    CSocketWithTimeout &operator=(const CSocketWithTimeout &) = delete;

    // address: dotted IPv4. A time-out of 0 or less waits as long as the
    // system's own connect does.
    bool Connect(const QString &address, int port, double timeoutSeconds);
    void Close();

    // The wait split into whole seconds and microseconds (2.5 -> 2 s, 500000 us).
    static timeval splitTimeout(double seconds);

private:
    int m_fd = -1;
};

// The port the line check tries for a tunnel type: 1723 PPTP, 80 OpenVPN,
// 1701 L2TP (a TCP attempt also for L2TP); 0 for an unknown type.
int lineCheckPort(int tunnelType);

// The first IPv4 address of a name (dotted), or empty when it does not resolve.
QString resolveFirstIpv4(const QString &name);

// Whether the service can be reached: an empty server means the web host
// (a connection to it over HTTP); otherwise the server on its tunnel type's
// port, within 5 seconds.
class LineCheck
{
public:
    virtual ~LineCheck() = default;
    virtual bool check(const QString &server, int tunnelType);
};
