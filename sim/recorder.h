#pragma once

#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QString>

// Everything the simulator receives, where a test can read it: kept in
// memory and, when a folder is given, appended as one JSON object per line to
// <folder>/<channel>.jsonl (web, report, session, ...), flushed per line.
class Recorder
{
public:
    explicit Recorder(QString folder = {});

    void record(const QString &channel, const QJsonObject &entry);
    QList<QJsonObject> entries(const QString &channel) const;
    const QString &folder() const { return m_folder; }

    // Reads a channel file written by a simulator in another process.
    static QList<QJsonObject> readChannelFile(const QString &folder, const QString &channel);

private:
    QString m_folder;
    mutable QMutex m_mutex;
    QList<QPair<QString, QJsonObject>> m_entries;
};
