#include "core/settings.h"
#include "mainwindow/maincontroller.h"
#include "platform/clock.h"
#include "platform/launcher.h"
#include "platform/logontask.h"
#include "platform/prompter.h"
#include "support/testhome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// Points the XDG folders at a temporary tree for one test.
class XdgFolders
{
public:
    XdgFolders()
    {
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "HOME"})
            m_saved.append({name, qgetenv(name)});
        qputenv("XDG_CONFIG_HOME", user().toUtf8());
        qputenv("XDG_CONFIG_DIRS", (system() + QStringLiteral(":/etc/xdg")).toUtf8());
    }
    ~XdgFolders()
    {
        for (const auto &[name, value] : m_saved) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }
    QString user() const { return m_dir.filePath(QStringLiteral("home-config")); }
    QString system() const { return m_dir.filePath(QStringLiteral("etc-xdg")); }
    QString root() const { return m_dir.path(); }
    QString taskFile() const
    {
        return user() + QStringLiteral("/autostart/Kvo_Logon_Start.desktop");
    }
    QString legacyFile() const { return system() + QStringLiteral("/autostart/KVOClient.desktop"); }

    void writeLegacy() const
    {
        QDir().mkpath(system() + QStringLiteral("/autostart"));
        QFile f(legacyFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Desktop Entry]\nType=Application\nName=KVOClient\nExec=/opt/KVO/KVOClient\n");
    }

private:
    QTemporaryDir m_dir;
    QList<std::pair<const char *, QByteArray>> m_saved;
};

QString entryValue(const QString &path, const QString &key)
{
    QSettings entry(path, QSettings::IniFormat);
    return entry.value(QStringLiteral("Desktop Entry/") + key).toString();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QDateTime kFirst(QDate(2026, 5, 1), QTime(9, 5, 7));
const QDateTime kSecond(QDate(2026, 5, 2), QTime(18, 30, 0));

} // namespace

TEST(LogonTask, FoldersFollowTheXdgVariables)
{
    XdgFolders xdg;
    EXPECT_EQ(LogonStart::userAutostartFolder(), xdg.user() + QStringLiteral("/autostart"));
    EXPECT_EQ(LogonStart::systemAutostartFolder(), xdg.system() + QStringLiteral("/autostart"));

    // Relative values are not used, as the base-directory rules say.
    qputenv("XDG_CONFIG_HOME", "relative/config");
    qputenv("HOME", xdg.root().toUtf8());
    qputenv("XDG_CONFIG_DIRS", "relative:");
    EXPECT_EQ(LogonStart::userAutostartFolder(), xdg.root() + QStringLiteral("/.config/autostart"));
    EXPECT_EQ(LogonStart::systemAutostartFolder(), QStringLiteral("/etc/xdg/autostart"));
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("HOME");
    EXPECT_EQ(LogonStart::userAutostartFolder(), QString());
    EXPECT_FALSE(LogonStart::CreateLogonTask(LogonStart::TaskName, QStringLiteral("/bin/true"),
                                             LogonStart::Argument, LogonStart::Author,
                                             LogonStart::Description));
}

TEST(LogonTask, EntryStartsTheProgramWithBootAndPassesTheValidator)
{
    XdgFolders xdg;
    const QString program = QStringLiteral("/opt/K V O/KVO\"Client$1");
    ASSERT_TRUE(LogonStart::CreateLogonTask(LogonStart::TaskName, program, LogonStart::Argument,
                                            LogonStart::Author, LogonStart::Description, kFirst));
    const QString path = xdg.taskFile();
    const QByteArray bytes = readAll(path);
    EXPECT_TRUE(bytes.startsWith("[Desktop Entry]\n")) << bytes.constData();
    EXPECT_TRUE(bytes.contains("Type=Application\n"));
    EXPECT_TRUE(bytes.contains("Name=Kvo_Logon_Start\n"));
    EXPECT_TRUE(bytes.contains(QStringLiteral("Comment=모라솔 윈도우 로그온 시작\n").toUtf8()));
    // Quoted, with '"' and '$' escaped for the Exec rules and the backslashes
    // escaped once more for the string rules.
    EXPECT_TRUE(bytes.contains("Exec=\"/opt/K V O/KVO\\\\\"Client\\\\$1\" boot\n"))
        << bytes.constData();
    EXPECT_TRUE(bytes.contains("X-KVO-Author=Kvo\n"));
    EXPECT_TRUE(bytes.contains("X-KVO-RegistrationDate=2026-05-01T09:05:07\n"));

    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(validator, {path});
    ASSERT_TRUE(run.waitForFinished(30000));
    const QByteArray report = run.readAll();
    EXPECT_EQ(run.exitCode(), 0) << report.constData();
    EXPECT_FALSE(report.contains("error")) << report.constData();
}

TEST(LogonTask, CreatingAgainReplacesAndDeletingAMissingTaskSaysSo)
{
    XdgFolders xdg;
    const QString program = QStringLiteral("/opt/KVO/KVOClient");
    for (const QDateTime &when : {kFirst, kSecond})
        ASSERT_TRUE(LogonStart::CreateLogonTask(LogonStart::TaskName, program, LogonStart::Argument,
                                                LogonStart::Author, LogonStart::Description, when));
    EXPECT_EQ(QDir(xdg.user() + QStringLiteral("/autostart")).entryList(QDir::Files),
              QStringList {QStringLiteral("Kvo_Logon_Start.desktop")});
    EXPECT_EQ(entryValue(xdg.taskFile(), QStringLiteral("X-KVO-RegistrationDate")),
              QStringLiteral("2026-05-02T18:30:00"));
    EXPECT_EQ(entryValue(xdg.taskFile(), QStringLiteral("Exec")),
              QStringLiteral("/opt/KVO/KVOClient boot"));

    testing::internal::CaptureStdout();
    const bool first = LogonStart::DeleteLogonTask(LogonStart::TaskName);
    const bool second = LogonStart::DeleteLogonTask(LogonStart::TaskName);
    const bool badName = LogonStart::DeleteLogonTask(QStringLiteral("../escape"));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(first);
    EXPECT_FALSE(QFile::exists(xdg.taskFile()));
    EXPECT_FALSE(second);
    EXPECT_FALSE(badName);
    EXPECT_EQ(out, "Failed to delete task: 1\nFailed to delete task: 3\n");
    EXPECT_FALSE(LogonStart::CreateLogonTask(QStringLiteral("../escape"), program, {}, {}, {}));
    EXPECT_FALSE(QFile::exists(xdg.root() + QStringLiteral("/home-config/escape.desktop")));
}

// Start-up with BootStart on replaces the legacy machine-wide entry by the
// logon task; nothing else creates the task at start-up.
TEST(LogonTask, StartUpReplacesTheLegacyEntryOnlyWhenItWasThere)
{
    struct Case
    {
        const char *name;
        int bootStart;
        bool legacy;
        bool legacyAfter;
        bool task;
    };
    const Case cases[] = {
        {"BootStart on with the legacy entry", 1, true, false, true},
        {"BootStart on without it", 1, false, false, false},
        {"BootStart off leaves it", 0, true, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        XdgFolders xdg;
        TestHome home;
        home.write(QStringLiteral("KVOClientSetup.ini"),
                   QStringLiteral("[Option]\r\nBootStart=%1\r\n[Entry]\r\nIsPPTP=9\r\n")
                       .arg(c.bootStart)
                       .toUtf8());
        if (c.legacy)
            xdg.writeLegacy();
        ScriptedPrompter prompter;
        RecordingLauncher launcher;
        FixedClock clock {QDateTime(QDate(2026, 5, 1), QTime(10, 0, 0))};
        MainController controller(prompter, launcher, clock);
        controller.initialise({});
        EXPECT_EQ(QFile::exists(xdg.legacyFile()), c.legacyAfter);
        EXPECT_EQ(QFile::exists(xdg.taskFile()), c.task);
        if (c.task) {
            EXPECT_EQ(entryValue(xdg.taskFile(), QStringLiteral("Exec")),
                      LogonStart::programPath() + QStringLiteral(" boot"));
        }
    }
}

TEST(LogonTask, ALegacyEntryThatCannotBeRemovedCreatesNoTask)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root removes files from read-only folders";
    XdgFolders xdg;
    xdg.writeLegacy();
    QFile::setPermissions(xdg.system() + QStringLiteral("/autostart"),
                          QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_FALSE(LogonStart::replaceLegacyEntry());
    EXPECT_TRUE(QFile::exists(xdg.legacyFile()));
    EXPECT_FALSE(QFile::exists(xdg.taskFile()));
    QFile::setPermissions(xdg.system() + QStringLiteral("/autostart"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
