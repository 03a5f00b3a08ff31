#include "processlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QByteArray readSmallFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(64 * 1024);
}

} // namespace

namespace ProcessList {

QList<ProcessEntry> snapshot()
{
    QList<ProcessEntry> out;
    const QStringList names =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : names) {
        bool ok = false;
        const qlonglong pid = entry.toLongLong(&ok);
        if (!ok || pid <= 0)
            continue;
        const QString base = QStringLiteral("/proc/") + entry;
        const QByteArray comm = readSmallFile(base + QStringLiteral("/comm"));
        if (comm.isEmpty())
            continue; // ended meanwhile
        ProcessEntry p;
        p.pid = static_cast<pid_t>(pid);
        p.name = QString::fromUtf8(comm).trimmed();
        QByteArray cmdline = readSmallFile(base + QStringLiteral("/cmdline"));
        if (cmdline.endsWith('\0'))
            cmdline.chop(1);
        if (!cmdline.isEmpty()) {
            for (const QByteArray &arg : cmdline.split('\0'))
                p.arguments.append(QString::fromLocal8Bit(arg));
        }
        out.append(p);
    }
    std::sort(out.begin(), out.end(),
              [](const ProcessEntry &a, const ProcessEntry &b) { return a.pid < b.pid; });
    return out;
}

ProcessEntry findFirstNamed(const QString &name)
{
    // Only the short name file of each process is read; the arguments only
    // where the name was cut to the kernel's 15 characters.
    QList<qlonglong> pids;
    for (const QString &entry :
         QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qlonglong pid = entry.toLongLong(&ok);
        if (ok && pid > 0)
            pids.append(pid);
    }
    std::sort(pids.begin(), pids.end());
    for (const qlonglong pid : std::as_const(pids)) {
        const QString base = QStringLiteral("/proc/%1").arg(pid);
        const QString comm =
            QString::fromUtf8(readSmallFile(base + QStringLiteral("/comm"))).trimmed();
        bool match = comm == name;
        QStringList arguments;
        if (!match && comm.size() >= 15) {
            QByteArray cmdline = readSmallFile(base + QStringLiteral("/cmdline"));
            const QByteArray argv0 = cmdline.left(cmdline.indexOf('\0'));
            match = QFileInfo(QString::fromLocal8Bit(argv0)).fileName() == name;
        }
        if (!match || !isRunning(pid_t(pid)))
            continue; // a zombie cannot be ended any more
        ProcessEntry p;
        p.pid = pid_t(pid);
        p.name = comm;
        QByteArray cmdline = readSmallFile(base + QStringLiteral("/cmdline"));
        if (cmdline.endsWith('\0'))
            cmdline.chop(1);
        for (const QByteArray &arg : cmdline.split('\0'))
            p.arguments.append(QString::fromLocal8Bit(arg));
        return p;
    }
    return {};
}

bool terminate(pid_t pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid, SIGTERM) == 0;
}

bool stop(pid_t pid, int graceMs)
{
    if (pid <= 0)
        return false;
    const int fd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return terminate(pid); // a kernel without pidfds: SIGTERM only
    if (::syscall(SYS_pidfd_send_signal, fd, SIGTERM, nullptr, 0) != 0) {
        ::close(fd);
        return false;
    }
    // Sent whatever became of the process: one that has ended (even one
    // whose id was used again) only answers ESRCH.
    QTimer::singleShot(graceMs, [fd] {
        ::syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
        ::close(fd);
    });
    return true;
}

bool isRunning(pid_t pid)
{
    if (pid <= 0)
        return false;
    const QByteArray stat = readSmallFile(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.isEmpty())
        return false;
    // The state follows the parenthesised name, which may itself hold ") ".
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0 || close + 2 >= stat.size())
        return false;
    return stat.at(close + 2) != 'Z' && stat.at(close + 2) != 'X';
}

} // namespace ProcessList
