#pragma once

#include "simmodule.h"

#include <QUdpSocket>

// The report host: receives the failure datagrams on UDP port 18000 and
// records each one (channel "report"): its fields decoded and its bytes.
class ReportHostModule : public SimModule
{
    Q_OBJECT
public:
    QString name() const override { return QStringLiteral("report host"); }
    bool start(const Scenario &scenario, Recorder &recorder, QString *error) override;

    static QJsonObject decode(const QByteArray &datagram);

private:
    QUdpSocket m_socket;
    Recorder *m_recorder = nullptr;
};
