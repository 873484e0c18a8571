// The host link against its floors: the epoll server for exchanges, the bare Qt program for
// start-up. Rounds alternate between the two so that noise from the shared machine hits both.

#include "rows.h"
#include "stats.h"

#include "../bench_reply.h"

#include <thread>

namespace bench {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double nsBetween(Clock::time_point start, Clock::time_point end)
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
}

void sleepMs(double ms)
{
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(ms * 1000)));
}

std::string_view fixedReply()
{
    return {FixedReply, FixedReplySize};
}

Connection answeringConnection(unsigned short port, bool opensJob, int timeoutMs)
{
    Connection connection = Connection::open(port, timeoutMs);
    if (!connection.isOpen())
        throw BenchError("cannot connect to port " + std::to_string(port));
    // Opening the job gets no reply; sent together with the first request or apart, the
    // request after it is answered either way.
    if (opensJob && !connection.send(OpenJobRequest))
        throw BenchError("the job could not be opened");
    if (!connection.exchange(MismatchRequest, fixedReply()))
        throw BenchError("no mismatch reply on port " + std::to_string(port));
    return connection;
}

void exchangeOrThrow(Connection &connection, const char *who)
{
    if (!connection.exchange(MismatchRequest, fixedReply()))
        throw BenchError(std::string("an exchange with the ") + who + " failed");
}

std::pair<Connection, Connection> separatelyAnsweredHosts(unsigned short port, int timeoutMs)
{
    // Each connection is answered before the next comes, so it holds the slot of the count.
    Connection first = answeringConnection(port, false, timeoutMs);
    Connection middle = answeringConnection(port, false);
    Connection last = answeringConnection(port, false, timeoutMs);
    middle.close();
    sleepMs(300);
    exchangeOrThrow(first, "first of two hosts");
    exchangeOrThrow(last, "second of two hosts");
    return {std::move(first), std::move(last)};
}

namespace {

/// The real program (virtual pad, debug mode off) and the epoll floor, both listening.
struct ServerPair
{
    explicit ServerPair(const Programs &programs)
        : program(programs.scrivora, ScrivoraSettings{}), reference(programs.reference)
    {
        program.start();
        reference.start();
    }
    ServiceRun program;
    ServiceRun reference;
};

/// Runs @p measure for the program and the reference in turn, @p rounds times, the order
/// swapped every round.
template <typename Measure> void alternate(int rounds, Measure measure)
{
    for (int round = 0; round < rounds; ++round) {
        const bool programFirst = round % 2 == 0;
        measure(programFirst, round);
        measure(!programFirst, round);
    }
}

void recordLatencies(Connection &connection, long long count, const char *who,
                     std::vector<double> &samples)
{
    for (long long i = 0; i < count; ++i) {
        const Clock::time_point start = Clock::now();
        exchangeOrThrow(connection, who);
        samples.push_back(nsBetween(start, Clock::now()));
    }
}

std::string spread(const std::vector<double> &ratios)
{
    return formatRatio(*std::min_element(ratios.begin(), ratios.end())) + " to " +
           formatRatio(maximum(ratios));
}

struct Churn
{
    long long cycles = 0;
    long long lost = 0;
    long long refused = 0; ///< connects that failed: a reply lost as well
    double seconds = 0;
    double rate() const { return double(cycles) / seconds; }
};

/// Connect, one request, the whole reply, close: as often as it goes for @p seconds.
void churnFor(unsigned short port, double seconds, Churn &churn)
{
    const Clock::time_point start = Clock::now();
    // Each cycle ends within its two one-second time-outs, so the loop ends soon after.
    while (secondsSince(start) < seconds) {
        Connection connection = Connection::open(port, 1000);
        ++churn.cycles;
        if (!connection.isOpen()) {
            ++churn.refused;
            ++churn.lost;
            continue;
        }
        if (!connection.exchange(MismatchRequest, fixedReply()))
            ++churn.lost;
    }
    churn.seconds += secondsSince(start);
}

double startupMs(ServiceRun &service)
{
    const Clock::time_point start = Clock::now();
    service.launch();
    if (!service.waitListening(15000))
        throw BenchError("a start did not listen within 15 s: " + service.errorTail());
    const double ms = nsBetween(start, Clock::now()) / 1e6;
    service.stop();
    return ms;
}

} // namespace

std::vector<Row> latencyRows(Context &context)
{
    ServerPair servers(context.programs);
    Connection program = answeringConnection(servers.program.port(), true);
    Connection reference = answeringConnection(servers.reference.port(), false);
    std::vector<double> warmUp;
    recordLatencies(program, 500, "program", warmUp);
    recordLatencies(reference, 500, "reference", warmUp);

    const int rounds = 10;
    const long long perRound = context.scaled(2000);
    std::vector<double> programNs;
    std::vector<double> referenceNs;
    std::vector<double> programRounds(rounds);
    std::vector<double> referenceRounds(rounds);
    alternate(rounds, [&](bool measureProgram, int round) {
        std::vector<double> samples;
        recordLatencies(measureProgram ? program : reference, perRound,
                        measureProgram ? "program" : "reference", samples);
        (measureProgram ? programRounds : referenceRounds)[std::size_t(round)] = median(samples);
        std::vector<double> &all = measureProgram ? programNs : referenceNs;
        all.insert(all.end(), samples.begin(), samples.end());
    });
    std::vector<double> roundRatios;
    for (int round = 0; round < rounds; ++round)
        roundRatios.push_back(programRounds[std::size_t(round)] /
                              referenceRounds[std::size_t(round)]);
    const double p50 = median(programNs);
    const double p99 = quantile(programNs, 0.99);
    const double refP50 = median(referenceNs);
    const double refP99 = quantile(referenceNs, 0.99);
    Row row;
    row.group = "latency";
    row.figure =
        "request→reply latency p50 / p99, " + formatCount(double(programNs.size())) + " exchanges";
    row.measured = formatNs(p50) + " / " + formatNs(p99);
    row.reference = formatNs(refP50) + " / " + formatNs(refP99);
    row.ratio = formatRatio(p50 / refP50) + " / " + formatRatio(p99 / refP99);
    row.target = "p50 ≤ 1.15x";
    row.verdict = p50 / refP50 <= 1.15 ? Verdict::Pass : Verdict::Fail;
    row.note = "one connection each, " + std::to_string(rounds) + " alternating rounds of " +
               formatCount(double(perRound)) + "; p50 ratio per round " + spread(roundRatios);
    row.numbers = {{"p50_ns", p50},
                   {"p99_ns", p99},
                   {"reference_p50_ns", refP50},
                   {"reference_p99_ns", refP99},
                   {"p50_ratio", p50 / refP50},
                   {"p99_ratio", p99 / refP99}};
    return {row};
}

std::vector<Row> throughputRows(Context &context)
{
    ServerPair servers(context.programs);
    Connection program = answeringConnection(servers.program.port(), true);
    Connection reference = answeringConnection(servers.reference.port(), false);
    const int rounds = context.quick ? 4 : 20;
    const double roundSeconds = 0.3;
    double counts[2] = {0, 0};
    double seconds[2] = {0, 0};
    std::vector<double> roundRatios;
    alternate(rounds, [&](bool measureProgram, int round) {
        Connection &connection = measureProgram ? program : reference;
        const int side = measureProgram ? 0 : 1;
        const Clock::time_point start = Clock::now();
        long long count = 0;
        // Bounded by time; the count bound only guards against a broken clock.
        while (secondsSince(start) < roundSeconds && count < 100000000) {
            exchangeOrThrow(connection, measureProgram ? "program" : "reference");
            ++count;
        }
        const double elapsed = secondsSince(start);
        counts[side] += double(count);
        seconds[side] += elapsed;
        if (std::size_t(round) >= roundRatios.size())
            roundRatios.push_back(1.0);
        roundRatios[std::size_t(round)] *=
            measureProgram ? elapsed / double(count) : double(count) / elapsed;
    });
    const double rate = counts[0] / seconds[0];
    const double referenceRate = counts[1] / seconds[1];
    // Paired rounds share the machine's mood: their median ratio shrugs off a burst of noise
    // that the ratio of the totals would take in.
    const double ratio = median(roundRatios);
    Row row;
    row.group = "throughput";
    row.figure = "exchanges per second, one connection";
    row.measured = formatCount(rate) + "/s";
    row.reference = formatCount(referenceRate) + "/s";
    row.ratio = formatRatio(ratio);
    row.target = "≤ 1.15x (reference / program)";
    row.verdict = ratio <= 1.15 ? Verdict::Pass : Verdict::Fail;
    row.note = "request, wait for the reply, next request; " + std::to_string(rounds) +
               " alternating rounds of " + formatCount(roundSeconds) +
               " s each; ratio = median of the paired rounds' ratios (" + spread(roundRatios) +
               "; of the totals " + formatRatio(referenceRate / rate) + ")";
    row.numbers = {{"per_second", rate},
                   {"reference_per_second", referenceRate},
                   {"ratio", ratio},
                   {"ratio_of_totals", referenceRate / rate}};
    return {row};
}

std::vector<Row> churnRows(Context &context)
{
    ServerPair servers(context.programs);
    answeringConnection(servers.program.port(), true);
    const int rounds = 10;
    const double roundSeconds = context.quick ? 0.2 : 1.0;
    Churn program;
    Churn reference;
    std::vector<double> roundRatios;
    alternate(rounds, [&](bool measureProgram, int round) {
        Churn &churn = measureProgram ? program : reference;
        Churn thisRound;
        churnFor(measureProgram ? servers.program.port() : servers.reference.port(), roundSeconds,
                 thisRound);
        churn.cycles += thisRound.cycles;
        churn.lost += thisRound.lost;
        churn.refused += thisRound.refused;
        churn.seconds += thisRound.seconds;
        if (std::size_t(round) >= roundRatios.size())
            roundRatios.push_back(1.0);
        roundRatios[std::size_t(round)] *=
            measureProgram ? 1.0 / thisRound.rate() : thisRound.rate();
    });
    // As for throughput: the median of the paired rounds' ratios.
    const double ratio = median(roundRatios);
    Row row;
    row.group = "churn";
    row.figure = "connect–request–reply–close per second; replies lost";
    row.measured = formatCount(program.rate()) + "/s; " + std::to_string(program.lost) + " lost";
    row.reference =
        formatCount(reference.rate()) + "/s; " + std::to_string(reference.lost) + " lost";
    row.ratio = formatRatio(ratio);
    row.target = "≤ 1.3x; 0 lost";
    row.verdict = ratio <= 1.3 && program.lost == 0 ? Verdict::Pass : Verdict::Fail;
    row.note = std::to_string(rounds) + " alternating rounds of " + formatCount(roundSeconds) +
               " s each (" + formatCount(program.seconds) + " s per side), " +
               formatCount(double(program.cycles)) +
               " cycles; a reply is lost when it is not whole "
               "and right within 1 s (" +
               std::to_string(program.refused) +
               " connects failed); ratio = median of the paired rounds' ratios (" +
               spread(roundRatios) + "; of the totals " +
               formatRatio(reference.rate() / program.rate()) + ")";
    row.numbers = {{"per_second", program.rate()},
                   {"reference_per_second", reference.rate()},
                   {"ratio", ratio},
                   {"ratio_of_totals", reference.rate() / program.rate()},
                   {"lost", double(program.lost)},
                   {"connect_failures", double(program.refused)},
                   {"reference_lost", double(reference.lost)}};
    return {row};
}

std::vector<Row> startupRows(Context &context)
{
    const int starts = context.quick ? 3 : 10;
    std::vector<double> programMs;
    std::vector<double> qtMs;
    alternate(starts, [&](bool measureProgram, int) {
        if (measureProgram) {
            ServiceRun program(context.programs.scrivora, ScrivoraSettings{});
            programMs.push_back(startupMs(program));
        } else {
            ServiceRun qt(context.programs.qtListener);
            qtMs.push_back(startupMs(qt));
        }
        // Lets the ended process's teardown finish before the next start is timed.
        sleepMs(200);
    });
    const double ms = median(programMs);
    const double qt = median(qtMs);
    Row row;
    row.group = "startup";
    row.figure = "exec to listening, median of " + std::to_string(starts);
    row.measured = formatMs(ms);
    row.reference = formatMs(qt);
    row.ratio = formatRatio(ms / qt);
    row.target = "≤ 1.3x (vs bare QApplication + QTcpServer)";
    row.verdict = ms / qt <= 1.3 ? Verdict::Pass : Verdict::Fail;
    row.note = "fork to the first accepted connect (polled every 0.5 ms), virtual pad, "
               "offscreen; program " +
               formatMs(*std::min_element(programMs.begin(), programMs.end())) + " to " +
               formatMs(maximum(programMs)) + ", Qt " +
               formatMs(*std::min_element(qtMs.begin(), qtMs.end())) + " to " +
               formatMs(maximum(qtMs));
    row.numbers = {{"median_ms", ms}, {"reference_median_ms", qt}, {"ratio", ms / qt}};
    return {row};
}

} // namespace bench
