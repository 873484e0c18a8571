#pragma once

#include "programs.h"
#include "report.h"
#include "tcp_client.h"

#include <chrono>
#include <random>
#include <string_view>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

/// What every group of rows gets.
struct Context
{
    Programs programs;
    bool quick = false; ///< a short run to try the harness: counts and times cut down
    std::mt19937 random{20261206};

    /// @p full in a full run, a tenth of it (at least @p least) in a quick one.
    long long scaled(long long full, long long least = 1) const
    {
        return quick ? std::max(least, full / 10) : full;
    }
};

/// A job id request the program answers at once while job 1 is open, and that answer.
inline constexpr std::string_view MismatchRequest = "UNIQU=2;";
inline constexpr std::string_view OpenJobRequest = "UNIQU=1;";

double secondsSince(Clock::time_point start);
double nsBetween(Clock::time_point start, Clock::time_point end);
void sleepMs(double ms);

/// The fixed reply both the program (job 1 open) and the reference servers send.
std::string_view fixedReply();

/// Connects to @p port and makes sure a mismatch request is answered; on the real program
/// (@p opensJob) it first opens job 1. Every later send and receive on it gives up after
/// @p timeoutMs. Throws BenchError when there is no right answer in time.
Connection answeringConnection(unsigned short port, bool opensJob, int timeoutMs = 2000);

/// Two hosts connected at once that each get their own replies. The program answers on the
/// connection whose slot number is its count of open connections; with hosts in slots 1 and 3
/// and a count of 2 it finds none there and answers the host that asked. Job 1 must be open
/// and no other host connected; @p timeoutMs as for answeringConnection(). Throws BenchError when
/// the replies do not come back right.
std::pair<Connection, Connection> separatelyAnsweredHosts(unsigned short port,
                                                          int timeoutMs = 2000);

/// One mismatch request and its reply; throws BenchError naming @p who when it fails.
void exchangeOrThrow(Connection &connection, const char *who);

std::vector<Row> latencyRows(Context &context);
std::vector<Row> throughputRows(Context &context);
std::vector<Row> churnRows(Context &context);
std::vector<Row> startupRows(Context &context);
std::vector<Row> idleCpuRows(Context &context);
std::vector<Row> uploadCpuRows(Context &context);
std::vector<Row> memoryRows(Context &context);
std::vector<Row> floodRows(Context &context);
std::vector<Row> debugRows(Context &context);
std::vector<Row> swipeRows(Context &context);

} // namespace bench
