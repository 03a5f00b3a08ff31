#pragma once

#include "tunnel/tapadapter.h"
#include "tunnel/vpn.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QStringList>
#include <QTest>

// Helpers shared by the tunnel tests.

// The download dialog's part as the tests need it: records each request and
// answers with the queued result (0, success, when none is queued); when
// told to, it "downloads" by creating the adapter's node as a plain file.
class RecordingDownloader : public DriverFileDownloader
{
public:
    int download(const QString &address, const QString &body, bool freshDialog) override
    {
        requests.append(address + QLatin1Char(' ') + body +
                        (freshDialog ? QStringLiteral(" fresh") : QStringLiteral(" kept")));
        return results.isEmpty() ? 0 : results.takeFirst();
    }
    QStringList requests;
    QList<int> results;
};

// Collects what a driver posts, in order.
class NoticeLog : public QObject
{
public:
    explicit NoticeLog(TunnelNotifier &n)
    {
        QObject::connect(&n, &TunnelNotifier::ovpnEvent, this,
                         [this](int code) { ovpn.append(code); });
        QObject::connect(&n, &TunnelNotifier::rasDialEvent, this, [this](int w, int l) {
            ras.append({w, l});
        });
    }
    QList<int> ovpn;
    QList<QPair<int, int>> ras;
};

inline bool waitUntil(const std::function<bool()> &condition, int ms = 10000)
{
    return QTest::qWaitFor(condition, ms);
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline bool copyExecutable(const QString &from, const QString &to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        return false;
    return QFile::setPermissions(
        to, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
