#include "linkwatcher.h"

#include "vpn.h"

LinkWatcher::LinkWatcher(DialUp &dialUp, std::shared_ptr<const std::atomic<Ras::Handle>> handle,
                         const std::atomic<int> &tunnelUp, const std::atomic<int> &loggingOut,
                         TunnelNotifier *notify, QObject *parent)
    : QThread(parent), m_dialUp(dialUp), m_handle(std::move(handle)), m_tunnelUp(tunnelUp),
      m_loggingOut(loggingOut), m_notify(notify)
{ }

LinkWatcher::~LinkWatcher()
{
    stop();
}

void LinkWatcher::stop()
{
    m_event->close();
    wait();
}

void LinkWatcher::run()
{
    while (m_tunnelUp.load() == 1) {
        const unsigned registered = m_dialUp.notifyOnDisconnection(m_handle->load(), m_event);
        if (registered == 0) {
            if (!m_event->wait())
                return; // stopped
        }
        int count = 0;
        m_dialUp.enumConnections(nullptr, 0, &count);
        if (m_loggingOut.load() == 0 && count == 0) {
            if (m_tunnelUp.load() == 1)
                m_notify->postRasDialEvent(kLinkLost, 0);
            return;
        }
        if (registered != 0) {
            // Our connection is gone but others are up: look again shortly
            // rather than spin.
            if (m_event->waitFor(500) == AutoResetEvent::Closed)
                return;
        }
    }
}
