#pragma once

#include <chrono>

namespace cwb {

// Whether cwbCO_Cancel asked the waits of this process to end.
bool Cancelled();

// How long a wait runs before it looks at Cancelled again: a Cancel ends it within this.
inline constexpr std::chrono::milliseconds kCancelCheck{25};

} // namespace cwb
