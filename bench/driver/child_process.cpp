#include "child_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace bench {
namespace {

// Lock-free slots, so a signal handler may walk them.
constexpr int MaxChildren = 64;
std::atomic<pid_t> g_children[MaxChildren];

void remember(pid_t pid)
{
    for (std::atomic<pid_t> &slot : g_children) {
        pid_t none = 0;
        if (slot.compare_exchange_strong(none, pid))
            return;
    }
    ::kill(pid, SIGKILL);
    throw std::runtime_error("too many child processes");
}

void forget(pid_t pid)
{
    for (std::atomic<pid_t> &slot : g_children) {
        pid_t expected = pid;
        slot.compare_exchange_strong(expected, 0);
    }
}

std::mutex g_foldersLock;
std::set<std::string> g_folders;

constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGALRM};

sigset_t cleanupSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : CleanupSignals)
        sigaddset(&set, signalNumber);
    return set;
}

/// A new process starts with no signal blocked, whatever the benchmark's threads block.
void unblockAllSignals()
{
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

/// Waits for a cleanup signal on a thread of its own, so that the cleanup may do anything.
[[noreturn]] void cleanUpOnSignal(sigset_t set)
{
    int signalNumber = 0;
    while (::sigwait(&set, &signalNumber) != 0) {
    }
    killAllChildren();
    {
        const std::lock_guard lock(g_foldersLock);
        std::error_code ignored;
        for (const std::string &folder : g_folders)
            std::filesystem::remove_all(folder, ignored);
    }
    const char *reason = signalNumber == SIGALRM ? "over its time limit" : "interrupted";
    std::fprintf(stderr, "\nscrivora-bench: %s; every program it started is stopped\n", reason);
    ::_exit(signalNumber == SIGALRM ? 3 : 128 + signalNumber);
}

std::vector<std::string> offscreenEnvironment()
{
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "QT_QPA_PLATFORM=", 16) != 0)
            entries.emplace_back(*entry);
    }
    entries.emplace_back("QT_QPA_PLATFORM=offscreen");
    return entries;
}

std::vector<char *> pointersTo(std::vector<std::string> &strings)
{
    std::vector<char *> pointers;
    for (std::string &text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

/// In a new child: die with the parent, and do not inherit the parent's duty to its children.
void bindLifeToParent(pid_t parent)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
}

/// fork(); the child dies with the parent and takes signals as a freshly started program does.
pid_t forkBoundChild()
{
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed: " + std::string(std::strerror(errno)));
    if (pid == 0) {
        bindLifeToParent(parent);
        unblockAllSignals();
    }
    return pid;
}

} // namespace

ChildProcess::ChildProcess(const std::string &program, const std::vector<std::string> &arguments,
                           const std::string &folder, Streams streams)
{
    // Everything the child needs is built before the fork: after it only exec-safe calls.
    std::vector<std::string> argumentStrings{program};
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv = pointersTo(argumentStrings);
    std::vector<std::string> environmentStrings = offscreenEnvironment();
    std::vector<char *> envp = pointersTo(environmentStrings);
    const pid_t pid = forkBoundChild();
    if (pid == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(streams.in >= 0 ? streams.in : null, STDIN_FILENO);
        ::dup2(streams.out >= 0 ? streams.out : null, STDOUT_FILENO);
        ::dup2(streams.err >= 0 ? streams.err : null, STDERR_FILENO);
        if (::chdir(folder.c_str()) != 0)
            ::_exit(127);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    m_pid = pid;
    remember(pid);
}

ChildProcess ChildProcess::adopt(pid_t pid)
{
    ChildProcess child;
    child.m_pid = pid;
    return child;
}

ChildProcess::~ChildProcess()
{
    stop(1000);
}

ChildProcess::ChildProcess(ChildProcess &&other) noexcept
    : m_pid(other.m_pid), m_status(other.m_status)
{
    other.m_pid = -1;
}

ChildProcess &ChildProcess::operator=(ChildProcess &&other) noexcept
{
    if (this != &other) {
        stop(1000);
        m_pid = other.m_pid;
        m_status = other.m_status;
        other.m_pid = -1;
    }
    return *this;
}

bool ChildProcess::running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) != m_pid)
        return true;
    m_status = status;
    forget(m_pid);
    m_pid = -1;
    return false;
}

bool ChildProcess::waitFinished(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ChildProcess::stop(int graceMs)
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    if (waitFinished(graceMs))
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_status = status;
    forget(m_pid);
    m_pid = -1;
}

pid_t forkHelper()
{
    const pid_t pid = forkBoundChild();
    if (pid == 0) {
        for (std::atomic<pid_t> &slot : g_children)
            slot.store(0);
        g_folders.clear();
        return 0;
    }
    remember(pid);
    return pid;
}

void killAllChildren()
{
    for (std::atomic<pid_t> &slot : g_children) {
        const pid_t pid = slot.exchange(0);
        if (pid > 0)
            ::kill(pid, SIGKILL);
    }
}

void rememberFolder(const std::string &path)
{
    const std::lock_guard lock(g_foldersLock);
    g_folders.insert(path);
}

void forgetFolder(const std::string &path)
{
    const std::lock_guard lock(g_foldersLock);
    g_folders.erase(path);
}

void installCleanupOnSignals(unsigned int timeLimitSeconds)
{
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = cleanupSignalSet();
    // Blocked here, the signals reach only the waiting thread; threads started later inherit
    // the mask.
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(cleanUpOnSignal, set).detach();
    ::alarm(timeLimitSeconds);
}

} // namespace bench
