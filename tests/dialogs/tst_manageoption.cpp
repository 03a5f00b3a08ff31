// The tables below are written with plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "core/settings.h"
#include "dialogs/cmanageoption.h"
#include "platform/hotkey.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "support/testhome.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QStringList kKeys = {
    SettingKeys::RedialCount, SettingKeys::RedialSeconds, SettingKeys::RedialOnLinkFailure,
    SettingKeys::BootStart,   SettingKeys::HotKey,        SettingKeys::UseHotKey};

struct Host : OptionsHost
{
    TestHome home;
    Settings settingsFile {home.file(QStringLiteral("KVOClientSetup.ini"))};
    SettingsFields f;
    ManualGlobalHotKey key;
    ScriptedPrompter prompts;
    RecordingLauncher launch;
    QString router;
    int tickResets = 0;
    QList<bool> blockChanges;

    SettingsFields &fields() override { return f; }
    Settings &settings() override { return settingsFile; }
    void resetRedialTick() override { ++tickResets; }
    GlobalHotKey *hotKey() override { return &key; }
    Prompter &prompter() override { return prompts; }
    Launcher &launcher() override { return launch; }
    QString routerAddress() override { return router; }
    QString programPath() override { return QStringLiteral("/opt/KVO/KVOClient"); }
    void blockOutsideChanged(bool on) override { blockChanges.append(on); }

    // The [Option] values in the file, "-" for a missing one.
    QString savedOptions() const
    {
        QStringList out;
        for (const QString &k : kKeys)
            out.append(k + QLatin1Char('=') +
                       settingsFile.readString(SettingKeys::Option, k, QStringLiteral("-")));
        return out.join(QLatin1Char(','));
    }
    QString copies() const
    {
        return QStringLiteral("%1,%2,%3,%4,%5,%6")
            .arg(f.redialCount)
            .arg(f.redialSeconds)
            .arg(f.redialOnLinkFailure)
            .arg(f.bootStart)
            .arg(f.hotKey)
            .arg(f.useHotKey);
    }
    // Each box as "flags|caption|text".
    QStringList boxes() const
    {
        QStringList out;
        for (const ScriptedPrompter::Box &b : prompts.boxes())
            out.append(QStringLiteral("0x%1|%2|%3")
                           .arg(b.flags, 4, 16, QLatin1Char('0'))
                           .arg(b.caption, b.text));
        return out;
    }
};

template<typename W>
W *get(const CManageOption &d, int id)
{
    auto *w = qobject_cast<W *>(d.control(id));
    if (!w)
        qFatal("control %d is missing", id);
    return w;
}

void click(const CManageOption &d, int id)
{
    QTest::mouseClick(get<QPushButton>(d, id), Qt::LeftButton);
}

} // namespace

class TstManageOption : public QObject
{
    Q_OBJECT

    QTemporaryDir m_xdg;
    QString taskFile() const
    {
        return m_xdg.filePath(QStringLiteral("autostart/Kvo_Logon_Start.desktop"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", m_xdg.path().toUtf8());
        qputenv("XDG_CONFIG_DIRS", m_xdg.filePath(QStringLiteral("etc")).toUtf8());
    }
    void cleanup() { QFile::remove(taskFile()); }

    void initialValues_data()
    {
        QTest::addColumn<QList<int>>("fields"); // count, seconds, redial, boot, use, key
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("all on, P")
            << QList<int> {3, 10, 1, 1, 1, 'P'} << QStringList {"3", "10", "1", "1", "1", "P"};
        QTest::newRow("flags other than 1 count as on, Z")
            << QList<int> {-1, 0, 2, 0, 0, 'Z'} << QStringList {"-1", "0", "1", "0", "0", "Z"};
        QTest::newRow("a key that is no letter shows A")
            << QList<int> {0, 5, 0, 7, 0, 200} << QStringList {"0", "5", "0", "1", "0", "A"};
        QTest::newRow("a digit shows A")
            << QList<int> {0, 5, 0, 0, 1, '7'} << QStringList {"0", "5", "0", "0", "1", "A"};
    }
    void initialValues()
    {
        QFETCH(QList<int>, fields);
        QFETCH(QStringList, shown);
        Host host;
        host.f.redialCount = fields[0];
        host.f.redialSeconds = fields[1];
        host.f.redialOnLinkFailure = fields[2];
        host.f.bootStart = fields[3];
        host.f.useHotKey = fields[4];
        host.f.hotKey = fields[5];
        CManageOption d(host);
        QCOMPARE(d.windowTitle(), QStringLiteral("옵션 설정"));
        const QStringList actual {
            get<QLineEdit>(d, OptionControl::RedialCount)->text(),
            get<QLineEdit>(d, OptionControl::RedialSeconds)->text(),
            get<QCheckBox>(d, OptionControl::RedialOnLinkFailure)->isChecked() ? "1" : "0",
            get<QCheckBox>(d, OptionControl::BootStart)->isChecked() ? "1" : "0",
            get<QCheckBox>(d, OptionControl::UseHotKey)->isChecked() ? "1" : "0",
            get<QComboBox>(d, OptionControl::HotKeyLetter)->currentText()};
        QCOMPARE(actual, shown);
        auto *letters = get<QComboBox>(d, OptionControl::HotKeyLetter);
        QCOMPARE(letters->count(), 26);
        QCOMPARE(letters->itemText(25), QStringLiteral("Z"));
    }

    void save_data()
    {
        QTest::addColumn<QString>("attempts");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("checks"); // redial, boot, hot key as "101"
        QTest::addColumn<QString>("letter");
        QTest::addColumn<bool>("taskBefore");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("copies");
        QTest::addColumn<bool>("taskAfter");
        QTest::addColumn<int>("registeredKey");

        const QString nothing = QStringLiteral("RedialCount=-,RedialSeconds=-,"
                                               "RedialOnLinkFailure=-,BootStart=-,HotKey=-,"
                                               "UseHotKey=-");
        const QString before = QStringLiteral("3,10,0,0,80,0");
        const QString interval =
            QStringLiteral("0x0000|KVOClient|다시 연결 시도 간격은 1초 이상이어야 합니다.");
        const QString notNumber = QStringLiteral("0x0030|KVOClient|정수를 입력하십시오.");

        QTest::newRow("everything on") << " 5"
                                       << "30 "
                                       << "111"
                                       << "K" << false << true << QStringList {}
                                       << "RedialCount=5,RedialSeconds=30,RedialOnLinkFailure=1,"
                                          "BootStart=1,HotKey=75,UseHotKey=1"
                                       << "5,30,1,1,75,1" << true << int('K');
        QTest::newRow("interval 0 keeps the dialog open and saves nothing")
            << "5"
            << "0"
            << "111"
            << "K" << false << false << QStringList {interval} << nothing << before << false << 0;
        QTest::newRow("interval 1 and attempts 0 are accepted; the task goes")
            << "0"
            << "1"
            << "000"
            << "B" << true << true << QStringList {}
            << "RedialCount=0,RedialSeconds=1,RedialOnLinkFailure=0,BootStart=0,HotKey=66,"
               "UseHotKey=0"
            << "0,1,0,0,66,0" << false << 0;
        QTest::newRow("fields without a whole number keep their old values")
            << "abc"
            << "2.5"
            << "100"
            << "P" << false << true << QStringList {notNumber, notNumber}
            << "RedialCount=3,RedialSeconds=10,RedialOnLinkFailure=1,BootStart=0,HotKey=80,"
               "UseHotKey=0"
            << "3,10,1,0,80,0" << false << 0;
        QTest::newRow("an empty interval falls back to the old one")
            << "-2"
            << ""
            << "000"
            << "P" << false << true << QStringList {notNumber}
            << "RedialCount=-2,"
               "RedialSeconds=10,"
               "RedialOnLinkFailure=0,"
               "BootStart=0,HotKey=80,"
               "UseHotKey=0"
            << "-2,10,0,0,80,0" << false << 0;
        QTest::newRow("a taken hot key is reported and the settings stay saved")
            << "3"
            << "10"
            << "001"
            << "Q" << false << true
            << QStringList {QStringLiteral("0x0000|KVOClient|핫키 등록 실패!")}
            << "RedialCount=3,RedialSeconds=10,RedialOnLinkFailure=0,BootStart=0,HotKey=81,"
               "UseHotKey=1"
            << "3,10,0,0,81,1" << false << 0;
    }
    void save()
    {
        QFETCH(QString, attempts);
        QFETCH(QString, interval);
        QFETCH(QString, checks);
        QFETCH(QString, letter);
        QFETCH(bool, taskBefore);
        QFETCH(bool, accepted);
        QFETCH(QStringList, boxes);
        QFETCH(QString, saved);
        QFETCH(QString, copies);
        QFETCH(bool, taskAfter);
        QFETCH(int, registeredKey);

        Host host;
        host.f.redialCount = 3;
        host.f.redialSeconds = 10;
        host.f.hotKey = 'P';
        host.key.setTaken('Q');
        host.key.registerAltKey('P'); // held before; saving gives it up first
        if (taskBefore) {
            QDir().mkpath(QFileInfo(taskFile()).path());
            QFile f(taskFile());
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        CManageOption d(host);
        d.show();
        get<QLineEdit>(d, OptionControl::RedialCount)->setText(attempts);
        get<QLineEdit>(d, OptionControl::RedialSeconds)->setText(interval);
        const int boxIds[] = {OptionControl::RedialOnLinkFailure, OptionControl::BootStart,
                              OptionControl::UseHotKey};
        for (int i = 0; i < 3; ++i) {
            auto *box = get<QCheckBox>(d, boxIds[i]);
            if (box->isChecked() != (checks[i] == QLatin1Char('1')))
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            QCOMPARE(box->isChecked(), checks[i] == QLatin1Char('1'));
        }
        auto *letters = get<QComboBox>(d, OptionControl::HotKeyLetter);
        letters->setCurrentIndex(letters->findText(letter));

        click(d, OptionControl::SaveButton);

        QCOMPARE(host.boxes(), boxes);
        QCOMPARE(d.isVisible(), !accepted);
        QCOMPARE(d.result(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(host.savedOptions(), saved);
        QCOMPARE(host.copies(), copies);
        QCOMPARE(host.tickResets, accepted ? 1 : 0);
        QCOMPARE(QFile::exists(taskFile()), taskAfter);
        if (accepted)
            QCOMPARE(host.key.registeredKey(), registeredKey);
        else
            QCOMPARE(host.key.registeredKey(), int('P'));
        if (taskAfter) {
            QFile f(taskFile());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY(f.readAll().contains("\nExec=/opt/KVO/KVOClient boot\n"));
        }
        // The bad fields show the values that were kept.
        if (boxes.contains(QStringLiteral("0x0030|KVOClient|정수를 입력하십시오.")))
            QCOMPARE(get<QLineEdit>(d, OptionControl::RedialSeconds)->text(), QStringLiteral("10"));
    }

    // The check box shows [Option] BlockOutside; saving writes the key only
    // when the box changed (a file without it keeps its bytes) and tells the
    // main window at once.
    void blockOutsideIsWrittenOnlyWhenChanged()
    {
        const struct
        {
            int before;
            bool click;
            QString saved;
            int copy;
            QList<bool> changes;
        } rows[] = {
            {0, false, QStringLiteral("-"), 0, {}},
            {0, true, QStringLiteral("1"), 1, {true}},
            {1, false, QStringLiteral("-"), 1, {}},
            {1, true, QStringLiteral("0"), 0, {false}},
        };
        for (const auto &r : rows) {
            Host host;
            host.f.redialSeconds = 10;
            host.f.blockOutside = r.before;
            CManageOption d(host);
            d.show();
            auto *box = get<QCheckBox>(d, OptionControl::BlockOutside);
            QCOMPARE(box->text(), QStringLiteral("터널 밖 통신 차단"));
            QCOMPARE(box->isChecked(), r.before != 0);
            if (r.click)
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            click(d, OptionControl::SaveButton);
            QCOMPARE(host.settingsFile.readString(SettingKeys::Option, SettingKeys::BlockOutside,
                                                  QStringLiteral("-")),
                     r.saved);
            QCOMPARE(host.f.blockOutside, r.copy);
            QCOMPARE(host.blockChanges, r.changes);
        }
    }

    void cancelChangesNothing()
    {
        Host host;
        host.f.redialCount = 3;
        host.f.redialSeconds = 10;
        host.f.hotKey = 'P';
        CManageOption d(host);
        d.show();
        get<QLineEdit>(d, OptionControl::RedialCount)->setText(QStringLiteral("9"));
        get<QCheckBox>(d, OptionControl::BootStart)->setChecked(true);
        get<QCheckBox>(d, OptionControl::UseHotKey)->setChecked(true);
        click(d, OptionControl::CancelButton);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(!QFile::exists(host.settingsFile.path()));
        QCOMPARE(host.copies(), QStringLiteral("3,10,0,0,80,0"));
        QVERIFY(!QFile::exists(taskFile()));
        QVERIFY(!host.key.isRegistered());
        QVERIFY(host.prompts.boxes().isEmpty());
    }

    void tools_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("router");
        QTest::addColumn<QStringList>("started");
        QTest::addColumn<QStringList>("boxes");

        const QStringList none;
        auto notice = [](const char *text) {
            return QStringList {QStringLiteral("0x1030|안내메세지|") + QString::fromUtf8(text)};
        };
        QTest::newRow("router page") << OptionControl::RouterButton << none << "192.168.0.1"
                                     << QStringList {"url:http://192.168.0.1"} << none;
        QTest::newRow("link-local IPv6 router")
            << OptionControl::RouterButton << none << "fe80::1%eth0"
            << QStringList {"url:http://[fe80::1%25eth0]"} << none;
        QTest::newRow("no router opens nothing")
            << OptionControl::RouterButton << none << "" << none << none;
        QTest::newRow("settings file through the desktop")
            << OptionControl::SettingsFileButton << QStringList {"gedit", "xdg-open"} << ""
            << QStringList {"run:/usr/bin/xdg-open $HOME/KVOClientSetup.ini"} << none;
        QTest::newRow("settings file in an editor")
            << OptionControl::SettingsFileButton << QStringList {"kate"} << ""
            << QStringList {"run:/usr/bin/kate $HOME/KVOClientSetup.ini"} << none;
        QTest::newRow("no editor") << OptionControl::SettingsFileButton << none << "" << none
                                   << notice("설정 파일을 열 편집기를 찾을 수 없습니다.");
        QTest::newRow("network settings of the desktop")
            << OptionControl::NetworkButton
            << QStringList {"xterm", "nmtui", "nm-connection-editor", "systemsettings"} << ""
            << QStringList {"run:/usr/bin/systemsettings kcm_networkmanagement"} << none;
        QTest::newRow("network settings in a terminal")
            << OptionControl::NetworkButton << QStringList {"xterm", "nmtui"} << ""
            << QStringList {"run:/usr/bin/xterm -e nmtui"} << none;
        QTest::newRow("a terminal without nmtui is no network tool")
            << OptionControl::NetworkButton << QStringList {"xterm"} << "" << none
            << notice("네트워크 설정 프로그램을 찾을 수 없습니다.");
        QTest::newRow("firewall") << OptionControl::FirewallButton
                                  << QStringList {"gufw", "systemsettings"} << ""
                                  << QStringList {"run:/usr/bin/gufw "} << none;
        QTest::newRow("no firewall tool") << OptionControl::FirewallButton << none << "" << none
                                          << notice("방화벽 설정 프로그램을 찾을 수 없습니다.");
        QTest::newRow("services in a terminal")
            << OptionControl::ServicesButton << QStringList {"konsole", "systemctl"} << ""
            << QStringList {"run:/usr/bin/konsole -e systemctl list-units --type=service"} << none;
        QTest::newRow("no services tool")
            << OptionControl::ServicesButton << QStringList {"konsole"} << "" << none
            << notice("서비스 관리 프로그램을 찾을 수 없습니다.");
        QTest::newRow("the desktop's terminal first")
            << OptionControl::TerminalButton << QStringList {"xterm", "x-terminal-emulator"} << ""
            << QStringList {"run:/usr/bin/x-terminal-emulator "} << none;
        QTest::newRow("no terminal") << OptionControl::TerminalButton << none << "" << none
                                     << notice("터미널 프로그램을 찾을 수 없습니다.");
    }
    void tools()
    {
        QFETCH(int, button);
        QFETCH(QStringList, installed);
        QFETCH(QString, router);
        QFETCH(QStringList, started);
        QFETCH(QStringList, boxes);
        Host host;
        host.launch.installed = installed;
        host.router = router;
        CManageOption d(host);
        d.show();
        click(d, button);
        QStringList calls = host.launch.calls;
        calls.replaceInStrings(host.home.path(), QStringLiteral("$HOME"));
        QCOMPARE(calls, started);
        QCOMPARE(host.boxes(), boxes);
        QVERIFY(d.isVisible()); // the dialog stays open
        QVERIFY(!QFile::exists(host.settingsFile.path()));
    }

    void screenshot()
    {
        Host host;
        host.f.redialCount = 3;
        host.f.redialSeconds = 10;
        host.f.redialOnLinkFailure = 1;
        host.f.useHotKey = 1;
        host.f.hotKey = 'P';
        CManageOption d(host);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QString path = QStringLiteral(KVO_SCREENSHOT_PATH);
        QDir().mkpath(QFileInfo(path).path());
        QVERIFY(d.grab().toImage().save(path, "PNG"));
        qInfo("options dialog screenshot: %s", qPrintable(path));
    }
};

QTEST_MAIN(TstManageOption)
#include "tst_manageoption.moc"
