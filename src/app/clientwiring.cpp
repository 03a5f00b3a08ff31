#include "clientwiring.h"

#include "addressverifier.h"

#include "core/settings.h"
#include "dialogs/cmanageoption.h"
#include "dialogs/memodialog.h"
#include "dialogs/notifyip.h"
#include "mainwindow/clistctrlrows.h"
#include "mainwindow/ctarvoclientdlg.h"
#include "mainwindow/iplistcontroller.h"
#include "mainwindow/maincontroller.h"
#include "platform/dialupppp.h"
#include "platform/eventwait.h"
#include "platform/filedownload.h"
#include "platform/hotkey.h"
#include "platform/launcher.h"
#include "platform/logontask.h"
#include "platform/networkreturn.h"
#include "platform/outsideblock.h"
#include "platform/programfolder.h"
#include "platform/prompter.h"
#include "platform/routeraddress.h"
#include "platform/tcpreset.h"
#include "signin/failurereport.h"
#include "signin/servicefailurehelp.h"
#include "system/linecheck.h"
#include "tunnel/helperdialup.h"
#include "tunnel/helpertunnel.h"
#include "tunnel/networkguard.h"
#include "tunnel/ovpnclient.h"
#include "tunnel/pptpclient.h"
#include "tunnel/tunneldrivers.h"
#include "update/httpdownloaddlg.h"
#include "update/versioncheck.h"
#include "web/servicepages.h"
#include "web/servicerequests.h"
#include "web/webtransport.h"
#include "widgets/clistctrlex.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>

#include <unistd.h>

namespace {

// As root the client runs pppd and openvpn itself, checks the tun device and
// resets connections through netlink; as the desktop user it does all of
// these through kvo-helper on the system bus when the helper is installed
// there. The one place the path is picked.
bool throughHelper()
{
    return ::geteuid() != 0 && HelperBus::available(QDBusConnection::systemBus());
}

} // namespace

// The tunnel driver as the main window sees it.
class ClientWiring::DriverHandle : public TunnelDriverHandle
{
public:
    explicit DriverHandle(ClientWiring &w) : m_w(w) { }
    void createForTunnelType(int tunnelType) override
    {
        m_w.createDriver(tunnelType);
        if (m_w.m_driver)
            m_w.m_driver->CloseExisting();
    }
    bool exists() const override { return m_w.m_driver != nullptr; }
    void Disconnect() override
    {
        // Log-out, forced sign-out and exit have set the logging-out flag
        // already, so the tunnel's end starts no redial.
        if (m_w.m_driver)
            m_w.m_driver->Disconnect();
    }
    QString GetStatistics() override
    {
        return m_w.m_driver ? m_w.m_driver->GetStatistics() : QString();
    }
    void deleteDriver() override { m_w.m_driver.reset(); }

private:
    ClientWiring &m_w;
};

// The session connection as the main window sees it, and what the
// connection reads of the main window.
class ClientWiring::SessionBridge : public SessionHost, public SessionLink
{
public:
    explicit SessionBridge(ClientWiring &w) : m_w(w) { }
    bool tunnelUp() const override { return m_w.m_controller.tunnelUp(); }
    LoginInfo loginInfo() const override { return m_w.loginInfo(); }
    int productType() const override { return m_w.m_controller.fields().productType; }

    bool exists() const override { return m_w.m_session != nullptr; }
    bool connected() const override { return m_w.m_session && m_w.m_session->connected(); }
    void shutDownAndClose() override
    {
        if (m_w.m_session)
            m_w.m_session->close();
    }
    void deleteSocket() override
    {
        if (m_w.m_session)
            m_w.m_session->close();
    }

private:
    ClientWiring &m_w;
};

// What the IP list and the switching commands reach of the main window.
class ClientWiring::IpListBridge : public IpListHost
{
public:
    explicit IpListBridge(ClientWiring &w) : m_w(w) { }
    SettingsFields &fields() override { return m_w.m_controller.fields(); }
    Settings *settings() override { return m_w.m_controller.settings(); }
    QString userId() const override { return m_w.m_controller.userId; }
    QString computerName() const override { return m_w.m_controller.computerName(); }
    Prompter &prompter() override { return m_w.m_prompter; }
    const Clock &clock() const override { return m_w.m_controller.clock(); }
    void log(const QString &text) override { m_w.m_controller.log(text); }
    void setStatusText(const QString &text) override { m_w.m_controller.setStatusText(text); }
    QString currentAddress() const override { return m_w.m_controller.currentAddress(); }
    void setCurrentAddress(const QString &text) override
    {
        m_w.m_controller.setCurrentAddress(text);
    }
    void setExpiryText(const QString &text) override
    {
        if (auto *label = qobject_cast<QLabel *>(m_w.m_window.control(IpControl::ExpiryLabel)))
            label->setText(text);
    }
    void enableIpControls(bool enable) override { m_w.m_controller.enableIpControls(enable); }
    void forcedSignOut(const QString &message) override { m_w.m_controller.forcedSignOut(message); }
    void setControlShown(int id, bool shown) override
    {
        if (QWidget *c = m_w.m_window.control(id))
            c->setVisible(shown);
    }
    void setControlEnabled(int id, bool enabled) override
    {
        m_w.m_controller.setControlEnabled(id, enabled);
    }
    void setAutoChangeBox(bool checked) override
    {
        if (auto *box = qobject_cast<QCheckBox *>(m_w.m_window.control(IpControl::AutoChange))) {
            const QSignalBlocker block(box);
            box->setChecked(checked);
        }
        m_w.m_controller.setAutoChangeChecked(checked);
    }
    void setIntervalControls(int minutes, const QString &text) override
    {
        if (auto *slider =
                qobject_cast<QSlider *>(m_w.m_window.control(IpControl::AutoChangeSlider))) {
            const QSignalBlocker block(slider);
            slider->setRange(1, 30);
            slider->setValue(minutes);
        }
        if (auto *edit =
                qobject_cast<QLineEdit *>(m_w.m_window.control(IpControl::AutoChangeMinutes)))
            edit->setText(text);
    }
    QTimer *autoChangeTimer() override { return m_w.m_controller.timer(MainTimer::AutoChange); }
    void changeConfirmed(const QString &address) override { m_w.m_verifier->verify(address); }

private:
    ClientWiring &m_w;
};

// What the memo panel reaches of the main window and the session.
class ClientWiring::MemoBridge : public MemoHost
{
public:
    explicit MemoBridge(ClientWiring &w) : m_w(w) { }
    CListCtrlEx &ipList() override { return *m_w.m_window.ipList(); }
    int productType() const override { return m_w.m_controller.fields().productType; }
    bool memoShown() const override { return m_w.m_controller.memoPanelShown(); }
    void setMemoShown(bool shown) override { m_w.m_controller.setMemoPanelShown(shown); }
    void setMemoButtonEnabled(bool enabled) override
    {
        m_w.m_controller.setControlEnabled(ControlId::MemoButton, enabled);
    }
    QRect panelGeometry() const override { return m_w.m_window.memoPanelGeometry(); }
    bool sendMemoListRequest() override { return m_w.m_session->sendMemoListRequest() > 0; }
    bool sendMemoSave(const MemoInfo &memo) override
    {
        return m_w.m_session->sendMemoSave(memo) > 0;
    }
    Prompter &prompter() override { return m_w.m_prompter; }

private:
    ClientWiring &m_w;
};

ClientWiring::ClientWiring(MainController &controller, CTarvoClientDlg &window, Prompter &prompter,
                           Launcher &launcher, Outside outside, QObject *parent)
    : QObject(parent), m_controller(controller), m_window(window), m_prompter(prompter),
      m_launcher(launcher), m_config(DeploymentConfig::fromProgramFolder()),
      m_host(WebHost::fromConfig(m_config))
{
    m_transport = std::make_unique<CurlWebTransport>(m_config, m_prompter);
    m_requests = std::make_unique<ServiceRequests>(*m_transport, m_host);
    m_browsers = std::make_unique<XdgBrowserRegistry>();
    m_pages = std::make_unique<ServicePages>(m_launcher, *m_browsers, m_host);
    m_lineCheck = std::make_unique<LineCheck>();
    m_help = std::make_unique<ServiceFailureHelp>(
        *m_pages, *m_requests, *m_lineCheck, m_prompter,
        ServiceFailureHelp::Sources {[this] { return m_controller.fields().tunnelType; },
                                     [this] { return m_account.userId; }, m_config.reportHost});
    m_versionCheck = std::make_unique<VersionCheck>(
        VersionCheck::Hooks {[this] { return m_requests->currentVersion(); },
                             [this](const QString &line) { m_controller.log(line); },
                             [] { return anyProcessNamed(QStringLiteral("KVOUpdate")); },
                             [this] {
                                 m_controller.shutDownNow();
                             }},
        m_launcher);
    m_sequence = std::make_unique<SignInSequence>(*this, *m_requests, m_prompter, resolveFirstIpv4);
    m_tap = outside.tunDevice.isEmpty()
        ? std::make_unique<TapAdapter>(this, m_host.httpAuthority())
        : std::make_unique<TapAdapter>(this, m_host.httpAuthority(), outside.tunDevice);
    m_viaHelper = throughHelper();
    if (m_viaHelper && outside.tunDevice.isEmpty())
        m_tap->setDeviceCheck(
            [] { return HelperBus::tunDeviceAvailable(QDBusConnection::systemBus()); });
    if (outside.dialUp)
        m_dialUp = std::move(outside.dialUp);
    else if (m_viaHelper)
        m_dialUp = std::make_unique<HelperDialUp>(QDBusConnection::systemBus());
    else
        m_dialUp = std::make_unique<PppDialUp>();
    m_events = std::make_unique<TunnelEvents>(*this, m_controller.tunnelFlags());
    m_sessionBridge = std::make_unique<SessionBridge>(*this);
    m_session = std::make_unique<ClientSock>(*m_sessionBridge);
    m_session->setReplyWatchdogTimer(m_controller.timer(MainTimer::ReplyWatchdog));
    m_driverHandle = std::make_unique<DriverHandle>(*this);

    // The IP list on the window's list control, fed by the session's messages.
    if (outside.resetter)
        m_resetter = std::move(outside.resetter);
    else if (m_viaHelper)
        m_resetter = std::make_unique<HelperTcpResetter>(
            QDBusConnection::systemBus(), m_config.resetHostsFirst, m_config.resetHostsSecond);
    else
        m_resetter = std::make_unique<NetlinkTcpResetter>(NetlinkTcpResetter::fromConfig(m_config));
    m_verifier =
        std::make_unique<AddressVerifier>(m_controller, [config = m_config](const QString &url) {
            return PostFormToUrl(url, QString(), config);
        });
    m_ipHost = std::make_unique<IpListBridge>(*this);
    m_rows = std::make_unique<CListCtrlRows>(*m_window.ipList());
    m_channel = std::make_unique<ClientSockChannel>(*m_session);
    m_ipList =
        std::make_unique<IpListController>(*m_ipHost, *m_rows, *m_channel, *m_resetter,
                                           ProgramFolder::filePath(QStringLiteral("DynamicIPUse")),
                                           ProgramFolder::filePath(QStringLiteral("CheckedIP")));
    m_rows->attach(*m_ipList);
    m_ipList->connectTo(m_session->dispatcher());
    m_hotKey = outside.hotKey ? std::move(outside.hotKey) : std::make_unique<XcbGlobalHotKey>();
    m_ipList->setHotKey(m_hotKey.get());

    // The memo panel, made once, hidden, owned by the main window.
    m_memoHost = std::make_unique<MemoBridge>(*this);
    m_memo = new MemoDialog(*m_memoHost, &m_window);
    m_window.attachMemoPanel(m_memo);
    connect(&m_session->dispatcher(), &SessionDispatcher::memoListReceived, m_memo,
            &MemoDialog::memoListReceived);
    connect(&m_controller, &MainController::hideMemoPanelRequested, m_memo, &MemoDialog::hidePanel);
    wireWindowButtons();

    connect(m_session.get(), &ClientSock::statusTextRequested, &m_controller,
            &MainController::setStatusText);
    connect(m_session.get(), &ClientSock::sessionConnected, this, [this] {
        m_controller.enableIpControls(false);
        clearIpList();
        m_events->resetRedialAttempts();
        const SettingsFields &f = m_controller.fields();
        if (f.autoChange)
            m_controller.timer(MainTimer::AutoChange)->start(f.autoChangeSeconds * 1000);
    });
    connect(m_session.get(), &ClientSock::sessionClosed, this, [this] {
        const SettingsFields &f = m_controller.fields();
        if (f.autoChange && f.productType == DynamicIp)
            m_controller.timer(MainTimer::AutoChange)->stop();
    });
    // No socket for the session: the failure is filed and the tunnel ends.
    connect(m_session.get(), &ClientSock::socketCreateFailed, this, [this] {
        reportFailure(0, QStringLiteral("TARVO_MANAGE_SOCKET_CREATE_FAIL"));
        if (m_controller.tunnelUp() && m_driver)
            m_driver->Disconnect();
    });
    connect(m_session.get(), &ClientSock::sessionNotify, this, [this](int wParam, int) {
        if (wParam == SessionNotify::ReadError)
            m_controller.forcedSignOut(QStringLiteral("통신에 문제가 발생하여 연결을 종료합니다."));
    });

    connect(&m_controller, &MainController::signInDialogRequested, this,
            &ClientWiring::showSignInDialog, Qt::QueuedConnection);
    wireNetworkGuards();
    connect(&m_controller, &MainController::closeSignInDialogRequested, this, [this] {
        if (m_login)
            m_login->done(QDialog::Rejected);
    });
    connect(&m_controller, &MainController::restoreSignInDialogRequested, this, [this] {
        if (m_login) {
            m_login->showNormal();
            m_login->raise();
            m_login->activateWindow();
        }
    });
}

ClientWiring::~ClientWiring()
{
    // The memo panel reaches the window through a bridge of ours: it goes
    // first, even though the window would delete it later.
    delete m_memo.data();
    if (m_outsideGuard)
        m_outsideGuard->release();
    if (m_dnsGuard)
        m_dnsGuard->release();
    if (m_hotKey)
        m_hotKey->unregisterKey();
    m_controller.setTunnelDriver(nullptr);
    m_controller.setSessionLink(nullptr);
    m_controller.setIpList(nullptr);
}

void ClientWiring::wireWindowButtons()
{
    auto clicked = [this](int id, auto &&slot) {
        if (auto *b = qobject_cast<QAbstractButton *>(m_window.control(id)))
            connect(b, &QAbstractButton::clicked, this, slot);
    };
    IpListController *list = m_ipList.get();
    clicked(IpControl::RandomButton, [list] { list->randomOrder(); });
    clicked(IpControl::ResetButton, [list] { list->resetUsageHistory(); });
    clicked(ControlId::CheckAll, [this, list] {
        if (auto *box = qobject_cast<QCheckBox *>(m_window.control(ControlId::CheckAll)))
            list->checkAll(box->isChecked());
    });
    clicked(IpControl::AutoChange, [this, list] {
        if (auto *box = qobject_cast<QCheckBox *>(m_window.control(IpControl::AutoChange)))
            list->autoChangeBoxClicked(box->isChecked());
    });
    if (auto *slider = qobject_cast<QSlider *>(m_window.control(IpControl::AutoChangeSlider)))
        connect(slider, &QSlider::valueChanged, list, &IpListController::intervalSliderDrawn);
    // The service pages of the main window, signed in with the parent ID.
    clicked(ControlId::PurchaseButton, [this] {
        m_pages->OpenSignedInPage(
            ServiceUrls::purchasePage(m_host, m_controller.fields().productType),
            m_account.parentId, m_account.password);
    });
    clicked(ControlId::InquiryButton, [this] {
        m_pages->OpenSignedInPage(ServiceUrls::inquiry(m_host), m_account.parentId,
                                  m_account.password);
    });
    clicked(ControlId::InPrivateButton, [this] { m_pages->OpenPrivateBrowser(); });
    clicked(ControlId::OptionButton, [this] { openOptions(); });
    clicked(ControlId::MemoButton, [this] {
        if (m_memo)
            m_memo->memoButtonClicked();
    });
    clicked(ControlId::BadIpButton, [this] { openBadIpReport(); });
}

MemoDialog *ClientWiring::memoPanel() const
{
    return m_memo.data();
}

void ClientWiring::openBadIpReport()
{
    class Bridge : public NotifyIpHost
    {
    public:
        explicit Bridge(ClientWiring &w) : m_w(w) { }
        QString currentAddress() const override { return m_w.m_controller.currentAddress(); }
        Prompter &prompter() override { return m_w.m_prompter; }
        void sendReport(int category, const QString &address, const QString &reason) override
        {
            m_w.m_ipList->reportBadAddress(category, address, reason);
        }

    private:
        ClientWiring &m_w;
    };
    Bridge bridge(*this);
    NotifyIp dialog(bridge, &m_window);
    dialog.exec();
}

void ClientWiring::start(const QStringList &arguments)
{
    m_controller.setTunnelDriver(m_driverHandle.get());
    m_controller.setSessionLink(m_sessionBridge.get());
    m_controller.setIpList(m_ipList.get());
    m_controller.setVersionCheck([this](const QStringList &commandLine) {
        return m_versionCheck->CheckForUpdate(commandLine);
    });
    connect(&m_controller, &MainController::automaticSignInRequested, this,
            &ClientWiring::automaticSignIn, Qt::QueuedConnection);
    if (!m_dnsRecovered.isEmpty())
        QTimer::singleShot(0, this, [this] {
            m_controller.log(QStringLiteral("터널 DNS 복구: ") + m_dnsRecovered);
        });
    m_controller.initialise(arguments);
}

// --- sign-in ---------------------------------------------------------------

SettingsFields &ClientWiring::fields()
{
    return m_controller.fields();
}

Settings &ClientWiring::settings()
{
    return *m_controller.settings();
}

bool ClientWiring::checkForUpdate()
{
    return m_versionCheck->CheckForUpdate(m_controller.commandLine());
}

int ClientWiring::reportFailure(int code, const QString &reply)
{
    const SettingsFields &f = m_controller.fields();
    FailureContext ctx;
    ctx.tunnelType = f.tunnelType;
    ctx.productType = f.productType;
    ctx.userId = m_account.userId;
    ctx.password = m_account.password;
    ctx.server = f.server;
    return ReportFailure(code, reply, ctx, m_prompter, *m_help);
}

void ClientWiring::saveCredentials(const QString &id, const QString &password, int saveFlag)
{
    m_controller.saveCredentials(id, password, saveFlag);
}

void ClientWiring::setProductLabel(const QString &name)
{
    if (auto *label = qobject_cast<QLabel *>(m_window.control(IpControl::ProductLabel)))
        label->setText(QStringLiteral("유동IP : %1").arg(name));
}

void ClientWiring::prepareForTunnel(const QString &typedId)
{
    m_controller.setWindowCaption(QStringLiteral("모라솔 - %1").arg(typedId));
    if (typedId.contains(QLatin1Char('@')))
        m_controller.fields().autoChange = 0;
}

void ClientWiring::createDriver(int tunnelType)
{
    // The old driver goes first; deleting it does not end its tunnel.
    m_driver.reset();
    OvpnProcessFactory processes;
    if (m_viaHelper)
        processes = [](QObject *owner) {
            return new HelperOvpnProcess(QDBusConnection::systemBus(), owner);
        };
    m_driver = createTunnelDriver(
        tunnelType,
        TunnelServices {m_prompter, *m_dialUp, *m_tap,
                        [this](const QString &userId) { return m_requests->qosReply(userId); },
                        processes});
}

int ClientWiring::startTunnel()
{
    m_controller.userId = m_account.userId;
    m_controller.password = m_account.password;
    createDriver(m_controller.fields().tunnelType);
    rebuildListColumns();
    m_events->prepareSignIn(m_account.userId, m_account.password, m_controller.fields().server);
    return m_events->connectTunnel();
}

void ClientWiring::showMainWindowCentred()
{
    m_window.show();
    if (QScreen *screen =
            m_window.screen() ? m_window.screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        m_window.move(area.center() - m_window.rect().center());
    }
    m_window.raise();
}

void ClientWiring::stopSignInTimers()
{
    for (int id : {MainTimer::ElapsedTime, MainTimer::RedialCountdown, MainTimer::ReplyWatchdog})
        m_controller.timer(id)->stop();
}

void ClientWiring::loadSavedCredentials(QString &id, QString &password)
{
    m_controller.loadCredentials();
    id = m_controller.userId;
    password = m_controller.password;
}

void ClientWiring::requestExit()
{
    m_controller.postSessionNotify(SessionNotice::ExitRequested, 0);
}

void ClientWiring::rebuildListColumns()
{
    if (IpListOperations *list = m_controller.ipList())
        list->setUpForProduct(m_controller.fields().productType);
}

void ClientWiring::openOptions()
{
    // What the options dialog changes of the main window.
    class Bridge : public OptionsHost
    {
    public:
        explicit Bridge(ClientWiring &w) : m_w(w) { }
        SettingsFields &fields() override { return m_w.m_controller.fields(); }
        Settings &settings() override { return *m_w.m_controller.settings(); }
        void resetRedialTick() override { m_w.m_events->resetRedialTick(); }
        GlobalHotKey *hotKey() override { return m_w.m_hotKey.get(); }
        Prompter &prompter() override { return m_w.m_prompter; }
        Launcher &launcher() override { return m_w.m_launcher; }
        QString routerAddress() override { return RouterAddress::readRouterAddress(); }
        QString programPath() override { return LogonStart::programPath(); }
        void blockOutsideChanged(bool) override { m_w.applyOutsideBlock(); }

    private:
        ClientWiring &m_w;
    };
    if (!m_controller.settings())
        return;
    Bridge bridge(*this);
    // Over the sign-in dialog while it is open, else over the main window.
    CManageOption dialog(bridge, m_login ? static_cast<QWidget *>(m_login.data()) : &m_window);
    dialog.exec();
}

void ClientWiring::wireNetworkGuards()
{
    // After a resume or a network change a tunnel that no longer carries
    // traffic is ended and redialled as a lost link.
    m_events->setLinkCheck([this](std::function<void(bool)> done) {
        if (!m_driver)
            return done(true);
        LinkCheck::checkTunnel(*m_driver, m_events->server(), m_events.get(), std::move(done));
    });
    m_networkReturn = new NetworkReturnWatcher(this);
    m_networkReturn->watchSleep(QDBusConnection::systemBus());
    m_networkReturn->watchLinks();
    connect(m_networkReturn, &NetworkReturnWatcher::networkReturned, m_events.get(),
            &TunnelEvents::networkReturned);

    // No traffic outside the tunnel: installed with each tunnel up, kept
    // through a redial, removed when the sign-in dialog comes back and at exit.
    m_outsideGuard = std::make_unique<OutsideGuard>(
        m_viaHelper ? OutsideGuard::throughHelper(QDBusConnection::systemBus())
                    : OutsideGuard::inProcess());
    // A root client that was killed could not remove its table: the next
    // start does, before anything needs the network.
    if (!m_viaHelper && ::geteuid() == 0 && OutsideBlock::installed()) {
        QString error;
        OutsideBlock::remove(&error);
    }
    // Names through the tunnel: the server's DNS while each tunnel is up,
    // the machine's own again when it ends.
    m_dnsGuard = std::make_unique<DnsGuard>(
        m_viaHelper ? DnsGuard::throughHelper(QDBusConnection::systemBus())
                    : DnsGuard::inProcess());
    if (!m_viaHelper && ::geteuid() == 0) {
        // Undone at once; said in the log once it is open (start()).
        m_dnsRecovered = TunnelDns::Applier::recover();
    }
    connect(&m_controller.tunnelFlags(), &TunnelFlags::tunnelUpChanged, this, [this](bool up) {
        if (up) {
            applyOutsideBlock();
            applyTunnelDns();
        } else {
            m_dnsGuard->release();
        }
    });
    connect(&m_controller, &MainController::signInDialogRequested, this, [this] {
        m_outsideGuard->release();
        m_dnsGuard->release();
        m_dnsGuard->signedOut();
    });
}

void ClientWiring::applyTunnelDns()
{
    if (!m_controller.tunnelUp() || !m_driver)
        return;
    for (const QString &line : m_dnsGuard->tunnelUp(
             m_driver->GetAssignedIp(), m_driver->pushedDns(), m_controller.fields().blockOutside))
        m_controller.log(line);
}

void ClientWiring::applyOutsideBlock()
{
    // With the option off only IPv6 is held back, and only where the
    // machine has an IPv6 route for it to leave by.
    const bool everything = m_controller.fields().blockOutside;
    if (!everything && (!OutsideBlock::hasIpv6DefaultRoute() || !m_controller.tunnelUp())) {
        m_outsideGuard->release();
        return;
    }
    if (!m_controller.tunnelUp() || !m_driver)
        return; // installed with the next tunnel up
    QString error;
    if (m_outsideGuard->tunnelUp(m_driver->GetAssignedIp(), m_events->server(), everything,
                                 &error)) {
        if (!everything)
            m_controller.log(QStringLiteral("IPv6 통신 차단: 터널은 IPv4만 전달합니다"));
    } else {
        m_controller.log((everything ? QStringLiteral("터널 밖 통신 차단 실패: ")
                                     : QStringLiteral("IPv6 통신 차단 실패: ")) +
                         error);
    }
}

void ClientWiring::showSignInDialog()
{
    if (m_login || m_controller.exited())
        return;
    Login *login = new Login(*this, *m_sequence,
                             LoginServices {*m_requests, *m_pages, *m_lineCheck, m_prompter,
                                            m_launcher, QUrl(ServiceUrls::noticesBoard(m_host)),
                                            QUrl(ServiceUrls::faqBoard(m_host)), m_config.caFile});
    m_login = login;
    m_controller.setSignInDialogOpen(true);
    login->exec();
    m_controller.setSignInDialogOpen(false);
    delete login;
}

void ClientWiring::automaticSignIn()
{
    m_account.userId = m_controller.userId;
    m_account.password = m_controller.password;
    if (m_sequence->runAutomatic() == SignInSequence::Outcome::OpenDialog)
        m_controller.showSignInDialog();
}

// --- tunnel ----------------------------------------------------------------

RedialSettings ClientWiring::redialSettings() const
{
    const SettingsFields &f = m_controller.fields();
    return RedialSettings {f.redialOnLinkFailure, f.redialCount, f.redialSeconds};
}

void ClientWiring::setStatusText(const QString &text)
{
    m_controller.setStatusText(text);
}

void ClientWiring::setCurrentAddress(const QString &text)
{
    m_controller.setCurrentAddress(text);
}

void ClientWiring::log(const QString &text)
{
    m_controller.log(text);
}

void ClientWiring::enableIpControls(bool enable)
{
    m_controller.enableIpControls(enable);
}

void ClientWiring::clearIpList()
{
    if (IpListOperations *list = m_controller.ipList())
        list->emptyList();
}

void ClientWiring::updateTray()
{
    m_controller.setConnectTime(QDateTime::fromSecsSinceEpoch(m_events->connectTime()));
    m_controller.updateTrayIconAndTip();
}

void ClientWiring::openSession()
{
    m_session->open(m_controller.fields().server);
}

void ClientWiring::closeSessionSocket()
{
    m_session->close();
}

void ClientWiring::logOut()
{
    m_controller.logOut();
}

void ClientWiring::returnToSignIn()
{
    m_window.hide();
    m_controller.showSignInDialog();
}

void ClientWiring::checkVersion(const QString &updaterArgument)
{
    m_versionCheck->CheckForUpdate(QStringList {updaterArgument});
}

QTimer *ClientWiring::timer(int id)
{
    return m_controller.timer(id);
}

void ClientWiring::waitWhileDispatching(int milliseconds)
{
    ::waitWhileDispatching(milliseconds);
}

qint64 ClientWiring::currentTime()
{
    return QDateTime::currentSecsSinceEpoch();
}

int ClientWiring::download(const QString &address, const QString &body, bool freshDialog)
{
    const DeploymentConfig config = m_config;
    if (freshDialog || !m_downloadDialog) {
        m_downloadDialog = std::make_unique<HttpDownloadDlg>(
            m_prompter,
            [config](const QString &url, const QString &b) {
                return PostFormToUrl(url, b, config);
            },
            [](const QString &url, const QString &path,
               const std::function<bool(qint64, qint64)> &progress) {
                return downloadToFile(url, path, progress);
            });
    }
    m_downloadDialog->listUrl = address;
    m_downloadDialog->listBody = body;
    m_downloadDialog->exec();
    return m_downloadDialog->result();
}

// --- session ---------------------------------------------------------------

LoginInfo ClientWiring::loginInfo() const
{
    const SettingsFields &f = m_controller.fields();
    LoginInfo info;
    info.parentId = m_account.parentId;
    info.userId = m_account.userId;
    info.tunnelAddress = m_driver ? m_driver->GetAssignedIp() : QString();
    info.pcName = m_controller.computerName();
    info.tunnelType = f.tunnelType;
    info.productType = f.productType;
    info.productCode = m_account.productCode;
    return info;
}
