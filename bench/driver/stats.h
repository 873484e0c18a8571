#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace bench {

/// The @p fraction quantile (0.5 for the median) by the nearest-rank rule; NaN when empty.
inline double quantile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * double(values.size())));
    return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

inline double median(const std::vector<double> &values)
{
    return quantile(values, 0.5);
}

inline double maximum(const std::vector<double> &values)
{
    return values.empty() ? std::numeric_limits<double>::quiet_NaN()
                          : *std::max_element(values.begin(), values.end());
}

} // namespace bench
