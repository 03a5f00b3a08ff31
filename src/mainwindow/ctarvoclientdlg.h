#pragma once

#include "widgets/cwndresizer.h"

#include <QDialog>
#include <QPixmap>
#include <QPointer>

class CListCtrlEx;
class CPictureButton;
class MainController;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QSystemTrayIcon;

// The main window (template 102): renders the controller's state and
// forwards the user's commands to it. Every control carries its dialog id
// as its object name, which the resizer and the tests use.
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

    CListCtrlEx *ipList() const { return m_list; }
    CPictureButton *pictureButton(int id) const;
    QWidget *control(int id) const;
    CWndResizer &resizer() { return m_resizer; }

    // The memo panel (another window) sits beside the list while it is shown
    // and follows every move and resize of the main window.
    void attachMemoPanel(QWidget *panel);
    QRect memoPanelGeometry() const;

    static QIcon trayIconFor(bool tunnelUp);
    static QIcon iconResource(int id);

    // The static controls' background: COLORREF 0x0FC4F1.
    static constexpr quint32 kStaticColor = 0x0FC4F1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void setUpResizer();
    void updateTray();
    void onTrayActivated(int reason);
    void onTrayShown(bool shown);
    void onControlEnabled(int id, bool enabled);
    void placeMemoPanel();

    MainController &m_controller;
    QPixmap m_background;
    CWndResizer m_resizer;
    CListCtrlEx *m_list = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_address = nullptr;
    QLabel *m_elapsed = nullptr;
    QCheckBox *m_autoChange = nullptr;
    QPointer<QWidget> m_memoPanel;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_changeAction = nullptr;
    QAction *m_logoutAction = nullptr;
    QAction *m_exitAction = nullptr;
};
