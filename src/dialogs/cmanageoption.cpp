#include "cmanageoption.h"

#include "core/settings.h"
#include "platform/desktoptools.h"
#include "platform/hotkey.h"
#include "platform/launcher.h"
#include "platform/logontask.h"
#include "platform/prompter.h"
#include "platform/routeraddress.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

const QString CManageOption::kNotWholeNumber = QStringLiteral("정수를 입력하십시오.");

namespace {

constexpr int kFirstLetter = 'A';
constexpr int kLastLetter = 'Z';

QPushButton *button(QWidget *parent, int id, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::number(id));
    b->setAutoDefault(false);
    return b;
}

template<typename W>
W *named(W *widget, int id)
{
    widget->setObjectName(QString::number(id));
    return widget;
}

} // namespace

CManageOption::CManageOption(OptionsHost &host, QWidget *parent) : QDialog(parent), m_host(host)
{
    setObjectName(QString::number(OptionControl::DialogId));
    setWindowTitle(QStringLiteral("옵션 설정"));
    setModal(true);

    auto *layout = new QVBoxLayout(this);

    auto *redialBox = new QGroupBox(QStringLiteral("다시 연결"), this);
    auto *redialGrid = new QGridLayout(redialBox);
    m_attempts = named(new QLineEdit(redialBox), OptionControl::RedialCount);
    m_interval = named(new QLineEdit(redialBox), OptionControl::RedialSeconds);
    for (QLineEdit *edit : {m_attempts, m_interval}) {
        edit->setMaxLength(10);
        edit->setAlignment(Qt::AlignRight);
        edit->setFixedWidth(60);
    }
    redialGrid->addWidget(new QLabel(QStringLiteral("다시 연결 시도 횟수"), redialBox), 0, 0);
    redialGrid->addWidget(m_attempts, 0, 1);
    redialGrid->addWidget(new QLabel(QStringLiteral("번"), redialBox), 0, 2);
    redialGrid->addWidget(new QLabel(QStringLiteral("다시 연결 시도 간격"), redialBox), 1, 0);
    redialGrid->addWidget(m_interval, 1, 1);
    redialGrid->addWidget(new QLabel(QStringLiteral("초"), redialBox), 1, 2);
    m_redial = named(new QCheckBox(QStringLiteral("연결이 끊어지면 다시 연결"), redialBox),
                     OptionControl::RedialOnLinkFailure);
    redialGrid->addWidget(m_redial, 2, 0, 1, 3);
    m_blockOutside = named(new QCheckBox(QStringLiteral("터널 밖 통신 차단"), redialBox),
                           OptionControl::BlockOutside);
    m_blockOutside->setToolTip(
        QStringLiteral("로그인 중에는 VPN 터널 밖으로 나가는 통신을 막습니다."));
    redialGrid->addWidget(m_blockOutside, 3, 0, 1, 3);
    redialGrid->setColumnStretch(3, 1);
    layout->addWidget(redialBox);

    auto *startBox = new QGroupBox(QStringLiteral("시작 / 핫키"), this);
    auto *startGrid = new QGridLayout(startBox);
    m_bootStart = named(new QCheckBox(QStringLiteral("윈도우 시작시 프로그램 실행"), startBox),
                        OptionControl::BootStart);
    m_useHotKey = named(new QCheckBox(QStringLiteral("IP변환 핫키 사용"), startBox),
                        OptionControl::UseHotKey);
    m_letter = named(new QComboBox(startBox), OptionControl::HotKeyLetter);
    for (int code = kFirstLetter; code <= kLastLetter; ++code)
        m_letter->addItem(QString::asprintf("%c", code), code);
    startGrid->addWidget(m_bootStart, 0, 0, 1, 3);
    startGrid->addWidget(m_useHotKey, 1, 0);
    startGrid->addWidget(new QLabel(QStringLiteral("Alt키 + "), startBox), 1, 1, Qt::AlignRight);
    startGrid->addWidget(m_letter, 1, 2);
    startGrid->setColumnStretch(0, 1);
    layout->addWidget(startBox);

    auto *toolsBox = new QGroupBox(QStringLiteral("네트워크 점검 도구"), this);
    auto *toolsGrid = new QGridLayout(toolsBox);
    const struct
    {
        int id;
        const char16_t *caption;
        const char16_t *tip;
    } tools[] = {
        {OptionControl::RouterButton, u"공유기접속", u"공유기 관리 페이지를 엽니다."},
        {OptionControl::SettingsFileButton, u"레지스트리", u"프로그램 설정 파일을 편집합니다."},
        {OptionControl::NetworkButton, u"네트워크환경", u"네트워크 설정을 엽니다."},
        {OptionControl::FirewallButton, u"방화벽", u"방화벽 설정을 엽니다."},
        {OptionControl::ServicesButton, u"윈도우서비스", u"시스템 서비스 목록을 엽니다."},
        {OptionControl::TerminalButton, u"CMD콘솔", u"터미널을 엽니다."},
    };
    int slot = 0;
    for (const auto &tool : tools) {
        QPushButton *b = button(toolsBox, tool.id, QString::fromUtf16(tool.caption));
        b->setToolTip(QString::fromUtf16(tool.tip));
        toolsGrid->addWidget(b, slot / 3, slot % 3);
        ++slot;
        const int id = tool.id;
        connect(b, &QPushButton::clicked, this, [this, id] { openTool(id); });
    }
    layout->addWidget(toolsBox);

    auto *buttons = new QHBoxLayout;
    QPushButton *saveButton = button(this, OptionControl::SaveButton, QStringLiteral("저장"));
    QPushButton *cancelButton = button(this, OptionControl::CancelButton, QStringLiteral("취소"));
    saveButton->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(saveButton);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);
    connect(saveButton, &QPushButton::clicked, this, &CManageOption::save);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    // Initial values: the main window's copies.
    const SettingsFields &f = m_host.fields();
    m_attempts->setText(QString::number(f.redialCount));
    m_interval->setText(QString::number(f.redialSeconds));
    m_redial->setChecked(f.redialOnLinkFailure != 0);
    m_bootStart->setChecked(f.bootStart != 0);
    m_blockOutside->setChecked(f.blockOutside != 0);
    m_useHotKey->setChecked(f.useHotKey != 0);
    const bool letter = f.hotKey >= kFirstLetter && f.hotKey <= kLastLetter;
    m_letter->setCurrentIndex(letter ? f.hotKey - kFirstLetter : 0);
}

QWidget *CManageOption::control(int id) const
{
    return findChild<QWidget *>(QString::number(id));
}

int CManageOption::readWholeNumber(QLineEdit *edit, int previous)
{
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok, 10);
    if (ok)
        return value;
    m_host.prompter().show(kNotWholeNumber, QString(), Mb::Ok | Mb::IconExclamation);
    edit->setText(QString::number(previous));
    return previous;
}

void CManageOption::save()
{
    SettingsFields &f = m_host.fields();
    Settings &settings = m_host.settings();

    const int attempts = readWholeNumber(m_attempts, f.redialCount);
    const int interval = readWholeNumber(m_interval, f.redialSeconds);
    if (interval < 1) {
        m_host.prompter().show(QStringLiteral("다시 연결 시도 간격은 1초 이상이어야 합니다."),
                               QString(), Mb::Ok);
        m_interval->setFocus();
        return;
    }

    settings.write(SettingKeys::Option, SettingKeys::RedialCount, attempts);
    settings.write(SettingKeys::Option, SettingKeys::RedialSeconds, interval);
    f.redialCount = attempts;
    f.redialSeconds = interval;
    m_host.resetRedialTick();

    const int redial = m_redial->isChecked() ? 1 : 0;
    settings.write(SettingKeys::Option, SettingKeys::RedialOnLinkFailure, redial);
    f.redialOnLinkFailure = redial;

    // Written only when changed: a file without the key keeps its bytes.
    const int blockOutside = m_blockOutside->isChecked() ? 1 : 0;
    if (blockOutside != f.blockOutside) {
        settings.write(SettingKeys::Option, SettingKeys::BlockOutside, blockOutside);
        f.blockOutside = blockOutside;
        m_host.blockOutsideChanged(blockOutside != 0);
    }

    const int bootStart = m_bootStart->isChecked() ? 1 : 0;
    settings.write(SettingKeys::Option, SettingKeys::BootStart, bootStart);
    f.bootStart = bootStart;
    if (bootStart)
        LogonStart::CreateLogonTask(LogonStart::TaskName, m_host.programPath(),
                                    LogonStart::Argument, LogonStart::Author,
                                    LogonStart::Description);
    else
        LogonStart::DeleteLogonTask(LogonStart::TaskName);

    const int code = m_letter->currentData().toInt();
    settings.write(SettingKeys::Option, SettingKeys::HotKey, code);
    f.hotKey = code;
    const bool useHotKey = m_useHotKey->isChecked();
    settings.write(SettingKeys::Option, SettingKeys::UseHotKey,
                   useHotKey ? QStringLiteral("1") : QStringLiteral("0"));
    f.useHotKey = useHotKey ? 1 : 0;

    GlobalHotKey *hotKey = m_host.hotKey();
    if (useHotKey) {
        if (hotKey)
            hotKey->unregisterKey();
        if (!hotKey || !hotKey->registerAltKey(code))
            m_host.prompter().show(QStringLiteral("핫키 등록 실패!"), QString(), Mb::Ok);
    } else if (hotKey) {
        hotKey->unregisterKey();
    }

    accept();
}

void CManageOption::openTool(int id)
{
    using DesktopTools::Tool;
    Launcher &launcher = m_host.launcher();
    if (id == OptionControl::RouterButton) {
        // Nothing to open without a router.
        const QUrl page = RouterAddress::routerPageUrl(m_host.routerAddress());
        if (page.isValid() && !launcher.openUrl(page))
            m_host.prompter().show(QStringLiteral("웹 브라우저를 열 수 없습니다."), kNoticeCaption,
                                   Mb::Notice);
        return;
    }
    Tool tool;
    switch (id) {
    case OptionControl::SettingsFileButton:
        tool = Tool::SettingsEditor;
        break;
    case OptionControl::NetworkButton:
        tool = Tool::NetworkSettings;
        break;
    case OptionControl::FirewallButton:
        tool = Tool::Firewall;
        break;
    case OptionControl::ServicesButton:
        tool = Tool::Services;
        break;
    case OptionControl::TerminalButton:
        tool = Tool::Terminal;
        break;
    default:
        return;
    }
    if (!DesktopTools::start(launcher, tool, m_host.settings().path()))
        m_host.prompter().show(DesktopTools::notFoundText(tool), kNoticeCaption, Mb::Notice);
}
