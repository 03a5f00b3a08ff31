#include "ctarvoclientdlg.h"

#include "maincontroller.h"
#include "widgets/clistctrlex.h"
#include "widgets/cpicturebutton.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QSlider>
#include <QSystemTrayIcon>

namespace {

// The template's layout, in pixels of the 363 x 450 client area.
struct PictureButtonSpec
{
    int id;
    const char16_t *caption;
    int standard;
    int hover; // 0: none
    QRect geometry;
};

const PictureButtonSpec kPictureButtons[] = {
    {ControlId::ChangeButton, u"IP변경", 199, 0, QRect(8, 8, 100, 44)},
    {ControlId::OptionButton, u"옵션", 204, 0, QRect(114, 8, 58, 44)},
    {ControlId::PurchaseButton, u"연장/결재", 196, 0, QRect(176, 8, 58, 44)},
    {ControlId::InquiryButton, u"1:1문의", 197, 0, QRect(238, 8, 58, 44)},
    {ControlId::LogoutButton, u"로그아웃", 205, 0, QRect(300, 8, 56, 44)},
    {ControlId::MemoButton, u"IP별 메모", 233, 234, QRect(8, 332, 112, 28)},
    {ControlId::BadIpButton, u"불량IP신고", 237, 238, QRect(125, 332, 112, 28)},
    {ControlId::InPrivateButton, u"InPrivate", 235, 236, QRect(242, 332, 113, 28)},
};

// Controls that follow the bottom edge when the window grows.
const int kBottomAnchored[] = {
    ControlId::StatusLine,        ControlId::AddressLabel,     ControlId::ElapsedLabel,
    ControlId::StatusLabel,       ControlId::BadIpButton,      ControlId::MemoButton,
    ControlId::InPrivateButton,   ControlId::CheckAll,         ControlId::AutoChange,
    ControlId::AutoChangeMinutes, ControlId::AutoChangeSlider, ControlId::LogLink,
    ControlId::Address,           ControlId::Elapsed,
};

// Controls drawn on the static brush.
const int kOnStaticBrush[] = {
    ControlId::AddressLabel,      ControlId::ElapsedLabel, ControlId::StatusLabel,
    ControlId::Address,           ControlId::Elapsed,      ControlId::StatusLine,
    ControlId::ExpiryLabel,       ControlId::AutoChange,   ControlId::AutoChangeSlider,
    ControlId::AutoChangeMinutes, ControlId::ProductLabel, ControlId::CheckAll,
    ControlId::LogLink,
};

template<typename W>
W *place(W *w, int id, const QRect &geometry)
{
    w->setObjectName(QString::number(id));
    w->setGeometry(geometry);
    return w;
}

QLabel *label(QWidget *parent, int id, const QString &text, const QRect &geometry)
{
    auto *l = place(new QLabel(text, parent), id, geometry);
    l->setIndent(2);
    return l;
}

} // namespace

CTarvoClientDlg::CTarvoClientDlg(MainController &controller, QWidget *parent)
    : QDialog(parent), m_controller(controller)
{
    CPictureButton::initResources();
    setObjectName(QStringLiteral("102"));
    setWindowTitle(controller.windowCaption());
    setWindowIcon(iconResource(200));
    m_background = QPixmap(QStringLiteral(":/png/232.png"));
    setSizeGripEnabled(false); // the resizer keeps its own grip
    // Size rules: the width is fixed at 363, the height grows from 450.
    setMinimumSize(363, 450);
    setMaximumWidth(363);
    resize(363, 450);

    buildControls();
    setUpResizer();

    // Enter never reaches a control: it neither closes the window nor presses a button.
    for (QWidget *w : findChildren<QWidget *>())
        w->installEventFilter(this);

    m_trayMenu = new QMenu(this);
    m_changeAction = m_trayMenu->addAction(QStringLiteral("IP전환"));
    m_changeAction->setObjectName(QString::number(TrayCommand::ChangeAddress));
    m_logoutAction = m_trayMenu->addAction(QStringLiteral("로그아웃"));
    m_logoutAction->setObjectName(QString::number(TrayCommand::LogOut));
    m_exitAction = m_trayMenu->addAction(QStringLiteral("종료"));
    m_exitAction->setObjectName(QString::number(TrayCommand::Exit));
    connect(m_changeAction, &QAction::triggered, &controller,
            &MainController::changeAddressCommand);
    connect(m_logoutAction, &QAction::triggered, &controller, &MainController::logOut);
    connect(m_exitAction, &QAction::triggered, &controller, &MainController::trayExitCommand);
    connect(m_trayMenu, &QMenu::aboutToShow, this, &CTarvoClientDlg::prepareTrayMenu);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) { onTrayActivated(int(r)); });

    connect(&controller, &MainController::statusTextChanged, m_status, &QLabel::setText);
    connect(&controller, &MainController::elapsedTextChanged, m_elapsed, &QLabel::setText);
    connect(&controller, &MainController::currentAddressChanged, m_address, &QLabel::setText);
    connect(&controller, &MainController::captionChanged, this, &QWidget::setWindowTitle);
    connect(&controller, &MainController::controlEnabledChanged, this,
            &CTarvoClientDlg::onControlEnabled);
    connect(&controller, &MainController::trayIconShown, this, &CTarvoClientDlg::onTrayShown);
    connect(&controller, &MainController::trayStateChanged, this, &CTarvoClientDlg::updateTray);
    connect(&controller, &MainController::hideWindowRequested, this, &QWidget::hide);
    connect(&controller, &MainController::showWindowRequested, this, [this] {
        showNormal();
        raise();
        activateWindow();
    });
    connect(&controller, &MainController::hideMemoPanelRequested, this, [this] {
        if (m_memoPanel)
            m_memoPanel->hide();
    });
    connect(&controller, &MainController::finished, this, [this] {
        m_tray->hide();
        hide();
    });
    updateTray();
}

CTarvoClientDlg::~CTarvoClientDlg() = default;

void CTarvoClientDlg::buildControls()
{
    for (const PictureButtonSpec &b : kPictureButtons) {
        auto *button = place(new CPictureButton(this), b.id, b.geometry);
        button->setText(QString::fromUtf16(b.caption));
        button->setAccessibleName(button->text());
        button->loadStandardPicture(b.standard);
        if (b.hover)
            button->loadHoverPicture(b.hover);
    }
    connect(pictureButton(ControlId::LogoutButton), &QAbstractButton::clicked, &m_controller,
            &MainController::logOut);
    connect(pictureButton(ControlId::ChangeButton), &QAbstractButton::clicked, &m_controller,
            &MainController::changeAddressCommand);

    // Shown by the list's set-up for the dynamic product only.
    label(this, ControlId::ProductLabel, QString(), QRect(8, 58, 200, 16))->hide();
    label(this, ControlId::ExpiryLabel, QString(), QRect(210, 58, 146, 16))->hide();
    auto *random = place(new QPushButton(QStringLiteral("무작위"), this), ControlId::RandomButton,
                         QRect(8, 58, 60, 20));
    random->setAutoDefault(false);
    random->hide();
    auto *reset = place(new QPushButton(QStringLiteral("초기화"), this), ControlId::ResetButton,
                        QRect(72, 58, 60, 20));
    reset->setAutoDefault(false);
    reset->hide();

    m_list = place(new CListCtrlEx(this), ControlId::IpList, QRect(8, 80, 347, 222));
    m_list->setCheckBoxes(true);
    m_list->setHideHorizontalBar(true);

    place(new QCheckBox(QStringLiteral("전체체크"), this), ControlId::CheckAll,
          QRect(8, 308, 84, 18));
    m_autoChange = place(new QCheckBox(QStringLiteral("IP자동변경"), this), ControlId::AutoChange,
                         QRect(96, 308, 92, 18));
    m_autoChange->hide(); // shown by the list's set-up
    connect(m_autoChange, &QCheckBox::toggled, &m_controller,
            &MainController::setAutoChangeChecked);
    auto *slider = place(new QSlider(Qt::Horizontal, this), ControlId::AutoChangeSlider,
                         QRect(190, 308, 120, 18));
    slider->hide();
    auto *minutes =
        place(new QLineEdit(this), ControlId::AutoChangeMinutes, QRect(314, 306, 41, 20));
    minutes->setReadOnly(true);
    minutes->setEnabled(false);

    label(this, ControlId::StatusLabel, QStringLiteral("접속상태"), QRect(8, 368, 64, 18));
    m_status =
        label(this, ControlId::StatusLine, m_controller.statusText(), QRect(76, 368, 279, 18));
    label(this, ControlId::AddressLabel, QStringLiteral("현재 IP"), QRect(8, 390, 64, 18));
    m_address = label(this, ControlId::Address,
                      m_controller.currentAddress().isEmpty() ? QStringLiteral("0.0.0.0")
                                                              : m_controller.currentAddress(),
                      QRect(76, 390, 160, 18));
    label(this, ControlId::ElapsedLabel, QStringLiteral("사용시간"), QRect(8, 412, 64, 18));
    m_elapsed =
        label(this, ControlId::Elapsed, m_controller.elapsedText(), QRect(76, 412, 100, 18));
    auto *logLink = label(this, ControlId::LogLink, QStringLiteral("<a href=\"log\">로그</a>"),
                          QRect(300, 412, 40, 18));
    logLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    logLink->setAlignment(Qt::AlignCenter);
    connect(logLink, &QLabel::linkActivated, &m_controller, &MainController::openTodayLog);

    const QColor brush = CListCtrlEx::colorFromRef(kStaticColor);
    for (int id : kOnStaticBrush) {
        QWidget *w = control(id);
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, brush);
        pal.setColor(QPalette::Base, brush);
        w->setPalette(pal);
        w->setAutoFillBackground(true);
    }
    // Start with the controller's view of every control.
    for (QWidget *w : findChildren<QWidget *>()) {
        bool ok = false;
        const int id = w->objectName().toInt(&ok);
        if (ok)
            onControlEnabled(id, m_controller.isControlEnabled(id));
    }
}

void CTarvoClientDlg::setUpResizer()
{
    m_resizer.Hook(this);
    m_resizer.SetAnchor(ControlId::IpList, CWndResizer::AnchorTop | CWndResizer::AnchorBottom);
    for (int id : kBottomAnchored)
        m_resizer.SetAnchor(id, CWndResizer::AnchorBottom);
    m_resizer.SetShowResizeGrip(true);
    m_resizer.OnSize();
}

QWidget *CTarvoClientDlg::control(int id) const
{
    return findChild<QWidget *>(QString::number(id));
}

CPictureButton *CTarvoClientDlg::pictureButton(int id) const
{
    return findChild<CPictureButton *>(QString::number(id));
}

QIcon CTarvoClientDlg::iconResource(int id)
{
    CPictureButton::initResources();
    return QIcon(QStringLiteral(":/icon/%1.png").arg(id));
}

QIcon CTarvoClientDlg::trayIconFor(bool tunnelUp)
{
    return iconResource(tunnelUp ? TrayIcon::Connected : TrayIcon::NotConnected);
}

void CTarvoClientDlg::onControlEnabled(int id, bool enabled)
{
    QWidget *w = control(id);
    if (!w)
        return;
    // The change button turns grey before it is disabled, normal before it is enabled.
    if (id == ControlId::ChangeButton)
        pictureButton(id)->setDisabledLook(!enabled);
    w->setEnabled(enabled);
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
    m_tray->setIcon(iconResource(m_controller.trayIconId()));
    m_tray->setToolTip(m_controller.trayTip());
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
    // A right click opens the context menu by itself; the double-click acts
    // here. Trays of the StatusNotifier kind report no double-click, only a
    // plain activation, so that one counts too: without it the window could
    // not be brought back there.
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
        m_controller.trayDoubleClicked();
}

bool CTarvoClientDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CTarvoClientDlg::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CTarvoClientDlg::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (m_background.isNull())
        p.fillRect(rect(), palette().window());
    else
        p.drawTiledPixmap(rect(), m_background);
}

void CTarvoClientDlg::attachMemoPanel(QWidget *panel)
{
    m_memoPanel = panel;
}

QRect CTarvoClientDlg::memoPanelGeometry() const
{
    const QRect frame = frameGeometry();
    const QPoint listTop = m_list->mapToGlobal(QPoint(0, 0));
    return QRect(frame.x() + frame.width() - 170, listTop.y(), 300, m_list->height());
}

void CTarvoClientDlg::placeMemoPanel()
{
    if (m_memoPanel && m_controller.memoPanelShown())
        m_memoPanel->setGeometry(memoPanelGeometry());
}

void CTarvoClientDlg::moveEvent(QMoveEvent *event)
{
    QDialog::moveEvent(event);
    placeMemoPanel();
}

void CTarvoClientDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    placeMemoPanel();
}

void CTarvoClientDlg::reject()
{
    // Esc and the close box: the memo panel and the window go, the program
    // lives on in the tray. Where the desktop has no tray the window is
    // minimised instead, so that the task bar still reaches it.
    m_controller.hideMemoPanel();
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
