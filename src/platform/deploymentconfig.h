#pragma once

#include <QString>
#include <QStringList>

// Where this deployment's service lives: read from "KVOService.ini" in the
// program folder, else from the installed one (/etc/kvo/KVOService.ini, which
// kvo-helper reads too), section [Service]; missing keys keep the compiled
// defaults. One file is read, never a mix of the two.
//
//   WebHost           service web host; a name or IPv4 address, may carry ":port"
//                     (the HTTPS port)
//   WebHttpPort       the web host's plain-HTTP port (default 80)
//   ReportHost        host of the failure datagrams
//   CaFile            PEM file of the CA that signs the web host's certificate
//   ResetHostsFirst   comma list of the four hosts of the first reset pass
//   ResetHostsSecond  the host of the second reset pass
struct DeploymentConfig
{
    QString webHost;
    int webHttpPort = 80;
    QString reportHost;
    QString caFile;
    QStringList resetHostsFirst;
    QStringList resetHostsSecond;

    static DeploymentConfig defaults();
    static DeploymentConfig load(const QString &iniPath);
    // The installed deployment, for every user of the machine.
    static constexpr const char *kSystemIni = "/etc/kvo/KVOService.ini";
    // KVOService.ini of the program folder when there is one, else systemIni.
    static DeploymentConfig
    fromProgramFolder(const QString &systemIni = QString::fromLatin1(kSystemIni));

    // The web host without a port, and the port it carries (or def).
    QString webHostName() const;
    int webHostPort(int def) const;
};
