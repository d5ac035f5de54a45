// Latin-1 and UTF-8, JSON and terminal text: what the window, the sender and the daemon
// share.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "Json.h"
#include "Latin1Text.h"

using namespace tavo::text;

// As the window's fields take text: one "?" for each character Latin-1 cannot carry,
// line breaks for the three Unicode ones, and bytes that are not UTF-8 refused.
TEST(Text, Utf8BecomesFieldTextOrIsRefusedWithItsPlace) {
    struct Case {
        std::string utf8;
        std::optional<std::string> latin1;
        std::size_t replaced;
        std::string said; // the first replaced character, or part of the error
    } cases[] = {
        {"plain ASCII", "plain ASCII", 0, ""},
        {"J\xc3\xbcrgen \xc3\x9f \xc3\xbf", "J\xfcrgen \xdf \xff", 0, ""},
        {"5 \xe2\x82\xac", "5 ?", 1, "U+20AC at character 3"},
        {"\xf0\x9f\x98\x80!\xe2\x82\xac\xf0\x9f\x98\x80", "?!??", 3, "U+1F600 at character 1"},
        {"a\xc2\x85"
         "b\xe2\x80\xa8"
         "c\xe2\x80\xa9",
         "a\r\nb\r\nc\r\n", 0, ""},
        {"caf\xe9", std::nullopt, 0, "(byte 4)"},          // Latin-1, not UTF-8
        {"\xc0\xa9", std::nullopt, 0, "(byte 1)"},         // overlong
        {"ab\xed\xa0\x80", std::nullopt, 0, "(byte 3)"},   // surrogate
        {"\xf4\x90\x80\x80", std::nullopt, 0, "(byte 1)"}, // past U+10FFFF
        {"\xe2\x82", std::nullopt, 0, "(byte 1)"},         // cut short
        {"x\x80", std::nullopt, 0, "(byte 2)"},            // lone continuation
    };
    for (const auto& c : cases) {
        std::string error;
        const auto field = Utf8ToFieldText(c.utf8, error);
        ASSERT_EQ(field.has_value(), c.latin1.has_value()) << c.utf8;
        if (!field) {
            EXPECT_NE(error.find(c.said), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(field->latin1, *c.latin1);
        EXPECT_EQ(field->replaced, c.replaced) << c.utf8;
        if (c.replaced > 0) {
            EXPECT_EQ(CodePointName(field->firstCode) + " at character " +
                          std::to_string(field->firstAt),
                      c.said);
        }
    }
}

TEST(Text, EveryLatin1ByteButNelSurvivesTheRoundTrip) {
    std::string all;
    for (int i = 1; i < 256; ++i)
        all += static_cast<char>(i);
    std::string error;
    auto expected = all;
    expected.replace(0x84, 1, "\r\n");
    EXPECT_EQ(Utf8ToFieldText(Latin1ToUtf8(all), error)->latin1, expected);
}

TEST(Text, JsonStringsEscapeWhatJsonRequiresAndC1Controls) {
    EXPECT_EQ(JsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(JsonString("t\tn\nr\r"), R"("t\tn\nr\r")");
    EXPECT_EQ(JsonString(std::string("\x01\x1f\x7f", 3)), R"("\u0001\u001f\u007f")");
    EXPECT_EQ(JsonString("\xc3\xbc"), "\"\xc3\xbc\"");
    EXPECT_EQ(JsonString("\xc2\x9b[2J\xc2\xa0"), "\"\\u009b[2J\xc2\xa0\""); // C1, not NBSP
}

// What a terminal would take as a command shows as text; printable text, any script, stays.
TEST(Text, ControlCharactersAreEscapedForTheTerminal) {
    const std::pair<std::string, std::string> cases[] = {
        {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
        {"a\tb\r\n\x7f", "a\\x09b\\x0d\\x0a\\x7f"},
        {"\xc2\x9b[31m \xc2\x85", "\\x9b[31m \\x85"}, // C1 controls
        {"caf\xc3\xa9 \xe2\x82\xac \xc2\xa0\\", "caf\xc3\xa9 \xe2\x82\xac \xc2\xa0\\"}, // kept
        {"\x9b[31m\xff", "\\x9b[31m\\xff"},                                             // not UTF-8
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(EscapeControls(text), shown);
}
