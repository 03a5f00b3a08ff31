#pragma once

#include <QDialog>
#include <QString>

class GlobalHotKey;
class Launcher;
class Prompter;
class QCheckBox;
class QComboBox;
class QLineEdit;
class Settings;
struct SettingsFields;

// What the options dialog reaches of the main window. The main window's
// wiring implements it; tests implement it with fakes.
class OptionsHost
{
public:
    virtual ~OptionsHost() = default;
    // The main window's copies of the settings, changed on saving.
    virtual SettingsFields &fields() = 0;
    // The settings file; saving writes into its [Option] section.
    virtual Settings &settings() = 0;
    // The redial countdown counts from 0 again.
    virtual void resetRedialTick() = 0;
    // The main window's switching hot key (null when there is none).
    virtual GlobalHotKey *hotKey() = 0;
    virtual Prompter &prompter() = 0;
    virtual Launcher &launcher() = 0;
    // The router's address (empty when none is found).
    virtual QString routerAddress() = 0;
    // The program the logon task starts.
    virtual QString programPath() = 0;
    // "No traffic outside the tunnel" was switched: off removes the block at
    // once, on installs it with the next tunnel up.
    virtual void blockOutsideChanged(bool on) { Q_UNUSED(on); }
};

// Control ids of the options dialog.
namespace OptionControl {
constexpr int DialogId = 133;
constexpr int RedialCount = 1041;
constexpr int RedialSeconds = 1005;
constexpr int RedialOnLinkFailure = 1006;
constexpr int BootStart = 1007;
constexpr int UseHotKey = 1091;
constexpr int HotKeyLetter = 1092;
constexpr int RouterButton = 1093;
constexpr int SettingsFileButton = 1094;
constexpr int NetworkButton = 1095;
constexpr int FirewallButton = 1096;
constexpr int ServicesButton = 1097;
constexpr int TerminalButton = 1098;
constexpr int BlockOutside = 1099;
constexpr int SaveButton = 1008;
constexpr int CancelButton = 2;
} // namespace OptionControl

// "옵션 설정": the redial options, no traffic outside the tunnel, start at
// logon, the switching hot key, and
// six buttons that open the desktop's tools for network troubleshooting.
// Run modally; saving writes the settings file and the main window's copies
// together so the new values take effect at once.
class CManageOption : public QDialog
{
    Q_OBJECT
public:
    explicit CManageOption(OptionsHost &host, QWidget *parent = nullptr);

    // A control by its id.
    QWidget *control(int id) const;

    // Button 1008.
    void save();
    // Buttons 1093 to 1098.
    void openTool(int id);

    // The text of a whole-number field that does not hold one.
    static const QString kNotWholeNumber;

private:
    // The field's whole number; a field without one is reported, shows its
    // previous value again and keeps it.
    int readWholeNumber(QLineEdit *edit, int previous);

    OptionsHost &m_host;
    QLineEdit *m_attempts = nullptr;
    QLineEdit *m_interval = nullptr;
    QCheckBox *m_redial = nullptr;
    QCheckBox *m_bootStart = nullptr;
    QCheckBox *m_blockOutside = nullptr;
    QCheckBox *m_useHotKey = nullptr;
    QComboBox *m_letter = nullptr;
};
