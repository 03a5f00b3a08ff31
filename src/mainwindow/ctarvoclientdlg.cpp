#include "ctarvoclientdlg.h"

#include "maincontroller.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

namespace {
QLabel *makeLabel(QWidget *parent, int id, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::number(id));
    return label;
}
} // namespace

CTarvoClientDlg::CTarvoClientDlg(MainController &controller, QWidget *parent)
    : QDialog(parent), m_controller(controller)
{
    setObjectName(QStringLiteral("102"));
    setWindowTitle(QStringLiteral("모라솔"));
    setWindowIcon(trayIconFor(false));
    setMinimumSize(363, 450);
    setMaximumWidth(363);
    resize(363, 450);

    auto *grid = new QGridLayout(this);
    grid->addWidget(makeLabel(this, 1025, QStringLiteral("접속상태")), 0, 0);
    m_status = makeLabel(this, 1032, controller.statusText());
    grid->addWidget(m_status, 0, 1);
    auto *logLink = makeLabel(this, 1042, QStringLiteral("<a href=\"log\">로그</a>"));
    logLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    grid->addWidget(logLink, 1, 1, Qt::AlignRight);
    grid->setRowStretch(2, 1);

    connect(logLink, &QLabel::linkActivated, &controller, &MainController::openTodayLog);
    connect(&controller, &MainController::statusTextChanged, m_status, &QLabel::setText);

    m_trayMenu = new QMenu(this);
    m_changeAction = m_trayMenu->addAction(QStringLiteral("IP전환"));
    m_changeAction->setObjectName(QStringLiteral("32774"));
    m_logoutAction = m_trayMenu->addAction(QStringLiteral("로그아웃"));
    m_logoutAction->setObjectName(QStringLiteral("32775"));
    m_exitAction = m_trayMenu->addAction(QStringLiteral("종료"));
    m_exitAction->setObjectName(QStringLiteral("32776"));
    connect(m_exitAction, &QAction::triggered, &controller, &MainController::trayExitCommand);
    connect(m_trayMenu, &QMenu::aboutToShow, this, &CTarvoClientDlg::prepareTrayMenu);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) { onTrayActivated(int(r)); });

    connect(&controller, &MainController::trayIconShown, this, &CTarvoClientDlg::onTrayShown);
    connect(&controller, &MainController::trayStateChanged, this, &CTarvoClientDlg::updateTray);
    connect(&controller, &MainController::hideWindowRequested, this, &QWidget::hide);
    connect(&controller, &MainController::finished, this, [this] {
        m_tray->hide();
        hide();
    });
}

CTarvoClientDlg::~CTarvoClientDlg() = default;

QIcon CTarvoClientDlg::trayIconFor(bool tunnelUp)
{
    // Icon 201 (connected) and 202 (not connected).
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(tunnelUp ? QColor(0x2e, 0xa0, 0x43) : QColor(0x8a, 0x8a, 0x8a));
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 2));
    p.drawEllipse(3, 3, 26, 26);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(14);
    p.setFont(f);
    p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("K"));
    return QIcon(pm);
}

void CTarvoClientDlg::prepareTrayMenu()
{
    const bool up = m_controller.tunnelUp();
    m_changeAction->setEnabled(up);
    m_logoutAction->setEnabled(up);
    m_exitAction->setEnabled(true);
}

void CTarvoClientDlg::updateTray()
{
    const bool up = m_controller.tunnelUp();
    m_tray->setIcon(trayIconFor(up));
    m_tray->setToolTip(up ? QStringLiteral("모라솔 서비스에 연결되었습니다.")
                          : QStringLiteral("모라솔 서비스에 연결되어 있지 않습니다."));
}

void CTarvoClientDlg::onTrayShown(bool shown)
{
    if (shown) {
        updateTray();
        m_tray->show();
    } else {
        m_tray->hide();
    }
}

void CTarvoClientDlg::onTrayActivated(int reason)
{
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger)
        return;
    if (m_controller.tunnelUp()) {
        show();
        raise();
        activateWindow();
    }
}

void CTarvoClientDlg::keyPressEvent(QKeyEvent *event)
{
    // Enter neither closes the window nor presses a button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CTarvoClientDlg::reject()
{
    // Esc and the close box hide the window; the program lives on in the
    // tray. A desktop without a tray keeps the window reachable: it is
    // minimised instead.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}

void CTarvoClientDlg::closeEvent(QCloseEvent *event)
{
    event->ignore();
    reject();
}
