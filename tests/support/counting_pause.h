#pragma once

#include "service/poll_pause.h"

#include <QtGlobal>

/**
 * The service's pause for tests: every wait is counted and shortened by a fixed factor, so
 * a minute-long capture takes a fraction of a second while the event loop keeps running.
 */
class CountingPause : public PollPause
{
public:
    /// A poll cycle of 1000 ms lasts @p pollCycleMs.
    explicit CountingPause(int pollCycleMs = 5) : m_pollCycleMs(pollCycleMs) {}

    void pause(int ms, bool wakeable) override
    {
        ++m_pauses;
        if (ms >= 1000)
            ++m_pollCycles;
        m_real.pause(qMax(1, ms * m_pollCycleMs / 1000), wakeable);
    }
    void wake() override { m_real.wake(); }
    void wakeAll() override { m_real.wakeAll(); }

    /// Every pause so far, upload turns included.
    int pauses() const { return m_pauses; }
    /// The pauses of a whole poll cycle (a second in the real program).
    int pollCycles() const { return m_pollCycles; }

private:
    EventLoopPause m_real;
    int m_pollCycleMs;
    int m_pauses = 0;
    int m_pollCycles = 0;
};
