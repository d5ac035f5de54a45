// Sending through the link: the record and parameters the host receives, what is refused
// before any call, and how the host's reply is read and shown.
#include "HostFixture.h"

#include <optional>

namespace {

using Outcome = CHostLink::SubmitOutcome;

class SubmitMessageTest : public HostFixture {
  protected:
    std::string Latin1(const unsigned char* area, std::size_t n) {
        return tavo::codepage::ToLatin1(std::string_view(reinterpret_cast<const char*>(area), n));
    }
    void SetUp() override {
        HostFixture::SetUp();
        engine = cwbtest::Engine("SYSA");
    }
    std::shared_ptr<tavo::server::HostEngine> engine;
};

std::string ErrorEntry(const std::string& text, std::size_t claimed) {
    char length[8];
    std::snprintf(length, sizeof length, "%05zu", claimed);
    return Pad("TVO0101", 22) + length + text;
}

} // namespace

TEST_F(SubmitMessageTest, HiCallMeReachesTheOutboxByteForByte) {
    DeliveryModes = DeliveryModeFlags{0, 1, 1, 0, 0, 0, 0, 0};
    CHostLink link;
    ASSERT_TRUE(link.SubmitMessage(1, 2, "smith     jones     ", "Call me", "Hi"));
    EXPECT_TRUE(shown.shown.empty());
    const auto outbox = engine->Outbox();
    ASSERT_EQ(outbox.size(), 1u);
    const std::string record = "02" + Pad("SMITH", 10) + Pad("JONES", 10) + std::string(480, ' ') +
                               Pad("Hi@@Call me", 999) + "*RCP" + "YY     ";
    EXPECT_EQ(outbox[0].rawRecord, tavo::codepage::ToEbcdic(record));
}

TEST_F(SubmitMessageTest, ParametersAreTheFixedCodesAndTheRecordArea) {
    CHostLink link;
    ASSERT_TRUE(link.SubmitMessage(0, 1, "operators ", "b", ""));
    const auto& areas = Host().Areas;
    EXPECT_EQ(Latin1(areas.sendParm1, 10), "*CA       ");
    EXPECT_EQ(Latin1(areas.sendParm2, 10), "*SNDTVO   ");
    EXPECT_EQ(Latin1(areas.sendParm3, 10) + Latin1(areas.sendParm4, 30), std::string(40, ' '));
    EXPECT_EQ(Latin1(areas.sendParm5 + 1501, 4), "*GRP");
    EXPECT_EQ(Latin1(areas.sendParm5 + 1512, 488), std::string(488, ' '));
    // beyond the 2000 bytes the area is never written
    EXPECT_EQ(std::count(areas.sendParm5 + 2000, areas.sendParm5 + 32000, 0), 30000);
}

TEST_F(SubmitMessageTest, WhatDoesNotFitIsRefusedBeforeAnyHostCall) {
    CHostLink link;
    cwbtest::ClearCalls();
    struct Case {
        int count;
        std::string recipients, body, subject, says;
    } cases[] = {
        {51, std::string(510, 'A'), "b", "s", "at most 50"},
        {-1, "", "b", "s", "at most 50"},
        {50, std::string(501, 'A'), "b", "s", "at most 500"},
        {1, "SMITH     ", std::string(1000, 'b'), "", "at most 999"},
        {1, "SMITH     ", std::string(938, 'b'), std::string(60, 's'), "at most 999"},
    };
    for (const auto& c : cases) {
        shown.shown.clear();
        EXPECT_FALSE(link.SubmitMessage(1, c.count, c.recipients, c.body, c.subject));
        EXPECT_EQ(link.LastSubmitOutcome(), Outcome::TooLarge);
        ASSERT_EQ(shown.shown.size(), 1u);
        EXPECT_NE(shown.shown[0].find(c.says), std::string::npos) << shown.shown[0];
    }
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm"), 0);
    EXPECT_TRUE(engine->Outbox().empty());
    // exactly at the limits it goes
    EXPECT_TRUE(
        link.SubmitMessage(1, 1, "SMITH     ", std::string(937, 'b'), std::string(60, 's')));
    EXPECT_TRUE(link.SubmitMessage(1, 1, "SMITH     ", std::string(999, 'b'), ""));
}

TEST_F(SubmitMessageTest, OutcomeTellsARefusalFromAHostNeverReached) {
    struct Case {
        std::string recipients;
        bool failCall;
        Outcome outcome;
        std::vector<std::string> shown;
    } cases[] = {
        {"SMITH     ", false, Outcome::Accepted, {}},
        {"NOBODY    ", false, Outcome::RefusedByHost, {"Unknown recipient NOBODY.\n"}},
        {"SMITH     ", true, Outcome::CallFailed, {"The host closed the connection."}},
    };
    CHostLink link;
    EXPECT_EQ(link.LastSubmitOutcome(), Outcome::NotTried);
    for (const auto& c : cases) {
        shown.shown.clear();
        if (c.failCall)
            cwbtest::FailNext("cwbRC_CallPgm", CWB_COMMUNICATIONS_ERROR,
                              "The host closed the connection.", 1, "TVOCUPD");
        EXPECT_EQ(link.SubmitMessage(1, 1, c.recipients, "b", "s"), c.outcome == Outcome::Accepted);
        EXPECT_EQ(link.LastSubmitOutcome(), c.outcome) << c.recipients;
        EXPECT_EQ(shown.shown, c.shown);
    }
    CurrentSystem.clear();
    CHostLink unconnected;
    EXPECT_FALSE(unconnected.SubmitMessage(1, 1, "SMITH     ", "b", "s"));
    EXPECT_EQ(unconnected.LastSubmitOutcome(), Outcome::NoConnection);
}

TEST_F(SubmitMessageTest, ReplyIsReadToTheAreaEndAndShownInOneBox) {
    const std::string overlong = "Y00001" + ErrorEntry("", 99999);
    struct Case {
        std::string reply;
        std::optional<std::string> box; // none: accepted
    } cases[] = {
        {"N00002", std::nullopt},
        {" ", std::nullopt},
        {"y00001" + ErrorEntry("lower case is no error", 22), std::nullopt},
        {"Y00000", ""}, // an empty box, as the host said nothing
        {"Y00002" + ErrorEntry("Twelve chars", 12) + ErrorEntry("Unknown recipient X.", 20) +
             "junk",
         "Twelve chars\nUnknown recipient X.\n"},
        // a count far beyond the entries: no empty lines for the blank rest of the area
        {"Y00999" + ErrorEntry("Twelve chars", 12) + ErrorEntry("Unknown recipient X.", 20),
         "Twelve chars\nUnknown recipient X.\n(The host's reply claims 997 more error messages "
         "than it holds.)\n"},
        {overlong + std::string(32000 - overlong.size(), 'z'),
         std::string(32000 - overlong.size(), 'z') +
             "\n(The host's reply claims more than its 32000-byte area holds; the rest is "
             "lost.)\n"},
    };
    CHostLink link;
    for (const auto& c : cases) {
        shown.shown.clear();
        auto& area = Host().Areas.sendParm6;
        std::memset(area, 0x40, sizeof area);
        const auto ebcdic = tavo::codepage::ToEbcdic(c.reply);
        std::memcpy(area, ebcdic.data(), ebcdic.size());
        EXPECT_EQ(link.ReadSendReply(), !c.box) << c.reply.substr(0, 40);
        EXPECT_EQ(shown.shown,
                  c.box ? std::vector<std::string>{*c.box} : std::vector<std::string>{});
    }
}
