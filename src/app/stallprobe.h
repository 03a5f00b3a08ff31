#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

// How late the window thread's own event loop runs a 10 ms timer: the
// longest time the thread was kept from its events. On when KVO_STALL_PROBE
// names a file; the figures are added to it when the probe ends (at the
// program's exit), one "name value" a line.
class StallProbe : public QObject
{
public:
    static constexpr int kTickMs = 10;
    static constexpr int kStallMs = 50;

    static std::unique_ptr<StallProbe> fromEnvironment();
    explicit StallProbe(QString reportPath);
    ~StallProbe() override;

private:
    void tick();

    QString m_reportPath;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    qint64 m_longestAt = 0;
    int m_stalls = 0;
    qint64 m_ticks = 0;
};
