#pragma once

#include <QDialog>

class MainController;
class QLabel;
class QMenu;
class QSystemTrayIcon;

// The main window: renders the controller's state and forwards the user's
// commands to it. Controls carry their dialog ids as object names.
class CTarvoClientDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CTarvoClientDlg(MainController &controller, QWidget *parent = nullptr);
    ~CTarvoClientDlg() override;

    QSystemTrayIcon *trayIcon() const { return m_tray; }
    QMenu *trayMenu() const { return m_trayMenu; }
    // Fills the tray menu's enabled states as a right click would.
    void prepareTrayMenu();

    static QIcon trayIconFor(bool tunnelUp);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void updateTray();
    void onTrayActivated(int reason);
    void onTrayShown(bool shown);

    MainController &m_controller;
    QLabel *m_status = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_changeAction = nullptr;
    QAction *m_logoutAction = nullptr;
    QAction *m_exitAction = nullptr;
};
