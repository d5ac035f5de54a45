#pragma once

#include <cstddef>

namespace tavo::server {

// The most recipients, and the most groups, a directory holds. The daemon's import
// refuses more, and a client stops a list that runs past it: one number, so that every
// directory a host was given can be listed in full.
inline constexpr std::size_t kMaxDirectoryEntries = 100000;

} // namespace tavo::server
