#include "activitylog.h"

#include "platform/clock.h"
#include "platform/prompter.h"

#include <QDir>

ActivityLog::ActivityLog(QString programFolder, QString appName, const Clock &clock,
                         Prompter &prompter)
    : m_folder(std::move(programFolder)), m_appName(std::move(appName)), m_clock(clock),
      m_prompter(prompter)
{ }

ActivityLog::~ActivityLog()
{
    close();
}

QString ActivityLog::logFolder() const
{
    return m_folder + QStringLiteral("/log");
}

QString ActivityLog::todayFilePath() const
{
    return filePathFor(m_clock.now());
}

QString ActivityLog::filePathFor(const QDateTime &when) const
{
    return logFolder() + QLatin1Char('/') + m_appName + when.toString(QStringLiteral("yyyyMMdd")) +
        QStringLiteral(".txt");
}

QString ActivityLog::formatLine(const QDateTime &when, const QString &text)
{
    QString line = QLatin1Char('[') + when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
        QStringLiteral("]\t") + text;
    if (!line.contains(QLatin1String("\r\n")))
        line += QLatin1String("\r\n");
    return line;
}

bool ActivityLog::open(const QString &path)
{
    QDir dir;
    if (!dir.mkpath(logFolder()))
        return false;
    m_file.setFileName(path);
    // Append, created when missing, never truncated; then read-write at the end.
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    if (m_file.open(QIODevice::ReadWrite) && m_file.seek(m_file.size()))
        return true;
    m_file.close();
    return false;
}

void ActivityLog::reportFailure()
{
    m_prompter.show(QStringLiteral("Cannot Open Log!!"), QString(), Mb::Ok);
}

void ActivityLog::write(const QString &text)
{
    const QDateTime now = m_clock.now();
    const QString today = filePathFor(now);
    if (!m_file.isOpen() && !open(today)) {
        reportFailure();
        return;
    }
    if (today.compare(m_file.fileName(), Qt::CaseInsensitive) != 0) {
        // The day has changed since the file was opened.
        m_file.flush();
        m_file.close();
        if (!open(today)) {
            reportFailure();
            return;
        }
    }
    const QByteArray bytes = formatLine(now, text).toUtf8();
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        // The disk refused the line: drop the file so the next line reopens it.
        m_file.close();
        reportFailure();
    }
}

void ActivityLog::close()
{
    if (m_file.isOpen()) {
        m_file.flush();
        m_file.close();
    }
}
