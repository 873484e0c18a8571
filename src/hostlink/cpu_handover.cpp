#include "hostlink/cpu_handover.h"

#include <sched.h>

#include <algorithm>

CpuHandover::CpuHandover(Clock clock, Yield yield)
    : m_clock(clock ? std::move(clock)
                    : Clock([] { return std::chrono::steady_clock::now().time_since_epoch(); })),
      m_yield(yield ? std::move(yield) : Yield([] { ::sched_yield(); }))
{
}

void CpuHandover::afterAnswer()
{
    const std::chrono::nanoseconds start = m_clock();
    if (start < m_restUntil)
        return;
    m_yield();
    const std::chrono::nanoseconds end = m_clock();
    if (end - start <= MaxCost) {
        // Yields to the host are cheap even beside a busy program, which takes a slice at
        // least once in a few hundred: only a long run of cheap ones shows the CPU free.
        if (m_cheapInARow < CalmYields && ++m_cheapInARow == CalmYields)
            m_rest = std::chrono::nanoseconds(0);
        return;
    }
    // Someone used a whole slice meanwhile. Counted from the yield's end, so that a yield
    // longer than the rest itself still earns one.
    m_cheapInARow = 0;
    m_rest = m_rest.count() > 0 ? std::min(2 * m_rest, LongestRest) : FirstRest;
    m_restUntil = end + m_rest;
}
