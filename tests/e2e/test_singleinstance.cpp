// The program as a user starts it: one copy per login session.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

const QString kAlready = QStringLiteral("이미 실행중 입니다.\\n트레이 아이콘을 확인하여 주십시오.");

struct Session
{
    QTemporaryDir runtime; // $XDG_RUNTIME_DIR of one login session
};

class Client
{
public:
    Client(const QString &program, const QString &home, const Session &session,
           const QString &transcript)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KVO_HOME"), home);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), session.runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("KVO_PROMPT_TRANSCRIPT"), transcript);
        m_process.setProcessEnvironment(env);
        m_process.setProgram(program);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        m_process.waitForStarted(10000);
    }
    ~Client()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

// Waits until the file contains the text or the time runs out.
bool waitForText(const QString &path, const QString &text, int ms = 15000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly) && QString::fromUtf8(f.readAll()).contains(text))
            return true;
        QThread::msleep(50);
    }
    return false;
}

QString readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString todaysLog(const QString &home, const QString &name)
{
    return home + QStringLiteral("/log/") + name +
        QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".txt");
}

void writeSettings(const QString &home)
{
    // OpenVPN type: the sign-in waits 3 s; an unknown type would not wait.
    QFile f(home + QStringLiteral("/KVOClientSetup.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Entry]\r\nIsPPTP=0\r\n");
    // A web host nobody answers for: the sign-in dialog opens at once.
    QFile d(home + QStringLiteral("/KVOService.ini"));
    ASSERT_TRUE(d.open(QIODevice::WriteOnly));
    d.write("[Service]\r\nWebHost=127.0.0.250\r\nReportHost=127.0.0.250\r\n");
}

} // namespace

TEST(SingleInstance, SecondCopyInTheSameSessionSaysSoAndLeavesTheFirstRunning)
{
    QTemporaryDir home;
    writeSettings(home.path());
    Session session;
    const QString transcript = home.filePath(QStringLiteral("boxes.txt"));
    Client first(QStringLiteral(KVO_CLIENT_BIN), home.path(), session, transcript);
    ASSERT_TRUE(waitForText(todaysLog(home.path(), QStringLiteral("KVOClient")),
                            QStringLiteral("프로그램 시작")));

    Client second(QStringLiteral(KVO_CLIENT_BIN), home.path(), session, transcript);
    ASSERT_TRUE(second.process().waitForFinished(15000));
    EXPECT_EQ(second.process().exitStatus(), QProcess::NormalExit);
    const QStringList boxes = readAll(transcript).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(
        boxes.filter(kAlready),
        QStringList {QStringLiteral("0x1040\tKVOClient\t") + kAlready + QStringLiteral("\t1")});
    EXPECT_EQ(first.process().state(), QProcess::Running);
    // The first copy wrote one start line; the second none.
    EXPECT_EQ(readAll(todaysLog(home.path(), QStringLiteral("KVOClient")))
                  .count(QStringLiteral("프로그램 시작")),
              1);

    // Ended by the desktop, the first copy shuts down in order.
    ::kill(pid_t(first.process().processId()), SIGTERM);
    ASSERT_TRUE(first.process().waitForFinished(15000));
    EXPECT_TRUE(readAll(todaysLog(home.path(), QStringLiteral("KVOClient")))
                    .endsWith(QStringLiteral("\t프로그램 종료\r\n")));
}

TEST(SingleInstance, AnotherSessionOrAnotherExecutableNameMayRun)
{
    QTemporaryDir home;
    writeSettings(home.path());
    Session session, otherSession;
    const QString transcript = home.filePath(QStringLiteral("boxes.txt"));
    Client first(QStringLiteral(KVO_CLIENT_BIN), home.path(), session, transcript);
    ASSERT_TRUE(waitForText(todaysLog(home.path(), QStringLiteral("KVOClient")),
                            QStringLiteral("프로그램 시작")));

    Client inOtherSession(QStringLiteral(KVO_CLIENT_BIN), home.path(), otherSession, transcript);
    const QString renamed = home.filePath(QStringLiteral("OtherName"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KVO_CLIENT_BIN), renamed));
    Client otherName(renamed, home.path(), session, transcript);

    ASSERT_TRUE(waitForText(todaysLog(home.path(), QStringLiteral("OtherName")),
                            QStringLiteral("프로그램 시작")));
    QThread::msleep(500);
    EXPECT_EQ(inOtherSession.process().state(), QProcess::Running);
    EXPECT_EQ(otherName.process().state(), QProcess::Running);
    EXPECT_FALSE(readAll(transcript).contains(kAlready));
}

TEST(SingleInstance, LockOfACrashedCopyIsTakenOver)
{
    QTemporaryDir home;
    writeSettings(home.path());
    Session session;
    const QString transcript = home.filePath(QStringLiteral("boxes.txt"));
    {
        Client crashed(QStringLiteral(KVO_CLIENT_BIN), home.path(), session, transcript);
        ASSERT_TRUE(waitForText(todaysLog(home.path(), QStringLiteral("KVOClient")),
                                QStringLiteral("프로그램 시작")));
        crashed.process().kill();
        crashed.process().waitForFinished(5000);
    }
    Client next(QStringLiteral(KVO_CLIENT_BIN), home.path(), session, transcript);
    QThread::msleep(1500);
    EXPECT_EQ(next.process().state(), QProcess::Running);
    EXPECT_FALSE(readAll(transcript).contains(kAlready));
}

namespace {

struct Command
{
    int code = -1;
    QString out;
    QString err;
};

// "KVOClient <arguments>" typed in a shell of the login session.
Command runCommand(const QString &home, const Session &session, const QStringList &arguments)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KVO_HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), session.runtime.path());
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KVO_CLIENT_BIN), arguments);
    Command c;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(2000);
        return c;
    }
    c.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    c.out = QString::fromUtf8(p.readAllStandardOutput());
    c.err = QString::fromUtf8(p.readAllStandardError());
    return c;
}

} // namespace

// The commands reach the copy of their own login session, take no lock and
// start no window of their own; a crashed copy's socket answers nobody, its
// successor's does, and --quit ends the program in order.
TEST(SingleInstance, CommandsFromTheShellReachTheRunningCopy)
{
    const QString notRunning = QStringLiteral("실행중인 KVOClient 프로그램이 없습니다.");
    QTemporaryDir home;
    writeSettings(home.path());
    Session session;
    const QString transcript = home.filePath(QStringLiteral("boxes.txt"));
    const QString log = todaysLog(home.path(), QStringLiteral("KVOClient"));

    Command c = runCommand(home.path(), session, {QStringLiteral("--status")});
    EXPECT_EQ(c.code, 1);
    EXPECT_TRUE(c.err.contains(notRunning)) << c.err.toStdString();
    EXPECT_TRUE(QDir(session.runtime.path()).isEmpty());
    EXPECT_FALSE(QFile::exists(log)); // no program start

    {
        Client crashed(QStringLiteral(KVO_CLIENT_BIN), home.path(), session, transcript);
        ASSERT_TRUE(waitForText(log, QStringLiteral("프로그램 시작")));
        c = runCommand(home.path(), session, {QStringLiteral("--status")});
        EXPECT_EQ(c.code, 0) << c.err.toStdString();
        const QJsonObject st = QJsonDocument::fromJson(c.out.toUtf8()).object();
        EXPECT_FALSE(st.value(QStringLiteral("signedIn")).toBool(true)) << c.out.toStdString();
        EXPECT_EQ(st.value(QStringLiteral("address")).toString(QStringLiteral("?")), QString());
        c = runCommand(home.path(), session, {QStringLiteral("--logout")});
        EXPECT_EQ(c.code, 1);
        EXPECT_EQ(c.err.trimmed(), QStringLiteral("모라솔 서비스에 연결되어 있지 않습니다."));
        crashed.process().kill();
        crashed.process().waitForFinished(5000);
    }
    c = runCommand(home.path(), session, {QStringLiteral("--status")});
    EXPECT_EQ(c.code, 1);
    EXPECT_TRUE(c.err.contains(notRunning)) << c.err.toStdString();

    Client next(QStringLiteral(KVO_CLIENT_BIN), home.path(), session, transcript);
    ASSERT_TRUE(waitForText(log, QStringLiteral("프로그램 시작"), 15000));
    QElapsedTimer t;
    t.start();
    do {
        c = runCommand(home.path(), session, {QStringLiteral("--status")});
    } while (c.code != 0 && t.elapsed() < 15000);
    EXPECT_EQ(c.code, 0) << c.err.toStdString();
    c = runCommand(home.path(), session, {QStringLiteral("--quit")});
    EXPECT_EQ(c.code, 0) << c.err.toStdString();
    ASSERT_TRUE(next.process().waitForFinished(15000));
    EXPECT_EQ(next.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(next.process().exitCode(), 0);
    EXPECT_TRUE(readAll(log).endsWith(QStringLiteral("\t프로그램 종료\r\n")));
    EXPECT_FALSE(readAll(transcript).contains(kAlready));
}
