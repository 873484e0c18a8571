#pragma once

#include "pad/pad_driver.h"
#include "ui/frm_main.h"
#include "ui/status_list_model.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class OperatorDialogs;
class PollPause;
class ScrivoraService;
class WidgetDialogs;

/// What a test hands the program in place of its real surroundings.
struct AppSeams
{
    OperatorDialogs *dialogs = nullptr;   ///< not owned; null means the real dialogs
    std::unique_ptr<PadDriver> padDevice; ///< null means the driver that vantrel.ini names
    QString appDir;                       ///< empty means the executable's directory
    PollPause *pause = nullptr;           ///< null means real one-second poll cycles
    int ftpPort = 21;
};

/**
 * The composition root: creates the settings, the pad driver, the service and the windows
 * in start-up order, wires them, and runs shut-down in order, whatever asked for it (the
 * window's close box, Exit, a termination signal).
 */
class ScrivoraApp : public QObject
{
    Q_OBJECT

public:
    explicit ScrivoraApp(AppSeams seams = {}, QObject *parent = nullptr);
    ~ScrivoraApp() override;

    /**
     * Runs start-up. False when the program cannot serve the host; shut-down has then run
     * already and finished() has been emitted with a non-zero status.
     */
    bool start();
    /// Disconnects the pad, removes the tray icon, closes the window and every connection.
    void shutDown();

    ScrivoraService *service() const { return m_service.get(); }
    frmMain *window() const { return m_window; }
    PadDriver *padDevice() const { return m_padDevice.get(); }
    QWidget *padWindow() const { return m_padWindow; }
    /**
     * The line that tells a technician the program is ready: version, the address and port
     * it listens on, the pad driver (with its device for a serial pad) and the settings file.
     */
    QString readyLine() const;

signals:
    /// Shut-down has run; the program ends with @p exitStatus.
    void finished(int exitStatus);

private:
    void createPadWindow();

    AppSeams m_seams;
    std::unique_ptr<WidgetDialogs> m_ownDialogs;
    OperatorDialogs *m_dialogs = nullptr;
    QString m_appDir;
    QString m_iniFile;
    std::unique_ptr<PadDriver> m_padDevice;
    std::unique_ptr<ScrivoraService> m_service;
    StatusListModel m_statusLines;
    QPointer<frmMain> m_window;
    QPointer<QWidget> m_padWindow;
    int m_exitStatus = 0;
    bool m_shutDown = false;
};
