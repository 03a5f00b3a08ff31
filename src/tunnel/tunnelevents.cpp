#include "tunnelevents.h"

#include "linkwatcher.h"
#include "ovpnoutput.h"
#include "pptpclient.h"
#include "tapadapter.h"

#include "platform/prompter.h"

#include <QTimer>

namespace {
const QString kTunnelUpText = QStringLiteral("VPN터널이 연결되었습니다.");
const QString kLogTunnelUp = QStringLiteral("VPN터널이 연결됨");
const QString kLogTunnelLost = QStringLiteral("VPN터널이 끊어짐");
const QString kLogServerRefused = QStringLiteral("서버에 연결 실패");
const QString kLogEncryption = QStringLiteral("터널 암호화: %1");
} // namespace

TunnelEvents::TunnelEvents(TunnelHost &host, TunnelFlags &flags, QObject *parent)
    : QObject(parent), m_host(host), m_flags(flags)
{
    // Whoever takes the tunnel down (teardown, log-out, exit), the watchers
    // of its link end with it.
    connect(&m_flags, &TunnelFlags::tunnelUpChanged, this, [this](bool up) {
        if (!up)
            stopLinkWatchers();
    });
    connect(&m_notifier, &TunnelNotifier::rasDialEvent, this, &TunnelEvents::onRasDialEvent);
    connect(&m_notifier, &TunnelNotifier::ovpnEvent, this, &TunnelEvents::onOvpnEvent);
    m_redialTimer = m_host.timer(kRedialTimer);
    if (m_redialTimer)
        connect(m_redialTimer, &QTimer::timeout, this, &TunnelEvents::onRedialTimer);
}

TunnelEvents::~TunnelEvents()
{
    stopLinkWatchers();
}

void TunnelEvents::prepareSignIn(const QString &userId, const QString &password,
                                 const QString &server)
{
    m_userId = userId;
    m_password = password;
    m_server = server;
    m_remainingAttempts = m_host.redialSettings().count;
    m_flags.setLoggingOut(false);
    m_redialPending = false;
    m_host.setStatusText(QString());
    m_host.setCurrentAddress(QString());
}

int TunnelEvents::connectTunnel()
{
    VPN *driver = m_host.tunnelDriver();
    if (!driver)
        return -1;
    return driver->Connect(&m_notifier, m_userId, m_password, m_server);
}

void TunnelEvents::resetRedialAttempts()
{
    m_remainingAttempts = m_host.redialSettings().count;
}

QString TunnelEvents::dialStateText(int state)
{
    switch (state) {
    case Ras::PortOpened:
        return QStringLiteral("초기화하는 중 입니다.");
    case Ras::DeviceConnected:
        return QStringLiteral("장치가 연결되었습니다.");
    case Ras::Authenticate:
        return QStringLiteral("로그인 하고있습니다.");
    case Ras::AuthProject:
        return QStringLiteral("컴퓨터를 네트워크에 등록중입니다..");
    case Ras::Authenticated:
        return QStringLiteral("로그인 되었습니다.");
    case Ras::Projected:
        return QStringLiteral("컴퓨터를 네트워크에 등록했습니다..");
    case Ras::Connected:
        return kTunnelUpText;
    case Ras::Disconnected:
        return QStringLiteral("서버에서 연결이 끊어졌습니다.");
    default:
        return QString();
    }
}

QString TunnelEvents::ovpnEventText(int code)
{
    switch (code) {
    case OvpnEvent::TcpConnected:
        return QStringLiteral("서버에 TCP연결 하였습니다.");
    case OvpnEvent::CertificateVerified:
        return QStringLiteral("인증서를 체크하고 있습니다.");
    case OvpnEvent::InterfaceConfigured:
        return QStringLiteral("터널 인터페이스를 만들고 있습니다.");
    case OvpnEvent::Routing:
        return QStringLiteral("라우팅 중입니다.");
    case OvpnEvent::TunnelUp:
        return kTunnelUpText;
    case OvpnEvent::TunnelEnded:
        return QStringLiteral("서비스가 끊어졌습니다.");
    case OvpnEvent::ConnectionRefused:
        return QStringLiteral("서버에 연결할 수 없습니다.");
    default:
        return QString();
    }
}

void TunnelEvents::onRasDialEvent(int wParam, int lParam)
{
    VPN *driver = m_host.tunnelDriver();
    auto *dial = dynamic_cast<PptpClient *>(driver);

    // The connection's own status first. A connection that has gone
    // reports no state: it counts as disconnected, never as the last state
    // it had (that would run the tunnel-up actions again on a lost link).
    int state = wParam;
    if (dial && dial->refreshStatus() == Ras::InvalidHandle)
        state = Ras::Disconnected;

    if (lParam != 0) {
        const QString text = QStringLiteral("에러(%1): 연결실패..").arg(lParam);
        if (driver)
            driver->Disconnect();
        m_flags.setTunnelUp(false);
        // A log-out or exit waiting for the tunnel to end starts nothing.
        if (m_flags.loggingOut())
            return;
        if (m_redialPending) {
            if (m_remainingAttempts > 0) {
                m_host.setStatusText(text);
                startCountdown();
            } else {
                m_host.reportFailure(lParam, QString());
                m_host.returnToSignIn();
            }
        } else if (!m_flags.loggingOut()) {
            if (m_host.reportFailure(lParam, QString()) == 0)
                m_host.returnToSignIn();
            else
                connectTunnel();
        }
        return;
    }

    const QString text = dialStateText(state);
    if (state == Ras::Connected)
        tunnelUpActions(true);
    else if (!text.isEmpty())
        m_host.setStatusText(text);

    // A link that was gone before its Connected notice could be handled has
    // no watcher to report it: it is lost all the same.
    const bool lostBeforeUp = wParam == Ras::Connected && state == Ras::Disconnected;
    if (wParam == LinkWatcher::kLinkLost || lostBeforeUp) {
        m_host.setStatusText(QStringLiteral("모라솔 서비스가 끊어졌습니다."));
        m_host.log(kLogTunnelLost);
        teardown();
        m_host.closeSessionSocket();
        redialDecision(Source::DialUp);
    }
}

void TunnelEvents::onOvpnEvent(int code)
{
    const QString text = ovpnEventText(code);
    switch (code) {
    case OvpnEvent::TcpConnected:
    case OvpnEvent::CertificateVerified:
    case OvpnEvent::InterfaceConfigured:
    case OvpnEvent::Routing:
        m_host.setStatusText(text);
        break;
    case OvpnEvent::TunnelUp:
        tunnelUpActions(false);
        break;
    case OvpnEvent::TunnelEnded:
        m_host.setStatusText(text);
        m_host.log(kLogTunnelLost);
        m_host.closeSessionSocket();
        teardown();
        redialDecision(Source::OpenVpn);
        break;
    case OvpnEvent::ConnectionRefused:
        m_host.setStatusText(text);
        closeExistingOpenVpn();
        m_host.log(kLogServerRefused);
        teardown();
        redialDecision(Source::OpenVpn);
        break;
    case OvpnEvent::AuthFailed:
        closeExistingOpenVpn();
        m_host.prompter().show(QStringLiteral("다른 PC에서 사용중이거나 로그인에 문제가 있습니다."),
                               kNoticeCaption, Mb::Failure);
        teardown();
        m_host.returnToSignIn();
        break;
    case OvpnEvent::TapTooOld:
        closeExistingOpenVpn();
        teardown();
        if (m_host.prompter().show(
                QStringLiteral("TAP 인터페이스 드라이버 버전이 낮습니다. 업데이트 하시겠습니까?"),
                kNoticeCaption, Mb::Question) == IdYes) {
            TapAdapter *tap = m_host.tapAdapter();
            if (tap && tap->update())
                m_host.prompter().show(
                    QStringLiteral("업데이트 하였습니다. 다시 로그인 해주십시오."), kNoticeCaption,
                    Mb::Information);
        }
        m_host.returnToSignIn();
        break;
    default:
        break;
    }
}

void TunnelEvents::tunnelUpActions(bool dialUp)
{
    m_flags.setTunnelUp(true);
    m_host.log(kLogTunnelUp);
    if (auto *dial = dynamic_cast<PptpClient *>(m_host.tunnelDriver()); dial && dialUp) {
        if (const QString protection = dial->protection(); !protection.isEmpty())
            m_host.log(kLogEncryption.arg(protection));
    }
    m_host.openSession();
    m_connectTime = m_host.currentTime();
    if (QTimer *t = m_host.timer(kElapsedTimer))
        t->start(1000);
    m_flags.setLoggingOut(false);
    m_redialPending = false;
    m_host.updateTray();
    if (dialUp)
        startLinkWatcher();
    m_host.setStatusText(kTunnelUpText);
}

void TunnelEvents::teardown()
{
    m_flags.setTunnelUp(false);
    m_host.updateTray();
    m_host.setCurrentAddress(QString());
    m_host.enableIpControls(false);
    if (QTimer *t = m_host.timer(kElapsedTimer))
        t->stop();
}

void TunnelEvents::logOut()
{
    m_flags.setLoggingOut(true);
    m_host.logOut();
}

void TunnelEvents::redialDecision(Source)
{
    // While a log-out or exit waits for the tunnel to end, a lost tunnel is
    // the one being ended: no countdown, no second log-out.
    if (m_flags.loggingOut())
        return;
    if (m_host.redialSettings().onLinkFailure > 0) {
        if (m_remainingAttempts > 0)
            startCountdown();
        else
            logOut();
    } else {
        logOut();
    }
}

void TunnelEvents::startCountdown()
{
    m_flags.setLoggingOut(false);
    m_redialPending = true;
    m_redialTick = 0;
    if (m_redialTimer)
        m_redialTimer->start(1000);
}

void TunnelEvents::onRedialTimer()
{
    const RedialSettings settings = m_host.redialSettings();
    const int left = settings.seconds - m_redialTick;
    ++m_redialTick;
    m_host.setStatusText(QStringLiteral("%1 초 후에 다시 접속을 시도 합니다.").arg(left));
    if (m_redialTick == settings.seconds)
        redialAttempt();
}

void TunnelEvents::redialAttempt()
{
    if (m_redialTimer)
        m_redialTimer->stop();
    if (QTimer *t = m_host.timer(kWatchdogTimer))
        t->stop();
    m_host.closeSessionSocket();
    m_host.waitWhileDispatching(1000);
    // The user may have logged out while we waited: no dial behind their back.
    if (m_flags.loggingOut())
        return;
    m_host.checkVersion(QStringLiteral("boot"));
    --m_remainingAttempts;
    m_redialTick = 0;
    m_host.setCurrentAddress(QString());
    m_flags.setLoggingOut(false);
    if (connectTunnel() == 0) {
        m_host.enableIpControls(false);
        m_host.clearIpList();
    }
}

void TunnelEvents::networkReturned()
{
    if (!m_flags.tunnelUp() || m_flags.loggingOut() || m_redialPending || !m_linkCheck)
        return;
    const quint64 check = ++m_linkChecks;
    m_linkCheck([self = QPointer<TunnelEvents>(this), check](bool carries) {
        // The answer comes later: the tunnel may have ended, been redialled
        // or a log-out begun since, or a newer check been asked for.
        if (!self || check != self->m_linkChecks || carries)
            return;
        if (!self->m_flags.tunnelUp() || self->m_flags.loggingOut() || self->m_redialPending)
            return;
        // Ending the stale tunnel makes its watchers report it lost, exactly
        // as when the server or the line drops it.
        if (VPN *driver = self->m_host.tunnelDriver())
            driver->Disconnect();
    });
}

void TunnelEvents::closeExistingOpenVpn()
{
    VPN *driver = m_host.tunnelDriver();
    if (driver && driver->tunnelType() == TunnelKind::OpenVpn)
        driver->CloseExisting();
}

void TunnelEvents::startLinkWatcher()
{
    auto *dial = dynamic_cast<PptpClient *>(m_host.tunnelDriver());
    if (!dial)
        return;
    // Watchers of earlier connections that have ended.
    for (qsizetype i = m_watchers.size() - 1; i >= 0; --i) {
        if (m_watchers.at(i)->isFinished())
            delete m_watchers.takeAt(i);
    }
    auto *watcher = new LinkWatcher(dial->dialUp(), dial->handleSource(), m_flags.tunnelUpFlag(),
                                    m_flags.loggingOutFlag(), &m_notifier);
    m_watchers.append(watcher);
    watcher->start();
}

int TunnelEvents::linkWatcherCount() const
{
    int running = 0;
    for (const LinkWatcher *w : m_watchers)
        running += w->isFinished() ? 0 : 1;
    return running;
}

void TunnelEvents::stopLinkWatchers()
{
    for (LinkWatcher *w : std::as_const(m_watchers))
        delete w; // stops and joins
    m_watchers.clear();
}
