#pragma once

#include "platform/dialup.h"

#include <QThread>

#include <atomic>
#include <memory>

class TunnelNotifier;

// Watches a dial-up tunnel that has come up, on a worker thread: when the
// connection ends while the tunnel-up flag is 1, the logging-out flag is 0
// and no dial-up connection is left, it posts "RasDialEvent" with wParam
// 1031 (link lost) and ends. It ends too once the tunnel-up flag drops.
class LinkWatcher : public QThread
{
    Q_OBJECT
public:
    static constexpr int kLinkLost = 1031;

    LinkWatcher(DialUp &dialUp, std::shared_ptr<const std::atomic<Ras::Handle>> handle,
                const std::atomic<int> &tunnelUp, const std::atomic<int> &loggingOut,
                TunnelNotifier *notify, QObject *parent = nullptr);
    ~LinkWatcher() override;

    // Wakes the worker for good and waits for it to end.
    void stop();

protected:
    void run() override;

private:
    DialUp &m_dialUp;
    std::shared_ptr<const std::atomic<Ras::Handle>> m_handle;
    const std::atomic<int> &m_tunnelUp;
    const std::atomic<int> &m_loggingOut;
    TunnelNotifier *m_notify;
    // "RasNotification": set by the dial-up layer when the connection ends.
    std::shared_ptr<AutoResetEvent> m_event = std::make_shared<AutoResetEvent>();
};
