#pragma once

#include <chrono>
#include <functional>

/**
 * Gives the CPU to a host that an answer has just woken, while that stays cheap.
 *
 * A till on this machine that shares our CPU would otherwise wait for the rest of our turn
 * of the event loop before it can take its answer; given the CPU at once, it often sends its
 * next request before we look again, and that request is served in the same turn. With
 * nobody else waiting for the CPU a yield returns at once.
 *
 * A yield that takes longer than MaxCost means that someone used a whole time slice: a busy
 * program beside us, or the host itself computing at length. Yielding gains nothing then and
 * rests: FirstRest at first, twice as long after each costly yield that follows (up to
 * LongestRest), until CalmYields cheap yields in a row show the CPU free again. Beside a
 * program that computes all day, a yield that goes to the host is still cheap, but one in a
 * few hundred hands that program a slice; CalmYields is long enough that such a run almost
 * never happens there, so the rests grow and stay at LongestRest, however the hosts'
 * requests come, while a passing neighbour on an otherwise free CPU costs one short rest.
 */
class CpuHandover
{
public:
    using Clock = std::function<std::chrono::nanoseconds()>;
    using Yield = std::function<void()>;

    /// The longest a yield may take and still count as cheap.
    static constexpr std::chrono::nanoseconds MaxCost = std::chrono::microseconds(500);
    /// The rest after a costly yield while the CPU counts as free.
    static constexpr std::chrono::nanoseconds FirstRest = std::chrono::milliseconds(5);
    /// The longest rest.
    static constexpr std::chrono::nanoseconds LongestRest = std::chrono::seconds(1);
    /// Cheap yields in a row after which the CPU counts as free again.
    static constexpr int CalmYields = 4096;

    /// @p clock reads a monotonic time; @p yield gives up the CPU. Both default to the system's.
    explicit CpuHandover(Clock clock = {}, Yield yield = {});

    /// Called after a reply has gone out: yields, unless yielding rests.
    void afterAnswer();

private:
    Clock m_clock;
    Yield m_yield;
    std::chrono::nanoseconds m_rest{0}; ///< the latest rest; zero while the CPU counts as free
    std::chrono::nanoseconds m_restUntil{0};
    int m_cheapInARow = 0;
};
