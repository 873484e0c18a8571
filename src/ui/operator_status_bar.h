#pragma once

#include <QStatusBar>
#include <QString>
#include <QTimer>

class QLabel;
class ScrivoraService;

/**
 * The window's status bar: where hosts reach Scrivora, how many are connected, which pad
 * driver is in use and whether its port is open, and the open job. It follows the service's
 * signals; host connections and jobs, which may change thousands of times a second, are
 * shown at most ten times a second, so a busy host link never waits for the window to paint.
 * Nothing polls while nothing changes. It shows nothing a card or its holder gives away (no tracks,
 * PIN, name or account): only the job's id, type and total.
 */
class OperatorStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    explicit OperatorStatusBar(ScrivoraService &service, QWidget *parent = nullptr);

    /// Shows "Outbox: N waiting"; a negative @p count hides the field.
    void setOutboxCount(int count);

private:
    QLabel *addField(const char *name, const QString &toolTip, int stretch = 0);
    void showConnections(int count);
    void showPad(bool open);
    void showJob();
    /// The live fields are redrawn once the current burst of changes has had its moment.
    void refreshSoon();
    void refreshLive();

    ScrivoraService &m_service;
    QLabel *m_listening = nullptr;
    QLabel *m_hosts = nullptr;
    QLabel *m_pad = nullptr;
    QLabel *m_job = nullptr;
    QLabel *m_outbox = nullptr;
    QTimer m_refresh;
};
