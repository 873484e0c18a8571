#pragma once

#include <vector>

class QEventLoop;

/**
 * How a wait lets time pass: the event loop keeps running, so host requests, closes and
 * menu commands are handled meanwhile, nested inside the wait. Tests pass their own to
 * count or shorten the pauses.
 */
class PollPause
{
public:
    virtual ~PollPause() = default;

    /**
     * Lets the event loop run for @p ms milliseconds, then handles all pending events.
     * A @p wakeable pause also ends early at wake().
     */
    virtual void pause(int ms, bool wakeable) = 0;
    /// Ends the innermost pause early if it is wakeable.
    virtual void wake() = 0;
    /// Ends every pause in progress now.
    virtual void wakeAll() = 0;
};

/// The real pause: a nested QEventLoop with a timer.
class EventLoopPause : public PollPause
{
public:
    void pause(int ms, bool wakeable) override;
    void wake() override;
    void wakeAll() override;

private:
    struct Running
    {
        QEventLoop *loop;
        bool wakeable;
    };
    std::vector<Running> m_running;
};
