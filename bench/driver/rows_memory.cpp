// Memory the program keeps: after many requests, under a flood, and what its debug log costs.

#include "proc_stats.h"
#include "rows.h"
#include "stats.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace bench {
namespace {

constexpr double MiB = 1048576.0;
/// Beyond this growth a flood is stopped: the target is long missed and the machine is shared.
constexpr double FloodMemoryCap = 768 * MiB;
/// Long enough to see how late a reply comes, short enough to end with the flood.
constexpr int ProbeTimeoutMs = 15000;

long long residentOrThrow(ServiceRun &program)
{
    // An ended program that is not yet reaped still shows, with no memory at all.
    const long long bytes = program.running() ? residentBytes(program.pid()) : -1;
    if (bytes < 0)
        throw BenchError("the program has ended");
    return bytes;
}

/// How a flooding host fared.
struct Flood
{
    long long sent = 0;
    long long received = 0;
    double seconds = 0;
    bool closedByProgram = false;
};

/// Writes @p pattern over and over to @p fd (non-blocking) until @p limitBytes, @p
/// limitSeconds or @p stop; reads and drops what comes back only when @p reads.
void flood(int fd, std::string_view pattern, long long limitBytes, double limitSeconds, bool reads,
           const std::atomic<bool> &stop, Flood &result)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const Clock::time_point start = Clock::now();
    std::size_t offset = 0;
    std::vector<char> buffer(65536);
    while (!stop && result.sent < limitBytes && secondsSince(start) < limitSeconds) {
        pollfd ready{fd, short(POLLOUT | (reads ? POLLIN : 0)), 0};
        if (::poll(&ready, 1, 50) <= 0)
            continue;
        if (ready.revents & POLLIN) {
            const ssize_t count = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (count == 0)
                ready.revents |= POLLHUP;
            result.received += std::max<ssize_t>(count, 0);
        }
        if (ready.revents & (POLLERR | POLLHUP)) {
            result.closedByProgram = true;
            break;
        }
        if (!(ready.revents & POLLOUT))
            continue;
        const std::size_t length = std::min<long long>(
            static_cast<long long>(pattern.size() - offset), limitBytes - result.sent);
        const ssize_t count =
            ::send(fd, pattern.data() + offset, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0 && errno != EAGAIN && errno != EINTR) {
            result.closedByProgram = true;
            break;
        }
        if (count > 0) {
            result.sent += count;
            offset = (offset + std::size_t(count)) % pattern.size();
        }
    }
    result.seconds = secondsSince(start);
}

/// Samples the program's resident memory every 20 ms on a thread of its own, so that a probe
/// that waits long for its reply misses no peak; past the cap it asks the flood to stop.
class MemorySampler
{
public:
    MemorySampler(pid_t pid, long long baseline, std::atomic<bool> &stop)
        : m_peak(baseline), m_thread([this, pid, baseline, &stop] {
              while (!m_done) {
                  const long long resident = residentBytes(pid);
                  // A program that has ended shows no memory (or no file) until it is reaped.
                  if (resident <= 0) {
                      m_ended = true;
                      stop = true;
                      return;
                  }
                  m_peak = std::max<long long>(m_peak, resident);
                  if (double(resident - baseline) > FloodMemoryCap) {
                      m_capped = true;
                      stop = true;
                  }
                  sleepMs(20);
              }
          })
    {
    }
    ~MemorySampler() { finish(); }
    MemorySampler(const MemorySampler &) = delete;
    MemorySampler &operator=(const MemorySampler &) = delete;

    void finish()
    {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    long long peak() const { return m_peak; }
    bool programEnded() const { return m_ended; }
    bool capped() const { return m_capped; }

private:
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_capped{false};
    std::atomic<bool> m_ended{false};
    std::atomic<long long> m_peak;
    std::thread m_thread;
};

/// Another host's view while the flood runs: a request every 20 ms and its reply time.
struct Probe
{
    std::vector<double> replyMs;
    bool gaveUp = false; ///< a reply did not come within the probe's time-out
    /// Bytes beyond the probe's own reply: the flood's replies reached the probing host, so
    /// the reply times it saw are not its own.
    bool strayReplies = false;
};

void probeWhile(Connection &connection, const std::atomic<bool> &flooding, Probe &probe)
{
    // Each pass ends within the probe time-out, and the flood within its own limits.
    while (flooding) {
        if (!probe.gaveUp) {
            const Clock::time_point start = Clock::now();
            if (connection.exchange(MismatchRequest, fixedReply())) {
                probe.replyMs.push_back(nsBetween(start, Clock::now()) / 1e6);
                char stray = 0;
                if (::recv(connection.fd(), &stray, 1, MSG_PEEK | MSG_DONTWAIT) > 0)
                    probe.strayReplies = true;
            } else {
                // A reply still due would answer the next request: this host is done.
                probe.replyMs.push_back(nsBetween(start, Clock::now()) / 1e6);
                probe.gaveUp = true;
            }
        }
        sleepMs(20);
    }
}

struct FloodPlan
{
    std::string figure;
    std::string pattern;
    long long limitBytes;
    double limitSeconds;
    bool reads;
    std::string how;
};

Row floodRow(const Programs &programs, const FloodPlan &plan)
{
    ServiceRun program(programs.scrivora, ScrivoraSettings{});
    program.start();
    // The connect that saw it listen must be gone before the hosts take their slots.
    sleepMs(300);
    answeringConnection(program.port(), true);
    sleepMs(300);
    auto [flooder, prober] = separatelyAnsweredHosts(program.port(), ProbeTimeoutMs);
    sleepMs(1000);
    const long long baseline = residentOrThrow(program);

    std::atomic<bool> flooding{true};
    std::atomic<bool> stop{false};
    MemorySampler memory(program.pid(), baseline, stop);
    Flood result;
    std::thread floodThread([&] {
        flood(flooder.fd(), plan.pattern, plan.limitBytes, plan.limitSeconds, plan.reads, stop,
              result);
        flooding = false;
    });
    Probe probe;
    probeWhile(prober, flooding, probe);
    floodThread.join();
    memory.finish();
    flooder.close();
    sleepMs(1000);
    const bool ended = memory.programEnded() || !program.running();
    const long long afterClose = ended ? 0 : residentBytes(program.pid());

    const double growth = double(memory.peak() - baseline);
    const double worstMs = maximum(probe.replyMs);
    Row row;
    row.group = "flood";
    row.figure = plan.figure;
    row.measured = formatGrowth(growth) + " peak; " + formatMs(median(probe.replyMs)) +
                   " median, " + formatMs(worstMs) + " max reply";
    row.target = "< 64 MiB growth; < 100 ms";
    row.verdict =
        growth < 64 * MiB && worstMs < 100 && !probe.gaveUp && !ended && !probe.strayReplies
            ? Verdict::Pass
            : Verdict::Fail;
    row.note =
        plan.how + "; sent " + formatMiB(double(result.sent)) + " in " +
        formatCount(result.seconds) + " s, got back " + formatMiB(double(result.received)) +
        (result.closedByProgram ? "; the program closed the flooding connection" : "") +
        "; another host sent a request every 20 ms and got " +
        std::to_string(probe.replyMs.size() - (probe.gaveUp ? 1 : 0)) + " replies" +
        (probe.gaveUp ? ", then none within " + formatMs(ProbeTimeoutMs) : "") +
        (memory.capped() ? "; stopped at the 768 MiB safety cap" : "") +
        (ended ? "; THE PROGRAM ENDED" : "") +
        (probe.strayReplies ? "; INVALID: the flood's replies reached the probing host" : "") +
        (ended ? "" : "; 1 s after the close " + formatGrowth(double(afterClose - baseline)));
    row.numbers = {{"baseline_bytes", double(baseline)},
                   {"peak_growth_bytes", growth},
                   {"growth_after_close_bytes", ended ? NAN : double(afterClose - baseline)},
                   {"other_host_median_ms", median(probe.replyMs)},
                   {"other_host_max_ms", worstMs},
                   {"other_host_gave_up", probe.gaveUp ? 1.0 : 0.0},
                   {"sent_bytes", double(result.sent)},
                   {"seconds", result.seconds},
                   {"closed_by_program", result.closedByProgram ? 1.0 : 0.0}};
    return row;
}

std::string repeated(std::string_view piece, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

/// CPU and wall time per mismatch request at the program's current log length.
struct Cost
{
    double cpuNs = 0;
    double wallNs = 0;
    long long linesFrom = 0;
    long long linesTo = 0;
    long long requests = 0;
};

Cost costOfRequests(ServiceRun &program, Connection &connection, int count, double budgetSeconds)
{
    Cost cost;
    cost.linesFrom = program.errorLines();
    std::vector<double> wall;
    const Clock::time_point start = Clock::now();
    const long long cpuBefore = cpuNs(program.pid());
    while (cost.requests < count && secondsSince(start) < budgetSeconds) {
        const Clock::time_point sent = Clock::now();
        exchangeOrThrow(connection, "program");
        wall.push_back(nsBetween(sent, Clock::now()));
        ++cost.requests;
    }
    const long long cpuAfter = cpuNs(program.pid());
    if (cpuBefore < 0 || cpuAfter < 0)
        throw BenchError("no scheduler statistics for the program");
    cost.cpuNs = double(cpuAfter - cpuBefore) / double(cost.requests);
    cost.wallNs = median(wall);
    cost.linesTo = program.errorLines();
    return cost;
}

/// The median of @p batches by CPU per request, with the lines they spanned and their count.
Cost medianCost(const std::vector<Cost> &batches)
{
    std::vector<double> cpu;
    std::vector<double> wall;
    Cost result;
    result.linesFrom = batches.front().linesFrom;
    for (const Cost &batch : batches) {
        cpu.push_back(batch.cpuNs);
        wall.push_back(batch.wallNs);
        result.linesFrom = std::min(result.linesFrom, batch.linesFrom);
        result.linesTo = std::max(result.linesTo, batch.linesTo);
        result.requests += batch.requests;
    }
    result.cpuNs = median(cpu);
    result.wallNs = median(wall);
    return result;
}

/// Adds status lines with batches of mismatch requests until @p target or @p budgetSeconds.
/// A request's cost may grow with the log while its items cost little, so batches only grow
/// (up to 4,096 items in one write), unless one takes longer than a few seconds.
long long fillLog(ServiceRun &program, Connection &filler, long long target, double budgetSeconds)
{
    const Clock::time_point start = Clock::now();
    int batch = 16;
    long long lines = program.errorLines();
    while (lines < target && secondsSince(start) < budgetSeconds) {
        const Clock::time_point sent = Clock::now();
        if (!filler.send(repeated(MismatchRequest, batch)))
            throw BenchError("the program refused a batch of requests");
        filler.receiveUpTo(batch * static_cast<long long>(fixedReply().size()), 10000);
        const double took = secondsSince(sent);
        if (took < 0.5 && batch < 4096)
            batch *= 2;
        else if (took > 4.0 && batch > 1)
            batch /= 2;
        lines = program.errorLines();
    }
    return lines;
}

} // namespace

std::vector<Row> memoryRows(Context &context)
{
    ServiceRun program(context.programs.scrivora, ScrivoraSettings{});
    program.start();
    sleepMs(1000);
    const long long atStart = residentOrThrow(program);
    const long long total = context.scaled(100000, 1000);
    const long long perConnection = 1000;
    long long done = 0;
    long long afterFirstConnection = -1;
    // A fresh connection every thousand requests, so that connections are counted too.
    for (long long round = 0; done < total; ++round) {
        Connection connection = answeringConnection(program.port(), round == 0);
        ++done;
        for (long long i = 1; i < perConnection && done < total; ++i, ++done)
            exchangeOrThrow(connection, "program");
        if (afterFirstConnection < 0)
            afterFirstConnection = residentOrThrow(program);
    }
    sleepMs(1000);
    const long long atEnd = residentOrThrow(program);
    const double growth = double(atEnd - atStart);
    Row row;
    row.group = "memory";
    row.figure = "resident memory after start → after " + formatCount(double(total)) + " requests";
    row.measured = formatMiB(double(atStart)) + " → " + formatMiB(double(atEnd)) + " (" +
                   formatGrowth(growth) + ")";
    row.target = "growth < 1 MiB";
    row.verdict = growth < MiB ? Verdict::Pass : Verdict::Fail;
    row.note = "mismatch requests, 1,000 per connection, one after another; after the first "
               "connection " +
               formatGrowth(double(afterFirstConnection - atStart)) +
               "; read 1 s after start and 1 s after the last request";
    row.numbers = {{"start_bytes", double(atStart)},
                   {"end_bytes", double(atEnd)},
                   {"growth_bytes", growth},
                   {"after_first_connection_bytes", double(afterFirstConnection)}};
    return {row};
}

std::vector<Row> floodRows(Context &context)
{
    const long long streamBytes = context.scaled(400, 40) * 1048576LL;
    const FloodPlan stream{
        "memory and another host's reply time while one host streams " +
            formatCount(double(streamBytes) / MiB) + " MiB",
        repeated(OpenJobRequest, 8192),
        streamBytes,
        context.quick ? 15.0 : 60.0,
        true,
        "the stream repeats the open job's own id (UNIQU=1;, no reply due) as fast as the "
        "program takes it and reads whatever comes back; at most " +
            formatCount(context.quick ? 15.0 : 60.0) + " s"};
    const FloodPlan neverReads{"memory and another host's reply time while one host never reads",
                               repeated(MismatchRequest, 512),
                               1LL << 40,
                               context.quick ? 3.0 : 10.0,
                               false,
                               "mismatch requests written as fast as the program takes them for " +
                                   formatCount(context.quick ? 3.0 : 10.0) +
                                   " s, replies never read"};
    std::vector<Row> rows;
    for (const FloodPlan &plan : {stream, neverReads}) {
        try {
            rows.push_back(floodRow(context.programs, plan));
        } catch (const std::exception &error) {
            Row row;
            row.group = "flood";
            row.figure = plan.figure;
            row.measured = "not measured";
            row.target = "< 64 MiB growth; < 100 ms";
            row.note = std::string("could not be measured: ") + error.what();
            rows.push_back(row);
        }
    }
    return rows;
}

std::vector<Row> debugRows(Context &context)
{
    ScrivoraSettings settings;
    settings.debugMode = true;
    // A batch of 20 requests costs a few hundred microseconds, so one timer of the program's
    // landing in it or not moves its figure by half: each point is the median of several.
    const int batches = context.quick ? 2 : 5;
    const int perBatch = 20;
    // A request may take seconds at a long log: the time-outs leave room for that.
    const int timeoutMs = 10000;
    const long long lowLines = 100;
    std::vector<Cost> lowBatches;
    for (int batch = 0; batch < batches; ++batch) {
        // A fresh program each time, so that every batch starts at the same short log.
        ServiceRun fresh(context.programs.scrivora, settings);
        fresh.start();
        Connection host = answeringConnection(fresh.port(), true, timeoutMs);
        for (int i = 0; i < 1000 && fresh.errorLines() < lowLines; ++i)
            exchangeOrThrow(host, "program");
        lowBatches.push_back(costOfRequests(fresh, host, perBatch, 10));
    }
    const Cost low = medianCost(lowBatches);

    ServiceRun program(context.programs.scrivora, settings);
    program.start();
    Connection host = answeringConnection(program.port(), true, timeoutMs);

    const long long target = context.scaled(100000, 10000);
    const double budget = context.quick ? 20 : 90;
    const long long reached = fillLog(program, host, target, budget);
    // Replies of the last batch that came late must not meet the measured requests.
    host.close();
    sleepMs(300);
    host = answeringConnection(program.port(), false, timeoutMs);
    exchangeOrThrow(host, "program");
    std::vector<Cost> highBatches;
    for (int batch = 0; batch < batches; ++batch)
        highBatches.push_back(costOfRequests(program, host, perBatch, 15));
    const Cost high = medianCost(highBatches);

    const double ratio = high.cpuNs / low.cpuNs;
    Row row;
    row.group = "debug";
    row.figure = "CPU per request, debug mode on, at " + formatCount(double(lowLines)) + " and " +
                 formatCount(double(target)) + " status lines";
    row.measured = formatNs(low.cpuNs) + " → " + formatNs(high.cpuNs) + " at " +
                   formatCount(double(high.linesFrom)) + " lines";
    row.ratio = formatRatio(ratio);
    row.target = "equal within 2x";
    row.verdict = reached >= target && ratio <= 2 && ratio >= 0.5 ? Verdict::Pass : Verdict::Fail;
    row.note = "status lines counted on standard error (the list's mirror); CPU from the "
               "scheduler's per-thread accounting, the median of " +
               std::to_string(batches) + " batches of " + std::to_string(perBatch) +
               " mismatch requests at each point (" + std::to_string(batches) +
               " fresh programs for the first; lines " + std::to_string(low.linesFrom) + "–" +
               std::to_string(low.linesTo) + " and " + std::to_string(high.linesFrom) + "–" +
               std::to_string(high.linesTo) + "); wall time per request " + formatNs(low.wallNs) +
               " → " + formatNs(high.wallNs) +
               (reached < target
                    ? "; the log reached only " + formatCount(double(reached)) +
                          " lines within the " + formatCount(budget) + " s allowed for filling it"
                    : "");
    row.numbers = {{"cpu_ns_low", low.cpuNs},
                   {"cpu_ns_high", high.cpuNs},
                   {"ratio", ratio},
                   {"lines_low", double(low.linesFrom)},
                   {"lines_high", double(high.linesFrom)},
                   {"wall_ns_low", low.wallNs},
                   {"wall_ns_high", high.wallNs}};
    return {row};
}

} // namespace bench
