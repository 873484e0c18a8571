// scrivora-bench: measures the real program from the outside against reference servers, prints
// one table and writes it as JSON. It builds nothing; every program it runs is given or sits
// beside it.

#include "child_process.h"
#include "rows.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

namespace {

using namespace bench;

struct Group
{
    const char *name;
    std::vector<Row> (*run)(Context &);
    const char *about;
};

const Group Groups[] = {
    {"latency", latencyRows, "request→reply latency, p50 and p99, vs the epoll reference"},
    {"throughput", throughputRows, "exchanges per second on one connection vs the reference"},
    {"churn", churnRows, "connect–request–reply–close per second vs the reference"},
    {"startup", startupRows, "exec to listening vs a bare QApplication + QTcpServer"},
    {"idle", idleCpuRows, "CPU while idle and during a swipe wait"},
    {"upload", uploadCpuRows, "CPU during a stalled upload (root: private network)"},
    {"memory", memoryRows, "resident memory growth over 100,000 requests"},
    {"flood", floodRows,
     "memory and another host's reply time under a 400 MiB stream / a "
     "host that never reads"},
    {"debug", debugRows, "CPU per request in debug mode at 100 and 100,000 status lines"},
    {"swipe", swipeRows, "swipe on the pad emulator to SWIPE reply"},
};

struct Options
{
    std::set<std::string> only;
    bool quick = false;
    bool strict = false;
    std::string out;
    std::string revision;
    std::string binDir;
};

void usage(std::ostream &stream)
{
    stream << "usage: scrivora-bench [--only=GROUP,...] [--quick] [--out=FILE] [--revision=TEXT]\n"
              "                      [--bin-dir=DIR] [--strict] [--list]\n"
              "Runs scrivora, scrivora-padsim, scrivora-bench-epoll and scrivora-bench-qt from\n"
              "DIR (default: this program's folder). --quick cuts counts and times for a try\n"
              "run; --strict exits with 1 when a target is missed. Groups:\n";
    for (const Group &group : Groups)
        stream << "  " << group.name << std::string(12 - std::strlen(group.name), ' ')
               << group.about << "\n";
}

std::string valueOf(const std::string &argument, const std::string &option)
{
    return argument.rfind(option + "=", 0) == 0 ? argument.substr(option.size() + 1) : "";
}

std::optional<Options> parse(int argc, char *argv[])
{
    Options options;
    options.binDir = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--quick") {
            options.quick = true;
        } else if (argument == "--strict") {
            options.strict = true;
        } else if (argument == "--list" || argument == "--help") {
            usage(std::cout);
            std::exit(0);
        } else if (const std::string only = valueOf(argument, "--only"); !only.empty()) {
            std::istringstream names(only);
            for (std::string name; std::getline(names, name, ',');) {
                if (std::none_of(std::begin(Groups), std::end(Groups),
                                 [&](const Group &group) { return name == group.name; })) {
                    std::cerr << "scrivora-bench: no group " << name << "\n";
                    return std::nullopt;
                }
                options.only.insert(name);
            }
        } else if (const std::string out = valueOf(argument, "--out"); !out.empty()) {
            options.out = out;
        } else if (const std::string revision = valueOf(argument, "--revision");
                   !revision.empty()) {
            options.revision = revision;
        } else if (const std::string dir = valueOf(argument, "--bin-dir"); !dir.empty()) {
            options.binDir = dir;
        } else {
            std::cerr << "scrivora-bench: unknown argument " << argument << "\n";
            return std::nullopt;
        }
    }
    return options;
}

std::optional<Programs> findPrograms(const std::string &dir)
{
    const Programs programs{dir + "/scrivora", dir + "/scrivora-padsim",
                            dir + "/scrivora-bench-epoll", dir + "/scrivora-bench-qt"};
    for (const std::string &path :
         {programs.scrivora, programs.padsim, programs.reference, programs.qtListener}) {
        if (::access(path.c_str(), X_OK) != 0) {
            std::cerr << "scrivora-bench: " << path << " is missing; build it first (make bench)\n";
            return std::nullopt;
        }
    }
    return programs;
}

std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
    return text;
}

std::vector<Row> runGroup(const Group &group, Context &context)
{
    try {
        return group.run(context);
    } catch (const std::exception &error) {
        Row row;
        row.group = group.name;
        row.figure = group.about;
        row.measured = "not measured";
        row.target = "see the rows of this group";
        row.note = std::string("could not be measured: ") + error.what();
        return {row};
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const std::optional<Options> options = parse(argc, argv);
    if (!options) {
        usage(std::cerr);
        return 2;
    }
    const std::optional<Programs> programs = findPrograms(options->binDir);
    if (!programs)
        return 2;
    // A last resort on top of every loop's own bound: the whole run ends within half an hour.
    installCleanupOnSignals(options->quick ? 600 : 1800);

    Context context;
    context.programs = *programs;
    context.quick = options->quick;
    RunInfo info;
    info.startedUtc = utcNow();
    info.revision = options->revision;
    info.program = programs->scrivora;
    info.cpus = int(::sysconf(_SC_NPROCESSORS_ONLN));
    utsname system{};
    ::uname(&system);
    info.kernel = std::string(system.release);
    info.loadBefore = loadAverage();
    info.quick = options->quick;
    std::cerr << "scrivora-bench: " << info.startedUtc << ", " << info.cpus
              << " CPUs, load average " << info.loadBefore << (options->quick ? ", quick run" : "")
              << "\n";

    const Clock::time_point start = Clock::now();
    std::vector<Row> rows;
    for (const Group &group : Groups) {
        if (!options->only.empty() && !options->only.count(group.name))
            continue;
        info.groups.emplace_back(group.name);
        std::cerr << "scrivora-bench: " << group.name << " (" << group.about << ") ..."
                  << std::flush;
        const Clock::time_point groupStart = Clock::now();
        std::vector<Row> groupRows = runGroup(group, context);
        std::cerr << " " << formatCount(secondsSince(groupStart)) << " s\n";
        rows.insert(rows.end(), groupRows.begin(), groupRows.end());
    }
    killAllChildren();
    info.seconds = secondsSince(start);
    info.loadAfter = loadAverage();

    std::cout << "\nScrivora benchmark, " << info.startedUtc
              << (info.revision.empty() ? "" : ", " + info.revision) << ", " << info.cpus
              << " CPUs, load " << info.loadBefore << " → " << info.loadAfter << ", "
              << formatCount(info.seconds) << " s" << (info.quick ? ", QUICK RUN" : "") << "\n\n";
    printTable(stdout, rows);
    const long met = std::count_if(rows.begin(), rows.end(),
                                   [](const Row &row) { return row.verdict == Verdict::Pass; });
    const long missed = std::count_if(rows.begin(), rows.end(),
                                      [](const Row &row) { return row.verdict == Verdict::Fail; });
    std::printf("\n%ld of %zu targets met, %ld missed.\n", met, rows.size(), missed);
    if (!options->out.empty()) {
        if (!writeJson(options->out, info, rows)) {
            std::cerr << "scrivora-bench: cannot write " << options->out << "\n";
            return 2;
        }
        std::printf("Written to %s\n", options->out.c_str());
    }
    return options->strict && missed > 0 ? 1 : 0;
}
