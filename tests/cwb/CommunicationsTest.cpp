#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CwbTestSupport.h"
#include "cwbco.h"

using namespace cwbtesting;

namespace {

constexpr const char* kThreeSystems = "[systems]\n"
                                      "default = sysb\n"
                                      "[Zulu]\naddress = embedded\ndatabase = :memory:\n"
                                      "[SysB]\naddress = tcp://127.0.0.1:8475\n"
                                      "[ALPHA]\naddress = embedded\ndatabase = :memory:\n";

class Communications : public ::testing::Test {
  protected:
    void SetUp() override {
        cwbtest::Reset();
        cwbtest::UseSystems(kThreeSystems);
    }

    cwbCO_SysListHandle List() {
        cwbCO_SysListHandle list = 0;
        EXPECT_EQ(cwbCO_CreateSysListHandle(&list, errors), CWB_OK);
        return list;
    }

    // Every name the list still has, stopping at the first failure.
    std::vector<std::string> Drain(cwbCO_SysListHandle list, unsigned& endRc) {
        std::vector<std::string> names;
        char name[64];
        unsigned long needed = 0;
        while ((endRc = cwbCO_GetNextSysName(list, name, sizeof name, &needed)) == CWB_OK)
            names.emplace_back(name);
        return names;
    }

    ErrHandle errors;
};

} // namespace

TEST_F(Communications, ListHasTheSystemsInFileOrder) {
    const auto list = List();
    unsigned long size = 0;
    EXPECT_EQ(cwbCO_GetSysListSize(list, &size), CWB_OK);
    EXPECT_EQ(size, 3u);
    unsigned endRc = 0;
    EXPECT_EQ(Drain(list, endRc), (std::vector<std::string>{"Zulu", "SysB", "ALPHA"}));
    EXPECT_EQ(endRc, CWBCO_END_OF_LIST);

    char name[8];
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetNextSysName(list, name, sizeof name, &needed), CWBCO_END_OF_LIST);
}

TEST_F(Communications, EachListHasItsOwnPosition) {
    const auto first = List();
    const auto second = List();
    char name[64];
    unsigned long needed = 0;
    ASSERT_EQ(cwbCO_GetNextSysName(first, name, sizeof name, &needed), CWB_OK);
    ASSERT_EQ(cwbCO_GetNextSysName(second, name, sizeof name, &needed), CWB_OK);
    EXPECT_STREQ(name, "Zulu");
}

TEST_F(Communications, DefaultIsSpelledAsItsSection) {
    char name[64];
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors), CWB_OK);
    EXPECT_STREQ(name, "SysB");
    EXPECT_EQ(needed, 5u);
    EXPECT_TRUE(ErrorTexts(errors).empty());
}

TEST_F(Communications, SmallAreaForTheDefaultGivesTheNeededSize) {
    char name[3] = {'#', '#', '#'};
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, 2, &needed, errors), CWB_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 5u);
    EXPECT_EQ(name[1], '\0');
    EXPECT_EQ(name[2], '#');
    EXPECT_NE(OnlyError(errors).find("5"), std::string::npos);
}

TEST_F(Communications, NoDefaultSystem) {
    cwbtest::UseSystems("[A]\naddress = embedded\n");
    char name[64];
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors), CWBCO_NO_DEFAULT_SYSTEM);
    EXPECT_FALSE(OnlyError(errors).empty());
}

TEST_F(Communications, SmallAreaForANameSkipsThatEntry) {
    const auto list = List();
    char name[64];
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetNextSysName(list, name, 3, &needed), CWB_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 5u);
    EXPECT_STREQ(name, "Zu");
    EXPECT_EQ(cwbCO_GetNextSysName(list, name, sizeof name, &needed), CWB_OK);
    EXPECT_STREQ(name, "SysB");
}

TEST_F(Communications, InjectedFailureSkipsExactlyThatEntry) {
    struct Case {
        int pass;
        std::vector<std::string> left;
    };
    const Case cases[] = {
        {0, {"SysB", "ALPHA"}},
        {1, {"Zulu", "ALPHA"}},
        {2, {"Zulu", "SysB"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pass);
        if (c.pass == 0)
            cwbtest::FailNext("cwbCO_GetNextSysName", CWB_COMMUNICATIONS_ERROR);
        else
            cwbtest::FailAfter("cwbCO_GetNextSysName", c.pass, CWB_COMMUNICATIONS_ERROR);
        const auto list = List();
        std::vector<std::string> names;
        char name[64];
        unsigned long needed = 0;
        for (int i = 0; i < 3; ++i) {
            const auto rc = cwbCO_GetNextSysName(list, name, sizeof name, &needed);
            if (i == c.pass)
                EXPECT_EQ(rc, CWB_COMMUNICATIONS_ERROR);
            else if (rc == CWB_OK)
                names.emplace_back(name);
        }
        EXPECT_EQ(names, c.left);
        EXPECT_EQ(cwbCO_GetNextSysName(list, name, sizeof name, &needed), CWBCO_END_OF_LIST);
    }
}

TEST_F(Communications, MalformedFileFailsWithItsText) {
    cwbtest::UseSystems("[A]\naddress = embedded\n[B\n");
    cwbCO_SysListHandle list = 0;
    EXPECT_EQ(cwbCO_CreateSysListHandle(&list, errors), CWB_CONFIG_ERROR);
    const auto text = OnlyError(errors);
    EXPECT_NE(text.find("line 3"), std::string::npos) << text;
    EXPECT_NE(text.find("']'"), std::string::npos) << text;

    char name[64];
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors), CWB_CONFIG_ERROR);
    EXPECT_EQ(OnlyError(errors), text);
}

TEST_F(Communications, ListKeepsWhatTheFileSaidWhenItWasCreated) {
    const auto list = List();
    cwbtest::UseSystems("[Other]\naddress = embedded\n");
    unsigned long size = 0;
    EXPECT_EQ(cwbCO_GetSysListSize(list, &size), CWB_OK);
    EXPECT_EQ(size, 3u);
}

TEST_F(Communications, DeletedListIsInvalid) {
    const auto list = List();
    EXPECT_EQ(cwbCO_DeleteSysListHandle(list), CWB_OK);
    char name[64];
    unsigned long needed = 0, size = 0;
    EXPECT_EQ(cwbCO_GetNextSysName(list, name, sizeof name, &needed), CWB_INVALID_HANDLE);
    EXPECT_EQ(cwbCO_GetSysListSize(list, &size), CWB_INVALID_HANDLE);
    EXPECT_EQ(cwbCO_DeleteSysListHandle(list), CWB_INVALID_HANDLE);
}

TEST_F(Communications, MissingPointers) {
    EXPECT_EQ(cwbCO_CreateSysListHandle(nullptr, errors), CWB_INVALID_POINTER);
    EXPECT_FALSE(OnlyError(errors).empty());
    const auto list = List();
    char name[64];
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetSysListSize(list, nullptr), CWB_INVALID_POINTER);
    EXPECT_EQ(cwbCO_GetNextSysName(list, nullptr, 64, &needed), CWB_INVALID_POINTER);
    EXPECT_EQ(cwbCO_GetNextSysName(list, name, sizeof name, nullptr), CWB_INVALID_POINTER);
    EXPECT_EQ(cwbCO_GetDefaultSysName(nullptr, 64, &needed, errors), CWB_INVALID_POINTER);
}
