#pragma once

// A throw-away network namespace for one test (root only): made with
// "ip netns add", entered by the calling thread (so the sockets it opens and
// the programs it starts live there), left and removed at the end.

#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

class NetnsScope
{
public:
    NetnsScope()
        : m_name(
              QStringLiteral("kvo-t-%1").arg(QRandomGenerator::global()->bounded(1 << 20), 0, 16))
    {
        m_ok = ip({QStringLiteral("netns"), QStringLiteral("add"), m_name});
    }
    ~NetnsScope()
    {
        leave();
        if (m_ok)
            ip({QStringLiteral("netns"), QStringLiteral("del"), m_name});
    }
    NetnsScope(const NetnsScope &) = delete;
    NetnsScope &operator=(const NetnsScope &) = delete;

    bool made() const { return m_ok; }
    const QString &name() const { return m_name; }

    bool enter()
    {
        if (m_saved >= 0)
            return true;
        m_saved = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const QByteArray path = "/run/netns/" + m_name.toUtf8();
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            ::close(fd);
        return ok;
    }
    void leave()
    {
        if (m_saved < 0)
            return;
        ::setns(m_saved, CLONE_NEWNET);
        ::close(m_saved);
        m_saved = -1;
    }

    // "ip -n <this namespace> ..."; true on success.
    bool in(const QStringList &args) const
    {
        return ip(QStringList {QStringLiteral("-n"), m_name} + args);
    }

    static bool ip(const QStringList &args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral("ip"), args);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit &&
            p.exitCode() == 0;
    }

private:
    QString m_name;
    bool m_ok = false;
    int m_saved = -1;
};
