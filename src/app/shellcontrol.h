#pragma once

#include "platform/prompter.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class ClientWiring;
class MainController;
class QLocalServer;
class QLocalSocket;
class QTextStream;

// Message boxes of the running program; while a command from the shell runs,
// its boxes are kept as text for the shell instead of being shown, and each
// gets its first button's answer.
class ShellPrompter : public Prompter
{
public:
    explicit ShellPrompter(Prompter &shown) : m_shown(shown) { }
    int show(const QString &text, const QString &caption, unsigned flags) override;

    void startCapture();
    // The texts kept since startCapture; boxes are shown again after this.
    QStringList endCapture();

private:
    Prompter &m_shown;
    bool m_capturing = false;
    QStringList m_captured;
};

// The running program's end of "KVOClient --status|--switch|--logout|--quit":
// a local socket "<application name>.ctl" beside the single-instance lock in
// the runtime folder, mode 0600, that answers only peers of the same user
// (SO_PEERCRED). One request line in, one reply out, then the connection is
// closed. Each command runs on the window thread as a queued call, as a
// button press would, under the same rules.
//
// Reply: the exit code on the first line, the text to print after it.
class ShellControl : public QObject
{
    Q_OBJECT
public:
    ShellControl(MainController &controller, ClientWiring &wiring, ShellPrompter &prompter,
                 QObject *parent = nullptr);
    ~ShellControl() override;

    // Listens on `path` (a stale socket there is removed first: the caller
    // holds the single-instance lock). False when it cannot.
    bool listen(const QString &path);
    void close();

    struct Reply
    {
        int code = 0;
        QString text;
        // Runs after the reply has been written (log-out, exit).
        std::function<void()> after;
    };
    // One request line.
    Reply execute(const QString &request);

    // The state for --status, as one JSON object.
    QByteArray statusJson() const;

    static constexpr int kMaxRequest = 64;

private:
    void onNewConnection();
    void onReadyRead(QLocalSocket *socket);
    void answer(QLocalSocket *socket, const QString &request);
    Reply switchAddress(const QString &address);

    MainController &m_controller;
    ClientWiring &m_wiring;
    ShellPrompter &m_prompter;
    QLocalServer *m_server = nullptr;
};

// The command socket of the program named `name` in the runtime folder.
QString commandSocketPath(const QString &folder, const QString &name);

// The second process. When the arguments (without the program) are one of
// --help, --version, --status, --switch [ADDRESS], --logout, --quit, runs it
// and returns the exit code (0 done, 1 refused or no running client, 2 bad
// arguments); else returns -1 and the program starts as usual.
// Whether the arguments are such a command (the program then starts no window).
bool isShellCommand(const QStringList &arguments);
int runShellCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);
