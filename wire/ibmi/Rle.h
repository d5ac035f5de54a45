#pragma once

// The run-length compression the remote command server uses for large parameter areas:
// 0x1B introduces either a repeat record (0x1B, a two-byte pattern, a two-byte count of
// pairs) or an escaped literal (0x1B 0x1B); every other byte stands for itself.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tavo::ibmi {

// The compressed form, or nullopt when it would not be strictly shorter than `data`.
std::optional<std::vector<std::uint8_t>> CompressRle(std::span<const std::uint8_t> data);

// Expands `compressed` into exactly `length` bytes (zero-filled past the end of the data).
// nullopt when the data is malformed or expands beyond `length`.
std::optional<std::vector<std::uint8_t>> DecompressRle(std::span<const std::uint8_t> compressed,
                                                       std::size_t length);

} // namespace tavo::ibmi
