#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace bench {

enum class Verdict
{
    Pass,
    Fail,
    Skip
};

/// One line of the table: what was measured, against what, and whether it meets its target.
struct Row
{
    std::string group;  ///< the --only name that selects it
    std::string figure; ///< what is measured
    std::string measured;
    std::string reference = "-";
    std::string ratio = "-";
    std::string target;
    Verdict verdict = Verdict::Fail;
    std::string note; ///< how it was measured, or why it could not be
    /// The raw numbers behind the texts, for results.json.
    std::vector<std::pair<std::string, double>> numbers;
};

/// Facts about the run that help judge how noisy it was.
struct RunInfo
{
    std::string startedUtc;
    std::string revision;
    std::string program;
    int cpus = 0;
    std::string kernel;
    std::string loadBefore;
    std::string loadAfter;
    double seconds = 0;
    bool quick = false;
    std::vector<std::string> groups;
};

/// Prints the rows as one Markdown table, notes below it.
void printTable(std::FILE *stream, const std::vector<Row> &rows);

/// Writes the rows and the run's facts as JSON to @p path; false when the file cannot be written.
bool writeJson(const std::string &path, const RunInfo &info, const std::vector<Row> &rows);

const char *verdictText(Verdict verdict);

/// "41.3 us", "2.07 ms", "1.20 s": three significant figures in a fitting unit.
std::string formatNs(double ns);
std::string formatMs(double ms);
std::string formatMiB(double bytes);
/// A change of size with its sign: "+1.25 MiB".
std::string formatGrowth(double bytes);
std::string formatRatio(double ratio);
std::string formatCount(double count);

} // namespace bench
