// A customer's swipe on the pad emulator until the host holds the tracks.

#include "rows.h"
#include "stats.h"

namespace bench {
namespace {

constexpr double PollIntervalMs = 1000;
const std::string Track1 = "%B4111111111111111^BENCH/SWIPE^2812101000000000?";
const std::string Track2 = ";4111111111111111=28121010000000000000?";

} // namespace

std::vector<Row> swipeRows(Context &context)
{
    PadSim pad(context.programs.padsim);
    ScrivoraSettings settings;
    settings.padDevice = pad.device();
    ServiceRun program(context.programs.scrivora, settings);
    program.start();
    Connection host = Connection::open(program.port(), 2000);
    if (!host.isOpen() || !pad.waitFor("form padWelcome", 5000))
        throw BenchError("the program did not connect to the pad emulator");
    const std::string expected = "<SWIPE>" + Track1 + Track2 + "</SWIPE>";
    // The swipe lands anywhere in the program's poll cycle, as a customer's would.
    std::uniform_real_distribution<double> phase(0, PollIntervalMs);
    const int swipes = context.quick ? 5 : 20;
    std::vector<double> samples;
    for (int i = 0; i < swipes; ++i) {
        host.send("TRANS=CC;UNIQU=" + std::to_string(100 + i) + ";TOTAL=1.00;");
        if (!pad.waitFor("form padStart", 5000))
            throw BenchError("the pad was not asked for swipe " + std::to_string(i + 1));
        sleepMs(phase(context.random));
        const Clock::time_point swiped = Clock::now();
        pad.command("swipe " + Track1 + " " + Track2);
        const std::optional<std::string> reply = host.receiveUntil("</SWIPE>", 5000);
        const double ms = nsBetween(swiped, Clock::now()) / 1e6;
        if (!reply)
            throw BenchError("no SWIPE reply within 5 s of swipe " + std::to_string(i + 1));
        if (*reply != expected)
            throw BenchError("swipe " + std::to_string(i + 1) + " was answered with " + *reply);
        samples.push_back(ms);
        host.send("ABORT=TRUE;");
        if (!pad.waitFor("form padWelcome", 5000))
            throw BenchError("the abort after swipe " + std::to_string(i + 1) +
                             " did not show the welcome form");
    }
    const double middle = median(samples);
    const double worst = maximum(samples);
    Row row;
    row.group = "swipe";
    row.figure =
        "swipe on the pad emulator → SWIPE reply, median / max of " + std::to_string(swipes);
    row.measured = formatMs(middle) + " / " + formatMs(worst);
    row.target = "≤ " + formatMs(PollIntervalMs) + " (one poll interval)";
    row.verdict =
        middle <= PollIntervalMs && worst <= PollIntervalMs ? Verdict::Pass : Verdict::Fail;
    row.note = "serial pad: scrivora-padsim on a pseudo-terminal; each swipe typed at a random "
               "moment of the poll cycle after the swipe form shows, timed from the command to "
               "the whole reply";
    row.numbers = {{"median_ms", middle}, {"max_ms", worst}};
    return {row};
}

} // namespace bench
