#include "report.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace bench {
namespace {

std::string printed(const char *format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string jsonString(const std::string &text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            quoted += printed("\\u%04x", double(static_cast<unsigned char>(c)));
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string jsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    return printed("%.6g", value);
}

/// Display width of a UTF-8 text: one column per character.
std::size_t columns(const std::string &text)
{
    return std::size_t(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string padded(const std::string &text, std::size_t width)
{
    return text + std::string(width - std::min(width, columns(text)), ' ');
}

std::vector<std::string> cellsOf(const Row &row)
{
    return {row.figure, row.measured, row.reference,
            row.ratio,  row.target,   verdictText(row.verdict)};
}

} // namespace

const char *verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return "PASS";
    case Verdict::Fail:
        return "FAIL";
    case Verdict::Skip:
        return "SKIP";
    }
    return "?";
}

std::string formatNs(double ns)
{
    if (!std::isfinite(ns))
        return "n/a";
    if (ns < 1e3)
        return printed("%.0f ns", ns);
    if (ns < 1e6)
        return printed(ns < 1e4 ? "%.2f us" : (ns < 1e5 ? "%.1f us" : "%.0f us"), ns / 1e3);
    if (ns < 1e9)
        return printed(ns < 1e7 ? "%.2f ms" : (ns < 1e8 ? "%.1f ms" : "%.0f ms"), ns / 1e6);
    return printed("%.2f s", ns / 1e9);
}

std::string formatMs(double ms)
{
    return formatNs(ms * 1e6);
}

std::string formatMiB(double bytes)
{
    return printed(std::fabs(bytes) < 10 * 1048576.0 ? "%.2f MiB" : "%.1f MiB", bytes / 1048576.0);
}

std::string formatGrowth(double bytes)
{
    return printed(std::fabs(bytes) < 10 * 1048576.0 ? "%+.2f MiB" : "%+.1f MiB",
                   bytes / 1048576.0);
}

std::string formatRatio(double ratio)
{
    return std::isfinite(ratio) ? printed("%.2fx", ratio) : "n/a";
}

std::string formatCount(double count)
{
    if (!std::isfinite(count))
        return "n/a";
    if (std::fabs(count) < 100)
        return printed("%.1f", count);
    // Thousands apart with commas: 20,000 reads at a glance, 20000 does not.
    std::string digits = printed("%.0f", std::fabs(count));
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return count < 0 ? "-" + digits : digits;
}

void printTable(std::FILE *stream, const std::vector<Row> &rows)
{
    const std::vector<std::string> header{"figure", "measured", "reference",
                                          "ratio",  "target",   "result"};
    std::vector<std::size_t> width(header.size());
    for (std::size_t i = 0; i < header.size(); ++i)
        width[i] = columns(header[i]);
    for (const Row &row : rows) {
        const std::vector<std::string> cells = cellsOf(row);
        for (std::size_t i = 0; i < cells.size(); ++i)
            width[i] = std::max(width[i], columns(cells[i]));
    }
    const auto printLine = [&](const std::vector<std::string> &cells) {
        std::string line = "|";
        for (std::size_t i = 0; i < cells.size(); ++i) {
            line += ' ';
            line += padded(cells[i], width[i]);
            line += " |";
        }
        std::fprintf(stream, "%s\n", line.c_str());
    };
    printLine(header);
    std::vector<std::string> rule;
    for (const std::size_t w : width)
        rule.push_back(std::string(w, '-'));
    printLine(rule);
    for (const Row &row : rows)
        printLine(cellsOf(row));
    std::fprintf(stream, "\n");
    for (const Row &row : rows) {
        if (!row.note.empty())
            std::fprintf(stream, "- %s: %s\n", row.figure.c_str(), row.note.c_str());
    }
}

bool writeJson(const std::string &path, const RunInfo &info, const std::vector<Row> &rows)
{
    std::ostringstream json;
    json << "{\n  \"started_utc\": " << jsonString(info.startedUtc)
         << ",\n  \"revision\": " << jsonString(info.revision)
         << ",\n  \"program\": " << jsonString(info.program) << ",\n  \"cpus\": " << info.cpus
         << ",\n  \"kernel\": " << jsonString(info.kernel)
         << ",\n  \"load_before\": " << jsonString(info.loadBefore)
         << ",\n  \"load_after\": " << jsonString(info.loadAfter)
         << ",\n  \"seconds\": " << jsonNumber(info.seconds)
         << ",\n  \"quick\": " << (info.quick ? "true" : "false") << ",\n  \"groups\": [";
    for (std::size_t i = 0; i < info.groups.size(); ++i)
        json << (i ? ", " : "") << jsonString(info.groups[i]);
    json << "],\n  \"rows\": [";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const Row &row = rows[r];
        json << (r ? "," : "") << "\n    {\n      \"group\": " << jsonString(row.group)
             << ",\n      \"figure\": " << jsonString(row.figure)
             << ",\n      \"measured\": " << jsonString(row.measured)
             << ",\n      \"reference\": " << jsonString(row.reference)
             << ",\n      \"ratio\": " << jsonString(row.ratio)
             << ",\n      \"target\": " << jsonString(row.target)
             << ",\n      \"result\": " << jsonString(verdictText(row.verdict))
             << ",\n      \"note\": " << jsonString(row.note) << ",\n      \"numbers\": {";
        for (std::size_t n = 0; n < row.numbers.size(); ++n)
            json << (n ? ", " : "") << jsonString(row.numbers[n].first) << ": "
                 << jsonNumber(row.numbers[n].second);
        json << "}\n    }";
    }
    json << "\n  ]\n}\n";
    std::ofstream file(path);
    file << json.str();
    return bool(file);
}

} // namespace bench
