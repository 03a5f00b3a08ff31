#include "desktoptools.h"

#include "launcher.h"

namespace DesktopTools {

namespace {

// Terminals with the option that runs a command in them, in the order they
// are tried.
struct Terminal
{
    const char *program;
    const char *runOption; // the rest of the line is the command
};
constexpr Terminal kTerminals[] = {
    {"x-terminal-emulator", "-e"}, {"xdg-terminal-exec", nullptr},
    {"gnome-terminal", "--"},      {"konsole", "-e"},
    {"xfce4-terminal", "-x"},      {"mate-terminal", "-x"},
    {"lxterminal", "-e"},          {"xterm", "-e"},
};

// The command in each terminal that can run one.
QList<Command> inTerminal(const QStringList &command)
{
    QList<Command> out;
    for (const Terminal &t : kTerminals) {
        QStringList args;
        if (t.runOption)
            args.append(QString::fromLatin1(t.runOption));
        out.append(Command {QString::fromLatin1(t.program), args + command, {command.first()}});
    }
    return out;
}

Command plain(const char *program, const QStringList &arguments = {})
{
    return Command {QString::fromLatin1(program), arguments, {}};
}

} // namespace

QList<Command> candidates(Tool tool, const QString &settingsFile)
{
    switch (tool) {
    case Tool::SettingsEditor: {
        QList<Command> out;
        for (const char *editor : {"xdg-open", "gnome-text-editor", "gedit", "kate", "kwrite",
                                   "mousepad", "xed", "pluma", "featherpad"})
            out.append(plain(editor, {settingsFile}));
        return out;
    }
    case Tool::NetworkSettings:
        return QList<Command> {plain("gnome-control-center", {QStringLiteral("network")}),
                               plain("systemsettings", {QStringLiteral("kcm_networkmanagement")}),
                               plain("cinnamon-settings", {QStringLiteral("network")}),
                               plain("nm-connection-editor")} +
            inTerminal({QStringLiteral("nmtui")});
    case Tool::Firewall:
        return {plain("firewall-config"), plain("gufw"),
                plain("systemsettings", {QStringLiteral("kcm_firewall")})};
    case Tool::Services:
        return QList<Command> {plain("systemsettings", {QStringLiteral("kcm_systemd")})} +
            inTerminal({QStringLiteral("systemctl"), QStringLiteral("list-units"),
                        QStringLiteral("--type=service")});
    case Tool::Terminal: {
        QList<Command> out;
        for (const Terminal &t : kTerminals)
            out.append(plain(t.program));
        return out;
    }
    }
    return {};
}

bool start(Launcher &launcher, Tool tool, const QString &settingsFile)
{
    for (const Command &c : candidates(tool, settingsFile)) {
        const QString program = launcher.findProgram(c.program);
        if (program.isEmpty())
            continue;
        bool complete = true;
        for (const QString &need : c.needs)
            complete = complete && !launcher.findProgram(need).isEmpty();
        if (complete)
            return launcher.startProgram(program, c.arguments);
    }
    return false;
}

QString notFoundText(Tool tool)
{
    switch (tool) {
    case Tool::SettingsEditor:
        return QStringLiteral("설정 파일을 열 편집기를 찾을 수 없습니다.");
    case Tool::NetworkSettings:
        return QStringLiteral("네트워크 설정 프로그램을 찾을 수 없습니다.");
    case Tool::Firewall:
        return QStringLiteral("방화벽 설정 프로그램을 찾을 수 없습니다.");
    case Tool::Services:
        return QStringLiteral("서비스 관리 프로그램을 찾을 수 없습니다.");
    case Tool::Terminal:
        return QStringLiteral("터미널 프로그램을 찾을 수 없습니다.");
    }
    return QString();
}

} // namespace DesktopTools
