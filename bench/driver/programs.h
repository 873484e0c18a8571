#pragma once

#include "child_process.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

/// A measurement that could not be made; the row reports it as a failure with this text.
class BenchError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// The executables the benchmark runs.
struct Programs
{
    std::string scrivora;
    std::string padsim;
    std::string reference;  ///< the epoll floor
    std::string qtListener; ///< the bare QApplication + QTcpServer
};

/// A private temporary folder, removed with everything in it.
class TempFolder
{
public:
    explicit TempFolder(const std::string &prefix);
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

/// What goes into the program's vantrel.ini besides its port.
struct ScrivoraSettings
{
    bool debugMode = false;
    std::string padDevice; ///< empty: the built-in virtual pad; else the serial pad's device
    std::string ftpUrl;
};

/// A server under measurement, installed alone in a temporary folder: the real program with
/// its vantrel.ini, or a reference server that takes its port on the command line.
class ServiceRun
{
public:
    /// The real program, configured from @p settings.
    ServiceRun(const std::string &program, const ScrivoraSettings &settings);
    /// A reference server started as `program PORT`.
    explicit ServiceRun(const std::string &program);
    ~ServiceRun();
    ServiceRun(const ServiceRun &) = delete;
    ServiceRun &operator=(const ServiceRun &) = delete;

    void launch();
    /// Polls for a listener every half millisecond; false on time-out or when the program ended.
    bool waitListening(int timeoutMs);
    /// launch() and waitListening(15 s); throws BenchError with the end of its standard error.
    void start();
    void stop() { m_process.stop(); }
    bool running() { return m_process.running(); }

    pid_t pid() const { return m_process.pid(); }
    unsigned short port() const { return m_port; }
    /// Lines the program has written to standard error so far.
    long long errorLines();
    /// The end of its standard error, for a failure report.
    std::string errorTail();

private:
    TempFolder m_folder;
    std::string m_executable;
    std::vector<std::string> m_arguments;
    unsigned short m_port;
    ChildProcess m_process;
    int m_errorFd = -1;
    long long m_lines = 0;
    long long m_counted = 0;
};

/// scrivora-padsim on a pseudo-terminal, headless: commands go to its standard input, its
/// events are read line by line from its standard output.
class PadSim
{
public:
    /// Starts it and waits for its "ready" event; throws BenchError otherwise.
    explicit PadSim(const std::string &program);
    ~PadSim();
    PadSim(const PadSim &) = delete;
    PadSim &operator=(const PadSim &) = delete;

    const std::string &device() const { return m_device; }
    /// Plays a customer action such as "swipe" or "sign".
    void command(const std::string &line);
    /// Waits for @p event after the events already waited for; the ones between are passed.
    bool waitFor(const std::string &event, int timeoutMs);

private:
    bool readEvents(int timeoutMs);

    TempFolder m_folder;
    std::string m_device;
    int m_input = -1;
    int m_output = -1;
    ChildProcess m_process;
    std::string m_pending;
    std::vector<std::string> m_events;
    std::size_t m_taken = 0;
};

} // namespace bench
