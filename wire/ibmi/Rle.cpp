#include "Rle.h"

#include <algorithm>

namespace tavo::ibmi {
namespace {

constexpr std::uint8_t kEscape = 0x1B;
constexpr std::size_t kRecordLength = 5;
// Fewer pairs than this would save too little over a 5-byte record to be worth one.
constexpr std::size_t kMinPairs = 5;
constexpr std::size_t kMaxPairs = 0xFFFF;

} // namespace

std::optional<std::vector<std::uint8_t>> CompressRle(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out;
    out.reserve(data.size());
    std::size_t i = 0;
    while (i < data.size()) {
        const std::uint8_t first = data[i];
        // A pattern holding the escape byte would read back as an escaped literal.
        if (i + 1 < data.size() && first != kEscape && data[i + 1] != kEscape) {
            const std::uint8_t second = data[i + 1];
            std::size_t pairs = 1;
            while (i + 2 * pairs + 1 < data.size() && data[i + 2 * pairs] == first &&
                   data[i + 2 * pairs + 1] == second)
                ++pairs;
            if (pairs >= kMinPairs) {
                // What is left under kMinPairs goes out as literals on the next turns.
                while (pairs >= kMinPairs) {
                    const std::size_t take = std::min(pairs, kMaxPairs);
                    out.insert(out.end(),
                               {kEscape, first, second, static_cast<std::uint8_t>(take >> 8),
                                static_cast<std::uint8_t>(take)});
                    pairs -= take;
                    i += 2 * take;
                }
                continue;
            }
        }
        out.push_back(first);
        if (first == kEscape)
            out.push_back(kEscape);
        ++i;
        // Output only grows, so it can no longer end up shorter.
        if (out.size() >= data.size())
            return std::nullopt;
    }
    if (out.size() >= data.size())
        return std::nullopt;
    return out;
}

std::optional<std::vector<std::uint8_t>> DecompressRle(std::span<const std::uint8_t> compressed,
                                                       std::size_t length) {
    std::vector<std::uint8_t> out(length, 0);
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < compressed.size()) {
        const std::size_t left = compressed.size() - i;
        if (compressed[i] != kEscape || (left >= 2 && compressed[i + 1] == kEscape)) {
            if (o == length)
                return std::nullopt;
            out[o++] = compressed[i];
            i += compressed[i] == kEscape ? 2 : 1;
            continue;
        }
        if (left < kRecordLength)
            return std::nullopt;
        const std::size_t pairs = std::size_t{compressed[i + 3]} << 8 | compressed[i + 4];
        if (pairs > (length - o) / 2)
            return std::nullopt;
        for (std::size_t k = 0; k < pairs; ++k) {
            out[o++] = compressed[i + 1];
            out[o++] = compressed[i + 2];
        }
        i += kRecordLength;
    }
    return out;
}

} // namespace tavo::ibmi
