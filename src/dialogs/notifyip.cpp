#include "notifyip.h"

#include "platform/ipv4.h"
#include "platform/prompter.h"
#include "session/sessioncodec.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

// ------------------------------------------------------------ IpAddressCtrl

IpAddressCtrl::IpAddressCtrl(QWidget *parent) : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    for (int i = 0; i < 4; ++i) {
        auto *f = new QLineEdit(this);
        f->setObjectName(QStringLiteral("field%1").arg(i));
        f->setValidator(new QIntValidator(0, 255, f));
        f->setMaxLength(3);
        f->setAlignment(Qt::AlignCenter);
        f->setFixedWidth(40);
        f->installEventFilter(this);
        m_fields.append(f);
        row->addWidget(f);
        if (i < 3)
            row->addWidget(new QLabel(QStringLiteral("."), this));
        // Three digits, or a number that cannot take another digit, move on.
        connect(f, &QLineEdit::textEdited, this, [this, i](const QString &text) {
            if (i < 3 && (text.size() == 3 || text.toInt() > 25))
                m_fields[i + 1]->setFocus(Qt::TabFocusReason);
        });
    }
    row->addStretch();
    setFocusProxy(m_fields[0]);
}

uint32_t IpAddressCtrl::address() const
{
    uint32_t v = 0;
    for (QLineEdit *f : m_fields)
        v = (v << 8) | uint32_t(std::clamp(f->text().toInt(), 0, 255));
    return v;
}

bool IpAddressCtrl::isBlank() const
{
    for (QLineEdit *f : m_fields) {
        if (!f->text().isEmpty())
            return false;
    }
    return true;
}

void IpAddressCtrl::setAddress(uint32_t address)
{
    for (int i = 0; i < 4; ++i) {
        const uint32_t byte = (address >> (24 - 8 * i)) & 0xFF;
        m_fields[i]->setText(address == 0 ? QString() : QString::number(byte));
    }
}

bool IpAddressCtrl::eventFilter(QObject *watched, QEvent *event)
{
    // "." moves to the next field, as in the platform's address control.
    if (event->type() == QEvent::KeyPress) {
        const int i = int(m_fields.indexOf(static_cast<QLineEdit *>(watched)));
        const auto *k = static_cast<QKeyEvent *>(event);
        if (i >= 0 && k->text() == QLatin1String(".")) {
            if (i < 3 && !m_fields[i]->text().isEmpty()) {
                m_fields[i + 1]->setFocus(Qt::TabFocusReason);
                m_fields[i + 1]->selectAll();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ------------------------------------------------------------ NotifyIp

NotifyIp::NotifyIp(NotifyIpHost &host, QWidget *parent) : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("175"));
    setWindowTitle(QStringLiteral("불량IP신고"));

    auto *layout = new QVBoxLayout(this);
    auto *kinds = new QGroupBox(QStringLiteral("신고분류"), this);
    auto *kindRow = new QHBoxLayout(kinds);
    m_categories = new QButtonGroup(this);
    const char16_t *names[] = {u"사이트 접속불가", u"게임 접속불가", u"마케팅 미노출", u"기타"};
    for (int i = 0; i < 4; ++i) {
        auto *r = new QRadioButton(QString::fromUtf16(names[i]), kinds);
        r->setObjectName(QString::number(kFirstCategoryId + i));
        m_categories->addButton(r, i);
        kindRow->addWidget(r);
    }
    connect(m_categories, &QButtonGroup::idClicked, this, [this](int id) { m_category = id; });
    layout->addWidget(kinds);

    auto *addressBox = new QGroupBox(QStringLiteral("아이피 주소"), this);
    auto *addressRow = new QHBoxLayout(addressBox);
    m_address = new IpAddressCtrl(addressBox);
    m_address->setObjectName(QString::number(kAddressId));
    addressRow->addWidget(m_address);
    layout->addWidget(addressBox);

    auto *reasonBox = new QGroupBox(QStringLiteral("신고 이유를 상세히 기재해 주세요"), this);
    auto *reasonRow = new QVBoxLayout(reasonBox);
    m_reason = new QPlainTextEdit(reasonBox);
    m_reason->setObjectName(QString::number(kReasonId));
    m_reason->setTabChangesFocus(true);
    reasonRow->addWidget(m_reason);
    layout->addWidget(reasonBox, 1);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *send =
        buttons->addButton(QStringLiteral("불량 IP 신고"), QDialogButtonBox::AcceptRole);
    send->setObjectName(QStringLiteral("1"));
    send->setDefault(true);
    QPushButton *cancel = buttons->addButton(QStringLiteral("취소"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &NotifyIp::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &NotifyIp::reject);
    layout->addWidget(buttons);
    resize(420, 330);

    // Set-up: the address in use, when there is one.
    bool ok = false;
    const uint32_t current = Ipv4::numericValue(m_host.currentAddress(), &ok);
    m_address->setAddress(ok ? current : 0);
}

NotifyIp::~NotifyIp() = default;

QString NotifyIp::addressText(uint32_t a)
{
    return QString::asprintf("%u.%u.%u.%u", (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF,
                             a & 0xFF);
}

void NotifyIp::accept()
{
    Prompter &prompter = m_host.prompter();
    if (m_category < 0) {
        prompter.show(QStringLiteral("신고분류를 선택해 주십시오."), QString(), Mb::Ok);
        return;
    }
    const uint32_t address = m_address->address();
    const QString text = addressText(address);
    if (address == 0) {
        prompter.show(QStringLiteral("아이피주소를 입력해 주십시오."), QString(), Mb::Ok);
        m_address->setFocus();
        return;
    }
    const QString reason = m_reason->toPlainText();
    if (reason.isEmpty()) {
        prompter.show(QStringLiteral("신고 이유를 입력해 주십시오."), QString(), Mb::Ok);
        m_reason->setFocus();
        return;
    }
    QString escaped = reason;
    escaped.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    // The record holds 8191 bytes of code-page text: a reason that does not
    // fit whole is refused like a long one rather than cut.
    bool cut = false;
    BadIpInfo {m_category, text, escaped}.encode(&cut);
    if (reason.size() >= kMaxReason || cut) {
        prompter.show(QStringLiteral("신고 이유는 8192바이트 보다 작아야 합니다."), QString(),
                      Mb::Ok);
        m_reason->setFocus();
        return;
    }
    m_host.sendReport(m_category, text, escaped);
    QDialog::accept();
}
