#include "Rle.h"

#include <gtest/gtest.h>

#include <random>

using namespace tavo::ibmi;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts, std::size_t times = 1) {
    Bytes out;
    for (std::size_t i = 0; i < times; ++i)
        for (const auto& p : parts)
            out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

TEST(Rle, CompressesToTheRecordsTheHostExpects) {
    const struct {
        Bytes data;
        std::optional<Bytes> compressed;
    } cases[] = {
        // A 32000-byte output parameter of zeros, as the program call sends it.
        {Bytes(32000, 0), Bytes{0x1B, 0x00, 0x00, 0x3E, 0x80}},
        // Four pairs stay literal; five make a record.
        {Cat({Cat({{'C', 'D'}}, 4), Bytes(100, 0)}),
         Bytes{'C', 'D', 'C', 'D', 'C', 'D', 'C', 'D', 0x1B, 0x00, 0x00, 0x00, 0x32}},
        {Cat({{'C', 'D'}}, 5), Bytes{0x1B, 'C', 'D', 0x00, 0x05}},
        {Cat({{'C', 'D'}}, 4), std::nullopt},
        // A count holds at most 65535 pairs; a remainder under five pairs stays literal.
        {Bytes(2 * 65542, 0), Bytes{0x1B, 0x00, 0x00, 0xFF, 0xFF, 0x1B, 0x00, 0x00, 0x00, 0x07}},
        {Bytes(2 * 65538, 0), Bytes{0x1B, 0x00, 0x00, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
        // The escape byte is doubled, and never part of a repeated pattern.
        {Cat({{0x1B}, Bytes(20, 'A'), Cat({{0x1B, 'A'}}, 6)}),
         Cat({{0x1B, 0x1B, 0x1B, 'A', 'A', 0x00, 0x0A}, Cat({{0x1B, 0x1B, 'A'}}, 6)})},
        // Nothing is kept that is not strictly shorter.
        {Bytes{}, std::nullopt},
        {Bytes{'a', 'b', 'c'}, std::nullopt},
        {Bytes(20, 0x1B), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.size());
        EXPECT_EQ(CompressRle(c.data), c.compressed);
        if (c.compressed) {
            EXPECT_EQ(DecompressRle(*c.compressed, c.data.size()), c.data);
        }
    }
}

TEST(Rle, RoundTripsRunsAtAnyOffset) {
    // Few distinct bytes so that runs, odd offsets and escapes all turn up.
    std::mt19937 random(400);
    const std::uint8_t alphabet[] = {0x00, 0x1B, 'A'};
    for (int round = 0; round < 300; ++round) {
        Bytes data;
        for (std::size_t pieces = random() % 12; pieces > 0; --pieces)
            data.insert(data.end(), random() % 40, alphabet[random() % 3]);
        if (const auto compressed = CompressRle(data)) {
            ASSERT_LT(compressed->size(), data.size());
            ASSERT_EQ(DecompressRle(*compressed, data.size()), data);
        }
    }
}

TEST(Rle, DecompressesIntoExactlyTheAnnouncedLength) {
    const struct {
        Bytes compressed;
        std::size_t length;
        std::optional<Bytes> data;
    } cases[] = {
        {{'A', 0x1B, 'B', 'C', 0x00, 0x01}, 5, Bytes{'A', 'B', 'C', 0, 0}}, // zero-filled
        {{'A', 0x1B}, 10, std::nullopt},                                    // a lone escape
        {{0x1B, 0x00, 0x00, 0x3E, 0x80}, 31999, std::nullopt},              // a record too long
        {{'A', 'B'}, 1, std::nullopt},                                      // a literal too many
        {{0x1B, 0x1B}, 0, std::nullopt},                                    // an escape too many
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecompressRle(c.compressed, c.length), c.data);
    // A record cut short, where the byte just past the input would have completed it.
    const Bytes record{0x1B, 'A', 'B', 0x00, 0x01};
    EXPECT_EQ(DecompressRle(std::span(record).first(4), 2), std::nullopt);
}
