#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

class LastSignatureView;
class OutboxDialog;
class OperatorStatusBar;
class QAction;
class QListView;
class QMenu;
class QMessageBox;
class QSystemTrayIcon;
class ScrivoraService;
class StatusListModel;

/**
 * Scrivora's main window: the status list, the last saved signature beside it, the status
 * bar, the operator's menus and the tray icon. It holds no state of the service; it shows
 * the service and hands the operator's commands to it. Closing it shuts the program down;
 * minimising it hides it behind the tray icon.
 */
class frmMain : public QMainWindow
{
    Q_OBJECT

public:
    /// Shows @p service; @p statusLines holds the status list from the program's first line.
    frmMain(ScrivoraService &service, StatusListModel &statusLines, QWidget *parent = nullptr);
    ~frmMain() override;

    /// Start-up's last steps: the tray icon, then the window hides behind it (it stays
    /// shown where there is no notification area, so it can always be reached).
    void showInTray();
    /// Shut-down's step: the tray icon goes.
    void removeTrayIcon();
    /// The window the Show pad commands bring back; none (the commands are hidden) for a
    /// pad without a window.
    void setPadWindow(QWidget *padWindow);
    /// Shows "Outbox: N waiting" in the status bar; a negative @p count hides the field.
    void setOutboxCount(int count);

    /// Every line of the status list, oldest first.
    QStringList statusLines() const;
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    /// The tray icon's menu: Show Scrivora, Show pad, About, Quit.
    QMenu *trayMenu() const { return m_trayMenu; }
    LastSignatureView *lastSignature() const { return m_lastSignature; }

    /// The left click on the tray icon: the window comes back in its normal state.
    void onTrayActivated(int reason);
    /// The pad window comes back, raised, in its normal state.
    void showPadWindow();
    /// The About box; it never waits for the operator, so the service runs on meanwhile.
    void showAbout();
    /// Version, settings file, pad driver, listening address, Qt version and licence.
    QString aboutText() const;

signals:
    /// The operator closed the window or chose Exit: the program must shut down.
    void shutDownRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    /// True when a tray icon stands in a notification area, to bring a hidden window back.
    bool canHideToTray() const;
    void buildMenus();
    void buildPadFormsMenu();
    void buildHelpMenus();
    void buildTrayMenu();
    /// File › Upload outbox, the outbox count in the status bar and the tray's notice when
    /// uploads start failing.
    void followOutbox(QMenu *file, QAction *before);
    void showOutbox();
    QAction *addCommand(QMenu *menu, const char *name, const QString &caption);

    ScrivoraService &m_service;
    StatusListModel &m_statusModel;
    QListView *m_listStatus = nullptr;
    LastSignatureView *m_lastSignature = nullptr;
    OperatorStatusBar *m_statusBar = nullptr;
    QMenu *m_padForms = nullptr;
    QAction *m_connect = nullptr;
    QAction *m_disconnect = nullptr;
    QAction *m_showPad = nullptr;
    QAction *m_trayShowPad = nullptr;
    QMenu *m_trayMenu = nullptr;
    QPointer<QMessageBox> m_about;
    QPointer<OutboxDialog> m_outboxDialog;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QPointer<QWidget> m_padWindow;
    bool m_closing = false;
};
