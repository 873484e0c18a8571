#pragma once

#include "hostlink/reply_line.h"
#include "pad/pad_driver.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class FtpClient;
class HostListener;
class OperatorDialogs;

class QAction;
class QListWidget;
class QMenu;
class QSystemTrayIcon;
class QTcpSocket;

/// What a test hands the main window in place of the real surroundings.
struct frmMainSeams
{
    OperatorDialogs *dialogs = nullptr;   ///< not owned; null means the real dialogs
    std::unique_ptr<PadDriver> padDevice; ///< null means the driver named in vantrel.ini
    QString appDir;                       ///< empty means the executable's directory
    int pollIntervalMs = 1000;            ///< the pause of one poll cycle
    int ftpPort = 21;                     ///< the FTP server's port
};

/**
 * Scrivora's one main window. It holds the whole state of the service: the settings it
 * started with, the host connections, the open transaction and the operator's menus.
 * Its methods are defined in the folder of their subsystem.
 */
class frmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit frmMain(frmMainSeams seams = {}, QWidget *parent = nullptr);
    ~frmMain() override;

    // --- Fields (all start empty, zero or false) ---
    bool debugMode = false;
    bool debugModeOnly = false;
    qint16 socketCT = 0;
    QString localPort;
    QString statusMsg;
    QString lastRequestID;
    QString transID;
    QString transType;
    QString sigFileExt;
    QString iniFile;
    QString custName;
    QString custAcct;
    QString transTotal;
    QSystemTrayIcon *trayIcon = nullptr;

    // --- Application shell (src/app) ---
    void onWindowLoad();
    void shutDown();
    /// Non-zero when start-up could not serve the host and the program must end.
    int exitStatus() const { return m_exitStatus; }
    void readDebugSettings();
    void output_debug(const QString &msg);
    /// Appends a line to the status list whatever the debug mode.
    void appendStatusLine(const QString &line);
    /// Shows the operator a message box (title "Scrivora", OK only).
    void showMessage(const QString &text);
    void onConnect();
    void onDisconnect();
    void onExit();
    void onScriptLoad();
    void onStringTrim();
    void onTrayActivated(int reason);
    QListWidget *listStatus = nullptr;
    QMenu *mnuFile = nullptr;
    QAction *mnuConnect = nullptr;
    QAction *mnuDisconnect = nullptr;
    QAction *mnuFileSeperator1 = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuScript = nullptr;
    QAction *mnuScriptLoad = nullptr;
    QMenu *mnuPadForms = nullptr;
    QAction *mnuPadFormsWelcome = nullptr;
    QAction *mnuPadFormsSignature = nullptr;
    QAction *mnuPadFormsCardSwipe = nullptr;
    QAction *mnuPadFormsWait = nullptr;
    QAction *mnuPadFormsThanks = nullptr;
    QAction *mnuPadFormsDisconnect = nullptr;
    QAction *mnuPadFormsPinPad = nullptr;
    QAction *mnuPadFormsAccount = nullptr;
    QAction *mnuStringTrim = nullptr;

    // --- Host link (src/hostlink) ---
    /// Start-up step: listen on localPort. False (after telling the operator why) when it cannot.
    bool startListening();
    void onConnectionRequest(qint16 slot, qintptr requestId);
    void onConnectionClosed(qint16 slot);
    void onRequestData(qint16 slot);
    QString strRemoveNonPrintableChars(QString str);
    QString format_xml(const QString &data, QString &tag);
    void return_xml(QString &data, QString &tag, QString &additionalXML);
    /// Slot 0: the listening socket.
    HostListener *listenSocket = nullptr;
    /// Slots 1 and up: accepted host connections.
    std::map<qint16, QPointer<QTcpSocket>> socket;

    // --- Pad control (src/pad) ---
    void showPadForm(const QString &formName);
    void scrivora_setVar_total(const QString &total);
    void scrivora_setVar_account(const QString &account);
    void scrivora_setVar_fullname(const QString &name);
    void scrivora_setVar_tracks();
    void scrivora_setVar_sigcomp();
    void scrivora_clear_padvars();
    void scrivora_new_transaction();
    void getCardSwipe();
    void getSignature(bool &doFtp);
    void getPinFromPad();
    QString pinPadFormatString(QString &pin, bool &remove710);
    /// One poll cycle's pause: the event loop keeps running for the poll interval, then
    /// all pending events are handled. Throws PadError once shut-down has begun.
    void pollPause();
    /**
     * The capture's wait: up to 59 poll cycles, each a pollPause() followed by @p pollOnce.
     * True as soon as @p pollOnce reports a captured value; on the 60th cycle logs
     * @p timeoutLine, shows "padWelcome" and returns false.
     */
    bool pollPadUntil(const QString &timeoutLine, const std::function<bool()> &pollOnce);
    /// Start-up step: create the pad driver (the seam's, or the one vantrel.ini names).
    void createPadDevice();
    PadDriver *padDevice() const { return m_padDevice.get(); }

    // --- Signature delivery (src/delivery) ---
    void scrivora_signature_save(QString &data);
    void scrivora_signature_ftp(bool &doFtp);
    /// The application directory, "/", transID and sigFileExt.
    QString signatureFilePath() const;
    FtpClient *inet = nullptr;

    // --- Seams ---
    QString appDir() const { return m_appDir; }
    int pollIntervalMs() const { return m_pollIntervalMs; }
    int ftpPort() const { return m_ftpPort; }
    OperatorDialogs *dialogs() const { return m_dialogs; }

signals:
    /// Shut-down has run; the program ends with @p exitStatus.
    void finished(int exitStatus);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildMenus();

    std::unique_ptr<OperatorDialogs> m_ownDialogs;
    OperatorDialogs *m_dialogs = nullptr;
    std::unique_ptr<PadDriver> m_padDevice;
    QString m_appDir;
    int m_pollIntervalMs = 1000;
    int m_ftpPort = 21;
    int m_exitStatus = 0;
    bool m_shuttingDown = false;
    /// The connection whose request is being handled; a reply falls back to it when the
    /// reply slot is gone.
    AnsweringConnection m_answering;

    // Subsystem-private state: each helper adds below its own marker only.
    // [app]
    void addTrayIcon();
    void removeTrayIcon();
    void closeEveryConnection();
    bool m_windowClosing = false;
    bool m_finishedEmitted = false;
    // [hostlink]
    QTcpSocket *replySocket() const;
    // [pad]
    QPointer<QWidget> m_virtualPadWindow;
    // [delivery]
};
