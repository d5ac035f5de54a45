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
    // the default answer and the commands of the menus and toolbar
    for (std::uint32_t id :
         {kDefaultHelpId, kCommandHelpBase + ID_SEND, kCommandHelpBase + ID_CHANGE_SYSTEM,
          kCommandHelpBase + ID_CHANGE_DELIVERY, kCommandHelpBase + ID_APP_EXIT,
          kCommandHelpBase + ID_APP_ABOUT, kCommandHelpBase + ID_HELP_FINDER,
          kCommandHelpBase + ID_CONTEXT_HELP, kCommandHelpBase + ID_VIEW_TOOLBAR,
          kCommandHelpBase + ID_VIEW_STATUS_BAR})
        EXPECT_TRUE(topics.Topic(id)) << std::hex << id;
    EXPECT_NE(topics.contents.find("Ctrl+S"), std::string::npos);
}

TEST(HelpTopics, TopicsStateTheFieldLimits) {
    const auto topics = ShippedTopics();
    EXPECT_NE(topics.Topic(0x808303EB)->find("30 characters"), std::string::npos);  // Subject:
    EXPECT_NE(topics.Topic(0x808303EE)->find("500 characters"), std::string::npos); // To:
    EXPECT_NE(topics.Topic(0x808203EA)->find("967 characters"), std::string::npos); // body
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
    EXPECT_EQ(FormatString("Unable to obtain connection to %1, return code %2", {"SYSA", "8"}),
              "Unable to obtain connection to SYSA, return code 8");
    EXPECT_EQ(FormatString("%2-%1-%3%", {"a", "b"}), "b-a-%");
    EXPECT_EQ(LastStringField("prompt\ntip"), "tip");
    EXPECT_EQ(LastStringField("a\n\nb\n\n"), "b"); // empty pieces are skipped
    EXPECT_EQ(LastStringField("\n\n"), "");
}

TEST(DialogTemplates, DialogsCarryOkCancelHelpAndTheCaptionButton) {
    for (int id : {IDD_BROWSE_OPTIONS, IDD_CHANGE_SYSTEM, IDD_DELIVERY_MODES}) {
        const auto* dialog = FindDialogTemplate(id);
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(dialog->contextHelpButton);
        EXPECT_EQ(FindControlTemplate(*dialog, IDOK)->helpId, 0x80840001u);
        EXPECT_EQ(FindControlTemplate(*dialog, IDCANCEL)->helpId, 0x80840002u);
    }
    // a control's help id holds 0x8000 plus its dialog's id in the high half
    for (const auto* dialog : AllDialogTemplates()) {
        for (const auto& control : dialog->controls) {
            if (control.helpId && control.id > IDCANCEL && control.id != IDC_STATIC) {
                EXPECT_EQ(control.helpId >> 16, 0x8000u + static_cast<unsigned>(dialog->id))
                    << control.id;
            }
        }
    }
    EXPECT_EQ(FindDialogTemplate(IDD_ADDRESS_FORM)->controls.back().helpId, 0x8094FFFFu);
}
