#pragma once

#include "signin/signinsequence.h"

#include <QDialog>
#include <QUrl>

class Launcher;
class LineCheck;
class Prompter;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class BoardPanel;
class ServicePages;
class ServiceRequests;

// What the sign-in dialog needs of the main window beyond the sign-in itself.
class LoginHost : public SignInHost
{
public:
    // Timers 1026, 1027 and 1030.
    virtual void stopSignInTimers() = 0;
    // The saved ID and password (with their messages when the file fails).
    virtual void loadSavedCredentials(QString &id, QString &password) = 0;
    // Posts WM_SESSION_NOTIFY with wParam 5: the exit procedure runs.
    virtual void requestExit() = 0;
    virtual void rebuildListColumns() = 0;
    virtual void openOptions() = 0;
};

struct LoginServices
{
    ServiceRequests &requests;
    ServicePages &pages;
    LineCheck &lineCheck;
    Prompter &prompter;
    Launcher &launcher;
    QUrl noticesUrl;
    QUrl faqUrl;
    QString caFile;
};

// "모라솔 - 로그인": ID, password, product and tunnel choice, the notices and
// FAQ panels, and the buttons to the service's pages. Controls carry their
// dialog ids as object names.
class Login : public QDialog
{
    Q_OBJECT
public:
    Login(LoginHost &host, SignInSequence &sequence, LoginServices services,
          QWidget *parent = nullptr);
    ~Login() override;

    // What the last sign-in attempt ended with.
    SignInSequence::Outcome outcome() const { return m_outcome; }

    // Button 1003 and Enter.
    void signIn();
    // Esc and the close box: the quit question.
    void reject() override;

    QTabWidget *tabs() const { return m_tabs; }
    BoardPanel *noticesPanel() const { return m_notices; }
    BoardPanel *faqPanel() const { return m_faq; }

private:
    void setUp();
    void chooseProduct(int index);
    void chooseTunnel(int type);
    void saveToggled(bool checked);
    void checkLine();
    void closePanels();

    LoginHost &m_host;
    SignInSequence &m_sequence;
    LoginServices m_services;
    QLineEdit *m_id = nullptr;
    QLineEdit *m_password = nullptr;
    QCheckBox *m_save = nullptr;
    QComboBox *m_productType = nullptr;
    QComboBox *m_products = nullptr;
    QButtonGroup *m_tunnel = nullptr;
    QTabWidget *m_tabs = nullptr;
    BoardPanel *m_notices = nullptr;
    BoardPanel *m_faq = nullptr;
    SignInSequence::Outcome m_outcome = SignInSequence::Outcome::Stay;
    bool m_setUp = false;
};
