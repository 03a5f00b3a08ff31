#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class Recorder;
class Scenario;

// One face of the simulated service (web host, session server, report host).
// start() opens its listening sockets; the module then serves from the event
// loop until it is destroyed.
class SimModule : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual QString name() const = 0;
    virtual bool start(const Scenario &scenario, Recorder &recorder, QString *error) = 0;
};

// Every module of the simulator (sim/modules.cpp: one line per module).
std::vector<std::unique_ptr<SimModule>> createSimModules();
