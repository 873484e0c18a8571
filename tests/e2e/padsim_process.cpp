#include "padsim_process.h"

#include <QDeadlineTimer>
#include <QThread>

namespace {

constexpr int CommandSettleMs = 150;

} // namespace

PadSimProcess::PadSimProcess()
{
    m_process.setProgram(QStringLiteral(SCRIVORA_PADSIM_PATH));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

PadSimProcess::~PadSimProcess()
{
    stop();
}

bool PadSimProcess::start(int timeoutMs)
{
    m_process.setArguments({QStringLiteral("--pty"), devicePath(), QStringLiteral("--headless")});
    m_process.start();
    if (!m_process.waitForStarted(timeoutMs))
        return false;
    return waitForEvent(QStringLiteral("ready ") + devicePath(), timeoutMs);
}

void PadSimProcess::command(const QString &line)
{
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(1000);
    QThread::msleep(CommandSettleMs);
}

bool PadSimProcess::waitForEvent(const QString &event, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        collect();
        const qsizetype found = m_events.indexOf(event, m_taken);
        if (found >= 0) {
            m_taken = found + 1;
            return true;
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(int(qMin<qint64>(100, deadline.remainingTime())));
    }
}

void PadSimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    command(QStringLiteral("quit"));
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

void PadSimProcess::collect()
{
    m_partial += m_process.readAllStandardOutput();
    for (qsizetype end; (end = m_partial.indexOf('\n')) >= 0;) {
        m_events.append(QString::fromUtf8(m_partial.left(end)));
        m_partial.remove(0, end + 1);
    }
}
