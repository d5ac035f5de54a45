// The text conversions at the edges of tavo400-send.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "CliText.h"

using namespace tavo::cli;

TEST(CliText, Utf8BecomesLatin1OrIsRefusedWithItsPlace) {
    struct Case {
        std::string utf8;
        std::optional<std::string> latin1;
        const char* said; // part of the error
    } cases[] = {
        {"plain ASCII", "plain ASCII", nullptr},
        {"J\xc3\xbcrgen \xc3\x9f \xc3\xbf", "J\xfcrgen \xdf \xff", nullptr},
        {"5 \xe2\x82\xac", std::nullopt, "(U+20AC) at character 3"},
        {"\xf0\x9f\x98\x80", std::nullopt, "(U+1F600) at character 1"},
        {"caf\xe9", std::nullopt, "(byte 4)"},          // Latin-1, not UTF-8
        {"\xc0\xa9", std::nullopt, "(byte 1)"},         // overlong
        {"ab\xed\xa0\x80", std::nullopt, "(byte 3)"},   // surrogate
        {"\xf4\x90\x80\x80", std::nullopt, "(byte 1)"}, // past U+10FFFF
        {"\xe2\x82", std::nullopt, "(byte 1)"},         // cut short
        {"x\x80", std::nullopt, "(byte 2)"},            // lone continuation
    };
    for (const auto& c : cases) {
        std::string error;
        const auto latin1 = Utf8ToLatin1(c.utf8, error);
        EXPECT_EQ(latin1, c.latin1) << c.utf8;
        if (c.said) {
            EXPECT_NE(error.find(c.said), std::string::npos) << error;
        }
    }
}

TEST(CliText, EveryLatin1ByteSurvivesTheRoundTrip) {
    std::string all;
    for (int i = 1; i < 256; ++i)
        all += static_cast<char>(i);
    std::string error;
    EXPECT_EQ(Utf8ToLatin1(Latin1ToUtf8(all), error), all);
}

TEST(CliText, JsonStringsEscapeWhatJsonRequires) {
    EXPECT_EQ(JsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(JsonString("t\tn\nr\r"), R"("t\tn\nr\r")");
    EXPECT_EQ(JsonString(std::string("\x01\x1f\x7f", 3)), R"("\u0001\u001f\u007f")");
    EXPECT_EQ(JsonString("\xc3\xbc"), "\"\xc3\xbc\"");
}

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
