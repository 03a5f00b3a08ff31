#include "linecheck.h"

#include "platform/codepage.h"
#include "platform/deploymentconfig.h"

#include <QHostAddress>
#include <QHostInfo>

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

CSocketWithTimeout::~CSocketWithTimeout()
{
    Close();
}

void CSocketWithTimeout::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

timeval CSocketWithTimeout::splitTimeout(double seconds)
{
    timeval tv {};
    tv.tv_sec = static_cast<time_t>(seconds);
    tv.tv_usec = static_cast<suseconds_t>(std::lround((seconds - double(tv.tv_sec)) * 1e6));
    if (tv.tv_usec >= 1000000) {
        tv.tv_sec += 1;
        tv.tv_usec -= 1000000;
    }
    return tv;
}

bool CSocketWithTimeout::Connect(const QString &address, int port, double timeoutSeconds)
{
    Close();
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr) != 1)
        return false;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;

    if (timeoutSeconds <= 0)
        return ::connect(m_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;

    const int flags = fcntl(m_fd, F_GETFL, 0);
    if (flags < 0 || fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    const int rc = ::connect(m_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    bool connected = rc == 0;
    if (!connected && errno == EINPROGRESS) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(m_fd, &writable);
        timeval tv = splitTimeout(timeoutSeconds);
        int n;
        do {
            n = ::select(m_fd + 1, nullptr, &writable, nullptr, &tv);
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            // Writable also means "failed"; the pending error tells which.
            int err = 0;
            socklen_t len = sizeof err;
            connected = getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        }
    }
    fcntl(m_fd, F_SETFL, flags);
    return connected;
}

int lineCheckPort(int tunnelType)
{
    switch (tunnelType) {
    case 1:
        return 1723;
    case 2:
        return 80;
    case 3:
        return 1701;
    default:
        return 0;
    }
}

QString resolveFirstIpv4(const QString &name)
{
    QHostAddress literal;
    if (literal.setAddress(name) && literal.protocol() == QAbstractSocket::IPv4Protocol)
        return literal.toString();
    // Names travel in the code page; anything it cannot hold would not resolve.
    const QString asSent = CodePage::toUnicode(CodePage::fromUnicode(name).left(255));
    const QHostInfo info = QHostInfo::fromName(asSent);
    for (const QHostAddress &a : info.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a.toString();
    }
    return {};
}

bool LineCheck::check(const QString &server, int tunnelType)
{
    QString host = server;
    int port = lineCheckPort(tunnelType);
    if (server.isEmpty()) {
        // "http://<web host>": a real connection to the web host's HTTP port.
        const DeploymentConfig config = DeploymentConfig::fromProgramFolder();
        host = config.webHostName();
        port = config.webHttpPort;
    }
    if (port == 0)
        return false;
    const QString address = resolveFirstIpv4(host);
    if (address.isEmpty())
        return false;
    CSocketWithTimeout socket;
    const bool ok = socket.Connect(address, port, 5.0);
    socket.Close();
    return ok;
}
