#pragma once

#include <QString>

#include <functional>

// Fetches the adapter's driver files: the download dialog, run modally.
// address is the full http address, body the form body; the result is
// negative when the download failed (the dialog has told the user).
class DriverFileDownloader
{
public:
    virtual ~DriverFileDownloader() = default;
    // freshDialog: a new dialog instance (update) rather than the one kept
    // from the first installation.
    virtual int download(const QString &address, const QString &body, bool freshDialog) = 0;
};

// The virtual network adapter OpenVPN needs. On this platform it is the
// kernel's tun device: it exists when its node can be opened; installing it
// loads the module (where there is one) and creates the node, after the
// service's driver-file download.
class TapAdapter
{
public:
    // webHost: the service web host (name[:port]); devicePath: the device
    // node, /dev/net/tun unless a test puts it elsewhere.
    TapAdapter(DriverFileDownloader *downloader, QString webHost,
               QString devicePath = QStringLiteral("/dev/net/tun"));

    // Whether the device can be opened: by this program, or by the check set
    // with setDeviceCheck.
    bool find() const;
    // Where the client may not open the device itself (it runs as the
    // desktop user), kvo-helper checks it.
    void setDeviceCheck(std::function<bool()> check) { m_check = std::move(check); }
    bool install();
    bool update();

    // "x64" on 64-bit machines, else "x86".
    static QString architecture();
    QString downloadAddress() const;
    QString downloadBody() const;
    const QString &devicePath() const { return m_devicePath; }

private:
    bool fetchAndCreate(bool freshDialog);

    DriverFileDownloader *m_downloader;
    QString m_webHost;
    QString m_devicePath;
    std::function<bool()> m_check;
};
