#include "HostFixture.h"

#include <cstring>

namespace {

std::string Pad(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

class SubmitMessageTest : public HostFixture {
  protected:
    void SetUp() override {
        HostFixture::SetUp();
        CurrentSystem = "SYSA";
        engine = cwbtest::Engine("SYSA");
    }

    // Puts a reply into the send program's output area as the host would leave it.
    void HostReplies(const std::string& latin1) {
        auto& area = Host().Areas.sendParm6;
        std::memset(area, 0x40, sizeof area);
        const auto ebcdic = tavo::codepage::ToEbcdic(latin1);
        std::memcpy(area, ebcdic.data(), std::min(ebcdic.size(), sizeof area));
    }

    static std::string ErrorEntry(const std::string& text) {
        char length[8];
        std::snprintf(length, sizeof length, "%05zu", text.size());
        return Pad("TVO0101", 22) + length + text;
    }

    std::shared_ptr<tavo::server::HostEngine> engine;
};

} // namespace

TEST_F(SubmitMessageTest, AcceptedMessageLandsInTheOutboxByteForByte) {
    DeliveryModes = DeliveryModeFlags{0, 1, 1, 0, 0, 0, 0, 0};
    CHostLink link;
    ASSERT_TRUE(link.SubmitMessage(1, 2, "smith     jones     ", "Call me", "Hi"));
    EXPECT_TRUE(shown.shown.empty());
    auto outbox = engine->Outbox();
    ASSERT_EQ(outbox.size(), 1u);
    const std::string record = "02" + Pad("SMITH", 10) + Pad("JONES", 10) + std::string(480, ' ') +
                               Pad("Hi@@Call me", 999) + "*RCP" + "YY     ";
    EXPECT_EQ(outbox[0].rawRecord, tavo::codepage::ToEbcdic(record));
    EXPECT_EQ(outbox[0].subject, "Hi");
    EXPECT_EQ(outbox[0].body, "Call me");
}

TEST_F(SubmitMessageTest, ParametersAreTheFixedCodesAndTheRecordArea) {
    CHostLink link;
    ASSERT_TRUE(link.SubmitMessage(0, 1, "operators ", "b", ""));
    const auto& areas = Host().Areas;
    auto text = [](const unsigned char* area, std::size_t n) {
        return tavo::codepage::ToLatin1(std::string_view(reinterpret_cast<const char*>(area), n));
    };
    EXPECT_EQ(text(areas.sendParm1, 10), "*CA       ");
    EXPECT_EQ(text(areas.sendParm2, 10), "*SNDTVO   ");
    EXPECT_EQ(text(areas.sendParm3, 10), std::string(10, ' '));
    EXPECT_EQ(text(areas.sendParm4, 30), std::string(30, ' '));
    EXPECT_EQ(text(areas.sendParm5 + 1512, 488), std::string(488, ' '));
    // beyond the 2000 bytes the area is never written
    EXPECT_EQ(std::count(areas.sendParm5 + 2000, areas.sendParm5 + 32000, 0), 30000);
    EXPECT_EQ(text(areas.sendParm5 + 1501, 4), "*GRP");
}

TEST_F(SubmitMessageTest, HostErrorsAreShownInOneBoxOnePerLine) {
    CHostLink link;
    EXPECT_FALSE(link.SubmitMessage(1, 2, "SMYTH     JONES     ", "b", "s"));
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], "Unknown recipient SMYTH.\n");
    EXPECT_TRUE(engine->Outbox().empty());

    shown.shown.clear();
    DeliveryModes = DeliveryModeFlags{0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(link.SubmitMessage(1, 1, "NOBODY    ", "b", "s"));
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], "Unknown recipient NOBODY.\nNo delivery mode selected.\n");
}

TEST_F(SubmitMessageTest, ReplyReading) {
    CHostLink link;
    HostReplies("N00002");
    EXPECT_TRUE(link.ReadSendReply());
    HostReplies(" ");
    EXPECT_TRUE(link.ReadSendReply());
    EXPECT_TRUE(shown.shown.empty());

    HostReplies("Y00000");
    EXPECT_FALSE(link.ReadSendReply());
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], ""); // an empty box, as the host said nothing

    shown.shown.clear();
    HostReplies("Y00002" + ErrorEntry("Twelve chars") + ErrorEntry(std::string(30, 'T')));
    EXPECT_FALSE(link.ReadSendReply());
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], "Twelve chars\n" + std::string(30, 'T') + "\n");
}

TEST_F(SubmitMessageTest, ReplyClaimingMoreThanItsAreaIsReadToTheEndOnly) {
    CHostLink link;
    std::string reply = "Y00001" + Pad("TVO0101", 22) + "99999";
    HostReplies(reply + std::string(32000 - reply.size(), 'z'));
    EXPECT_FALSE(link.ReadSendReply());
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0].substr(0, 32000 - 33), std::string(32000 - 33, 'z'));
    EXPECT_NE(shown.shown[0].find("32000-byte area"), std::string::npos);
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

TEST_F(SubmitMessageTest, FailedCallIsNeverSilent) {
    CHostLink link;
    cwbtest::FailNext("cwbRC_CallPgm", CWB_COMMUNICATIONS_ERROR, "The host closed the connection.",
                      1, "TVOCUPD");
    EXPECT_FALSE(link.SubmitMessage(1, 1, "SMITH     ", "b", "s"));
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], "The host closed the connection.");
}

TEST_F(SubmitMessageTest, OutcomeTellsARefusalFromAHostNeverReached) {
    using Outcome = CHostLink::SubmitOutcome;
    CHostLink link;
    EXPECT_EQ(link.LastSubmitOutcome(), Outcome::NotTried);
    struct Case {
        std::string recipients;
        bool failCall;
        Outcome outcome;
    } cases[] = {
        {"SMITH     ", false, Outcome::Accepted},
        {"NOBODY    ", false, Outcome::RefusedByHost},
        {std::string(501, 'A'), false, Outcome::TooLarge},
        {"SMITH     ", true, Outcome::CallFailed},
    };
    for (const auto& c : cases) {
        if (c.failCall)
            cwbtest::FailNext("cwbRC_CallPgm", CWB_COMMUNICATIONS_ERROR, "gone", 1, "TVOCUPD");
        const bool accepted = link.SubmitMessage(1, 1, c.recipients, "b", "s");
        EXPECT_EQ(accepted, c.outcome == Outcome::Accepted);
        EXPECT_EQ(link.LastSubmitOutcome(), c.outcome) << c.recipients;
    }

    CurrentSystem.clear();
    CHostLink unconnected;
    EXPECT_FALSE(unconnected.SubmitMessage(1, 1, "SMITH     ", "b", "s"));
    EXPECT_EQ(unconnected.LastSubmitOutcome(), Outcome::NoConnection);
}
