#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "Ccsid37.h"
#include "Records.h"

using namespace records;

namespace {

std::chrono::system_clock::time_point At(int y, int mo, int d, int h, int mi, int s, int ms) {
    using namespace std::chrono;
    return sys_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
}

std::string Pad(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

std::string SendRecord(int kind, int count, std::string_view recipients, std::string_view subject,
                       std::string_view body, DeliveryModeFlags modes = {}) {
    std::string record(kSendRecordLength, '\0');
    BuildSendRecord(kind, count, recipients, MessageText(subject, body), modes, record.data());
    return record;
}

// The reply reader over plain EBCDIC, converting with the standard table.
ReplyTexts Read(const std::string& ebcdic) {
    return ReadReplyTexts(reinterpret_cast<const unsigned char*>(ebcdic.data()), ebcdic.size(),
                          [](char* target, unsigned long targetLength, const char* source,
                             unsigned long sourceLength) {
                              const bool separate = target != source;
                              if (separate)
                                  std::memset(target, 0, targetLength);
                              const auto text = tavo::codepage::ToLatin1(
                                  std::string_view(source, std::min(sourceLength, targetLength)));
                              std::memcpy(target, text.data(), text.size());
                              if (separate)
                                  target[targetLength] = '\0';
                          });
}

std::string ErrorEntry(const std::string& text, std::size_t claimed) {
    char length[8];
    std::snprintf(length, sizeof length, "%05zu", claimed);
    return Pad("TVO0101", 22) + length + text;
}

} // namespace

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

TEST(ListRequest, GroupRequestHasCodeStampAndBlanks) {
    char area[kListRequestLength];
    BuildListRequest("*GRPL", "10001010000000", area);
    EXPECT_EQ(std::string(area, kListRequestLength),
              "*GRPL     10001010000000" + std::string(100, ' '));
    BuildListRequest("*CRTDTAQ", "09903051407095", area);
    EXPECT_EQ(std::string(area, 24), "*CRTDTAQ  09903051407095");
}

TEST(SendRecord, HiCallMeToSmithAndJonesByteForByte) {
    DeliveryModeFlags modes{0, 1, 1, 0, 0, 0, 0, 0};
    const auto record = SendRecord(1, 2, "SMITH     JONES     ", "Hi", "Call me", modes);
    const std::string expected = "02" + Pad("SMITH", 10) + Pad("JONES", 10) +
                                 std::string(480, ' ') + Pad("Hi@@Call me", 999) + "*RCP" +
                                 "YY     ";
    EXPECT_EQ(record, expected);
}

TEST(SendRecord, SubjectRules) {
    // no subject: the body alone, no "@@"
    auto record = SendRecord(1, 0, "", "", "Call me");
    EXPECT_EQ(record.substr(kTextOffset, 9), "Call me  ");
    // a 75-character subject contributes its first 60
    const std::string subject(60, 's');
    record = SendRecord(1, 0, "", subject + std::string(15, 't'), "b");
    EXPECT_EQ(record.substr(kTextOffset, 64), subject + "@@b ");
}

TEST(SendRecord, KindCountCaseAndModes) {
    auto record = SendRecord(0, 2, "ops       night     ", "Hi", "Body Text",
                             DeliveryModeFlags{1, 2, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(record.substr(0, 2), "02");
    EXPECT_EQ(record.substr(kKindOffset, 4), "*GRP");
    EXPECT_EQ(record.substr(kRecipientsOffset, 20), "OPS       NIGHT     ");
    EXPECT_EQ(record.substr(kTextOffset, 13), "Hi@@Body Text");     // text keeps its case
    EXPECT_EQ(record.substr(kModesOffset, 7), std::string(7, ' ')); // 2 counts as cleared
    record = SendRecord(7, 0, "", "", "");
    EXPECT_EQ(record.substr(0, 2), "00");
    EXPECT_EQ(record.substr(kRecipientsOffset, kRecipientsLength), std::string(500, ' '));
    EXPECT_EQ(record.substr(kKindOffset, 4), "*GRP"); // any kind but 1 names groups
    // Message queue travels before Telephone
    record = SendRecord(1, 0, "", "", "", DeliveryModeFlags{0, 0, 0, 0, 0, 1, 0, 0});
    EXPECT_EQ(record.substr(kModesOffset, 7), "    Y  ");
}

TEST(SendRecord, UpperCasesLatin1Letters) {
    const auto record = SendRecord(1, 1, "m\xfcller\xe9\xf7\xff ", "", "x");
    EXPECT_EQ(record.substr(kRecipientsOffset, 10), "M\xdcLLER\xc9\xf7\xff ");
}

TEST(ListEntry, EndMarkerAndFields) {
    auto entry = Pad(" JSMITH    John Smith", 61);
    auto fields = ReadListEntry(entry.c_str());
    EXPECT_FALSE(fields.endOfList);
    EXPECT_EQ(fields.name, "JSMITH");
    EXPECT_EQ(fields.description, "John Smith");
    fields = ReadListEntry(Pad(" OPS", 61).c_str());
    EXPECT_EQ(fields.description, ""); // 50 blanks
    EXPECT_TRUE(ReadListEntry(Pad("X", 61).c_str()).endOfList);
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
        {"", ""},
        {"  lead", "  lead"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CleanField(c.in), c.out) << c.in;
}

TEST(DisplayName, FirstCharacterAsReceivedTheRestLowerCase) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"JSMITH", "Jsmith"},
        {"jSMITH", "jsmith"},
        {"O'BRIEN-2", "O'brien-2"},
        {"\xc9MILE\xc0\xde\xd7", "\xc9mile\xe0\xfe\xd7"}, // the multiplication sign stays
        {"", ""},
        {"X", "X"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisplayName(c.in), c.out) << c.in;
}

TEST(ParseNumber, ReadsAsAtolDoes) {
    EXPECT_EQ(ParseNumber("00012", 5), 12);
    EXPECT_EQ(ParseNumber("   42", 5), 42);
    EXPECT_EQ(ParseNumber("12abc", 5), 12);
    EXPECT_EQ(ParseNumber("abcde", 5), 0);
    EXPECT_EQ(ParseNumber("-0003", 5), -3);
}

TEST(SendReply, AnyFirstByteButYIsAcceptance) {
    for (const char* reply : {" ", "N", "y", "N00002"}) {
        auto texts = Read(tavo::codepage::ToEbcdic(Pad(reply, 100)));
        EXPECT_FALSE(texts.reportsErrors) << reply;
        EXPECT_TRUE(texts.texts.empty());
    }
}

TEST(SendReply, ErrorsAreReadInOrder) {
    auto texts = Read(tavo::codepage::ToEbcdic(Pad("Y00000", 500)));
    EXPECT_TRUE(texts.reportsErrors);
    EXPECT_TRUE(texts.texts.empty());

    const std::string first(12, 'a'), second = "Unknown recipient SMYTH. xyz."; // 12 and 29
    const auto reply =
        "Y00002" + ErrorEntry(first, 12) + ErrorEntry(second, second.size()) + "junk";
    texts = Read(tavo::codepage::ToEbcdic(Pad(reply, 32000)));
    ASSERT_EQ(texts.texts.size(), 2u);
    EXPECT_EQ(texts.texts[0], first);
    EXPECT_EQ(texts.texts[1], second);
    EXPECT_FALSE(texts.cutShort);
}

TEST(SendReply, LyingLengthsStopAtTheAreaEnd) {
    // a text length running past the area
    auto reply = "Y00001" + ErrorEntry("short", 99999);
    auto texts = Read(tavo::codepage::ToEbcdic(Pad(reply, 64)));
    ASSERT_EQ(texts.texts.size(), 1u);
    EXPECT_EQ(texts.texts[0], Pad("short", 64 - 6 - 27));
    EXPECT_TRUE(texts.cutShort);
    // more entries claimed than there is room for
    reply = "Y99999" + ErrorEntry("one", 3);
    texts = Read(tavo::codepage::ToEbcdic(Pad(reply, 60)));
    ASSERT_EQ(texts.texts.size(), 1u);
    EXPECT_TRUE(texts.cutShort);
    // an area too small for even the count
    texts = Read(tavo::codepage::ToEbcdic("Y00"));
    EXPECT_TRUE(texts.reportsErrors);
    EXPECT_TRUE(texts.cutShort);
}
