#pragma once

#include "core/ccrypto.h"
#include "core/settings.h"
#include "core/tunnelflags.h"
#include "mainwindow/controlids.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class ActivityLog;
class Clock;
class CredentialStore;
class IpListOperations;
class Launcher;
class Prompter;
class SessionLink;
class TunnelDriverHandle;

// Window message numbers kept as the names of our notifications.
namespace WindowMessage {
constexpr int TrayCallback = 1025; // WM_USER + 1
constexpr int SessionNotify = 1033; // WM_USER + 9, WM_SESSION_NOTIFY
} // namespace WindowMessage

// WM_SESSION_NOTIFY wParam values.
namespace SessionNotice {
constexpr int ExitRequested = 5; // posted by the sign-in dialog's exit question
} // namespace SessionNotice

// Tray icon resources and menu commands.
namespace TrayIcon {
constexpr int Connected = 201;
constexpr int NotConnected = 202;
constexpr int MaxTipLength = 127; // the tip buffer holds 128 with the terminator
} // namespace TrayIcon

namespace TrayCommand {
constexpr int ChangeAddress = 32774; // "IP전환"
constexpr int LogOut = 32775; // "로그아웃"
constexpr int Exit = 32776; // "종료"
} // namespace TrayCommand

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
    // Button 1015 and tray item 32775.
    void logOut();
    // The session or the tunnel ends the sign-in; a non-empty text is shown.
    void forcedSignOut(const QString &message);
    // Enable (true) or disable the IP controls; a sub-account's automatic
    // change controls stay as they are.
    void enableIpControls(bool enable);
    // Tray icon and tip for the tunnel-up flag.
    void updateTrayIconAndTip();
    // The tunnel-up actions' start of the elapsed time (timer 1026).
    void startElapsedTime();
    // Timer 1026: the elapsed time and the tray tip.
    void elapsedTimeTick();
    // Timer 1034: the automatic change.
    void autoChangeTick();
    // Tray double-click: the main window while the tunnel is up, else the
    // sign-in dialog when it is open.
    void trayDoubleClicked();
    // Button 1017 and tray item 32774 "IP전환": the address change.
    void changeAddressCommand();
    // Esc, the close box, log-out: the memo panel goes.
    void hideMemoPanel();

    // "%02d:%02d:%02d" with the hours wrapping at 24.
    static QString formatElapsed(qint64 seconds);
    // The tray tip of a running connection.
    static QString elapsedTip(const QString &address, const QString &elapsed,
                              const QString &statistics);

    // The parts that later own the session, the tunnel and the IP list.
    void setSessionLink(SessionLink *link) { m_session = link; }
    void setTunnelDriver(TunnelDriverHandle *driver) { m_tunnel = driver; }
    void setIpList(IpListOperations *list) { m_ipList = list; }
    // The start-up version check: given the command line, true when the
    // program is ending in favour of the updater.
    void setVersionCheck(std::function<bool(const QStringList &)> check)
    {
        m_versionCheck = std::move(check);
    }
    SessionLink *sessionLink() const { return m_session; }
    TunnelDriverHandle *tunnelDriver() const { return m_tunnel; }
    IpListOperations *ipList() const { return m_ipList; }
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

    // The one pair of tunnel flags; the tunnel rules and the session
    // connection read and write these.
    TunnelFlags &tunnelFlags() { return m_flags; }
    bool tunnelUp() const { return m_flags.tunnelUp(); }
    // Sets the tunnel-up flag and updates the tray.
    void setTunnelUp(bool up);
    bool loggingOut() const { return m_flags.loggingOut(); }
    bool ipControlsEnabled() const { return m_ipControlsEnabled; }
    // Enabled state of a control as the operations left it (true when never touched).
    bool isControlEnabled(int id) const { return m_enabled.value(id, true); }
    void setControlEnabled(int id, bool enabled);
    // Check box 1069 "IP자동변경".
    bool autoChangeChecked() const { return m_autoChangeChecked; }
    void setAutoChangeChecked(bool checked) { m_autoChangeChecked = checked; }
    // The account ID as typed: the user ID without "KVO@".
    QString accountId() const { return userId.mid(4); }

    int trayIconId() const
    {
        return m_flags.tunnelUp() ? TrayIcon::Connected : TrayIcon::NotConnected;
    }
    const QString &trayTip() const { return m_trayTip; }
    const QString &elapsedText() const { return m_elapsedText; }
    const QDateTime &connectTime() const { return m_connectTime; }
    void setConnectTime(const QDateTime &t) { m_connectTime = t; }
    // The address in use (control 1026, which shows "0.0.0.0" until the
    // first one); the IP list reads it from here.
    const QString &currentAddress() const { return m_currentAddress; }
    void setCurrentAddress(const QString &address);
    const QString &windowCaption() const { return m_caption; }
    void setWindowCaption(const QString &caption);
    bool memoPanelShown() const { return m_memoShown; }
    void setMemoPanelShown(bool shown) { m_memoShown = shown; }
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
    void controlEnabledChanged(int id, bool enabled);
    void elapsedTextChanged(const QString &text);
    void currentAddressChanged(const QString &text);
    void captionChanged(const QString &caption);
    // The sign-in dialog (another part) runs modally when this arrives.
    void signInDialogRequested();
    // Start at logon with "boot": the saved credentials are loaded; the
    // automatic sign-in runs when this arrives.
    void automaticSignInRequested();
    void restoreSignInDialogRequested();
    void showWindowRequested();
    void hideMemoPanelRequested();
    void closeSignInDialogRequested();
    void hideWindowRequested();
    // The exit procedure has run; the program ends when this arrives.
    void finished();

private:
    void locateAndLoadSettings();
    void migrateLegacyCheckedList();
    void signOut(bool forced, const QString &message);
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

    TunnelFlags m_flags;
    bool m_ipControlsEnabled = true;
    bool m_signInOpen = false;
    bool m_exited = false;
    bool m_autoChangeChecked = false;
    bool m_memoShown = false;
    QHash<int, bool> m_enabled;
    QString m_trayTip = QStringLiteral("모라솔 서비스에 연결되어 있지 않습니다.");
    QString m_elapsedText = QStringLiteral("00:00:00");
    QString m_currentAddress; // none until a change is confirmed
    QString m_caption = QStringLiteral("모라솔");
    QDateTime m_connectTime;

    SessionLink *m_session = nullptr;
    TunnelDriverHandle *m_tunnel = nullptr;
    IpListOperations *m_ipList = nullptr;
    std::function<bool(const QStringList &)> m_versionCheck;

    QTimer m_elapsedTimer;
    QTimer m_redialTimer;
    QTimer m_watchdogTimer;
    QTimer m_autoChangeTimer;
};
