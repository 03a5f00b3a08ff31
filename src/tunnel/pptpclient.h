#pragma once

#include "vpn.h"

#include "platform/dialup.h"

#include <atomic>
#include <memory>

class Prompter;

// The dial-up tunnel driver for PPTP (type 1) and L2TP (any other type),
// on the dial-up layer with the phone-book file "KVORasEntry" of the program
// folder and its entry "KVO".
class PptpClient : public VPN
{
public:
    PptpClient(unsigned type, DialUp &dialUp, Prompter &prompter);

    void CloseExisting() override;
    int Connect(TunnelNotifier *notify, const QString &userId, const QString &password,
                const QString &server) override;
    void Disconnect() override;
    QString GetAssignedIp() override;
    QString GetStatistics() override;
    int tunnelType() const override;
    // The link's encryption as the dial-up layer negotiated it; empty when
    // there is none (or no link).
    QString protection();
    // The peer's DNS servers for the link that is up (no search domains).
    TunnelDns::Settings pushedDns() const override;

    // The status query into the status record; its result (0, or
    // Ras::InvalidHandle once the connection has gone).
    unsigned refreshStatus();
    const Ras::ConnStatus &status() const { return m_status; }

    Ras::Handle handle() const { return m_handle->load(); }
    // The handle as the link watcher reads it on every pass, from its thread.
    std::shared_ptr<const std::atomic<Ras::Handle>> handleSource() const { return m_handle; }
    DialUp &dialUp() { return m_dialUp; }
    const QString &phoneBookPath() const { return m_phoneBook; }

    // The entry as this driver writes it for a tunnel type and server.
    static Ras::Entry entryFor(unsigned type, const QString &server);

    static const QString kEntryName; // "KVO"
    static const QString kPreSharedKey;

private:
    std::shared_ptr<std::atomic<Ras::Handle>> m_handle;
    Ras::ConnStatus m_status;
    unsigned m_type;
    QString m_phoneBook;
    DialUp &m_dialUp;
    Prompter &m_prompter;
};

// The statistics text: "송신 : %.2f KByte\n수신 : %.2f KByte".
QString trafficText(quint64 bytesSent, quint64 bytesReceived);
