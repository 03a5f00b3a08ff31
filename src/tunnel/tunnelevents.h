#pragma once

#include "vpn.h"

#include "core/tunnelflags.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class LinkWatcher;
class Prompter;
class QTimer;
class TapAdapter;

// The main window's copies of the redial settings (the options dialog
// changes them at once).
struct RedialSettings
{
    int onLinkFailure = 0; // RedialOnLinkFailure: greater than 0 means on
    int count = 0; // RedialCount
    int seconds = 0; // RedialSeconds
};

// What the tunnel rules need of the main window. The main window implements
// it; tests implement it with recording parts.
class TunnelHost
{
public:
    virtual ~TunnelHost() = default;

    // The one tunnel driver the main window owns (may be null).
    virtual VPN *tunnelDriver() = 0;
    virtual RedialSettings redialSettings() const = 0;
    // Status line (control 1032).
    virtual void setStatusText(const QString &text) = 0;
    // The address in use (control 1026 and its field); "" clears it.
    virtual void setCurrentAddress(const QString &text) = 0;
    // One activity log line.
    virtual void log(const QString &text) = 0;
    virtual void enableIpControls(bool enable) = 0;
    virtual void clearIpList() = 0;
    // Tray icon and tooltip.
    virtual void updateTray() = 0;
    // Opens the session connection (the tunnel is up).
    virtual void openSession() = 0;
    // When a session socket exists: shuts down its sending side and closes it.
    virtual void closeSessionSocket() = 0;
    // The log-out: the logging-out flag is already set (TunnelEvents::setLoggingOut),
    // it ends the tunnel (Disconnect) and returns to the sign-in dialog.
    virtual void logOut() = 0;
    // Hides the main window and shows the sign-in dialog (after the tunnel
    // type's pause).
    virtual void returnToSignIn() = 0;
    // The failure report: its answer (0 back to sign-in, else dial again).
    virtual int reportFailure(int code, const QString &text) = 0;
    // The version check with the updater's argument; the updater may end
    // the program inside it.
    virtual void checkVersion(const QString &updaterArgument) = 0;
    // The main window's timers by id: 1026 elapsed time, 1027 redial
    // countdown, 1030 session reply watchdog.
    virtual QTimer *timer(int id) = 0;
    // Waits while the event loop keeps dispatching.
    virtual void waitWhileDispatching(int milliseconds) = 0;
    virtual Prompter &prompter() = 0;
    // For the adapter update after OpenVPN reports an old adapter.
    virtual TapAdapter *tapAdapter() = 0;
    // Seconds since 1970, for the connect time.
    virtual qint64 currentTime() = 0;
};

// The main window's handling of the tunnel drivers' notices: progress in the
// status line, the tunnel-up actions, the teardown, the redial countdown
// within the configured attempts, failure reports and the return to the
// sign-in dialog. It keeps the tunnel state of the main window (remaining
// attempts, countdown, connect time, the last sign-in's values) and the
// notifier that the drivers post to; the tunnel-up and logging-out flags are
// the main window's one pair (TunnelFlags), shared with the log-out.
class TunnelEvents : public QObject
{
    Q_OBJECT
public:
    static constexpr int kElapsedTimer = 1026;
    static constexpr int kRedialTimer = 1027;
    static constexpr int kWatchdogTimer = 1030;

    TunnelEvents(TunnelHost &host, TunnelFlags &flags, QObject *parent = nullptr);
    ~TunnelEvents() override;

    // The receiver to hand to Connect.
    TunnelNotifier *notifier() { return &m_notifier; }

    // Sign-in, before every Connect: remembers the values for redial,
    // attempts = RedialCount, flags cleared, status line and address emptied.
    void prepareSignIn(const QString &userId, const QString &password, const QString &server);
    // Connect of the current driver with the stored values; -1 without a driver.
    int connectTunnel();
    // The session socket connected: the attempts are counted afresh.
    void resetRedialAttempts();

    bool tunnelUp() const { return m_flags.tunnelUp(); }
    bool loggingOut() const { return m_flags.loggingOut(); }
    void setLoggingOut(bool on) { m_flags.setLoggingOut(on); }
    // Link watchers still running (each ends with the link it watches).
    int linkWatcherCount() const;
    bool redialPending() const { return m_redialPending; }
    int remainingAttempts() const { return m_remainingAttempts; }
    int redialTick() const { return m_redialTick; }
    // The options dialog saved new redial values: the countdown counts afresh.
    void resetRedialTick() { m_redialTick = 0; }
    qint64 connectTime() const { return m_connectTime; }
    const QString &userId() const { return m_userId; }
    const QString &server() const { return m_server; }

    // Whether the tunnel that is up still carries traffic (see
    // LinkCheck::checkTunnel): the check answers through the callback, later
    // and on this thread, so the window never waits for it. None set: never
    // asked.
    using LinkCheck = std::function<void(std::function<void(bool carries)>)>;
    void setLinkCheck(LinkCheck check) { m_linkCheck = std::move(check); }
    // The machine resumed or its network came back: a tunnel that is up
    // but no longer carries traffic is ended, and its end arrives as a lost
    // link (1031 from the link watcher, or OpenVPN's 6), so the redial rules
    // apply. Nothing happens while no tunnel is up or a log-out is under way.
    void networkReturned();

    // The handlers: "RasDialEvent", "OVPNEVENT" and timer 1027.
    void onRasDialEvent(int wParam, int lParam);
    void onOvpnEvent(int code);
    void onRedialTimer();

    // The status-line text for a dial-up state, empty when it has none.
    static QString dialStateText(int state);
    // The status-line text for an OpenVPN event, empty when it has none.
    static QString ovpnEventText(int code);

private:
    enum class Source { DialUp, OpenVpn };
    void tunnelUpActions(bool dialUp);
    void teardown();
    void redialDecision(Source source);
    void startCountdown();
    void redialAttempt();
    void logOut();
    void closeExistingOpenVpn();
    void startLinkWatcher();
    void stopLinkWatchers();

    TunnelHost &m_host;
    TunnelFlags &m_flags;
    TunnelNotifier m_notifier;

    bool m_redialPending = false;
    int m_remainingAttempts = 0;
    int m_redialTick = 0;
    qint64 m_connectTime = 0;
    QString m_userId;
    QString m_password;
    QString m_server;
    QList<LinkWatcher *> m_watchers;
    QPointer<QTimer> m_redialTimer;
    LinkCheck m_linkCheck;
    // Counts the checks asked for; an answer to an earlier one is dropped.
    quint64 m_linkChecks = 0;
};
