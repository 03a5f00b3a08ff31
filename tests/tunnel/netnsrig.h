#pragma once

// The OpenVPN rig of scripts/netns-rig for tests and benchmarks: a real
// openvpn server in one network namespace, the client side in another. The
// calling thread enters the client namespace, so the openvpn that a driver
// starts from it runs there.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

class NetnsRig
{
public:
    NetnsRig() = default;
    NetnsRig(const NetnsRig &) = delete;
    NetnsRig &operator=(const NetnsRig &) = delete;
    ~NetnsRig() { down(); }

    // Empty when the rig can run here, else why not.
    static QString unavailableReason()
    {
        if (::geteuid() != 0)
            return QStringLiteral("needs root for network namespaces and tun");
        const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return QStringLiteral("/dev/net/tun cannot be opened");
        ::close(fd);
        if (openvpnPath().isEmpty())
            return QStringLiteral("openvpn is not installed");
        if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty() &&
            !QFileInfo::exists(QStringLiteral("/usr/sbin/ip")) &&
            !QFileInfo::exists(QStringLiteral("/sbin/ip")))
            return QStringLiteral("iproute2 is not installed");
        return QString();
    }

    static QString openvpnPath()
    {
        QString p = QStandardPaths::findExecutable(QStringLiteral("openvpn"));
        if (p.isEmpty())
            p = QStandardPaths::findExecutable(
                QStringLiteral("openvpn"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        return p;
    }

    bool up(QString *error)
    {
        const QString out = run(QStringLiteral("up"));
        if (m_lastExit != 0) {
            *error = out;
            return false;
        }
        m_up = true;
        const QStringList env =
            QString::fromUtf8(readAll(m_dir.filePath(QStringLiteral("rig.env"))))
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &line : env) {
            if (line.startsWith(QLatin1String("NS_CLIENT=")))
                m_clientNs = line.mid(10);
            if (line.startsWith(QLatin1String("NS_SERVER=")))
                m_serverNs = line.mid(10);
        }
        return !m_clientNs.isEmpty();
    }

    void down()
    {
        leaveClientNamespace();
        if (m_up)
            run(QStringLiteral("down"));
        m_up = false;
    }

    bool stopServer() { return run(QStringLiteral("stop-server")), m_lastExit == 0; }
    bool startServer() { return run(QStringLiteral("start-server")), m_lastExit == 0; }

    // Enters (and later leaves) the client namespace on the calling thread.
    bool enterClientNamespace()
    {
        if (m_savedNs >= 0)
            return true;
        m_savedNs = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const QByteArray path = "/run/netns/" + m_clientNs.toUtf8();
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            ::close(fd);
        return ok;
    }
    void leaveClientNamespace()
    {
        if (m_savedNs < 0)
            return;
        ::setns(m_savedNs, CLONE_NEWNET);
        ::close(m_savedNs);
        m_savedNs = -1;
    }

    // A program folder for the client: the service's files and the program
    // linked under the name the client recognises.
    bool installClientFiles(const QString &programFolder) const
    {
        for (const char *name : {"ca.crt", "cl1.crt", "cl1.key", "client.ovpn"}) {
            const QString to = programFolder + QLatin1Char('/') + QLatin1String(name);
            QFile::remove(to);
            if (!QFile::copy(m_dir.filePath(QStringLiteral("client/")) + QLatin1String(name), to))
                return false;
        }
        const QString link = programFolder + QStringLiteral("/kvo_openvpn");
        QFile::remove(link);
        return QFile::link(openvpnPath(), link);
    }

    QString serverAddress() const { return QStringLiteral("10.200.0.1"); }
    QString clientNamespace() const { return m_clientNs; }
    QString serverNamespace() const { return m_serverNs; }

private:
    QString run(const QString &command)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(scriptPath(), {command, m_dir.path()});
        p.waitForFinished(60000);
        m_lastExit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return QString::fromUtf8(p.readAll());
    }
    static QString scriptPath()
    {
#ifdef KVO_NETNS_RIG
        return QStringLiteral(KVO_NETNS_RIG);
#else
        // Beside this header in the source tree.
        return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() +
            QStringLiteral("/../../scripts/netns-rig");
#endif
    }
    static QByteArray readAll(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    QString m_clientNs;
    QString m_serverNs;
    bool m_up = false;
    int m_lastExit = 0;
    int m_savedNs = -1;
};
