#pragma once

#include <chrono>

/**
 * How long a waiting upload rests after its @p attempts-th attempt failed: about 30 s,
 * 1 min, 2 min, 5 min, then every 15 minutes for as long as it does not land.
 * @p attempts counts every attempt so far, the first upload included (1 or more; less is
 * taken as 1).
 */
std::chrono::seconds retryDelay(int attempts);
