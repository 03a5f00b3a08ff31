#pragma once

#include <QObject>

#include <atomic>

// The tunnel-up and logging-out flags of the main window: one pair for the
// whole program. The main window, the tunnel rules, the session connection
// and the tray read them here; only the window thread writes them. The link
// watcher reads them from its own thread, hence the atomics.
class TunnelFlags : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    bool tunnelUp() const { return m_tunnelUp.load() == 1; }
    bool loggingOut() const { return m_loggingOut.load() == 1; }

    // Emits tunnelUpChanged when the value changes.
    void setTunnelUp(bool up);
    void setLoggingOut(bool on) { m_loggingOut.store(on ? 1 : 0); }

    // For the link watcher's thread.
    const std::atomic<int> &tunnelUpFlag() const { return m_tunnelUp; }
    const std::atomic<int> &loggingOutFlag() const { return m_loggingOut; }

Q_SIGNALS:
    // Emitted on the window thread, right after the value changed.
    void tunnelUpChanged(bool up);

private:
    std::atomic<int> m_tunnelUp {0};
    std::atomic<int> m_loggingOut {0};
};
