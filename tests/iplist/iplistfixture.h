#pragma once

// The main window's side of the IP list as plain recorded state, and a
// fixture that runs IpListController over a plain row table with a fixed
// clock, a scripted prompter and a program folder of its own.
#include "core/settings.h"
#include "mainwindow/iplistcontroller.h"
#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/tcpreset.h"
#include "support/testhome.h"

#include <QHash>
#include <QTimeZone>
#include <QTimer>

#include <memory>

#include <time.h>

// The texts these tests expect are Korean local times (UTC+9, no summer
// time): every program that includes this runs in that zone, whatever the
// machine's own.
inline const bool kKoreanLocalTime = [] {
    qputenv("TZ", "KST-9");
    tzset();
    return true;
}();

struct IpHostState : IpListHost
{
    explicit IpHostState(const QString &settingsPath)
        : clockValue(QDateTime(QDate(2026, 3, 14), QTime(21, 30, 0))), file(settingsPath)
    {
        file.createIfMissing();
        f = file.load();
    }

    SettingsFields &fields() override { return f; }
    Settings *settings() override { return &file; }
    QString userId() const override { return user; }
    QString computerName() const override { return pc; }
    Prompter &prompter() override { return boxes; }
    const Clock &clock() const override { return clockValue; }
    void log(const QString &text) override { logLines.append(text); }
    void setStatusText(const QString &text) override { status = text; }
    QString currentAddress() const override { return addressLabel; }
    void setCurrentAddress(const QString &text) override { addressLabel = text; }
    void setExpiryText(const QString &text) override { expiry = text; }
    void enableIpControls(bool enable) override { controlsEnabled.append(enable); }
    void forcedSignOut(const QString &message) override { signOuts.append(message); }
    void setControlShown(int id, bool shown) override { shownControls[id] = shown; }
    void setControlEnabled(int id, bool enabled) override { enabledControls[id] = enabled; }
    void setAutoChangeBox(bool checked) override { autoBox = checked; }
    void setIntervalControls(int minutes, const QString &text) override
    {
        sliderMinutes = minutes;
        intervalText = text;
    }
    QTimer *autoChangeTimer() override { return &timer1034; }

    FixedClock clockValue;
    Settings file;
    SettingsFields f;
    QString user = QStringLiteral("KVO@abc");
    QString pc = QStringLiteral("MYPC");
    ScriptedPrompter boxes;
    QStringList logLines;
    QString status = QStringLiteral("준비중..");
    QString addressLabel; // the address in use, as control 1026 shows it
    QString expiry;
    QList<bool> controlsEnabled;
    QStringList signOuts;
    QHash<int, bool> shownControls;
    QHash<int, bool> enabledControls;
    bool autoBox = false;
    int sliderMinutes = -1;
    QString intervalText;
    QTimer timer1034;
};

// The session connection's requests as they would leave, in order.
struct SentRequests : IpSessionChannel
{
    bool isConnected = true;
    QStringList sent; // "info", "change <address>", "badlist"
    bool watchdog = false;
    bool reconnectFlag = true;

    bool connected() const override { return isConnected; }
    void sendIpInfoRequest() override
    {
        sent.append(QStringLiteral("info"));
        watchdog = true;
    }
    void sendIpChangeRequest(const QString &address) override
    {
        sent.append(QStringLiteral("change ") + address);
        watchdog = true;
    }
    void sendBadIpListRequest() override { sent.append(QStringLiteral("badlist")); }
    bool reportGoesOut = true;
    bool sendBadIpReport(const BadIpInfo &r) override
    {
        sent.append(QStringLiteral("report %1 %2 %3").arg(r.category).arg(r.address, r.reason));
        return reportGoesOut;
    }
    void stopReplyWatchdog() override { watchdog = false; }
    void clearReconnectFlag() override { reconnectFlag = false; }
    QStringList changes() const
    {
        QStringList out;
        for (const QString &s : sent) {
            if (s.startsWith(QLatin1String("change ")))
                out.append(s.mid(7));
        }
        return out;
    }
};

// The reset passes in the order they ran.
struct ResetPasses : TcpConnectionResetter
{
    QStringList runs;
    void firstPass() override { runs.append(QStringLiteral("first")); }
    void secondPass() override { runs.append(QStringLiteral("second")); }
};

inline FixedIpInfo fixedRecord(const char *ip, int state, int user = 0, int days = 10,
                               const char *pc = "")
{
    FixedIpInfo r;
    r.address = QString::fromLatin1(ip);
    r.state = state;
    r.userNumber = user;
    r.days = days;
    r.pcName = QString::fromLatin1(pc);
    return r;
}

inline DynamicIpList dynamicRecord(const QString &ip, char leadByte = 'x')
{
    DynamicIpList r;
    r.lead.fill(leadByte);
    r.address = ip;
    return r;
}

inline QList<DynamicIpList> dynamicRecords(int n)
{
    QList<DynamicIpList> out;
    for (int i = 1; i <= n; ++i)
        out.append(dynamicRecord(QStringLiteral("10.0.0.%1").arg(i)));
    return out;
}

// Seconds since 1970 of a Korean local time (UTC+9, no daylight saving).
inline quint64 kst(int y, int mo, int d, int h, int mi, int s)
{
    return quint64(
        QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone(9 * 3600)).toSecsSinceEpoch());
}

template<class Rows>
struct IpListFixtureT
{
    explicit IpListFixtureT(int product)
        : host(home.file(QStringLiteral("KVOClientSetup.ini"))),
          controller(host, rows, session, resets, home.file(QStringLiteral("DynamicIPUse")),
                     home.file(QStringLiteral("CheckedIP")))
    {
        host.f.productType = product;
        controller.setUpForProduct(product);
    }

    IpListModel &model() { return controller.model(); }
    int findRow(const char *ip) { return model().findRow(QString::fromLatin1(ip)); }
    QString cell(const char *ip, int column) { return rows.text(findRow(ip), column); }
    quint32 color(const char *ip) { return rows.background(findRow(ip)); }

    TestHome home;
    IpHostState host;
    Rows rows;
    SentRequests session;
    ResetPasses resets;
    IpListController controller;
};
