#pragma once

#include "hostlink/operator_sink.h"
#include "service/standard_error_mirror.h"

#include <QObject>
#include <QString>

class OperatorDialogs;
struct Settings;

/**
 * The operator's view of the service: the status list's lines, the two debug modes, the
 * last status message and the message boxes. Every line and every message box text is also
 * written to standard error, one line each, so that a run without a screen can be followed;
 * a reader of standard error that falls behind never holds the service up.
 * The window shows the lines as lineAdded() announces them; nothing is kept here.
 */
class OperatorLog : public QObject, public OperatorSink
{
    Q_OBJECT

public:
    explicit OperatorLog(OperatorDialogs &dialogs, QObject *parent = nullptr);

    /**
     * Takes the debug modes read at start-up: a message box for each that could not be
     * read (debugMode first), then the first status line "form_debug: debugMode=[...]".
     */
    void readDebugSettings(const Settings &settings);

    bool isDebugMode() const override { return m_debugMode; }
    bool isDebugModeOnly() const override { return m_debugModeOnly; }
    void output_debug(const QString &msg) override;
    void appendStatusLine(const QString &line) override;
    void setStatusMsg(const QString &text) override { m_statusMsg = text; }
    QString statusMsg() const override { return m_statusMsg; }

    /// A modal message box (title "Scrivora", OK only); the text also goes to standard error.
    void showMessage(const QString &text);

signals:
    /// @p line was appended to the status list.
    void lineAdded(const QString &line);

private:
    void echoToStandardError(const QString &line);

    OperatorDialogs &m_dialogs;
    StandardErrorMirror m_standardError;
    bool m_debugMode = false;
    bool m_debugModeOnly = false;
    QString m_statusMsg;
};
