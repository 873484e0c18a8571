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
    // A long yield means the CPU went to someone busy, not to a host that takes its answer.
    if (m_clock() - start <= MaxCost)
        return;
    const bool stillBusy = m_rest.count() > 0 && start - m_restUntil < Calm;
    m_rest = stillBusy ? std::min(2 * m_rest, LongestRest) : FirstRest;
    m_restUntil = start + m_rest;
}
