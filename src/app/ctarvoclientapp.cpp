#include "ctarvoclientapp.h"
#include "stallprobe.h"

#include "clientwiring.h"
#include "shellcontrol.h"

#include "mainwindow/ctarvoclientdlg.h"
#include "mainwindow/maincontroller.h"
#include "platform/clock.h"
#include "platform/instancelock.h"
#include "platform/launcher.h"
#include "platform/programfolder.h"
#include "platform/qtprompter.h"
#include "platform/termination.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

#include <curl/curl.h>

#include <memory>

namespace {

// Message boxes go to the screen, or, for runs driven from outside, to a
// transcript file with answers taken from KVO_PROMPT_ANSWERS (comma list of
// 1 OK, 2 Cancel, 6 Yes, 7 No; then each box's first button).
std::unique_ptr<Prompter> makePrompter()
{
    const QString transcript = qEnvironmentVariable("KVO_PROMPT_TRANSCRIPT");
    if (transcript.isEmpty())
        return std::make_unique<QtPrompter>();
    auto scripted = std::make_unique<ScriptedPrompter>();
    scripted->setTranscriptPath(transcript);
    for (const QString &a :
         qEnvironmentVariable("KVO_PROMPT_ANSWERS").split(QLatin1Char(','), Qt::SkipEmptyParts))
        scripted->queueAnswer(a.trimmed().toInt());
    return scripted;
}

// For runs without a screen (the demo, tests): every second each visible
// window is written to $KVO_SCREENSHOT_DIR/<window id>.png.
void startScreenshots(QObject *owner)
{
    const QString dir = qEnvironmentVariable("KVO_SCREENSHOT_DIR");
    if (dir.isEmpty() || !QDir().mkpath(dir))
        return;
    auto *timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [dir] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || w->objectName().isEmpty())
                continue;
            w->grab().save(dir + QLatin1Char('/') + w->objectName() + QStringLiteral(".png"));
        }
    });
    timer->start(1000);
}

} // namespace

int CTarvoClientApp::InitInstance(int argc, char **argv)
{
    // --help, --version and the commands to a running copy: no window, no
    // lock, no display needed.
    {
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        if (isShellCommand(arguments)) {
            QCoreApplication core(argc, argv);
            QTextStream out(stdout);
            QTextStream err(stderr);
            return runShellCommand(arguments, out, err);
        }
    }

    QApplication app(argc, argv);
    // Off unless KVO_STALL_PROBE names its report (bench/window-stalls).
    const auto stallProbe = StallProbe::fromEnvironment();
    // The menu entry's name, so that a desktop puts the window with it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kvo.Client"));
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication::setQuitOnLastWindowClosed(false);
    const std::unique_ptr<Prompter> shown = makePrompter();
    ShellPrompter shellPrompter(*shown);
    Prompter *const prompter = &shellPrompter;

    // One copy per login session, named after the executable.
    InstanceLock lock;
    switch (lock.acquire(applicationName())) {
    case InstanceLock::Result::Acquired:
        break;
    case InstanceLock::Result::HeldByAnother:
        prompter->show(QStringLiteral("이미 실행중 입니다.\n트레이 아이콘을 확인하여 주십시오."),
                       QString(), Mb::Information);
        return 0;
    case InstanceLock::Result::UnsafeFolder:
        // Without a folder only this user can write, another user could hold
        // or plant the lock: refuse rather than guess.
        prompter->show(
            QStringLiteral("실행 확인용 폴더(%1)를 이 사용자만 쓸 수 있는 폴더로 확인할 수 없어 "
                           "프로그램을 시작하지 않습니다.\nXDG_RUNTIME_DIR를 이 사용자만 쓸 수 "
                           "있는 폴더로 지정한 뒤 다시 실행해 주십시오.")
                .arg(lock.folder()),
            kNoticeCaption, Mb::Failure);
        return 1;
    }

    DesktopLauncher launcher;
    MainController controller(*prompter, launcher, Clock::system());
    CTarvoClientDlg dialog(controller);

    // The program lives exactly as long as the main window's run.
    QEventLoop run;
    QObject::connect(&controller, &MainController::finished, &run, &QEventLoop::quit,
                     Qt::QueuedConnection);

    TerminationWatcher termination;
    QObject::connect(&termination, &TerminationWatcher::terminationRequested, &controller,
                     &MainController::shutDownNow);

    ClientWiring wiring(controller, dialog, *prompter, launcher);
    startScreenshots(&wiring);

    // Commands from the same user's shell, beside the lock.
    ShellControl shell(controller, wiring, shellPrompter);
    shell.listen(commandSocketPath(lock.folder(), applicationName()));

    QStringList arguments = QApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    QMetaObject::invokeMethod(
        &wiring, [&wiring, arguments] { wiring.start(arguments); }, Qt::QueuedConnection);
    if (!controller.exited())
        run.exec();
    return 0;
}
