#include "tapadapter.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

TapAdapter::TapAdapter(DriverFileDownloader *downloader, QString webHost, QString devicePath)
    : m_downloader(downloader), m_webHost(std::move(webHost)), m_devicePath(std::move(devicePath))
{ }

bool TapAdapter::find() const
{
    if (m_check)
        return m_check();
    const QByteArray path = QFile::encodeName(m_devicePath);
    const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

QString TapAdapter::architecture()
{
    const QString cpu = QSysInfo::currentCpuArchitecture();
    return cpu.contains(QLatin1String("64")) ? QStringLiteral("x64") : QStringLiteral("x86");
}

QString TapAdapter::downloadAddress() const
{
    return QStringLiteral("http://%1/service/vezi/vezi_cs_contents.php").arg(m_webHost);
}

QString TapAdapter::downloadBody() const
{
    return QStringLiteral("content=tap_file_list&arch=") + architecture();
}

bool TapAdapter::install()
{
    return fetchAndCreate(false);
}

bool TapAdapter::update()
{
    return fetchAndCreate(true);
}

bool TapAdapter::fetchAndCreate(bool freshDialog)
{
    if (!m_downloader || m_downloader->download(downloadAddress(), downloadBody(), freshDialog) < 0)
        return false;

    // The module is built into many kernels; modprobe is only there to try.
    const QString modprobe = QStandardPaths::findExecutable(
        QStringLiteral("modprobe"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (!modprobe.isEmpty())
        QProcess::execute(modprobe, {QStringLiteral("-q"), QStringLiteral("tun")});

    if (!find()) {
        const QFileInfo info(m_devicePath);
        QDir().mkpath(info.absolutePath());
        const QByteArray path = QFile::encodeName(m_devicePath);
        struct stat st
        {
        };
        if (::stat(path.constData(), &st) == 0 &&
            !(S_ISCHR(st.st_mode) && st.st_rdev == makedev(10, 200)))
            ::unlink(path.constData()); // something else in the device's place
        if (::mknod(path.constData(), S_IFCHR | 0600, makedev(10, 200)) != 0)
            return false;
    }
    return find();
}
