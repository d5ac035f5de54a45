#include "FreshSettings.h"

#include "ProcessState.h"
#include "SystemSelection.h"
#include "cwbtest.h"

namespace {

class SystemSelectionTest : public FreshSettings {
  protected:
    SystemSelectionTest()
        : FreshSettings("[systems]\ndefault = SYSA\n"
                        "[SYSA]\naddress = embedded\ndatabase = :memory:\n"
                        "[PRODB]\naddress = embedded\ndatabase = :memory:\n"
                        "[SYSB]\naddress = embedded\ndatabase = :memory:\n"
                        "[sysb2]\naddress = embedded\ndatabase = :memory:\n") {
        SetTitleSetter([this](const std::string& t) { titles.push_back(t); });
    }

    std::vector<std::string>& shown = process.shown.shown;
    std::vector<std::string> titles;
};

} // namespace

TEST(FindByPrefix, FirstMatchIgnoringCase) {
    const std::vector<std::string> names{"Prodb", "Sysb", "Sysb2"};
    EXPECT_EQ(FindByPrefix(names, "sys"), 1);
    EXPECT_EQ(FindByPrefix(names, "SYSB2"), 2);
    EXPECT_EQ(FindByPrefix(names, "Sysc"), -1);
    EXPECT_EQ(FindByPrefix(names, "Sysb22"), -1);
    EXPECT_EQ(FindByPrefix({}, "a"), -1);
}

TEST_F(SystemSelectionTest, StoredSystemWinsOnlyWhenConfiguredUnderThatName) {
    EXPECT_EQ(SystemTitle(), "TAVO/400 Express");
    struct Case {
        const char* stored; // nullptr: no file
        const char* chosen;
        int walked;                                           // names read from the list; -1: any
    } cases[] = {{nullptr, "Sysa", -1},  {"Sysa", "Sysa", 0}, // the default needs no walk
                 {"Sysb", "Sysb", 3},    {"SYSB", "Sysa", -1}, {"Gone", "Sysa", -1},
                 {"sysb2", "sysb2", -1}, {"", "Sysa", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "no file");
        CurrentSystem.clear();
        if (c.stored)
            WriteFile(Record(std::string(c.stored) + "\r\nN"));
        ChooseStartupSystem();
        EXPECT_EQ(CurrentSystem, c.chosen);
        EXPECT_EQ(titles.back(), "TAVO/400 Express (" + std::string(c.chosen) + ")");
        if (c.walked >= 0) {
            EXPECT_EQ(cwbtest::CountCalls("cwbCO_GetNextSysName"), c.walked); // stops at a match
        }
        cwbtest::ClearCalls();
    }
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(ReadFile().substr(0, 5), "\r\nN  "); // the file is never rewritten here
}

TEST_F(SystemSelectionTest, SavedModesComeBackEvenWhenEverythingElseFails) {
    WriteFile(Record("Sysb\r\nY Y"));
    cwbtest::FailNext("cwbSV_CreateErrHandle", 8);
    ChooseStartupSystem();
    EXPECT_EQ(DeliveryModes.SaveSettings, 1);
    EXPECT_EQ(DeliveryModes.Pager, 0);
    EXPECT_EQ(DeliveryModes.Email, 1);
    EXPECT_EQ(CurrentSystem, "");
    EXPECT_TRUE(titles.empty());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "cwbSV_CreateErrHandle failed with return code 8.");
}

TEST_F(SystemSelectionTest, FailureMessagesAreExact) {
    const struct {
        const char* call; // fails with `rc` and `text`, needing `needed` bytes
        unsigned rc;
        const char* text;
        unsigned long needed;
        unsigned errTextRc; // the failure's text cannot be read either: cwbSV_GetErrText's
        std::string message;
    } cases[] = {
        {"cwbCO_CreateSysListHandle", 4100, "Bad systems file.", 0, 0, "Bad systems file."},
        {"cwbCO_CreateSysListHandle", 4100, "x", 0, 6200,
         "cwbSV_GetErrText failed with return code 6200."},
        {"cwbCO_GetDefaultSysName", 111, "Name needs 300 bytes.", 300, 0,
         "Buffer size to small, recommended size is 300.\r\nName needs 300 bytes.\r\n"},
        {"cwbCO_GetDefaultSysName", 6601, "No default system.", 0, 0, "No default system.\r\n"},
        {"cwbCO_GetDefaultSysName", 6601, "x", 0, 6,
         "cwbSV_GetErrText failed with return code 6.\r\n"},
        {"cwbCO_GetSysListSize", 6, "", 0, 0, "cwbCO_GetSysListSize failed with return code 6."},
        {"cwbCO_DeleteSysListHandle", 6, "", 0, 0,
         "cwbCO_DeleteSysListHandle failed with return code 6.\n\r"},
    };
    WriteFile(Record("Sysb\r\nN")); // so the list is walked
    for (const auto& c : cases) {
        CurrentSystem.clear();
        shown.clear();
        titles.clear();
        cwbtest::FailNext(c.call, c.rc, c.text, 1, {}, c.needed);
        if (c.errTextRc)
            cwbtest::FailNext("cwbSV_GetErrText", c.errTextRc);
        ChooseStartupSystem();
        EXPECT_EQ(CurrentSystem, "") << c.message;
        EXPECT_TRUE(titles.empty()) << c.message;
        ASSERT_EQ(shown.size(), 1u) << c.message;
        EXPECT_EQ(shown[0], c.message);
    }
}

TEST_F(SystemSelectionTest, AFailingEntryCostsThatEntryOnly) {
    WriteFile(Record("Sysb\r\nN"));
    cwbtest::FailNext("cwbCO_GetNextSysName", 111, {}, 1, {}, 250);
    cwbtest::FailNext("cwbCO_GetNextSysName", 6);
    ChooseStartupSystem();
    EXPECT_EQ(CurrentSystem, "Sysb");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Buffer size too small, recommended size is 250.\r\n"
                        "cwbCO_GetNextSysName failed with return code 111.\r\n");
    EXPECT_EQ(shown[1], "cwbCO_GetNextSysName failed with return code 6.\r\n");

    // the failing entry is the stored one: the default is chosen
    CurrentSystem.clear();
    shown.clear();
    cwbtest::FailAfter("cwbCO_GetNextSysName", 2, 6);
    ChooseStartupSystem();
    EXPECT_EQ(CurrentSystem, "Sysa");
    EXPECT_EQ(shown.size(), 1u);
}

TEST_F(SystemSelectionTest, ChoicesKeepListOrderAndPreselect) {
    auto choices = LoadSystemChoices();
    EXPECT_EQ(choices.names, (std::vector<std::string>{"Sysa", "Prodb", "Sysb", "sysb2"}));
    EXPECT_EQ(choices.selection, 0); // the default, as no file exists

    WriteFile(Record("SYSB\r\nN")); // a prefix, any case, from the file wins
    EXPECT_EQ(LoadSystemChoices().selection, 2);
    WriteFile(Record("\r\nN")); // an empty stored name leaves the default's selection
    EXPECT_EQ(LoadSystemChoices().selection, 0);
    WriteFile(Record("Nomatch\r\nN"));
    EXPECT_EQ(LoadSystemChoices().selection, 0);
    EXPECT_TRUE(shown.empty());
}

TEST_F(SystemSelectionTest, ChoicesAfterFailures) {
    cwbtest::FailNext("cwbCO_GetDefaultSysName", 6601, "No default system.");
    auto choices = LoadSystemChoices();
    EXPECT_TRUE(choices.names.empty());
    EXPECT_EQ(choices.selection, -1);
    EXPECT_EQ(shown.size(), 1u);

    cwbtest::FailNext("cwbCO_DeleteSysListHandle", 6);
    choices = LoadSystemChoices();
    EXPECT_EQ(choices.names.size(), 4u);
    EXPECT_EQ(choices.selection, -1);

    cwbtest::FailNext("cwbCO_GetNextSysName", 6);
    choices = LoadSystemChoices();
    EXPECT_EQ(choices.names, (std::vector<std::string>{"Prodb", "Sysb", "sysb2"}));
    EXPECT_EQ(choices.selection, -1); // the default's entry is the one that failed
}

TEST_F(SystemSelectionTest, NoSystemsConfigured) {
    cwbtest::UseSystems("");
    ChooseStartupSystem();
    EXPECT_EQ(CurrentSystem, "");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "No default system is configured.\r\n");
    EXPECT_TRUE(LoadSystemChoices().names.empty());
}
