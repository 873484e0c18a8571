#pragma once

#include <QString>

/**
 * Where the service's parts report to the operator: progress lines for the status list in
 * debug mode, and the last status or failure message. The operator log implements it; the
 * layers below the service see only this.
 */
class OperatorSink
{
public:
    virtual ~OperatorSink() = default;

    /// True while progress lines are written; callers skip building a line otherwise.
    virtual bool isDebugMode() const = 0;
    /// True while replies to the host are logged instead of sent.
    virtual bool isDebugModeOnly() const = 0;
    /// Appends @p msg to the status list in debug mode; does nothing otherwise.
    virtual void output_debug(const QString &msg) = 0;
    /// Appends @p line to the status list whatever the debug mode.
    virtual void appendStatusLine(const QString &line) = 0;
    /// Replaces the last status or failure message.
    virtual void setStatusMsg(const QString &text) = 0;
    virtual QString statusMsg() const = 0;
};
