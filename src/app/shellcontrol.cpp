#include "shellcontrol.h"

#include "addressverifier.h"
#include "clientwiring.h"

#include "mainwindow/controlids.h"
#include "mainwindow/iplistcontroller.h"
#include "mainwindow/maincontroller.h"
#include "platform/instancelock.h"
#include "platform/ipv4.h"
#include "platform/peercred.h"
#include "platform/programfolder.h"
#include "session/clientsock.h"
#include "update/versioncheck.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTextStream>
#include <QTimer>

#include <sys/stat.h>

namespace {

const QString kNotConnected = QStringLiteral("모라솔 서비스에 연결되어 있지 않습니다.");
const QString kChangeBusy = QStringLiteral("지금은 IP전환을 할 수 없습니다.");
const QString kBadAddress = QStringLiteral("IP 주소가 올바르지 않습니다.");
const QString kUnknown = QStringLiteral("알 수 없는 명령입니다.");

// A peer that connects and says nothing is dropped after this.
constexpr int kRequestMs = 5000;
// The longest the shell waits for the program's reply.
constexpr int kReplyMs = 30000;

QString tunnelName(int type)
{
    switch (type) {
    case TunnelPptp:
        return QStringLiteral("PPTP");
    case TunnelOpenVpn:
        return QStringLiteral("OpenVPN");
    case TunnelL2tp:
        return QStringLiteral("L2TP");
    default:
        return QString();
    }
}

} // namespace

// ---------------------------------------------------------------- prompter

int ShellPrompter::show(const QString &text, const QString &caption, unsigned flags)
{
    if (!m_capturing)
        return m_shown.show(text, caption, flags);
    m_captured.append(text);
    return ScriptedPrompter::defaultAnswer(flags);
}

void ShellPrompter::startCapture()
{
    m_capturing = true;
    m_captured.clear();
}

QStringList ShellPrompter::endCapture()
{
    m_capturing = false;
    return std::exchange(m_captured, {});
}

// ---------------------------------------------------------------- server

ShellControl::ShellControl(MainController &controller, ClientWiring &wiring,
                           ShellPrompter &prompter, QObject *parent)
    : QObject(parent), m_controller(controller), m_wiring(wiring), m_prompter(prompter)
{
    // Once the exit procedure has run nobody answers any more.
    connect(&m_controller, &MainController::finished, this, &ShellControl::close);
}

ShellControl::~ShellControl()
{
    close();
}

bool ShellControl::listen(const QString &path)
{
    close();
    QLocalServer::removeServer(path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path)) {
        delete m_server;
        m_server = nullptr;
        return false;
    }
    ::chmod(QFile::encodeName(path).constData(), 0600);
    connect(m_server, &QLocalServer::newConnection, this, &ShellControl::onNewConnection);
    return true;
}

void ShellControl::close()
{
    if (!m_server)
        return;
    m_server->close();
    delete m_server;
    m_server = nullptr;
}

void ShellControl::onNewConnection()
{
    while (m_server && m_server->hasPendingConnections()) {
        QLocalSocket *socket = m_server->nextPendingConnection();
        if (!peerIsSameUser(int(socket->socketDescriptor()))) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kRequestMs, socket, [socket] {
            if (!socket->property("answered").toBool()) {
                socket->abort();
                socket->deleteLater();
            }
        });
    }
}

void ShellControl::onReadyRead(QLocalSocket *socket)
{
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequest) {
            socket->abort();
            socket->deleteLater();
        }
        return;
    }
    const QByteArray line = socket->readLine(kMaxRequest + 1);
    socket->setProperty("answered", true);
    const QString request =
        line.size() > kMaxRequest ? QString() : QString::fromUtf8(line).trimmed();
    // Queued on the window thread, as a button press is.
    QPointer<QLocalSocket> guard(socket);
    QMetaObject::invokeMethod(
        this,
        [this, guard, request] {
            if (guard)
                answer(guard, request);
        },
        Qt::QueuedConnection);
}

void ShellControl::answer(QLocalSocket *socket, const QString &request)
{
    const Reply reply = execute(request);
    socket->write(QByteArray::number(reply.code) + '\n' + reply.text.toUtf8());
    socket->flush();
    socket->disconnectFromServer();
    if (reply.after)
        reply.after();
}

ShellControl::Reply ShellControl::execute(const QString &request)
{
    // The exit procedure has run; the socket closes with it.
    if (m_controller.exited())
        return {1, QStringLiteral("실행중인 %1 프로그램이 없습니다.").arg(applicationName()), {}};
    const QStringList words = request.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString command = words.value(0);
    if (command == QLatin1String("status") && words.size() == 1)
        return {0, QString::fromUtf8(statusJson()), {}};
    if (command == QLatin1String("switch") && words.size() <= 2)
        return switchAddress(words.value(1));
    if (command == QLatin1String("logout") && words.size() == 1) {
        // The tray item "로그아웃" is there while the tunnel is up.
        if (!m_controller.tunnelUp() || m_controller.loggingOut())
            return {1, kNotConnected, {}};
        // The reply goes out first: the log-out ends at the sign-in dialog.
        return {0, QStringLiteral("로그아웃 하는 중입니다."), [this] {
                    QTimer::singleShot(0, &m_controller, &MainController::logOut);
                }};
    }
    if (command == QLatin1String("quit") && words.size() == 1) {
        // The tray item "종료" is always there; the shell's user has answered
        // its question by asking.
        return {0, QStringLiteral("모라솔 서비스 프로그램을 종료합니다."), [this] {
                    QTimer::singleShot(0, &m_controller, &MainController::shutDownNow);
                }};
    }
    return {2, kUnknown, {}};
}

ShellControl::Reply ShellControl::switchAddress(const QString &address)
{
    if (!address.isEmpty() && !isDottedIpv4(address))
        return {2, kBadAddress, {}};
    // The tray item "IP전환" needs the tunnel, the button the IP controls.
    if (!m_controller.tunnelUp() || m_controller.loggingOut())
        return {1, kNotConnected, {}};
    if (!m_controller.isControlEnabled(ControlId::ChangeButton))
        return {1, kChangeBusy, {}};
    IpListController &list = m_wiring.ipList();
    const int before = list.changeRequestCount();
    m_prompter.startCapture();
    QString refusal;
    if (address.isEmpty())
        m_controller.changeAddressCommand();
    else
        refusal = list.changeAddressTo(address);
    QStringList boxes = m_prompter.endCapture();
    if (!refusal.isEmpty())
        boxes.append(refusal);
    if (!boxes.isEmpty())
        return {1, boxes.join(QLatin1Char('\n')), {}};
    if (list.changeRequestCount() != before)
        return {0, QStringLiteral("IP전환 요청: %1").arg(list.lastRequestedAddress()), {}};
    return {0,
            QStringLiteral("현재 IP를 그대로 사용합니다: %1").arg(m_controller.currentAddress()),
            {}};
}

QByteArray ShellControl::statusJson() const
{
    const bool up = m_controller.tunnelUp();
    QString tunnelState = up ? QStringLiteral("up") : QStringLiteral("down");
    if (!up && m_controller.timer(MainTimer::RedialCountdown)->isActive())
        tunnelState = QStringLiteral("redial");
    const SettingsFields &fields = const_cast<MainController &>(m_controller).fields();
    const AddressVerifier &verifier = m_wiring.addressVerifier();
    QJsonObject verify {
        {QStringLiteral("state"), AddressVerifier::stateName(verifier.state())},
    };
    if (verifier.state() != AddressVerifier::State::Off) {
        verify.insert(QStringLiteral("expected"), verifier.expected());
        verify.insert(QStringLiteral("seen"), verifier.seen());
    }
    const QJsonObject status {
        {QStringLiteral("signedIn"), up && !m_controller.loggingOut()},
        {QStringLiteral("tunnel"),
         QJsonObject {{QStringLiteral("type"), tunnelName(fields.tunnelType)},
                      {QStringLiteral("state"), tunnelState}}},
        {QStringLiteral("session"), m_wiring.session().connected()},
        {QStringLiteral("address"), m_controller.currentAddress()},
        {QStringLiteral("listSize"), m_wiring.ipList().rowCount()},
        {QStringLiteral("autoChange"),
         QJsonObject {
             {QStringLiteral("on"), fields.autoChange != 0},
             {QStringLiteral("seconds"), fields.autoChangeSeconds},
             {QStringLiteral("running"), m_controller.timer(MainTimer::AutoChange)->isActive()},
         }},
        {QStringLiteral("elapsed"), up ? m_controller.elapsedText() : QStringLiteral("00:00:00")},
        {QStringLiteral("statusText"), m_controller.statusText()},
        {QStringLiteral("verify"), verify},
    };
    return QJsonDocument(status).toJson(QJsonDocument::Compact);
}

QString commandSocketPath(const QString &folder, const QString &name)
{
    return folder + QLatin1Char('/') + name + QStringLiteral(".ctl");
}

// ---------------------------------------------------------------- the shell's end

namespace {

QString helpText(const QString &name)
{
    return QStringLiteral(
               "사용법: %1 [boot]\n"
               "       %1 --status | --switch [IP] | --logout | --quit | --help | --version\n"
               "\n"
               "  (인자 없음)      프로그램을 시작합니다. boot: 저장된 계정으로 자동 로그인\n"
               "  --status         실행중인 프로그램의 상태를 JSON으로 출력합니다\n"
               "  --switch [IP]    IP전환 (IP를 주면 그 IP로 전환합니다)\n"
               "  --logout         로그아웃\n"
               "  --quit           프로그램 종료\n"
               "  --help           이 도움말\n"
               "  --version        버전\n"
               "\n"
               "종료 코드: 0 완료, 1 거절되었거나 실행중인 프로그램이 없음, 2 잘못된 인자\n")
        .arg(name);
}

} // namespace

bool isShellCommand(const QStringList &arguments)
{
    static const QStringList commands {QStringLiteral("--help"),    QStringLiteral("-h"),
                                       QStringLiteral("--version"), QStringLiteral("--status"),
                                       QStringLiteral("--switch"),  QStringLiteral("--logout"),
                                       QStringLiteral("--quit")};
    return !arguments.isEmpty() && commands.contains(arguments.first());
}

int runShellCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const QString first = arguments.value(0);
    const QString name = applicationName();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        out << helpText(name);
        return 0;
    }
    if (first == QLatin1String("--version")) {
        out << name << ' ' << localVersionText() << '\n';
        return 0;
    }
    QString request;
    if (first == QLatin1String("--status") || first == QLatin1String("--logout") ||
        first == QLatin1String("--quit")) {
        if (arguments.size() != 1) {
            err << helpText(name);
            return 2;
        }
        request = first.mid(2);
    } else if (first == QLatin1String("--switch")) {
        if (arguments.size() > 2) {
            err << helpText(name);
            return 2;
        }
        const QString address = arguments.value(1);
        if (arguments.size() == 2 && !isDottedIpv4(address)) {
            err << kBadAddress << ' ' << address << '\n';
            return 2;
        }
        request =
            address.isEmpty() ? QStringLiteral("switch") : QStringLiteral("switch ") + address;
    } else {
        return -1;
    }

    const QString notRunning = QStringLiteral("실행중인 %1 프로그램이 없습니다.\n").arg(name);
    // Only the folder the single-instance lock trusts; no command socket
    // is looked for anywhere else.
    const QString folder = InstanceLock::runtimeFolder();
    if (folder.isEmpty()) {
        err << notRunning;
        return 1;
    }
    QLocalSocket socket;
    socket.connectToServer(commandSocketPath(folder, name));
    if (!socket.waitForConnected(2000) || !peerIsSameUser(int(socket.socketDescriptor()))) {
        err << notRunning;
        return 1;
    }
    socket.write(request.toUtf8() + '\n');
    socket.flush();
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QLocalSocket::ConnectedState && clock.elapsed() < kReplyMs) {
        if (socket.waitForReadyRead(200))
            reply += socket.readAll();
    }
    reply += socket.readAll();
    const qsizetype newline = reply.indexOf('\n');
    bool ok = false;
    const int code = newline > 0 ? reply.left(newline).toInt(&ok) : 0;
    if (!ok) {
        err << QStringLiteral("%1 프로그램이 응답하지 않습니다.\n").arg(name);
        return 1;
    }
    const QString text = QString::fromUtf8(reply.mid(newline + 1));
    QTextStream &stream = code == 0 ? out : err;
    stream << text;
    if (!text.endsWith(QLatin1Char('\n')))
        stream << '\n';
    return code;
}
