#include "delivery/retry_schedule.h"

#include <array>

std::chrono::seconds retryDelay(int attempts)
{
    using namespace std::chrono_literals;
    // Quick at first for a blip in the network, then slow enough not to flood a server
    // that stays down for hours.
    static constexpr std::array<std::chrono::seconds, 4> rising = {30s, 1min, 2min, 5min};
    const auto index = std::size_t(attempts < 1 ? 0 : attempts - 1);
    return index < rising.size() ? rising[index] : 15min;
}
