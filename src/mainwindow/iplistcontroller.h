#pragma once

#include "mainwindow/controlids.h"
#include "mainwindow/iplistmodel.h"
#include "mainwindow/mainlinks.h"
#include "session/sessioncodec.h"

#include <QObject>
#include <QString>

class Clock;
class ClientSock;
class GlobalHotKey;
class Prompter;
class QTimer;
class SessionDispatcher;
class Settings;
class TcpConnectionResetter;
struct SettingsFields;

// Control ids of the main window that the IP list shows, hides or enables.
namespace IpControl = ControlId;

// What the IP list needs from the main window.
class IpListHost
{
public:
    virtual ~IpListHost() = default;
    // The in-memory settings: productType, lastUsedIp, autoChange,
    // autoChangeSeconds, useHotKey, hotKey are read and written here.
    virtual SettingsFields &fields() = 0;
    // The settings file (LastUsedIP, IsAutoChange, AutoChangeSec); may be null.
    virtual Settings *settings() = 0;
    // The account ID as the main window holds it after sign-in ("KVO@abc").
    virtual QString userId() const = 0;
    virtual QString computerName() const = 0;
    virtual Prompter &prompter() = 0;
    virtual const Clock &clock() const = 0;
    virtual void log(const QString &text) = 0;
    // Control 1032.
    virtual void setStatusText(const QString &text) = 0;
    // The address in use. The main window keeps it (control 1026, the tray
    // tip) and clears it on every teardown; the list marks its row from it.
    // Empty when there is none.
    virtual QString currentAddress() const = 0;
    virtual void setCurrentAddress(const QString &text) = 0;
    // Control 1067, the expiry label.
    virtual void setExpiryText(const QString &text) = 0;
    virtual void enableIpControls(bool enable) = 0;
    // Ends session and tunnel, empties the list, shows a non-empty text.
    virtual void forcedSignOut(const QString &message) = 0;
    virtual void setControlShown(int id, bool shown) = 0;
    virtual void setControlEnabled(int id, bool enabled) = 0;
    // Check box 1069.
    virtual void setAutoChangeBox(bool checked) = 0;
    // Slider 1074 position (minutes) and edit 1075 text.
    virtual void setIntervalControls(int minutes, const QString &text) = 0;
    // Timer 1034; its ticks run IpListOperations::changeAddress through the
    // main window's tick (session connected, more than one row).
    virtual QTimer *autoChangeTimer() = 0;
    // The server has confirmed a change to this address (after the row, the
    // status line and the log line are done).
    virtual void changeConfirmed(const QString &address) { Q_UNUSED(address); }
};

// The session connection as the IP list uses it.
class IpSessionChannel
{
public:
    virtual ~IpSessionChannel() = default;
    virtual bool connected() const = 0;
    // SM_IP_INFO_REQUEST; starts the reply watchdog.
    virtual void sendIpInfoRequest() = 0;
    // SM_IP_CHANGE_REQUEST with the address; starts the reply watchdog.
    virtual void sendIpChangeRequest(const QString &address) = 0;
    virtual void sendBadIpListRequest() = 0;
    // SM_BAD_IP_REPORT; true when the whole frame went out. A channel that
    // carries no reports sends nothing, so nothing gets marked.
    virtual bool sendBadIpReport(const BadIpInfo &report)
    {
        Q_UNUSED(report);
        return false;
    }
    virtual void stopReplyWatchdog() = 0;
    // The session ends for good: the close that follows starts no reconnect.
    virtual void clearReconnectFlag() = 0;
};

// The channel over the main window's ClientSock.
class ClientSockChannel : public IpSessionChannel
{
public:
    explicit ClientSockChannel(ClientSock &sock) : m_sock(sock) { }
    bool connected() const override;
    void sendIpInfoRequest() override;
    void sendIpChangeRequest(const QString &address) override;
    void sendBadIpListRequest() override;
    bool sendBadIpReport(const BadIpInfo &report) override;
    void stopReplyWatchdog() override;
    void clearReconnectFlag() override;

private:
    ClientSock &m_sock;
};

// The session's address lists and change results applied to the IP list,
// and the switching commands.
class IpListController : public QObject, public IpListOperations
{
    Q_OBJECT
public:
    IpListController(IpListHost &host, IpListRows &rows, IpSessionChannel &session,
                     TcpConnectionResetter &resetter, const QString &usagePath,
                     const QString &checkedPath, QObject *parent = nullptr);
    ~IpListController() override;

    // Every message kind of the dispatcher goes to its handler below.
    void connectTo(SessionDispatcher &dispatcher);
    // The hot key's presses run the change; applyHotKey registers it.
    void setHotKey(GlobalHotKey *hotKey);

    IpListModel &model() { return m_model; }
    const IpListModel &model() const { return m_model; }

    // IpListOperations. The first set-up (start-up) also loads the data
    // files and registers the hot key (setHotKey before it).
    void setUpForProduct(int productType) override;
    int rowCount() const override { return m_model.rows().rowCount(); }
    void emptyList() override { m_model.emptyList(); }
    void changeAddress() override;

    void loadDataFiles();

    // Session messages.
    void onLoginAccepted();
    void onLoginRefused();
    void onExpireDate(qint64 secondsSince1970Utc);
    void onFixedList(const QList<FixedIpInfo> &records);
    void onDynamicList(const QList<DynamicIpList> &records);
    void onFixedListUpdate(const QList<FixedIpInfo> &records);
    void onDynamicListUpdate(const QList<DynamicIpList> &records);
    void onDynamicIpInfo(const QList<DynamicIpList> &records);
    void onReportedList(const QStringList &addresses);
    void onAddressesAdded();
    void onSessionEnded(int type);
    void onChangeCompleted(const QString &address);
    void onChangeFailed();
    void onAddressInUse(const IpPcNotice &notice);
    void onAddressTaken(const IpPcNotice &notice);
    void onAddressReleased(const QString &address);
    void onAddressShared(const IpShareNotice &notice);
    void onAddressUnshared(const IpShareNotice &notice);

    // Send report: SM_BAD_IP_REPORT with the category, the address and the
    // (already escaped) reason; once the frame is out, an address not yet
    // reported joins the reported-address list and its row gets "!".
    void reportBadAddress(int category, const QString &address, const QString &reason);

    // Request an address change: the request and the reply watchdog.
    void requestChange(const QString &address);
    // Change requests sent so far and the address of the last one.
    int changeRequestCount() const { return m_changeRequests; }
    const QString &lastRequestedAddress() const { return m_lastRequested; }

    // A change to one given address (the command line's --switch ADDRESS),
    // under Change's rules: a row must show the address, be checked and be
    // "대기" or "사용". The request disables the IP controls as Change does;
    // the current address itself asks for nothing. Returns the refusal text,
    // empty when none.
    QString changeAddressTo(const QString &address);

    // Switching commands.
    void doubleClickChange();
    void randomOrder();
    void resetUsageHistory();
    void checkAll(bool checked);
    void autoChangeBoxClicked(bool checked);
    // Every drawing of the slider, with its position in minutes.
    void intervalSliderDrawn(int position);
    void initIntervalControls();
    // The hot key: the change while the session is connected and the list
    // has more than one row.
    void hotKeyPressed();
    // Registers the hot key (Alt + HotKey) when UseHotKey is on, else
    // unregisters it; "핫키 등록 실패!" when the key is taken.
    void applyHotKey();

    // Texts of the fixed-IP rows.
    static QString stateText(int state);
    // "@<user number>" above 0; else the account ID from its first "@"; else empty.
    static QString idText(int userNumber, const QString &userId);
    // "%d일", or for 0 the whole hours left today ("%d시간").
    static QString daysText(int days, const QDateTime &now);

private:
    void fillFixedRows(const QList<FixedIpInfo> &records, bool markReported);
    void replaceDynamic(const QList<DynamicIpList> &records);
    bool usable(int row) const;
    void markCurrentRow(int row);
    void endSession(const QString &text);
    void finishList(const QString &request);
    quint64 nowSeconds() const;

    IpListHost &m_host;
    IpListModel m_model;
    IpSessionChannel &m_session;
    TcpConnectionResetter &m_resetter;
    GlobalHotKey *m_hotKey = nullptr;
    bool m_filesLoaded = false;
    int m_changeRequests = 0;
    QString m_lastRequested;
};
