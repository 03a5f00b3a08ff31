#pragma once

#include "mainwindow/mainlinks.h"
#include "platform/deploymentconfig.h"
#include "platform/dialup.h"
#include "platform/hotkey.h"
#include "platform/tcpreset.h"
#include "session/clientsock.h"
#include "signin/login.h"
#include "signin/signinsequence.h"
#include "tunnel/tapadapter.h"
#include "tunnel/tunnelevents.h"
#include "web/webhost.h"

#include <QObject>
#include <QPointer>

#include <memory>

class AddressVerifier;
class CListCtrlRows;
class MemoDialog;
class ClientSockChannel;
class CTarvoClientDlg;
class GlobalHotKey;
class IpListController;
class TcpConnectionResetter;
class CurlWebTransport;
class DialUp;
class HttpDownloadDlg;
class Launcher;
class LineCheck;
class MainController;
class NetworkReturnWatcher;
class OutsideGuard;
class DnsGuard;
class Prompter;
class ServiceFailureHelp;
class ServicePages;
class ServiceRequests;
class VersionCheck;
class XdgBrowserRegistry;

// Puts the program together: the web client, the sign-in, the tunnel driver
// and its events, the session connection, and the main window that owns the
// state. Each bridge below lets one part reach the main window through the
// interface that part defines.
class ClientWiring : public QObject,
                     public LoginHost,
                     public TunnelHost,
                     public DriverFileDownloader
{
    Q_OBJECT
public:
    // What the program reaches outside itself besides the web host and the
    // OpenVPN program of its folder; empty members take the system's own.
    struct Outside
    {
        std::unique_ptr<DialUp> dialUp; // pppd + pptp, swanctl + xl2tpd
        QString tunDevice; // /dev/net/tun
        std::unique_ptr<TcpConnectionResetter> resetter; // netlink SOCK_DESTROY
        std::unique_ptr<GlobalHotKey> hotKey; // the X11 key grab
    };

    ClientWiring(MainController &controller, CTarvoClientDlg &window, Prompter &prompter,
                 Launcher &launcher, Outside outside = {}, QObject *parent = nullptr);
    ~ClientWiring() override;

    // Runs the main window's initialisation with the command line.
    void start(const QStringList &arguments);

    // SignInHost / LoginHost
    SettingsFields &fields() override;
    Settings &settings() override;
    AccountState &account() override { return m_account; }
    bool checkForUpdate() override;
    int reportFailure(int code, const QString &reply) override;
    void saveCredentials(const QString &id, const QString &password, int saveFlag) override;
    void setProductLabel(const QString &name) override;
    void prepareForTunnel(const QString &typedId) override;
    int startTunnel() override;
    void showMainWindowCentred() override;
    void stopSignInTimers() override;
    void loadSavedCredentials(QString &id, QString &password) override;
    void requestExit() override;
    void rebuildListColumns() override;
    void openOptions() override;

    // TunnelHost
    VPN *tunnelDriver() override { return m_driver.get(); }
    RedialSettings redialSettings() const override;
    void setStatusText(const QString &text) override;
    void setCurrentAddress(const QString &text) override;
    void log(const QString &text) override;
    void enableIpControls(bool enable) override;
    void clearIpList() override;
    void updateTray() override;
    void openSession() override;
    void closeSessionSocket() override;
    void logOut() override;
    void returnToSignIn() override;
    void checkVersion(const QString &updaterArgument) override;
    QTimer *timer(int id) override;
    void waitWhileDispatching(int milliseconds) override;
    Prompter &prompter() override { return m_prompter; }
    TapAdapter *tapAdapter() override { return m_tap.get(); }
    qint64 currentTime() override;

    // The driver for a tunnel type (1 and 3 dial-up, 2 OpenVPN, else none).
    void createDriver(int tunnelType);

    // DriverFileDownloader
    int download(const QString &address, const QString &body, bool freshDialog) override;

    // The automatic sign-in of a start at logon.
    void automaticSignIn();

    LoginInfo loginInfo() const;

    // The parts, for the program's own checks.
    TunnelEvents &tunnelEvents() { return *m_events; }
    ClientSock &session() { return *m_session; }
    IpListController &ipList() { return *m_ipList; }
    MemoDialog *memoPanel() const;
    // The check of each confirmed change against [Option] VerifyUrl.
    AddressVerifier &addressVerifier() { return *m_verifier; }
    const AddressVerifier &addressVerifier() const { return *m_verifier; }

    // Button 1077: the bad-address report dialog, modal.
    void openBadIpReport();

private:
    class DriverHandle;
    class SessionBridge;
    class IpListBridge;
    class MemoBridge;
    void wireWindowButtons();
    void showSignInDialog();
    void wireNetworkGuards();
    void applyOutsideBlock();
    void applyTunnelDns();

    MainController &m_controller;
    CTarvoClientDlg &m_window;
    Prompter &m_prompter;
    Launcher &m_launcher;
    DeploymentConfig m_config;
    WebHost m_host;
    std::unique_ptr<CurlWebTransport> m_transport;
    std::unique_ptr<ServiceRequests> m_requests;
    std::unique_ptr<XdgBrowserRegistry> m_browsers;
    std::unique_ptr<ServicePages> m_pages;
    std::unique_ptr<LineCheck> m_lineCheck;
    std::unique_ptr<ServiceFailureHelp> m_help;
    std::unique_ptr<VersionCheck> m_versionCheck;
    std::unique_ptr<SignInSequence> m_sequence;
    std::unique_ptr<TapAdapter> m_tap;
    std::unique_ptr<HttpDownloadDlg> m_downloadDialog;
    std::unique_ptr<DialUp> m_dialUp;
    std::unique_ptr<VPN> m_driver;
    std::unique_ptr<TunnelEvents> m_events;
    std::unique_ptr<SessionBridge> m_sessionBridge;
    std::unique_ptr<ClientSock> m_session;
    std::unique_ptr<DriverHandle> m_driverHandle;
    std::unique_ptr<TcpConnectionResetter> m_resetter;
    std::unique_ptr<IpListBridge> m_ipHost;
    std::unique_ptr<CListCtrlRows> m_rows;
    std::unique_ptr<ClientSockChannel> m_channel;
    std::unique_ptr<GlobalHotKey> m_hotKey;
    std::unique_ptr<IpListController> m_ipList;
    std::unique_ptr<MemoBridge> m_memoHost;
    std::unique_ptr<AddressVerifier> m_verifier;
    QPointer<MemoDialog> m_memo;
    NetworkReturnWatcher *m_networkReturn = nullptr;
    std::unique_ptr<OutsideGuard> m_outsideGuard;
    std::unique_ptr<DnsGuard> m_dnsGuard;
    QString m_dnsRecovered; // what the start undid of a killed run
    QPointer<Login> m_login;
    AccountState m_account;
    // The client runs as the desktop user and kvo-helper does the
    // privileged work.
    bool m_viaHelper = false;
};
