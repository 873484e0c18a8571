// CPU the program burns while it only waits: idle, in a swipe wait, and in an upload whose
// server never answers.

#include "proc_stats.h"
#include "rows.h"

#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <fcntl.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <sstream>
#include <thread>

namespace bench {
namespace {

constexpr double UploadStallSeconds = 5;

/// CPU used over a stretch of time, by both counts the kernel keeps.
struct CpuSpent
{
    double ms = 0; ///< utime+stime, the figure the target is about
    double ns = 0; ///< the scheduler's exact count, to show what lies below one clock tick
};

class CpuMeter
{
public:
    explicit CpuMeter(pid_t pid) : m_pid(pid), m_ms(cpuMs(pid)), m_ns(cpuNs(pid)) {}
    CpuSpent spent() const { return {cpuMs(m_pid) - m_ms, double(cpuNs(m_pid) - m_ns)}; }

private:
    pid_t m_pid;
    double m_ms;
    long long m_ns;
};

std::string cpuText(const CpuSpent &cpu)
{
    // The scheduler's count is a sum over the live threads: one that ended took its share along.
    if (cpu.ns < 0)
        return formatCount(cpu.ms) + " ms (scheduler: not comparable, a thread ended meanwhile)";
    return formatCount(cpu.ms) + " ms (scheduler: " + formatNs(cpu.ns) + ")";
}

Row cpuRow(const std::string &figure, const CpuSpent &cpu, double limitMs,
           const std::string &target)
{
    Row row;
    row.figure = figure;
    row.measured = cpuText(cpu);
    row.target = target;
    row.verdict = cpu.ms <= limitMs ? Verdict::Pass : Verdict::Fail;
    row.numbers = {{"cpu_ms", cpu.ms}, {"scheduler_cpu_ns", cpu.ns}};
    return row;
}

/// An FTP server that accepts and never says a word: an upload to it stalls.
class SilentServer
{
public:
    explicit SilentServer(unsigned short port)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 8) != 0)
            throw BenchError("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                             std::strerror(errno));
        m_thread = std::thread([this] { acceptUntilStopped(); });
    }
    ~SilentServer()
    {
        m_stop = true;
        m_thread.join();
        for (const int connection : m_connections)
            ::close(connection);
        ::close(m_listener);
    }
    SilentServer(const SilentServer &) = delete;
    SilentServer &operator=(const SilentServer &) = delete;

    /// Waits up to @p timeoutMs for the first connection; true when it came.
    bool waitAccepted(int timeoutMs) const
    {
        for (int waited = 0; !m_accepted && waited < timeoutMs; waited += 5)
            sleepMs(5);
        return m_accepted;
    }

private:
    void acceptUntilStopped()
    {
        // Wakes every 50 ms to see the stop flag; the connections stay open and silent.
        while (!m_stop) {
            pollfd ready{m_listener, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0)
                continue;
            const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0 && m_connections.size() < 16) {
                m_connections.push_back(connection);
                m_accepted = true;
            } else if (connection >= 0) {
                ::close(connection);
            }
        }
    }

    int m_listener = -1;
    std::vector<int> m_connections;
    std::atomic<bool> m_accepted{false};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

bool bringLoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

/// Runs in a helper process with a network of its own, where port 21 is ours to serve: a
/// card transaction through the serial pad up to a signature whose upload stalls. Returns
/// "ok CPU_MS", "skip REASON" or "fail REASON".
std::string stalledUploadInPrivateNetwork(const Context &context)
{
    if (::unshare(CLONE_NEWNET) != 0)
        return std::string("skip a private network namespace needs root (unshare: ") +
               std::strerror(errno) + ")";
    if (!bringLoopbackUp())
        return "skip the loopback interface of the private network could not be brought up";
    PadSim pad(context.programs.padsim);
    ScrivoraSettings settings;
    settings.padDevice = pad.device();
    settings.ftpUrl = "127.0.0.1";
    ServiceRun program(context.programs.scrivora, settings);
    program.start();
    Connection host = Connection::open(program.port(), 2000);
    if (!host.isOpen() || !pad.waitFor("form padWelcome", 5000))
        return "fail the program did not connect to the pad emulator";
    host.send("TRANS=CC;UNIQU=17;TOTAL=25.00;");
    if (!pad.waitFor("form padStart", 5000))
        return "fail the pad was not asked for a swipe";
    pad.command("swipe");
    if (!host.receiveUntil("</SWIPE>", 5000))
        return "fail no SWIPE reply";
    const SilentServer ftp(21);
    host.send("VERIF=GOOD;DOFTP=Y;");
    if (!pad.waitFor("form padSig", 5000))
        return "fail the pad was not asked for a signature";
    pad.command("sign");
    if (!ftp.waitAccepted(5000))
        return "fail the upload did not connect to 127.0.0.1:21 within 5 s of the signature";
    const CpuMeter meter(program.pid());
    sleepMs(UploadStallSeconds * 1000);
    const CpuSpent cpu = meter.spent();
    if (!program.running())
        return "fail the program ended during the upload";
    return "ok " + std::to_string(cpu.ms) + " " + std::to_string(cpu.ns);
}

std::string readLine(int fd, int timeoutMs)
{
    std::string line;
    const Clock::time_point start = Clock::now();
    while (line.find('\n') == std::string::npos && secondsSince(start) * 1000 < timeoutMs) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        char buffer[512];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            break;
        line.append(buffer, std::size_t(count));
    }
    return line.substr(0, line.find('\n'));
}

} // namespace

std::vector<Row> idleCpuRows(Context &context)
{
    ServiceRun program(context.programs.scrivora, ScrivoraSettings{});
    program.start();
    sleepMs(1000);
    const double idleSeconds = double(context.scaled(10, 2));
    const CpuMeter idleMeter(program.pid());
    sleepMs(idleSeconds * 1000);
    const CpuSpent idle = idleMeter.spent();
    if (!program.running())
        throw BenchError("the program ended while idle");

    Connection host = Connection::open(program.port(), 2000);
    if (!host.send("TRANS=CC;UNIQU=17;TOTAL=25.00;"))
        throw BenchError("the swipe request could not be sent");
    // The request itself (pad form, variables) is not part of the wait.
    sleepMs(200);
    const double waitSeconds = double(context.scaled(30, 5));
    const CpuMeter waitMeter(program.pid());
    const bool replied = host.receiveUntil("<", int(waitSeconds * 1000)).has_value();
    const CpuSpent wait = waitMeter.spent();
    if (!program.running())
        throw BenchError("the program ended during the swipe wait");
    host.send("ABORT=TRUE;");

    Row idleRow = cpuRow("CPU while idle " + formatCount(idleSeconds) + " s", idle, 0, "0 ms");
    idleRow.group = "idle";
    idleRow.note = "virtual pad, debug mode off, from 1 s after it listens; /proc/PID/stat "
                   "utime+stime in 10 ms clock ticks";
    Row waitRow = cpuRow("CPU during a " + formatCount(waitSeconds) + " s swipe wait", wait, 49.999,
                         "< 50 ms");
    waitRow.group = "idle";
    waitRow.note = "virtual pad, TRANS=CC;UNIQU=17;TOTAL=25.00; and no swipe; measured from "
                   "0.2 s after the request";
    if (replied) {
        waitRow.verdict = Verdict::Fail;
        waitRow.note += "; the program replied although no card was swiped";
    }
    return {idleRow, waitRow};
}

std::vector<Row> uploadCpuRows(Context &context)
{
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        throw BenchError("no pipe for the upload helper");
    const pid_t pid = forkHelper();
    if (pid == 0) {
        ::close(channel[0]);
        std::string outcome;
        try {
            outcome = stalledUploadInPrivateNetwork(context);
        } catch (const std::exception &error) {
            outcome = std::string("fail ") + error.what();
        }
        outcome += "\n";
        [[maybe_unused]] const ssize_t ignored =
            ::write(channel[1], outcome.data(), outcome.size());
        ::_exit(0);
    }
    ChildProcess helper = ChildProcess::adopt(pid);
    ::close(channel[1]);
    const std::string outcome = readLine(channel[0], 90000);
    ::close(channel[0]);
    helper.stop(5000);

    Row row;
    row.group = "upload";
    row.figure = "CPU during a " + formatCount(UploadStallSeconds) + " s stalled upload";
    row.target = "< 50 ms";
    row.note = "serial pad (scrivora-padsim swipe and sign), ftpURL=127.0.0.1 in a private "
               "network where 127.0.0.1:21 accepts and stays silent; measured from the accept; "
               "utime+stime in 10 ms clock ticks";
    std::istringstream words(outcome);
    std::string status;
    words >> status;
    std::string rest;
    std::getline(words, rest);
    if (!rest.empty() && rest.front() == ' ')
        rest.erase(0, 1);
    if (status == "ok") {
        CpuSpent cpu;
        std::istringstream(rest) >> cpu.ms >> cpu.ns;
        row.measured = cpuText(cpu);
        row.verdict = cpu.ms < 50 ? Verdict::Pass : Verdict::Fail;
        row.numbers = {{"cpu_ms", cpu.ms}, {"scheduler_cpu_ns", cpu.ns}};
    } else {
        row.measured = "not measured";
        row.verdict = status == "skip" ? Verdict::Skip : Verdict::Fail;
        row.note = (outcome.empty() ? std::string("the helper gave no answer within 90 s") : rest) +
                   "; " + row.note;
    }
    return {row};
}

} // namespace bench
