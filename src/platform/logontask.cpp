#include "logontask.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>

namespace LogonStart {

namespace {

QString absoluteEnv(const char *name)
{
    const QString value = qEnvironmentVariable(name);
    return QDir::isAbsolutePath(value) ? value : QString();
}

// A value of a desktop entry's string key: no line breaks, backslash
// escaped.
QString entryValue(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else
            out += c;
    }
    return out;
}

// One argument of an Exec line, before the string escaping of entryValue.
QString execArgument(const QString &arg)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:+,@=-]+$"));
    QString escaped = arg;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (plain.match(arg).hasMatch())
        return escaped;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : escaped) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

void reportDeleteFailure(unsigned code)
{
    std::printf("Failed to delete task: %x\n", code);
    std::fflush(stdout);
}

} // namespace

QString userAutostartFolder()
{
    QString base = absoluteEnv("XDG_CONFIG_HOME");
    if (base.isEmpty()) {
        const QString home = absoluteEnv("HOME");
        if (home.isEmpty())
            return QString();
        base = home + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/autostart");
}

QString systemAutostartFolder()
{
    const QStringList dirs =
        qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &dir : dirs) {
        if (QDir::isAbsolutePath(dir))
            return dir + QStringLiteral("/autostart");
    }
    return QStringLiteral("/etc/xdg/autostart");
}

QString taskFilePath(const QString &taskName)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]*$"));
    const QString folder = userAutostartFolder();
    if (folder.isEmpty() || !name.match(taskName).hasMatch())
        return QString();
    return folder + QLatin1Char('/') + taskName + QStringLiteral(".desktop");
}

QString programPath()
{
    return QCoreApplication::applicationFilePath();
}

QString execLine(const QString &program, const QString &arguments)
{
    QStringList parts {execArgument(program)};
    for (const QString &arg : arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        parts.append(execArgument(arg));
    return parts.join(QLatin1Char(' '));
}

bool CreateLogonTask(const QString &taskName, const QString &program, const QString &arguments,
                     const QString &author, const QString &description, const QDateTime &registered)
{
    const QString path = taskFilePath(taskName);
    if (path.isEmpty() || program.isEmpty())
        return false;
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    const QDate d = registered.date();
    const QTime t = registered.time();
    const QString date = QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d", d.year(), d.month(),
                                           d.day(), t.hour(), t.minute(), t.second());
    QString text;
    auto line = [&text](const QString &key, const QString &value) {
        text += key + QLatin1Char('=') + entryValue(value) + QLatin1Char('\n');
    };
    text += QStringLiteral("[Desktop Entry]\n");
    line(QStringLiteral("Type"), QStringLiteral("Application"));
    line(QStringLiteral("Version"), QStringLiteral("1.0"));
    line(QStringLiteral("Name"), taskName);
    line(QStringLiteral("Comment"), description);
    line(QStringLiteral("Exec"), execLine(program, arguments));
    line(QStringLiteral("Terminal"), QStringLiteral("false"));
    line(QStringLiteral("X-GNOME-Autostart-enabled"), QStringLiteral("true"));
    line(QStringLiteral("X-KVO-Author"), author);
    line(QStringLiteral("X-KVO-RegistrationDate"), date);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    return file.commit();
}

bool DeleteLogonTask(const QString &taskName)
{
    if (userAutostartFolder().isEmpty()) {
        reportDeleteFailure(NoAutostartFolder);
        return false;
    }
    const QString path = taskFilePath(taskName);
    if (path.isEmpty()) {
        reportDeleteFailure(BadTaskName);
        return false;
    }
    QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        reportDeleteFailure(NoSuchTask);
        return false;
    }
    if (!QFile::remove(path)) {
        reportDeleteFailure(RemoveFailed);
        return false;
    }
    return true;
}

bool replaceLegacyEntry()
{
    const QString legacy =
        systemAutostartFolder() + QLatin1Char('/') + LegacyEntryName + QStringLiteral(".desktop");
    const QFileInfo info(legacy);
    if (!info.exists() && !info.isSymLink())
        return false;
    if (!QFile::remove(legacy))
        return false;
    return CreateLogonTask(TaskName, programPath(), Argument, Author, Description);
}

} // namespace LogonStart
