#include "programs.h"

#include "tcp_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

int openForChild(const std::string &path)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
}

/// A copy that can be executed: an installed program is a file of its own.
std::string installCopy(const std::string &program, const TempFolder &folder)
{
    const std::string copy = folder.file(std::filesystem::path(program).filename().string());
    std::error_code error;
    std::filesystem::copy_file(program, copy, error);
    if (error || ::chmod(copy.c_str(), 0755) != 0)
        throw BenchError("cannot copy " + program + " into " + folder.path());
    return copy;
}

void writeSettings(const std::string &path, unsigned short port, const ScrivoraSettings &settings)
{
    std::ofstream ini(path);
    ini << "[Local]\nLocalPort=" << port
        << "\n\n[settings]\ndebugMode=" << (settings.debugMode ? 1 : 0)
        << "\ndebugModeOnly=0\n\n[remote]\nftpURL=" << settings.ftpUrl
        << "\nftpUser=bench\nftpPass=bench\n\n[pad]\n";
    if (settings.padDevice.empty())
        ini << "Driver=virtual\n";
    else
        ini << "Driver=serial\nDevice=" << settings.padDevice << "\n";
    if (!ini)
        throw BenchError("cannot write " + path);
}

} // namespace

TempFolder::TempFolder(const std::string &prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw BenchError("cannot make a temporary folder");
    m_path = pattern;
    rememberFolder(m_path);
}

TempFolder::~TempFolder()
{
    forgetFolder(m_path);
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

ServiceRun::ServiceRun(const std::string &program, const ScrivoraSettings &settings)
    : m_folder("scrivora-bench"), m_executable(installCopy(program, m_folder)), m_port(freePort())
{
    writeSettings(m_folder.file("vantrel.ini"), m_port, settings);
}

ServiceRun::ServiceRun(const std::string &program)
    : m_folder("scrivora-bench-ref"), m_executable(installCopy(program, m_folder)),
      m_port(freePort())
{
    m_arguments = {std::to_string(m_port)};
}

ServiceRun::~ServiceRun()
{
    m_process.stop();
    if (m_errorFd >= 0)
        ::close(m_errorFd);
}

void ServiceRun::launch()
{
    const std::string errorPath = m_folder.file("stderr.log");
    const int error = openForChild(errorPath);
    const int output = openForChild(m_folder.file("stdout.log"));
    m_process = ChildProcess(m_executable, m_arguments, m_folder.path(), {-1, output, error});
    ::close(error);
    ::close(output);
    if (m_errorFd >= 0)
        ::close(m_errorFd);
    m_errorFd = ::open(errorPath.c_str(), O_RDONLY | O_CLOEXEC);
    m_lines = 0;
    m_counted = 0;
}

bool ServiceRun::waitListening(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (Connection::open(m_port, 200).isOpen())
            return true;
        if (!m_process.running())
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

void ServiceRun::start()
{
    launch();
    if (!waitListening(15000))
        throw BenchError(m_executable + " did not listen within 15 s: " + errorTail());
}

long long ServiceRun::errorLines()
{
    char buffer[65536];
    // Counts only what was added since the last call; the file only grows.
    for (int pass = 0; pass < 100000; ++pass) {
        const ssize_t count = ::pread(m_errorFd, buffer, sizeof buffer, m_counted);
        if (count <= 0)
            break;
        m_lines += std::count(buffer, buffer + count, '\n');
        m_counted += count;
    }
    return m_lines;
}

std::string ServiceRun::errorTail()
{
    std::ifstream file(m_folder.file("stderr.log"));
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    std::string tail = text.size() > 300 ? text.substr(text.size() - 300) : text;
    std::replace(tail.begin(), tail.end(), '\n', ' ');
    return tail.empty() ? "(no output)" : tail;
}

PadSim::PadSim(const std::string &program)
    : m_folder("scrivora-bench-pad"), m_device(m_folder.file("pad"))
{
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0)
        throw BenchError("no pipes for scrivora-padsim");
    const int errors = openForChild(m_folder.file("stderr.log"));
    m_process = ChildProcess(program, {"--pty", m_device, "--headless"}, m_folder.path(),
                             {input[0], output[1], errors});
    ::close(input[0]);
    ::close(output[1]);
    ::close(errors);
    m_input = input[1];
    m_output = output[0];
    if (!waitFor("ready " + m_device, 10000))
        throw BenchError("scrivora-padsim did not get ready");
}

PadSim::~PadSim()
{
    command("quit");
    if (!m_process.waitFinished(1000))
        m_process.stop();
    ::close(m_input);
    ::close(m_output);
}

void PadSim::command(const std::string &line)
{
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t ignored = ::write(m_input, text.data(), text.size());
}

bool PadSim::readEvents(int timeoutMs)
{
    pollfd ready{m_output, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0)
        return false;
    char buffer[4096];
    const ssize_t count = ::read(m_output, buffer, sizeof buffer);
    if (count <= 0)
        return false;
    m_pending.append(buffer, std::size_t(count));
    for (std::size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
        m_events.push_back(m_pending.substr(0, end));
        m_pending.erase(0, end + 1);
    }
    return true;
}

bool PadSim::waitFor(const std::string &event, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto found = std::find(m_events.begin() + long(m_taken), m_events.end(), event);
        if (found != m_events.end()) {
            m_taken = std::size_t(found - m_events.begin()) + 1;
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        // A closed output (the emulator has ended) must not spin: wait out a short turn.
        if (!readEvents(int(std::min<long long>(left.count(), 100))))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace bench
