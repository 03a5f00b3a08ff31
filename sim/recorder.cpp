#include "recorder.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

Recorder::Recorder(QString folder) : m_folder(std::move(folder))
{
    if (!m_folder.isEmpty())
        QDir().mkpath(m_folder);
}

void Recorder::record(const QString &channel, const QJsonObject &entry)
{
    QMutexLocker lock(&m_mutex);
    m_entries.append({channel, entry});
    if (m_folder.isEmpty())
        return;
    QFile f(m_folder + QLatin1Char('/') + channel + QStringLiteral(".jsonl"));
    if (f.open(QIODevice::Append)) {
        f.write(QJsonDocument(entry).toJson(QJsonDocument::Compact));
        f.write("\n");
    }
}

QList<QJsonObject> Recorder::entries(const QString &channel) const
{
    QMutexLocker lock(&m_mutex);
    QList<QJsonObject> out;
    for (const auto &e : m_entries) {
        if (e.first == channel)
            out.append(e.second);
    }
    return out;
}

QList<QJsonObject> Recorder::readChannelFile(const QString &folder, const QString &channel)
{
    QList<QJsonObject> out;
    QFile f(folder + QLatin1Char('/') + channel + QStringLiteral(".jsonl"));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            out.append(QJsonDocument::fromJson(line).object());
    }
    return out;
}
