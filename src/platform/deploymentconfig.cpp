#include "deploymentconfig.h"

#include "inifile.h"
#include "programfolder.h"

#include <QDir>
#include <QFileInfo>

namespace {
QStringList splitList(const QString &value)
{
    QStringList out;
    for (const QString &part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString t = part.trimmed();
        if (!t.isEmpty())
            out.append(t);
    }
    return out;
}
} // namespace

DeploymentConfig DeploymentConfig::defaults()
{
    DeploymentConfig c;
    c.webHost = QStringLiteral("www.kvo-service.example");
    c.reportHost = QStringLiteral("report.kvo-service.example");
    c.resetHostsFirst = {QStringLiteral("203.0.113.10"), QStringLiteral("203.0.113.11"),
                         QStringLiteral("203.0.113.12"), QStringLiteral("203.0.113.13")};
    c.resetHostsSecond = {QStringLiteral("203.0.113.20")};
    return c;
}

DeploymentConfig DeploymentConfig::load(const QString &iniPath)
{
    DeploymentConfig c = defaults();
    const IniDocument doc = IniFile(iniPath).snapshot();
    const QString section = QStringLiteral("Service");
    c.webHost = doc.value(section, QStringLiteral("WebHost"), c.webHost);
    if (doc.contains(section, QStringLiteral("WebHttpPort"))) {
        bool ok = false;
        const int port = doc.value(section, QStringLiteral("WebHttpPort")).trimmed().toInt(&ok);
        // A value that is no port keeps the default rather than an address
        // nothing answers on.
        if (ok && port > 0 && port < 65536)
            c.webHttpPort = port;
    }
    c.reportHost = doc.value(section, QStringLiteral("ReportHost"), c.reportHost);
    c.caFile = doc.value(section, QStringLiteral("CaFile"), c.caFile);
    if (!c.caFile.isEmpty() && QFileInfo(c.caFile).isRelative())
        c.caFile = QFileInfo(iniPath).dir().filePath(c.caFile);
    if (doc.contains(section, QStringLiteral("ResetHostsFirst")))
        c.resetHostsFirst = splitList(doc.value(section, QStringLiteral("ResetHostsFirst")));
    if (doc.contains(section, QStringLiteral("ResetHostsSecond")))
        c.resetHostsSecond = splitList(doc.value(section, QStringLiteral("ResetHostsSecond")));
    return c;
}

DeploymentConfig DeploymentConfig::fromProgramFolder(const QString &systemIni)
{
    const QString own = ProgramFolder::filePath(QStringLiteral("KVOService.ini"));
    return load(QFileInfo::exists(own) ? own : systemIni);
}

QString DeploymentConfig::webHostName() const
{
    const qsizetype colon = webHost.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? webHost : webHost.left(colon);
}

int DeploymentConfig::webHostPort(int def) const
{
    const qsizetype colon = webHost.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return def;
    bool ok = false;
    const int port = webHost.mid(colon + 1).toInt(&ok);
    return ok && port > 0 && port < 65536 ? port : def;
}
