#pragma once

// The main window's side of the IP list with nothing behind it, for the
// benchmarks and the fuzz targets that drive IpListController as fast as it
// goes: no settings file, no screen, a fixed clock; the channel counts the
// change requests and sends nothing.
#include "core/settings.h"
#include "mainwindow/iplistcontroller.h"
#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/tcpreset.h"

#include <QDateTime>
#include <QTimer>

struct QuietIpListHost : IpListHost
{
    SettingsFields &fields() override { return f; }
    Settings *settings() override { return nullptr; }
    QString userId() const override { return QStringLiteral("KVO@quiet"); }
    QString computerName() const override { return QStringLiteral("QUIET"); }
    Prompter &prompter() override { return boxes; }
    const Clock &clock() const override { return clockValue; }
    void log(const QString &) override { }
    void setStatusText(const QString &) override { }
    QString currentAddress() const override { return current; }
    void setCurrentAddress(const QString &text) override { current = text; }
    void setExpiryText(const QString &) override { }
    void enableIpControls(bool) override { }
    void forcedSignOut(const QString &) override { }
    void setControlShown(int, bool) override { }
    void setControlEnabled(int, bool) override { }
    void setAutoChangeBox(bool) override { }
    void setIntervalControls(int, const QString &) override { }
    QTimer *autoChangeTimer() override { return &timer; }

    QString current;
    SettingsFields f;
    ScriptedPrompter boxes;
    FixedClock clockValue {QDateTime(QDate(2026, 3, 14), QTime(21, 30))};
    QTimer timer;
};

struct QuietIpChannel : IpSessionChannel
{
    bool connected() const override { return true; }
    void sendIpInfoRequest() override { }
    void sendIpChangeRequest(const QString &) override { ++changes; }
    void sendBadIpListRequest() override { }
    void stopReplyWatchdog() override { }
    void clearReconnectFlag() override { }
    int changes = 0;
};

struct NoTcpReset : TcpConnectionResetter
{
    void firstPass() override { }
    void secondPass() override { }
};
