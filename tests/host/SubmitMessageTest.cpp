// Sending through the link: the record and parameters the host receives, what does not
// fit the record, and how the host's reply is read.
#include "HostFixture.h"

#include <optional>

namespace {

class SubmitMessageTest : public HostFixture {
  protected:
    std::string Latin1(const unsigned char* area, std::size_t n) {
        return tavo::codepage::ToLatin1(std::string_view(reinterpret_cast<const char*>(area), n));
    }
    std::shared_ptr<tavo::server::HostEngine> engine = cwbtest::Engine("SYSA");
};

std::string ErrorEntry(const std::string& text, std::size_t claimed) {
    char length[8];
    std::snprintf(length, sizeof length, "%05zu", claimed);
    return Pad("TVO0101", 22) + length + text;
}

} // namespace

TEST_F(SubmitMessageTest, TheRecordAndParametersReachTheHostByteForByte) {
    DeliveryModes = DeliveryModeFlags{0, 1, 1, 0, 0, 0, 0, 0};
    CHostLink link;
    ASSERT_TRUE(link.SubmitMessage(1, 2, "smith     jones     ", "Call me", "Hi"));
    EXPECT_EQ(engine->Outbox().at(0).modes, "YY     ");
    const auto& areas = Host().Areas;
    EXPECT_EQ(Latin1(areas.sendParm1, 10), "*CA       ");
    EXPECT_EQ(Latin1(areas.sendParm2, 10), "*SNDTVO   ");
    EXPECT_EQ(Latin1(areas.sendParm3, 10) + Latin1(areas.sendParm4, 30), std::string(40, ' '));
    EXPECT_EQ(Latin1(areas.sendParm5 + 1512, 488), std::string(488, ' '));
    // beyond the 2000 bytes the area is never written
    EXPECT_EQ(std::count(areas.sendParm5 + 2000, areas.sendParm5 + 32000, 0), 30000);
}

TEST_F(SubmitMessageTest, WhatDoesNotFitTheRecordIsRefusedBeforeAnyHostCall) {
    const struct {
        const char* name;
        Submission message;
    } rows[] = {
        {"51 names", {1, 51, std::string(510, 'A'), "b", "s"}},
        {"a negative count", {1, -1, "", "b", "s"}},
        {"501 characters of names", {1, 50, std::string(501, 'A'), "b", "s"}},
        {"1000 characters of text", {1, 1, "SMITH     ", std::string(1000, 'b'), ""}},
        {"60 of subject, @@ and 938",
         {1, 1, "SMITH     ", std::string(938, 'b'), std::string(60, 's')}},
    };
    CHostLink link;
    cwbtest::ClearCalls();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto outcome = Submit(row.message);
        EXPECT_EQ(outcome.cause, Outcome::Cause::Input);
        EXPECT_EQ(outcome.texts, Texts{records::RecordOverflowText()});
    }
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm"), 0);
    EXPECT_TRUE(engine->Outbox().empty());
    // exactly at the limits it goes
    EXPECT_TRUE(Submit({1, 1, "SMITH     ", std::string(937, 'b'), std::string(60, 's')}).Done());
    EXPECT_TRUE(Submit({1, 1, "SMITH     ", std::string(999, 'b'), ""}).Done());
}

TEST_F(SubmitMessageTest, OutcomeTellsAFailedCallFromALostAnswer) {
    const std::tuple<unsigned, Outcome::Result, Texts> rows[] = {
        {0, Outcome::Result::Done, {}}, // the call goes through
        {CWB_COMMUNICATIONS_ERROR, Outcome::Result::NotDone, {"The link broke."}},
        {CWB_REPLY_LOST, Outcome::Result::Unknown, {"The link broke."}},
    };
    for (const auto& [failCall, result, texts] : rows) {
        SCOPED_TRACE(failCall);
        if (failCall)
            cwbtest::FailNext("cwbRC_CallPgm", failCall, "The link broke.", 1, "TVOCUPD");
        const auto outcome = Submit({1, 1, "SMITH     ", "b", "s"});
        EXPECT_EQ(outcome.result, result);
        EXPECT_EQ(outcome.texts, texts);
    }
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
        {"Y00002" + ErrorEntry("Twelve chars", 12) + ErrorEntry("Second one, longer.", 19) + "junk",
         "Twelve chars\nSecond one, longer.\n"},
        // a count far beyond the entries: no empty lines for the blank rest of the area
        {"Y00999" + ErrorEntry("Twelve chars", 12) + ErrorEntry("Second one, longer.", 19),
         "Twelve chars\nSecond one, longer.\n(The host's reply claims 997 more error messages "
         "than it holds.)\n"},
        {overlong + std::string(32000 - overlong.size(), 'z'),
         std::string(32000 - overlong.size(), 'z') +
             "\n(The host's reply claims more than its 32000-byte area holds; the rest is "
             "lost.)\n"},
    };
    for (const auto& c : cases) {
        CHostLink link;
        auto& area = Host().Areas.sendParm6;
        std::memset(area, 0x40, sizeof area);
        const auto ebcdic = tavo::codepage::ToEbcdic(c.reply);
        std::memcpy(area, ebcdic.data(), ebcdic.size());
        EXPECT_EQ(link.ReadSendReply(), !c.box) << c.reply.substr(0, 40);
        EXPECT_EQ(link.LastOutcome().texts, c.box ? Texts{*c.box} : Texts{});
    }
}

// The window's Send after the host lowered its password level: tried again only after a Yes.
TEST_F(SubmitMessageTest, ALoweredPasswordLevelIsAcceptedAndTriedAgainOnlyOnYes) {
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes);
        RestartProcess();
        shown.answerYes = yes;
        cwbtest::FailNext("cwbRC_StartSys", CWB_PASSWORD_LEVEL_LOWERED);
        const auto outcome = RunAndShow("Sending to SYSA", [] {
            return Submit({1, 1, "SMITH     ", "b", "s"});
        });
        EXPECT_EQ(outcome.Done(), yes);
        EXPECT_EQ(cwbtest::CountCalls("cwbCO_AcceptPasswordLevel", "SYSA"), yes ? 1 : 0);
        EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), yes ? 2 : 1);
        ASSERT_EQ(shown.shown.size(), 2u);
        EXPECT_TRUE(shown.shown[0].ends_with("return code 4119")) << shown.shown[0];
        EXPECT_TRUE(shown.shown[1].ends_with("Accept the new password level for SYSA?"));
    }
}
