#include "stallprobe.h"

#include <QCoreApplication>
#include <QFile>

std::unique_ptr<StallProbe> StallProbe::fromEnvironment()
{
    const QString path = qEnvironmentVariable("KVO_STALL_PROBE");
    if (path.isEmpty())
        return nullptr;
    return std::make_unique<StallProbe>(path);
}

StallProbe::StallProbe(QString reportPath) : m_reportPath(std::move(reportPath))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &StallProbe::tick);
    m_clock.start();
    m_timer.start();
}

void StallProbe::tick()
{
    const qint64 now = m_clock.elapsed();
    const qint64 late = now - m_last - kTickMs;
    m_last = now;
    ++m_ticks;
    if (late > m_longest) {
        m_longest = late;
        m_longestAt = now;
    }
    if (late > kStallMs)
        ++m_stalls;
}

StallProbe::~StallProbe()
{
    // Appended: one block for each run of the program.
    QFile f(m_reportPath);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    f.write(QStringLiteral("pid %1\nlongest_stall_ms %2\nlongest_stall_at_ms %3\n"
                           "stalls_over_%4ms %5\nticks %6\nrun_ms %7\n")
                .arg(QCoreApplication::applicationPid())
                .arg(m_longest)
                .arg(m_longestAt)
                .arg(kStallMs)
                .arg(m_stalls)
                .arg(m_ticks)
                .arg(m_clock.elapsed())
                .toUtf8());
}
