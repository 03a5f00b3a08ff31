#include "login.h"

#include "core/settings.h"
#include "dialogs/boardpanel.h"
#include "platform/prompter.h"
#include "system/linecheck.h"
#include "web/servicepages.h"
#include "web/servicerequests.h"
#include "web/webhost.h"
#include "widgets/cpicturebutton.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

namespace {
// The dialog's image buttons: id, caption (the accessible name and the
// text a missing picture leaves), standard and hover picture.
struct ButtonPictures
{
    int id;
    const char16_t *caption;
    int standard;
    int hover;
};

const ButtonPictures kPictures[] = {
    {1003, u"로그인", 189, 223},          {1094, u"회원가입", 190, 226},
    {1009, u"ID/PW찾기", 194, 230},       {1048, u"인터넷 회선 점검", 191, 227},
    {1051, u"연결이 안되세요", 192, 228}, {1010, u"설정", 193, 229},
};

CPictureButton *button(QWidget *parent, int id)
{
    for (const ButtonPictures &pictures : kPictures) {
        if (pictures.id != id)
            continue;
        auto *b = new CPictureButton(parent);
        b->setObjectName(QString::number(id));
        b->setText(QString::fromUtf16(pictures.caption));
        b->setAccessibleName(b->text());
        b->loadStandardPicture(pictures.standard);
        b->loadHoverPicture(pictures.hover);
        b->setFixedSize(b->sizeHint());
        return b;
    }
    return nullptr;
}
} // namespace

Login::Login(LoginHost &host, SignInSequence &sequence, LoginServices services, QWidget *parent)
    : QDialog(parent), m_host(host), m_sequence(sequence), m_services(std::move(services))
{
    setObjectName(QStringLiteral("129"));
    setWindowTitle(QStringLiteral("모라솔 - 로그인"));

    auto *grid = new QGridLayout(this);
    m_id = new QLineEdit(this);
    m_id->setObjectName(QStringLiteral("1001"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("1002"));
    m_password->setEchoMode(QLineEdit::Password);
    CPictureButton *signInButton = button(this, 1003);
    signInButton->setDefault(true);
    m_save = new QCheckBox(QStringLiteral("아이디/패스워드 저장"), this);
    m_save->setObjectName(QStringLiteral("1000"));
    m_productType = new QComboBox(this);
    m_productType->setObjectName(QStringLiteral("1112"));
    m_products = new QComboBox(this);
    m_products->setObjectName(QStringLiteral("1034"));

    grid->addWidget(new QLabel(QStringLiteral("아이디"), this), 0, 0);
    grid->addWidget(m_id, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("패스워드"), this), 1, 0);
    grid->addWidget(m_password, 1, 1);
    grid->addWidget(signInButton, 0, 2, 2, 1);
    grid->addWidget(m_save, 2, 1);
    grid->addWidget(m_productType, 3, 0);
    grid->addWidget(m_products, 3, 1, 1, 2);

    auto *radios = new QHBoxLayout;
    m_tunnel = new QButtonGroup(this);
    const char16_t *names[] = {u"PPTP", u"OpenVPN", u"L2TP"};
    for (int i = 0; i < 3; ++i) {
        auto *r = new QRadioButton(QString::fromUtf16(names[i]), this);
        r->setObjectName(QString::number(2000 + i));
        m_tunnel->addButton(r, 2000 + i);
        radios->addWidget(r);
    }
    grid->addLayout(radios, 4, 0, 1, 3);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("1038"));
    grid->addWidget(m_tabs, 5, 0, 1, 3);

    auto *buttons = new QHBoxLayout;
    CPictureButton *lineCheck = button(this, 1048);
    lineCheck->setToolTipText(QStringLiteral("연결이 안되는 이유를 알아볼까요?"), true);
    CPictureButton *faq = button(this, 1051);
    CPictureButton *options = button(this, 1010);
    CPictureButton *signUp = button(this, 1094);
    CPictureButton *lost = button(this, 1009);
    for (CPictureButton *b : {lineCheck, faq, options, signUp, lost})
        buttons->addWidget(b);
    grid->addLayout(buttons, 6, 0, 1, 3);

    connect(signInButton, &QPushButton::clicked, this, &Login::signIn);
    // Enter in either field reaches the default button 1003.
    connect(m_save, &QCheckBox::clicked, this, &Login::saveToggled);
    connect(m_tunnel, &QButtonGroup::idClicked, this, [this](int id) { chooseTunnel(id - 1999); });
    connect(lineCheck, &QPushButton::clicked, this, &Login::checkLine);
    connect(options, &QPushButton::clicked, this, [this] { m_host.openOptions(); });
    const WebHost &web = m_services.pages.host();
    connect(faq, &QPushButton::clicked, this,
            [this, web] { m_services.pages.OpenPage(ServiceUrls::connectionFaq(web)); });
    connect(signUp, &QPushButton::clicked, this,
            [this, web] { m_services.pages.OpenPage(ServiceUrls::signUp(web)); });
    connect(lost, &QPushButton::clicked, this,
            [this, web] { m_services.pages.OpenPage(ServiceUrls::lostPassword(web)); });

    setUp();
}

Login::~Login()
{
    closePanels();
}

void Login::setUp()
{
    m_host.stopSignInTimers();

    // The product list, when the web host answers.
    const bool lineUp = m_services.lineCheck.check(QString(), m_host.fields().tunnelType);
    if (lineUp) {
        const QString list = m_services.requests.productList();
        if (!list.isEmpty())
            m_host.settings().write(SettingKeys::Entry, SettingKeys::DynamicProductList, list);
    }

    m_notices =
        new BoardPanel(m_services.noticesUrl, QByteArray(), m_services.launcher, QString(), m_tabs);
    m_notices->setObjectName(QStringLiteral("152"));
    m_faq = new BoardPanel(m_services.faqUrl, BoardPages::kFaqHeader, m_services.launcher,
                           m_services.caFile, m_tabs);
    m_faq->setObjectName(QStringLiteral("153"));
    m_tabs->addTab(m_notices, QStringLiteral("공지사항"));
    m_tabs->addTab(m_faq, QStringLiteral("FAQ"));
    m_tabs->setCurrentIndex(0);
    m_notices->load();
    m_faq->load();

    if (m_host.fields().credentialsSaved) {
        m_save->setChecked(true);
        QString id, password;
        m_host.loadSavedCredentials(id, password);
        m_id->setText(id);
        m_password->setText(password);
    }

    m_productType->addItems({QStringLiteral("고정IP"), QStringLiteral("유동IP")});
    const int type = m_host.fields().productType;
    {
        const QSignalBlocker block(m_productType);
        m_productType->setCurrentIndex(type == FixedIp || type == DynamicIp ? type - 1 : -1);
    }
    chooseProduct(m_productType->currentIndex());
    connect(m_productType, &QComboBox::currentIndexChanged, this, &Login::chooseProduct);

    if (QAbstractButton *r = m_tunnel->button(1999 + m_host.fields().tunnelType))
        r->setChecked(true);

    if (!lineUp) {
        m_services.prompter.show(
            QStringLiteral("인터넷회선이 안정적이지 못합니다.\n회선 상태를 점검후 재시도 하세요."),
            kNoticeCaption, Mb::Failure);
    }
    m_setUp = true;
}

void Login::chooseProduct(int index)
{
    SettingsFields &fields = m_host.fields();
    fields.productType = index + 1;
    m_host.settings().write(SettingKeys::Entry, SettingKeys::ServiceType, fields.productType);
    const QString list =
        m_host.settings().readString(SettingKeys::Entry, SettingKeys::DynamicProductList).left(256);
    const QString saved =
        m_host.settings().readString(SettingKeys::Entry, SettingKeys::DynamicProductName).left(256);

    m_products->clear();
    if (fields.productType == FixedIp) {
        m_products->addItem(QStringLiteral("고정IP 서버"));
        m_products->setCurrentIndex(0);
        m_products->setEnabled(false);
        for (QAbstractButton *r : m_tunnel->buttons())
            r->setEnabled(true);
    } else if (fields.productType == DynamicIp) {
        m_products->setEnabled(true);
        for (QAbstractButton *r : m_tunnel->buttons())
            r->setEnabled(true);
        if (list.isEmpty()) {
            m_services.prompter.show(QStringLiteral("유동IP 상품을 가져오는데 실패했습니다."),
                                     QString(), Mb::Ok);
        } else {
            fields.productMap.clear();
            for (const auto &[name, code] : offeredProducts(list)) {
                fields.productMap.insert(name, code);
                m_products->addItem(name);
            }
            const int at = m_products->findText(saved);
            m_products->setCurrentIndex(at >= 0 ? at : 0);
        }
    }
    m_host.rebuildListColumns();
}

void Login::chooseTunnel(int type)
{
    m_host.fields().tunnelType = type;
    m_host.settings().write(SettingKeys::Entry, SettingKeys::IsPPTP, type);
}

void Login::saveToggled(bool checked)
{
    m_host.saveCredentials(m_id->text(), m_password->text(), checked ? 1 : 0);
}

void Login::checkLine()
{
    if (m_services.lineCheck.check(QString(), m_host.fields().tunnelType)) {
        m_services.prompter.show(QStringLiteral("인터넷 회선 상태가 양호합니다. 로그인 하세요."),
                                 kNoticeCaption, Mb::SystemModal);
    } else {
        m_services.prompter.show(
            QStringLiteral("인터넷회선이 안정적이지 못합니다.\n회선 상태를 점검후 재시도 하세요."),
            kNoticeCaption, Mb::Failure);
    }
}

void Login::signIn()
{
    SignInSequence::Input input;
    input.id = m_id->text();
    input.password = m_password->text();
    input.saveChecked = m_save->isChecked();
    input.selectedProduct = m_products->currentText();
    m_outcome = m_sequence.runInteractive(input);
    if (m_outcome == SignInSequence::Outcome::Started ||
        m_outcome == SignInSequence::Outcome::Ending) {
        closePanels();
        QDialog::reject();
    }
}

void Login::reject()
{
    if (m_services.prompter.show(QStringLiteral("모라솔 서비스를 종료합니다."),
                                 QStringLiteral("모라솔-종료"), Mb::PlainQuestion) != IdYes)
        return;
    closePanels();
    QDialog::reject();
    m_host.requestExit();
}

void Login::closePanels()
{
    if (m_tabs)
        m_tabs->clear();
    delete m_notices;
    delete m_faq;
    m_notices = nullptr;
    m_faq = nullptr;
}
