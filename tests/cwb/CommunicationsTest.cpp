#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CwbTestSupport.h"
#include "cwbco.h"

using namespace cwbtesting;

namespace {

class Communications : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetProcessState();
        cwbtest::UseSystems("[systems]\ndefault = sysb\n"
                            "[Zulu]\naddress = embedded\ndatabase = :memory:\n"
                            "[SysB]\naddress = tcp://127.0.0.1:7475\n"
                            "[ALPHA]\naddress = embedded\ndatabase = :memory:\n");
    }
    cwbCO_SysListHandle List() {
        cwbCO_SysListHandle list = 0;
        EXPECT_EQ(cwbCO_CreateSysListHandle(&list, errors), CWB_OK);
        return list;
    }
    // The names read until the first refusal, which lands in `endRc`.
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

TEST_F(Communications, ListHasTheSystemsInFileOrderAsTheFileWasWhenCreated) {
    const auto list = List(), second = List();
    cwbtest::UseSystems("[Other]\naddress = embedded\n");
    unsigned long size = 0;
    EXPECT_EQ(cwbCO_GetSysListSize(list, &size), CWB_OK);
    EXPECT_EQ(size, 3u);
    unsigned endRc = 0;
    EXPECT_EQ(Drain(list, endRc), (std::vector<std::string>{"Zulu", "SysB", "ALPHA"}));
    EXPECT_EQ(endRc, CWBCO_END_OF_LIST);
    EXPECT_EQ(Drain(list, endRc).size(), 0u);
    EXPECT_EQ(endRc, CWBCO_END_OF_LIST);
    EXPECT_EQ(Drain(second, endRc).size(), 3u) << "each list has its own position";
}

TEST_F(Communications, DefaultIsSpelledAsItsSection) {
    char name[64] = "####";
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors), CWB_OK);
    EXPECT_STREQ(name, "SysB");
    EXPECT_EQ(needed, 5u);
    EXPECT_TRUE(ErrorTexts(errors).empty());

    std::memset(name, '#', 3);
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, 2, &needed, errors), CWB_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 5u);
    EXPECT_EQ(std::string(name, 3), std::string("S\0#", 3));
    EXPECT_NE(OnlyError(errors).find("5"), std::string::npos);

    // none named: the first configured, as the platform has it; none configured: none
    cwbtest::UseSystems("[Kilo]\naddress = embedded\n[A]\naddress = embedded\n");
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors), CWB_OK);
    EXPECT_STREQ(name, "Kilo");
    cwbtest::UseSystems("[systems]\n");
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors), CWBCO_NO_DEFAULT_SYSTEM);
    EXPECT_FALSE(OnlyError(errors).empty());

    // the file is UTF-8, the layer's texts Latin-1, whichever way a name is written
    for (const char* file :
         {"[Z\xc3\xbcrich]\n", "[Z\xfcrich]\n", "[systems]\ndefault = Z\xc3\xbcrich\n"}) {
        cwbtest::UseSystems(file);
        EXPECT_EQ(cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors), CWB_CONFIG_ERROR);
        EXPECT_NE(OnlyError(errors).find("Z\xfcrich"), std::string::npos) << OnlyError(errors);
    }
}

// Too small an area, or a failure the seam injects, costs exactly that one entry.
TEST_F(Communications, FailedEntryIsSkipped) {
    const auto list = List();
    char name[64];
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetNextSysName(list, name, 3, &needed), CWB_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 5u);
    EXPECT_STREQ(name, "Zu");
    unsigned endRc = 0;
    EXPECT_EQ(Drain(list, endRc), (std::vector<std::string>{"SysB", "ALPHA"}));

    cwbtest::FailAfter("cwbCO_GetNextSysName", 1, CWB_COMMUNICATIONS_ERROR);
    const auto failing = List();
    EXPECT_EQ(Drain(failing, endRc), std::vector<std::string>{"Zulu"});
    EXPECT_EQ(endRc, CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(Drain(failing, endRc), std::vector<std::string>{"ALPHA"});
    EXPECT_EQ(endRc, CWBCO_END_OF_LIST);
}

TEST_F(Communications, MalformedFileFailsWithItsText) {
    cwbtest::UseSystems("[A]\naddress = embedded\n[B\n");
    cwbCO_SysListHandle list = 0;
    EXPECT_EQ(cwbCO_CreateSysListHandle(&list, errors), CWB_CONFIG_ERROR);
    const auto text = OnlyError(errors);
    EXPECT_NE(text.find("line 3"), std::string::npos) << text;
    char name[64];
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors), CWB_CONFIG_ERROR);
    EXPECT_EQ(OnlyError(errors), text);
}
