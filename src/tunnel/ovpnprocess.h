#pragma once

#include "ovpnoutput.h"

#include <QObject>
#include <QString>

#include <functional>

class QProcess;

// One run of the OpenVPN program as OvpnClient sees it: started once, its
// output (standard output and error) as lines, asked to stop, and over once
// the child has been reaped. How the child is run is behind this interface:
// as the client's own child (root) or by kvo-helper on the system bus (the
// desktop user).
class OvpnProcess : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts openvpn for server on OvpnClient::kServerPort with the shaper
    // rate (0: none); userId and password reach it on its standard input,
    // never on its command line. False when it did not start; it then
    // reports nothing.
    virtual bool start(const QString &server, quint32 shaperRate, const QString &userId,
                       const QString &password) = 0;
    // Started and not yet reaped.
    virtual bool running() const = 0;
    // SIGTERM, then SIGKILL when the child has not ended after the grace;
    // only the first call acts. The end is reported by ended().
    virtual void stop() = 0;
    bool stopRequested() const { return m_stopRequested; }
    // The child's process id where this program can see it, else 0.
    virtual qint64 processId() const { return 0; }

Q_SIGNALS:
    void lineRead(const QString &line);
    // The child has been reaped; its last lines came before.
    void ended();

protected:
    bool m_stopRequested = false;
};

// Makes the process object for one run, owned by parent.
using OvpnProcessFactory = std::function<OvpnProcess *(QObject *parent)>;

// openvpn as this program's own child (the client runs as root).
class DirectOvpnProcess : public OvpnProcess
{
    Q_OBJECT
public:
    explicit DirectOvpnProcess(QObject *parent = nullptr);

    bool start(const QString &server, quint32 shaperRate, const QString &userId,
               const QString &password) override;
    bool running() const override;
    void stop() override;
    qint64 processId() const override;

    // How long openvpn gets to remove its routes and address after SIGTERM
    // before it is killed.
    static constexpr int kStopGraceMs = 700;

private:
    void onOutput();
    void onFinished();

    QProcess *m_process = nullptr;
    OvpnOutput::LineSplitter m_splitter;
    QByteArray m_userAnswer;
    QByteArray m_passwordAnswer;
    bool m_ended = false;
};
