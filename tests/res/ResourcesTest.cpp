#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "DialogTemplates.h"
#include "HelpTopics.h"
#include "Resource.h"
#include "Strings.h"

namespace {

HelpTopics ShippedTopics() {
    std::ifstream in(TOPICS_FILE);
    std::stringstream text;
    text << in.rdbuf();
    auto load = ParseHelpTopics(text.str());
    EXPECT_TRUE(load.topics) << load.error;
    return load.topics ? *load.topics : HelpTopics{};
}

} // namespace

TEST(HelpTopics, EveryIdAControlCarriesHasATopic) {
    const auto topics = ShippedTopics();
    int carried = 0;
    for (const auto* dialog : AllDialogTemplates())
        for (const auto& control : dialog->controls)
            if (control.helpId) {
                ++carried;
                EXPECT_TRUE(topics.Topic(control.helpId))
                    << std::hex << control.helpId << " in dialog " << std::dec << dialog->id;
            }
    EXPECT_GT(carried, 25);
    EXPECT_TRUE(topics.Topic(kDefaultHelpId)); // the commands' are the main window's to name
    EXPECT_NE(topics.contents.find("Ctrl+S"), std::string::npos);
    // the fields' topics state their limits
    for (const auto& [dialog, control, limit] : {std::tuple{IDD_ADDRESS_FORM, IDC_SUBJECT, "30"},
                                                 {IDD_ADDRESS_FORM, IDC_TO, "500"},
                                                 {IDD_BODY_FORM, IDC_BODY, "967"}}) {
        const auto id = FindControlTemplate(*FindDialogTemplate(dialog), control)->helpId;
        EXPECT_NE(topics.Topic(id)->find(limit + std::string(" characters")), std::string::npos);
    }
}

TEST(HelpTopics, ParserRefusesMalformedHeaders) {
    struct Case {
        const char* text;
        const char* says;
    } cases[] = {
        {"[0x12\nx\n", "line 1"},
        {"# c\n[zz]\n", "line 2"},
        {"[0x1]\na\n[0x1]\nb\n", "given twice"},
        {"[0xG1]\n", "expected"},
    };
    for (const auto& c : cases) {
        const auto load = ParseHelpTopics(c.text);
        EXPECT_FALSE(load.topics) << c.text;
        EXPECT_NE(load.error.find(c.says), std::string::npos) << load.error;
    }
    const auto load = ParseHelpTopics("[contents]\n\nHello\n\n# note\n[0x10]\r\nTen\r\n");
    ASSERT_TRUE(load.topics);
    EXPECT_EQ(load.topics->contents, "Hello");
    EXPECT_EQ(*load.topics->Topic(0x10), "Ten");
    EXPECT_FALSE(load.topics->Topic(0x11));
}

TEST(HelpTopics, ReflowJoinsParagraphLinesAndKeepsIndentedOnes) {
    EXPECT_EQ(ReflowHelpText("one\ntwo\n\nthree"), "one two\n\nthree");
    EXPECT_EQ(ReflowHelpText("Steps:\n  1. a\n     more\n  2. b\n"),
              "Steps:\n  1. a\n     more\n  2. b");
    EXPECT_EQ(ReflowHelpText(""), "");
    EXPECT_EQ(ReflowHelpText("\n\nx\n\n"), "x");
}

TEST(Strings, TableAndFormatting) {
    EXPECT_EQ(LoadString(1), ""); // no such string
    EXPECT_EQ(FormatString("%2-%1-%3%", {"a", "b"}), "b-a-%");
    EXPECT_EQ(LastStringField("prompt\ntip"), "tip");
    EXPECT_EQ(LastStringField("a\n\nb\n\n"), "b"); // empty pieces are skipped
    EXPECT_EQ(LastStringField("\n\n"), "");
}

// A control's help id holds 0x8000 plus its dialog's id in the high half.
TEST(DialogTemplates, HelpIdsNameTheirDialog) {
    for (const auto* dialog : AllDialogTemplates()) {
        for (const auto& control : dialog->controls) {
            if (control.helpId && control.id > IDCANCEL && control.id != IDC_STATIC) {
                EXPECT_EQ(control.helpId >> 16, 0x8000u + static_cast<unsigned>(dialog->id))
                    << control.id;
            }
        }
    }
}
