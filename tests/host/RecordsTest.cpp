// The fixed-width records on their own: what the link's own tests cannot reach.
#include "Records.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Ccsid37.h"
#include "FreshProcess.h"

using namespace records;
using testsupport::At;
using testsupport::Pad;

TEST(RequestStamp, TakesUtcFieldsAndFirstDigitOfMilliseconds) {
    struct Case {
        std::chrono::system_clock::time_point when;
        const char* stamp;
    } cases[] = {
        {At(1999, 3, 5, 14, 7, 9, 57), "09903051407095"},
        {At(2000, 1, 1, 0, 0, 0, 0), "10001010000000"},
        {At(2026, 12, 31, 23, 59, 59, 7), "12612312359597"},
        {At(2026, 12, 31, 23, 59, 59, 570), "12612312359595"},
        {At(1970, 1, 1, 0, 0, 0, 999), "07001010000009"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatRequestStamp(c.when), c.stamp);
}

TEST(SendRecord, FieldsFollowKindSubjectCaseAndModes) {
    struct Case {
        int kind, count;
        std::string recipients, subject, body;
        DeliveryModeFlags modes;
        std::size_t offset;
        std::string expected;
    } cases[] = {
        {1, 0, "", "", "Call me", {}, kTextOffset, "Call me  "}, // no subject, no "@@"
        {1,
         0,
         "",
         std::string(60, 's') + std::string(15, 't'),
         "b",
         {},
         kTextOffset,
         std::string(60, 's') + "@@b "}, // 75 characters give their first 60
        {0,
         2,
         "ops       night     ",
         "Hi",
         "Body Text",
         {},
         0,
         "02OPS       NIGHT     "},                                      // names upper-cased
        {1, 0, "", "Hi", "Body Text", {}, kTextOffset, "Hi@@Body Text"}, // text keeps its case
        {0, 0, "", "", "", {}, kKindOffset, "*GRP"},
        {7, 0, "", "", "", {}, kKindOffset, "*GRP"}, // any kind but 1 names groups
        {1, 0, "m\xfcller\xe9\xf7\xff ", "", "", {}, kRecipientsOffset, "M\xdcLLER\xc9\xf7\xff "},
        {1, 0, "", "", "", {0, 2, 1, 0, 0, 0, 0, 0}, kModesOffset, " Y     "}, // 2 is cleared
        {1, 0, "", "", "", {0, 0, 0, 0, 0, 1, 0, 0}, kModesOffset, "    Y  "}, // msgq, then phone
    };
    for (const auto& c : cases) {
        std::string record(kSendRecordLength, '\0');
        BuildSendRecord(c.kind, c.count, c.recipients, MessageText(c.subject, c.body), c.modes,
                        record.data());
        EXPECT_EQ(record.substr(c.offset, c.expected.size()), c.expected) << c.expected;
    }
}

TEST(CleanField, SpecialValuesAndLookAlikes) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"JSMITH    ", "JSMITH"},
        {"*NONE", ""},
        {"*BLANK   ", ""},
        {"*BLANKS", ""},
        {"*", ""},
        {"*ALL", "*ALL"},
        {"*none", "*none"},
        {"  *NONE", "  *NONE"},
        {"a b\t\r\n", "a b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CleanField(c.in), c.out) << c.in;
}

TEST(SendReply, ClaimsPastTheAreaOrItsEntriesStopThere) {
    const auto read = [](const std::string& latin1, std::size_t length) {
        const auto ebcdic = tavo::codepage::ToEbcdic(Pad(latin1, length));
        return ReadReplyTexts(reinterpret_cast<const unsigned char*>(ebcdic.data()), length,
                              [](char* target, unsigned long targetLength, const char* source,
                                 unsigned long sourceLength) {
                                  const auto text = tavo::codepage::ToLatin1(std::string_view(
                                      source, std::min(sourceLength, targetLength)));
                                  std::memcpy(target, text.data(), text.size());
                                  target[text.size()] = '\0';
                              });
    };
    struct Case {
        std::string reply;
        std::size_t length;
        std::vector<std::string> texts;
        bool cutShort;
        long missing; // entries claimed and not held
    } cases[] = {
        {"Y00001" + Pad("TVO0101", 22) + "99999short", 64, {Pad("short", 64 - 6 - 27)}, true, 0},
        {"Y99999" + Pad("TVO0101", 22) + "00003one", 60, {"one"}, false, 99998}, // no room
        {"Y00999" + Pad("TVO0101", 22) + "00003one", 200, {"one"}, false, 998},  // blank rest
        {"Y00003" + Pad("TVO0101", 22) + "00003one" + std::string(27, '\0'),
         200,
         {"one"},
         false,
         2},
        {"Y00", 3, {}, true, 0}, // too small for even the count
    };
    for (const auto& c : cases) {
        const auto reply = read(c.reply, c.length);
        EXPECT_TRUE(reply.reportsErrors);
        EXPECT_EQ(reply.cutShort, c.cutShort) << c.reply;
        EXPECT_EQ(reply.missing, c.missing) << c.reply;
        EXPECT_EQ(reply.texts, c.texts) << c.reply;
    }
}
