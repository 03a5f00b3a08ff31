#pragma once

#include "core/ccrypto.h"
#include "core/settings.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

class ActivityLog;
class Clock;
class CredentialStore;
class Launcher;
class Prompter;

// Window message numbers kept as the names of our notifications.
namespace WindowMessage {
constexpr int TrayCallback = 1025; // WM_USER + 1
constexpr int SessionNotify = 1033; // WM_USER + 9, WM_SESSION_NOTIFY
} // namespace WindowMessage

// WM_SESSION_NOTIFY wParam values.
namespace SessionNotice {
constexpr int ExitRequested = 5; // posted by the sign-in dialog's exit question
} // namespace SessionNotice

// Timer ids of the main window.
namespace MainTimer {
constexpr int ElapsedTime = 1026;
constexpr int RedialCountdown = 1027;
constexpr int ReplyWatchdog = 1030;
constexpr int AutoChange = 1034;
} // namespace MainTimer

// The main window's state and operations, without any widget: it owns
// everything that lives longer than one call (settings, activity log, crypto
// service, credentials, timers, flags) and runs the start-up order, the
// exit procedure and the commands. CTarvoClientDlg renders it and forwards
// the user's commands; tests drive it directly.
class MainController : public QObject
{
    Q_OBJECT
public:
    MainController(Prompter &prompter, Launcher &launcher, const Clock &clock,
                   QObject *parent = nullptr);
    ~MainController() override;

    // The window's initialisation, in its fixed order. arguments is the
    // program's command line (without the program itself).
    void initialise(const QStringList &arguments);

    // Tray menu 32776 "종료": asks, signs out when the tunnel is up, exits.
    void trayExitCommand();
    // The same shut-down without the question (the desktop ends the session).
    void shutDownNow();
    // Posts WM_SESSION_NOTIFY; it is handled from the event loop.
    void postSessionNotify(int wParam, int lParam);
    // The "로그" link: today's log file in the desktop's viewer.
    void openTodayLog();
    // Show the sign-in dialog: the tunnel type's pause, then the dialog.
    void showSignInDialog();
    // Writes one activity log line.
    void log(const QString &text);
    void setStatusText(const QString &text);

    // Saves or loads the credentials (settings + "Encrypt.dat").
    void saveCredentials(const QString &id, const QString &password, int saveFlag);
    void loadCredentials();

    // State other parts read.
    Prompter &prompter() { return m_prompter; }
    Launcher &launcher() { return m_launcher; }
    const Clock &clock() const { return m_clock; }
    Settings *settings() { return m_settings.get(); }
    ActivityLog *activityLog() { return m_log.get(); }
    CCrypto &crypto() { return m_crypto; }
    SettingsFields &fields() { return m_fields; }
    const QString &statusText() const { return m_statusText; }
    const QString &computerName() const { return m_computerName; }
    const QStringList &commandLine() const { return m_commandLine; }
    const QStringList &checkedList() const { return m_checkedList; }
    QString checkedIpPath() const;

    bool tunnelUp() const { return m_tunnelUp; }
    void setTunnelUp(bool up);
    bool loggingOut() const { return m_loggingOut; }
    bool ipControlsEnabled() const { return m_ipControlsEnabled; }
    bool exited() const { return m_exited; }
    bool signInDialogOpen() const { return m_signInOpen; }
    void setSignInDialogOpen(bool open) { m_signInOpen = open; }

    QString userId;
    QString password;

    QTimer *timer(int id);

Q_SIGNALS:
    void statusTextChanged(const QString &text);
    void trayIconShown(bool shown);
    void trayStateChanged();
    void ipControlsEnabledChanged(bool enabled);
    void signInDialogRequested();
    void closeSignInDialogRequested();
    void hideWindowRequested();
    // The exit procedure has run; the program ends when this arrives.
    void finished();

private:
    void locateAndLoadSettings();
    void migrateLegacyCheckedList();
    void enableIpControls(bool enable);
    void stopSessionTimers();
    void exitProcedure();
    void onSessionNotify(int wParam, int lParam);

    Prompter &m_prompter;
    Launcher &m_launcher;
    const Clock &m_clock;

    CCrypto m_crypto;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<CredentialStore> m_credentials;
    std::unique_ptr<ActivityLog> m_log;
    SettingsFields m_fields;

    QString m_statusText = QStringLiteral("준비중..");
    QString m_computerName;
    QStringList m_commandLine;
    QStringList m_checkedList;

    bool m_tunnelUp = false;
    bool m_loggingOut = false;
    bool m_ipControlsEnabled = true;
    bool m_signInOpen = false;
    bool m_exited = false;

    QTimer m_elapsedTimer;
    QTimer m_redialTimer;
    QTimer m_watchdogTimer;
    QTimer m_autoChangeTimer;
};
