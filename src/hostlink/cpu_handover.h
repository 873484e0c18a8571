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
 * When something else keeps the CPU busy, a yield hands it a whole time slice instead: a
 * yield that took longer than MaxCost is the sign, and yielding then rests. A passing
 * neighbour costs a short rest (FirstRest); one that is still busy when the rest is over
 * doubles it, up to LongestRest, so a program that computes beside us all day costs the
 * hosts at most one time slice per LongestRest.
 */
class CpuHandover
{
public:
    using Clock = std::function<std::chrono::nanoseconds()>;
    using Yield = std::function<void()>;

    /// The longest a yield may take and still count as a handover to the answered host.
    static constexpr std::chrono::nanoseconds MaxCost = std::chrono::microseconds(500);
    /// The rest after a costly yield that follows a long calm.
    static constexpr std::chrono::nanoseconds FirstRest = std::chrono::milliseconds(5);
    /// The longest rest, reached by costly yields that each come soon after the last rest.
    static constexpr std::chrono::nanoseconds LongestRest = std::chrono::seconds(1);
    /// A costly yield this soon after a rest has ended doubles the rest.
    static constexpr std::chrono::nanoseconds Calm = std::chrono::seconds(1);

    /// @p clock reads a monotonic time; @p yield gives up the CPU. Both default to the system's.
    explicit CpuHandover(Clock clock = {}, Yield yield = {});

    /// Called after a reply has gone out: yields, unless yielding rests.
    void afterAnswer();

private:
    Clock m_clock;
    Yield m_yield;
    std::chrono::nanoseconds m_rest{0}; ///< the latest rest; zero before the first
    std::chrono::nanoseconds m_restUntil{0};
};
