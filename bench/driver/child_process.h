#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

/// Where a child's standard streams go; -1 means /dev/null.
struct Streams
{
    int in = -1;
    int out = -1;
    int err = -1;
};

/// A program started by the benchmark, offscreen. It dies with the benchmark (also when the
/// benchmark itself is killed) and is stopped at the latest when this object goes.
class ChildProcess
{
public:
    ChildProcess() = default;
    /// Starts @p program with @p arguments in @p folder. Throws std::runtime_error when no
    /// process can be made; a program that cannot be executed ends at once with status 127.
    ChildProcess(const std::string &program, const std::vector<std::string> &arguments,
                 const std::string &folder, Streams streams);
    /// Takes charge of a process made by forkHelper().
    static ChildProcess adopt(pid_t pid);
    ~ChildProcess();
    ChildProcess(ChildProcess &&other) noexcept;
    ChildProcess &operator=(ChildProcess &&other) noexcept;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return m_pid; }
    /// True until the process has ended; an ended process is reaped here.
    bool running();
    /// Waits at most @p timeoutMs for the process to end by itself; true when it has.
    bool waitFinished(int timeoutMs);
    /// Exit status once ended (the wait status as waitpid gives it), -1 before.
    int waitStatus() const { return m_status; }
    /// SIGTERM, then SIGKILL after @p graceMs; the process is reaped either way.
    void stop(int graceMs = 2000);

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

/// Forks a helper that runs benchmark code (no exec). Returns 0 in the helper, which dies with
/// the benchmark and starts with no children of its own; the caller adopts the returned pid.
pid_t forkHelper();

/// Kills every child still running.
void killAllChildren();

/// Folders removed when the benchmark is interrupted (its objects remove them otherwise).
void rememberFolder(const std::string &path);
void forgetFolder(const std::string &path);

/// From now on SIGINT, SIGTERM and SIGHUP, and SIGALRM after @p timeLimitSeconds, kill every
/// child and remove the remembered folders before the benchmark ends. SIGPIPE is ignored (a
/// child that has gone shows as a failed write instead). Call before any thread is started.
void installCleanupOnSignals(unsigned int timeLimitSeconds);

} // namespace bench
