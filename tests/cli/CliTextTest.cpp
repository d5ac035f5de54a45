// The hex dump of a dry run.
#include <gtest/gtest.h>

#include "CliText.h"

using tavo::cli::HexDump;

TEST(CliText, HexDumpShowsOffsetsBytesAndText) {
    const std::string wire = "\xf0\xf1\x40\x81";
    EXPECT_EQ(HexDump(wire, "01 a"), "0000  f0 f1 40 81" + std::string(12 * 3, ' ') + "  |01 a|\n");
    const std::string seventeen(17, '\x40');
    const auto dump = HexDump(seventeen, std::string(16, ' ') + "\xe9");
    EXPECT_NE(dump.find("\n0016  40" + std::string(15 * 3, ' ') + "  |\xc3\xa9|\n"),
              std::string::npos)
        << dump;
    EXPECT_NE(HexDump(std::string(1, '\0'), std::string(1, '\x07')).find("|.|"), std::string::npos);
}
