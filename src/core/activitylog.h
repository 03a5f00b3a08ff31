#pragma once

#include <QFile>
#include <QString>

class Clock;
class Prompter;

// The daily activity log: one file per local calendar day in the "log"
// folder of the program folder, named <application name><YYYYMMDD>.txt, one
// line per event "[YYYY-MM-DD HH:MM:SS]\t<text>\r\n", each line flushed to
// disk at once. Files are UTF-8 on this platform. A line that cannot be
// written shows "Cannot Open Log!!" and is dropped; the next line tries again.
class ActivityLog
{
public:
    ActivityLog(QString programFolder, QString appName, const Clock &clock, Prompter &prompter);
    ~ActivityLog();

    void write(const QString &text);
    void close();

    QString logFolder() const;
    QString todayFilePath() const;
    // The file the log holds open now, or empty.
    QString openFilePath() const { return m_file.isOpen() ? m_file.fileName() : QString(); }

    static QString formatLine(const QDateTime &when, const QString &text);

private:
    bool open(const QString &path);
    QString filePathFor(const QDateTime &when) const;
    void reportFailure();

    QString m_folder;
    QString m_appName;
    const Clock &m_clock;
    Prompter &m_prompter;
    QFile m_file;
};
