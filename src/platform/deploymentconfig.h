#pragma once

#include <QString>
#include <QStringList>

// Where this deployment's service lives: read from "KVOService.ini" in the
// program folder, section [Service]; missing keys keep the compiled defaults.
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
    // KVOService.ini of the program folder.
    static DeploymentConfig fromProgramFolder();

    // The web host without a port, and the port it carries (or def).
    QString webHostName() const;
    int webHostPort(int def) const;
};
