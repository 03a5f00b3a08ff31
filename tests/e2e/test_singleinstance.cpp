// The program as a user starts it: one copy per login session.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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
