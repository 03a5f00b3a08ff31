#include "maincontroller.h"

#include "checkedipfile.h"
#include "core/activitylog.h"
#include "core/credentialstore.h"
#include "mainlinks.h"
#include "platform/clock.h"
#include "platform/eventwait.h"
#include "platform/launcher.h"
#include "platform/logontask.h"
#include "platform/programfolder.h"
#include "platform/prompter.h"

#include <QSysInfo>

MainController::MainController(Prompter &prompter, Launcher &launcher, const Clock &clock,
                               QObject *parent)
    : QObject(parent), m_prompter(prompter), m_launcher(launcher), m_clock(clock),
      m_crypto(prompter)
{
    m_elapsedTimer.setInterval(1000);
    m_redialTimer.setInterval(1000);
    m_watchdogTimer.setInterval(30000);
    m_elapsedTimer.setObjectName(QString::number(MainTimer::ElapsedTime));
    m_redialTimer.setObjectName(QString::number(MainTimer::RedialCountdown));
    m_watchdogTimer.setObjectName(QString::number(MainTimer::ReplyWatchdog));
    m_autoChangeTimer.setObjectName(QString::number(MainTimer::AutoChange));
    connect(&m_elapsedTimer, &QTimer::timeout, this, &MainController::elapsedTimeTick);
    connect(&m_autoChangeTimer, &QTimer::timeout, this, &MainController::autoChangeTick);
    // The interval box is a read-only, disabled edit in the template.
    m_enabled.insert(ControlId::AutoChangeMinutes, false);

    // The saved-password key, derived at construction.
    m_crypto.DeriveKey(kKeyPassword);
}

MainController::~MainController() = default;

QTimer *MainController::timer(int id)
{
    switch (id) {
    case MainTimer::ElapsedTime:
        return &m_elapsedTimer;
    case MainTimer::RedialCountdown:
        return &m_redialTimer;
    case MainTimer::ReplyWatchdog:
        return &m_watchdogTimer;
    case MainTimer::AutoChange:
        return &m_autoChangeTimer;
    default:
        return nullptr;
    }
}

QString MainController::checkedIpPath() const
{
    return ProgramFolder::filePath(QStringLiteral("CheckedIP"));
}

void MainController::log(const QString &text)
{
    if (m_log)
        m_log->write(text);
}

void MainController::setStatusText(const QString &text)
{
    m_statusText = text;
    Q_EMIT statusTextChanged(text);
}

void MainController::setTunnelUp(bool up)
{
    m_flags.setTunnelUp(up);
    updateTrayIconAndTip();
}

void MainController::setCurrentAddress(const QString &address)
{
    m_currentAddress = address;
    Q_EMIT currentAddressChanged(address);
}

void MainController::setWindowCaption(const QString &caption)
{
    m_caption = caption;
    Q_EMIT captionChanged(caption);
}

void MainController::setControlEnabled(int id, bool enabled)
{
    m_enabled.insert(id, enabled);
    Q_EMIT controlEnabledChanged(id, enabled);
}

void MainController::updateTrayIconAndTip()
{
    m_trayTip = m_flags.tunnelUp() ? QStringLiteral("모라솔 서비스에 연결되었습니다.")
                                   : QStringLiteral("모라솔 서비스에 연결되어 있지 않습니다.");
    Q_EMIT trayStateChanged();
}

QString MainController::formatElapsed(qint64 e)
{
    // A clock set back before the connect time shows zero, not negative time.
    if (e < 0)
        e = 0;
    const qint64 hours = e / 3600 - (e / 86400) * 24;
    const qint64 minutes = e / 60 - (e / 3600) * 60;
    const qint64 seconds = e - (e / 60) * 60;
    return QStringLiteral("%1:%2:%3")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'));
}

QString MainController::elapsedTip(const QString &address, const QString &elapsed,
                                   const QString &statistics)
{
    QString tip = statistics.isEmpty()
        ? QStringLiteral("모라솔\n현재IP : %1\n사용시간 : %2").arg(address, elapsed)
        : QStringLiteral("모라솔\n현재IP : %1\n사용시간 : %2\n%3")
              .arg(address, elapsed, statistics);
    // The tip holds 127 characters; a longer one is cut there.
    if (tip.size() > TrayIcon::MaxTipLength)
        tip.truncate(TrayIcon::MaxTipLength);
    return tip;
}

void MainController::startElapsedTime()
{
    m_connectTime = m_clock.now();
    m_elapsedTimer.start();
}

void MainController::elapsedTimeTick()
{
    const qint64 e = m_connectTime.isValid() ? m_connectTime.secsTo(m_clock.now()) : 0;
    m_elapsedText = formatElapsed(e);
    Q_EMIT elapsedTextChanged(m_elapsedText);
    const QString statistics =
        m_tunnel && m_tunnel->exists() ? m_tunnel->GetStatistics() : QString();
    m_trayTip = elapsedTip(m_currentAddress, m_elapsedText, statistics);
    Q_EMIT trayStateChanged();
}

void MainController::autoChangeTick()
{
    if (m_session && m_session->exists() && m_session->connected() && m_ipList &&
        m_ipList->rowCount() > 1)
        m_ipList->changeAddress();
}

void MainController::trayDoubleClicked()
{
    if (m_flags.tunnelUp())
        Q_EMIT showWindowRequested();
    else if (m_signInOpen)
        Q_EMIT restoreSignInDialogRequested();
}

void MainController::changeAddressCommand()
{
    if (m_ipList)
        m_ipList->changeAddress();
}

void MainController::hideMemoPanel()
{
    Q_EMIT hideMemoPanelRequested();
    m_memoShown = false;
}

void MainController::logOut()
{
    signOut(false, QString());
}

void MainController::forcedSignOut(const QString &message)
{
    signOut(true, message);
}

void MainController::signOut(bool forced, const QString &message)
{
    if (m_exited)
        return;
    m_flags.setLoggingOut(true);
    // A forced sign-out leaves the flag to the tunnel rules, which clear it
    // when the tunnel goes down.
    if (!forced)
        m_flags.setTunnelUp(false);
    setStatusText(QStringLiteral("로그아웃 하는 중입니다."));
    log(QStringLiteral("로그아웃함"));
    stopSessionTimers();
    setCurrentAddress(QString());
    if (m_session && m_session->exists()) {
        m_session->shutDownAndClose();
        waitWhileDispatching(1000);
    }
    if (m_tunnel && m_tunnel->exists())
        m_tunnel->Disconnect();
    // Disconnect has ended the tunnel. A dial-up link hung up while logging
    // out reports no loss, so nothing else would clear the flag or stop the
    // elapsed time, and the tray would go on showing a connection.
    m_flags.setTunnelUp(false);
    m_elapsedTimer.stop();
    if (m_ipList)
        m_ipList->emptyList();
    enableIpControls(false);
    Q_EMIT hideWindowRequested();
    updateTrayIconAndTip();
    if (forced && !message.isEmpty())
        m_prompter.show(message, kNoticeCaption, Mb::Notice);
    hideMemoPanel();
    showSignInDialog();
}

void MainController::initialise(const QStringList &arguments)
{
    // The program folder exists before anything is written into it.
    ProgramFolder::ensure();

    // Activity log (the window's own initialisation and pictures are the view's).
    m_log = std::make_unique<ActivityLog>(ProgramFolder::path(), applicationName(), m_clock,
                                          m_prompter);
    m_computerName = QSysInfo::machineHostName();

    log(QStringLiteral("프로그램 시작"));
    Q_EMIT trayIconShown(true);
    Q_EMIT trayStateChanged();

    locateAndLoadSettings();
    migrateLegacyCheckedList();

    if (m_tunnel)
        m_tunnel->createForTunnelType(m_fields.tunnelType);

    m_commandLine = arguments;

    // The version check may end the program in favour of the updater.
    if (m_versionCheck && m_versionCheck(m_commandLine))
        return;

    CheckedIpFile::load(checkedIpPath(), m_checkedList);
    if (m_ipList)
        m_ipList->setUpForProduct(m_fields.productType);
    enableIpControls(false);

    m_signInOpen = false;
    if (m_fields.bootStart == 0) {
        showSignInDialog();
        return;
    }
    // The legacy machine-wide autostart entry gives way to the logon task.
    LogonStart::replaceLegacyEntry();
    if (m_commandLine.join(QLatin1Char(' ')).contains(QLatin1String("boot"))) {
        loadCredentials();
        Q_EMIT automaticSignInRequested();
        return;
    }
    showSignInDialog();
}

void MainController::locateAndLoadSettings()
{
    m_crypto.DeriveKey(kKeyPassword);
    m_settings =
        std::make_unique<Settings>(ProgramFolder::filePath(QStringLiteral("KVOClientSetup.ini")));
    m_settings->createIfMissing();
    m_credentials = std::make_unique<CredentialStore>(
        *m_settings, m_crypto, m_prompter, ProgramFolder::filePath(QStringLiteral("Encrypt.dat")));
    m_fields = m_settings->load();
}

void MainController::migrateLegacyCheckedList()
{
    if (m_fields.legacyCheckedIp.isEmpty())
        return;
    // The file's addresses stay; the key is cleared only once they are kept.
    if (CheckedIpFile::merge(checkedIpPath(), splitLegacyCheckedList(m_fields.legacyCheckedIp),
                             m_checkedList))
        m_settings->write(SettingKeys::Entry, SettingKeys::CheckedIP, QString());
}

void MainController::enableIpControls(bool enable)
{
    m_ipControlsEnabled = enable;
    for (int id : {ControlId::ChangeButton, ControlId::RandomButton, ControlId::ResetButton})
        setControlEnabled(id, enable);
    // A sub-account (an account ID with "@", such as abc@2) has no automatic
    // change of its own: those controls stay as they are.
    if (!accountId().contains(QLatin1Char('@'))) {
        setControlEnabled(ControlId::AutoChange, enable);
        if (!enable) {
            setControlEnabled(ControlId::AutoChangeMinutes, false);
            setControlEnabled(ControlId::AutoChangeSlider, false);
        } else if (m_autoChangeChecked) {
            setControlEnabled(ControlId::AutoChangeMinutes, true);
            setControlEnabled(ControlId::AutoChangeSlider, true);
        }
    }
    for (int id : {ControlId::CheckAll, ControlId::IpList, ControlId::BadIpButton,
                   ControlId::MemoButton, ControlId::InPrivateButton, ControlId::LogLink})
        setControlEnabled(id, enable);
    Q_EMIT ipControlsEnabledChanged(enable);
}

void MainController::saveCredentials(const QString &id, const QString &pw, int saveFlag)
{
    if (!m_credentials)
        return;
    m_credentials->save(id, pw, saveFlag);
    m_fields.credentialsSaved = saveFlag;
}

void MainController::loadCredentials()
{
    if (m_credentials)
        m_credentials->load(m_fields.credentialsSaved, userId, password);
}

void MainController::showSignInDialog()
{
    // The pause lets a tunnel that is going down finish before a new sign-in.
    switch (m_fields.tunnelType) {
    case TunnelPptp:
        waitWhileDispatching(1000);
        break;
    case TunnelOpenVpn:
    case TunnelL2tp:
        waitWhileDispatching(3000);
        break;
    default:
        break;
    }
    if (m_exited)
        return;
    Q_EMIT signInDialogRequested();
}

void MainController::openTodayLog()
{
    if (m_log)
        m_launcher.openFile(m_log->todayFilePath());
}

void MainController::stopSessionTimers()
{
    m_redialTimer.stop();
    m_watchdogTimer.stop();
    m_autoChangeTimer.stop();
}

void MainController::trayExitCommand()
{
    if (m_exited)
        return;
    if (m_prompter.show(QStringLiteral("모라솔 서비스 프로그램을 종료합니다."), kNoticeCaption,
                        Mb::PlainQuestion) != IdYes)
        return;
    shutDownNow();
}

void MainController::shutDownNow()
{
    if (m_exited)
        return;
    if (m_flags.tunnelUp()) {
        m_flags.setLoggingOut(true);
        m_flags.setTunnelUp(false);
        setStatusText(QStringLiteral("로그아웃 하는 중입니다."));
        log(QStringLiteral("로그아웃함"));
        stopSessionTimers();
        // The pause lets the socket's last notices run before the tunnel is
        // told to disconnect.
        if (m_session && m_session->exists())
            m_session->shutDownAndClose();
        waitWhileDispatching(1000);
        if (m_tunnel && m_tunnel->exists())
            m_tunnel->Disconnect();
    }
    if (m_signInOpen)
        Q_EMIT closeSignInDialogRequested();
    exitProcedure();
}

void MainController::postSessionNotify(int wParam, int lParam)
{
    QMetaObject::invokeMethod(
        this, [this, wParam, lParam] { onSessionNotify(wParam, lParam); }, Qt::QueuedConnection);
}

void MainController::onSessionNotify(int wParam, int)
{
    if (wParam == SessionNotice::ExitRequested)
        exitProcedure();
}

void MainController::exitProcedure()
{
    if (m_exited)
        return;
    m_exited = true;
    // 1. tray icon, 2. last log line.
    Q_EMIT trayIconShown(false);
    log(QStringLiteral("프로그램 종료"));
    // 3. session socket, 4. memo window, 5. tunnel driver (its tunnel is left
    // to the system).
    if (m_session && m_session->exists())
        m_session->deleteSocket();
    hideMemoPanel();
    if (m_tunnel && m_tunnel->exists())
        m_tunnel->deleteDriver();
    m_elapsedTimer.stop();
    stopSessionTimers();
    // 6. the activity log.
    if (m_log)
        m_log->close();
    m_log.reset();
    // 7. hot key, 8. the window ends and with it the program.
    Q_EMIT finished();
}
