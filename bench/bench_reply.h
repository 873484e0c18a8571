#pragma once

#include <cstddef>

namespace bench {

/// The reply every reference server sends: byte for byte the program's answer to a request
/// whose job id differs from the open job 1, so both sides move the same bytes.
inline constexpr char FixedReply[] = "<ERROR>Transaction in progress for job 1</ERROR>";
inline constexpr std::size_t FixedReplySize = sizeof FixedReply - 1;

} // namespace bench
