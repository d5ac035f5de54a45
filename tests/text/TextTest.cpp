// Latin-1 and UTF-8, JSON and terminal text: what the window, the sender and the daemon
// share.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "EbcdicCcsids.h"
#include "Json.h"
#include "Latin1Text.h"

#if __has_include(<iconv.h>)
#include <iconv.h>
#endif

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

#if __has_include(<iconv.h>)
// Every byte of every code page as glibc's tables have it.
TEST(Text, EbcdicCodePagesMatchIconv) {
    for (const std::uint32_t ccsid : EbcdicCodePage::Supported()) {
        char name[16];
        std::snprintf(name, sizeof name, "IBM%03u", ccsid);
        const iconv_t cd = iconv_open("UTF-32BE", name);
        ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << name;
        const auto& page = *EbcdicCodePage::Find(ccsid);
        for (unsigned byte = 0; byte < 256; ++byte) {
            char in = static_cast<char>(byte), out[4];
            char *from = &in, *to = out;
            std::size_t left = 1, room = 4;
            ASSERT_NE(iconv(cd, &from, &left, &to, &room), static_cast<std::size_t>(-1));
            const auto* u = reinterpret_cast<unsigned char*>(out);
            const char32_t code = u[0] << 24 | u[1] << 16 | u[2] << 8 | u[3];
            EXPECT_EQ(page.CodePoint(static_cast<std::uint8_t>(byte)), code)
                << name << " byte " << byte;
            if (code < 256) {
                EXPECT_EQ(page.ByteOf(static_cast<char>(code)), byte) << name;
            }
        }
        iconv_close(cd);
    }
}
#endif

// Where iconv is missing: '#', '@', 'ä' and '$', the characters that move most, as IBM
// documents them, then the euro sign, or '?' (0x6F) where the code page has none.
TEST(Text, EbcdicCodePagesPlaceTheVariantCharacters) {
    const std::pair<std::uint32_t, std::string> cases[] = {
        {37, "\x7B\x7C\x43\x5B\x6F"},   {273, "\x7B\xB5\xC0\x5B\x6F"},
        {277, "\x4A\x80\x43\x67\x6F"},  {278, "\x63\xEC\xC0\x67\x6F"},
        {280, "\xB1\xB5\x43\x5B\x6F"},  {284, "\x69\x7C\x43\x5B\x6F"},
        {285, "\x7B\x7C\x43\x4A\x6F"},  {297, "\xB1\x44\x43\x5B\x6F"},
        {500, "\x7B\x7C\x43\x5B\x6F"},  {871, "\x7B\xAC\x43\x5B\x6F"},
        {1140, "\x7B\x7C\x43\x5B\x9F"}, {1141, "\x7B\xB5\xC0\x5B\x9F"},
        {1142, "\x4A\x80\x43\x67\x5A"}, {1143, "\x63\xEC\xC0\x67\x5A"},
        {1144, "\xB1\xB5\x43\x5B\x9F"}, {1145, "\x69\x7C\x43\x5B\x9F"},
        {1146, "\x7B\x7C\x43\x4A\x9F"}, {1147, "\xB1\x44\x43\x5B\x9F"},
        {1148, "\x7B\x7C\x43\x5B\x9F"}, {1149, "\x7B\xAC\x43\x5B\x9F"},
    };
    ASSERT_EQ(std::size(cases), EbcdicCodePage::Supported().size());
    for (const auto& [ccsid, bytes] : cases) {
        const EbcdicCodePage* page = EbcdicCodePage::Find(ccsid);
        ASSERT_NE(page, nullptr) << ccsid;
        const auto* raw = reinterpret_cast<const std::uint8_t*>(bytes.data());
        EXPECT_EQ(page->FromLatin1("#@\xE4$"), bytes.substr(0, 4)) << ccsid;
        EXPECT_EQ(page->CodePoint(raw[4]), bytes[4] == '\x6F' ? U'?' : U'\u20AC') << ccsid;
        // The euro sign has no Latin-1 byte; the currency sign it displaced has no EBCDIC one.
        EXPECT_EQ(page->ToLatin1({raw, 5}), "#@\xE4$?") << ccsid;
        EXPECT_EQ(page->FromLatin1("\xA4").has_value(), bytes[4] == '\x6F') << ccsid;
    }
    EXPECT_EQ(EbcdicCodePage::Find(1047), nullptr);
    EXPECT_EQ(EbcdicCodePage::FindOr37(1047).Ccsid(), 37u);
}

// The one case rule for names, both ways: what the engine stores is what a list shows.
TEST(NameCase, FoldedToCapitalsAndShownLowerAfterTheFirst) {
    EXPECT_EQ(FoldName("jos\xe9 \xdf\xff\xf7x"), "JOS\xc9 \xdf\xff\xf7X"); // not ß, ÿ, ÷
    EXPECT_EQ(DisplayName("jSMITH"), "jsmith");
    EXPECT_EQ(DisplayName("\xc9MILE\xc0\xde\xd7"), "\xc9mile\xe0\xfe\xd7"); // not the x sign
}
