#include "Menus.h"

#include <map>

#include "HelpTopics.h"
#include "Resource.h"
#include "Strings.h"

const std::vector<Menu>& MainMenus() {
    static const std::vector<Menu> menus = {
        {"&File", {{ID_SEND, "&Send"}, {0, nullptr}, {ID_APP_EXIT, "E&xit"}}},
        {"&View", {{ID_VIEW_TOOLBAR, "&Toolbar", true}, {ID_VIEW_STATUS_BAR, "&Status Bar", true}}},
        {"&Options", {{ID_CHANGE_SYSTEM, "&System"}, {ID_CHANGE_DELIVERY, "&Delivery"}}},
        {"&Help",
         {{ID_HELP_FINDER, "&Help Topics"},
          {0, nullptr},
          {ID_APP_ABOUT, "&About TAVO/400 Express"}}},
    };
    return menus;
}

const std::vector<MenuItem>& OtherCommands() {
    static const std::vector<MenuItem> commands = {{ID_CONTEXT_HELP, "Help"}};
    return commands;
}

const std::vector<Accelerator>& MainAccelerators() {
    static const std::vector<Accelerator> table = {
        {kCtrl, 'S', ID_SEND},
        {kCtrl, 'Z', ID_EDIT_UNDO},
        {kCtrl, 'X', ID_EDIT_CUT},
        {kCtrl, 'C', ID_EDIT_COPY},
        {kCtrl, 'V', ID_EDIT_PASTE},
        {kAlt, kKeyBackspace, ID_EDIT_UNDO},
        {kShift, kKeyDelete, ID_EDIT_CUT},
        {kCtrl, kKeyInsert, ID_EDIT_COPY},
        {kShift, kKeyInsert, ID_EDIT_PASTE},
        {0, kKeyF6, ID_NEXT_PANE},
        {kShift, kKeyF6, ID_PREV_PANE},
        {kShift, kKeyF1, ID_CONTEXT_HELP},
        {0, kKeyF1, ID_HELP},
    };
    return table;
}

const std::vector<int>& ToolbarButtons() {
    static const std::vector<int> buttons = {ID_SEND, 0, ID_APP_ABOUT, ID_CONTEXT_HELP};
    return buttons;
}

std::string ToolbarButtonLabel(int commandId) {
    if (commandId == 0)
        return {};
    const auto text =
        LoadString(commandId == ID_SEND ? IDS_SEND_LABEL : static_cast<unsigned>(commandId));
    return text.empty() ? std::string() : LastStringField(text);
}

CommandTexts CommandPromptAndTip(int commandId) {
    const auto text = LoadString(static_cast<unsigned>(commandId));
    const auto split = text.find('\n');
    if (split == std::string::npos)
        return {text, text};
    CommandTexts texts{text.substr(0, split), text.substr(split + 1)};
    if (texts.tip.empty())
        texts.tip = texts.prompt;
    return texts;
}

const std::vector<int>& StatusIndicators() {
    static const std::vector<int> ids = {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL};
    return ids;
}

std::string IndicatorText(int indicatorId, bool on) {
    return on ? LoadString(static_cast<unsigned>(indicatorId)) : std::string();
}

std::uint32_t FrameHelpId(int controlId) {
    static const std::map<int, std::uint32_t> table = {
        {1000, 0x808303E8}, {1003, 0x808303EA}, {1004, 0x808203EA}, {1006, 0x808403EB},
        {1007, 0x808303EB}, {1009, 0x808303EE}, {1010, 0x808303EF}, {1012, 0x809203F3},
        {1013, 0x808303F4}, {1014, 0x808303F5}, {1015, 0x809403F6}, {1016, 0x809403F7},
        {1017, 0x809403F8}, {1018, 0x809403F9}, {1019, 0x809403FA}, {1020, 0x809403FB},
        {1021, 0x809403FC}, {1022, 0x809403FD}, {1023, 0x809403FE}, {1024, 0x809203FF},
    };
    const auto entry = table.find(controlId);
    return entry != table.end() ? entry->second : kDefaultHelpId;
}
