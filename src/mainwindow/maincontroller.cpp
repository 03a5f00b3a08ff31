#include "maincontroller.h"

#include "checkedipfile.h"
#include "core/activitylog.h"
#include "core/credentialstore.h"
#include "platform/clock.h"
#include "platform/eventwait.h"
#include "platform/launcher.h"
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
    m_tunnelUp = up;
    Q_EMIT trayStateChanged();
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

    m_commandLine = arguments;

    CheckedIpFile::load(checkedIpPath(), m_checkedList);
    enableIpControls(false);

    m_signInOpen = false;
    if (m_fields.bootStart == 0) {
        showSignInDialog();
        return;
    }
    if (m_commandLine.join(QLatin1Char(' ')).contains(QLatin1String("boot"))) {
        loadCredentials();
        // The automatic sign-in takes over from here; until it exists on this
        // build the sign-in dialog is the way in.
        showSignInDialog();
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
    for (const QString &ip : splitLegacyCheckedList(m_fields.legacyCheckedIp)) {
        if (!m_checkedList.contains(ip))
            m_checkedList.append(ip);
    }
    CheckedIpFile::save(checkedIpPath(), m_checkedList);
    m_settings->write(SettingKeys::Entry, SettingKeys::CheckedIP, QString());
}

void MainController::enableIpControls(bool enable)
{
    m_ipControlsEnabled = enable;
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
    if (m_tunnelUp) {
        m_loggingOut = true;
        m_tunnelUp = false;
        setStatusText(QStringLiteral("로그아웃 하는 중입니다."));
        log(QStringLiteral("로그아웃함"));
        stopSessionTimers();
        // The session socket is shut down and closed here, then the pause
        // lets its last notices run before the tunnel is told to disconnect.
        waitWhileDispatching(1000);
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
    // to the system) are deleted here once they exist.
    m_elapsedTimer.stop();
    stopSessionTimers();
    // 6. the activity log.
    if (m_log)
        m_log->close();
    m_log.reset();
    // 7. hot key, 8. the window ends and with it the program.
    Q_EMIT finished();
}
