#pragma once

#include <QDateTime>

// The local wall clock; tests put a clock of their own in its place.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const { return QDateTime::currentDateTime(); }

    static Clock &system();
};

class FixedClock : public Clock
{
public:
    explicit FixedClock(QDateTime t) : m_now(std::move(t)) { }
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &t) { m_now = t; }
    void advanceSeconds(qint64 s) { m_now = m_now.addSecs(s); }

private:
    QDateTime m_now;
};
