#include <gtest/gtest.h>

#include "FreshProcess.h"
#include "Resource.h"
#include "SendOperation.h"
#include "SendRules.h"

using Names = std::vector<std::string>;

TEST(SplitAddresses, SeparatorsAndLines) {
    EXPECT_EQ(SplitAddresses("jsmith, mjones;ops"), (Names{"jsmith", "mjones", "ops"}));
    // the picker's lines give the same list; blank lines and repeats add nothing
    EXPECT_EQ(SplitAddresses("jsmith\r\n\r\nmjones\r\nops\r\n"),
              (Names{"jsmith", "mjones", "ops"}));
    EXPECT_EQ(SplitAddresses("a\tb\vc\fd\ae\bf\x85g"), (Names{"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_TRUE(SplitAddresses("").empty());
    EXPECT_TRUE(SplitAddresses(" ,; \r\n\t").empty());
    EXPECT_EQ(SplitAddresses("ops ops"), (Names{"ops", "ops"})); // sent twice
    EXPECT_EQ(SplitAddresses(std::string("ab\0cd", 5)), (Names{"ab"}));
}

TEST(FormatAddressList, TenCharacterSlots) {
    const auto list = FormatAddressList({"jsmith", "mjones", "ops"});
    EXPECT_EQ(list, "jsmith    mjones    ops       ");
    EXPECT_EQ(list.size(), 30u);
    EXPECT_EQ(FormatAddressList({"abcdefghij"}), "abcdefghij");
    EXPECT_EQ(FormatAddressList({}), "");
}

TEST(FlattenText, RunsBecomeOneBlankAndEdgesGo) {
    EXPECT_EQ(FlattenText("  Server down\t(urgent)  "), "Server down (urgent)");
    EXPECT_EQ(FlattenText("line one\r\n\r\nline two"), "line one line two");
    EXPECT_EQ(FlattenText("two  blanks"), "two  blanks");
    EXPECT_EQ(FlattenText("\r\n\r\n\r\n"), "");
    // NEL would reach the host as its own new-line code
    EXPECT_EQ(FlattenText("one\x85two\x85\r\n"), "one two");
    EXPECT_EQ(FlattenText(""), "");
    for (std::string text : {"a\r\n\tb", " x ", "\a\b\f\vq"})
        EXPECT_LE(FlattenText(text).size(), text.size());
}

TEST(FieldLength, LineBreaksCountTwo) {
    EXPECT_EQ(FieldLength("ab"), 2u);
    EXPECT_EQ(FieldLength("a\r\nb"), 4u);
    EXPECT_EQ(FieldLength("a\nb"), 4u);
    EXPECT_EQ(FieldLength("\r\n\r\n"), 4u);
    EXPECT_EQ(FieldLength("a\x85"), 3u);
}

TEST(PasteRefusal, WhatDoesNotFitIsRefusedWholeWithItsReason) {
    struct Case {
        int field;
        std::size_t limit, kept, pasted;
        std::string says; // empty: it fits
    } cases[] = {
        {IDC_SUBJECT, 30, 0, 31, "Not pasted: Subject holds at most 30 characters."},
        {IDC_SUBJECT, 30, 25, 5, ""},
        {IDC_TO, 500, 499, 2, "Not pasted: To holds at most 500 characters."},
        {IDC_BODY, 967, 967, 1, "Not pasted: the body holds at most 967 characters."},
        {IDC_BODY, 5, 7, 0, ""}, // the program's text may exceed the limit
    };
    for (const auto& c : cases)
        EXPECT_EQ(PasteRefusal(c.field, c.limit, c.kept, c.pasted), c.says) << c.kept;
}

TEST(AppendPickedNames, AsTheToButtonDoes) {
    struct Case {
        std::string to;
        Names picked;
        std::string result;
    } cases[] = {
        {"", {"Jsmith", "Mjones"}, "Jsmith\r\nMjones"},
        {"jsmith   \r\n", {"Ops"}, "jsmith\r\nOps"},
        {"", {}, ""},
        {"jsmith \t", {}, "jsmith\r\n"},
        {"", {"", "Ops"}, "\r\nOps"}, // an empty first name still starts a line
        {"a", {"B  ", "", "C"}, "a\r\nB\r\nC"},
        {"ops", {"Ops"}, "ops\r\nOps"}, // no de-duplication
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppendPickedNames(c.to, c.picked), c.result) << c.to;
}

TEST(PrepareSend, BuildsTheSubmission) {
    auto prepared = PrepareSend("jsmith, mjones;ops", "  Server down\t(urgent)  ",
                                "line one\r\n\r\nline two", true);
    ASSERT_TRUE(prepared.submission);
    EXPECT_EQ(prepared.submission->kind, 1);
    EXPECT_EQ(prepared.submission->count, 3);
    EXPECT_EQ(prepared.submission->addressList, "jsmith    mjones    ops       ");
    EXPECT_EQ(prepared.submission->subject, "Server down (urgent)");
    EXPECT_EQ(prepared.submission->body, "line one line two");

    prepared = PrepareSend("", "", "", false);
    ASSERT_TRUE(prepared.submission);
    EXPECT_EQ(prepared.submission->kind, 0);
    EXPECT_EQ(prepared.submission->count, 0);
    EXPECT_EQ(prepared.submission->addressList, "");
}

TEST(PrepareSend, RefusesWhatWouldNotFitAndSaysWhy) {
    std::string fifty, fiftyOne;
    for (int i = 0; i < 50; ++i)
        fifty += "n" + std::to_string(i) + " ";
    fiftyOne = fifty + "extra";
    struct Case {
        std::string to, subject, body;
        bool accepted;
        std::string says;
    } cases[] = {
        {"abcdefghij", "", "", true, ""},
        {"ok abcdefghijk", "", "", false, "\"abcdefghijk\" is longer than 10"},
        {fifty, "", "", true, ""},
        {fiftyOne, "", "", false, "names 51"},
        {std::string(1999, ' '), "", "", true, ""},
        {std::string(2000, ' '), "", "", false, "at most 1999"},
        {"a", std::string(30, 's'), std::string(967, 'b'), true, ""},
        {"a", std::string(31, 's'), "", false, "subject is 31"},
        {"a", "", std::string(966, 'b') + "\r\n", false, "968 characters"},
        {"a", "Disk@@full", "", false, "subject contains \"@@\""},
        {"a", "", "nosubj@@tail", false, "there is no subject"},
        {"a", "Disk", "nosubj@@tail", true, ""},
    };
    for (const auto& c : cases) {
        const auto prepared = PrepareSend(c.to, c.subject, c.body, true);
        EXPECT_EQ(prepared.submission.has_value(), c.accepted) << c.says;
        if (!c.accepted) {
            EXPECT_NE(prepared.refusal.find(c.says), std::string::npos) << prepared.refusal;
            EXPECT_NE(prepared.refusal.find("Nothing was sent."), std::string::npos);
        }
    }
}

// The Send command as a whole: what cannot be sent never reaches the host; an empty To:
// is the host's to refuse.
TEST(SendFields, RefusesInputUnaskedAndSubmitsTheRest) {
    testsupport::FreshProcess process;
    CurrentSystem = "SYSA";
    auto outcome = SendFields("ok abcdefghijk", "", "b", true);
    EXPECT_EQ(outcome.cause, Outcome::Cause::Input);
    EXPECT_EQ(outcome.texts, std::vector{PrepareSend("ok abcdefghijk", "", "b", true).refusal});
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);

#if TAVO_EMBEDDED_HOST
    outcome = SendFields("", "", "anything", true);
    EXPECT_EQ(outcome.result, Outcome::Result::Refused);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm", "TVOCUPD"), 1);
#endif
}
