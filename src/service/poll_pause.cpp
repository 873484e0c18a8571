#include "service/poll_pause.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

void EventLoopPause::pause(int ms, bool wakeable)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    // A coarse timer may fire up to 5% early, which would shorten every poll cycle.
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    m_running.push_back({&loop, wakeable});
    loop.exec();
    m_running.pop_back();
    QCoreApplication::processEvents();
}

void EventLoopPause::wake()
{
    if (!m_running.empty() && m_running.back().wakeable)
        m_running.back().loop->quit();
}

void EventLoopPause::wakeAll()
{
    for (const Running &running : m_running)
        running.loop->quit();
}
