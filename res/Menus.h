#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The main window's menu, accelerators and toolbar, and the texts each command shows: one
// table that both window faces build their bars from.

struct MenuItem {
    int command; // 0: a separator
    const char* text;
    bool checkable = false; // shows whether its bar is shown
};
struct Menu {
    const char* title;
    std::vector<MenuItem> items;
};
const std::vector<Menu>& MainMenus();
// Commands that have a text but no menu item of their own (the toolbar's Help).
const std::vector<MenuItem>& OtherCommands();

// Keys by the Windows virtual-key code (a letter by its capital), modifiers as flags.
enum AcceleratorModifier : unsigned { kCtrl = 1, kShift = 2, kAlt = 4 };
inline constexpr unsigned kKeyBackspace = 0x08;
inline constexpr unsigned kKeyInsert = 0x2D;
inline constexpr unsigned kKeyDelete = 0x2E;
inline constexpr unsigned kKeyF1 = 0x70;
inline constexpr unsigned kKeyF6 = 0x75;
struct Accelerator {
    unsigned modifiers;
    unsigned key;
    int command;
};
// In table order. Undo, Cut and Copy reach no handler of the program's own, and Paste
// only one that does nothing: the fields leave these keys to the frame.
const std::vector<Accelerator>& MainAccelerators();

// Toolbar 128: command ids in order, 0 for a separator; its picture strip holds one image
// of kToolbarImageWidth by kToolbarImageHeight per button, separators skipped.
const std::vector<int>& ToolbarButtons();
inline constexpr int kToolbarImageWidth = 22;
inline constexpr int kToolbarImageHeight = 19;
// The short label under a button: the last "\n" field of the command's string, except
// "Send" for the Send command; empty for none.
std::string ToolbarButtonLabel(int commandId);

// The first "\n" field of a command's string is its status-bar prompt, the second its
// tooltip; a command without a tooltip shows its prompt there.
struct CommandTexts {
    std::string prompt;
    std::string tip;
};
CommandTexts CommandPromptAndTip(int commandId);

// The status bar's lock-key panes, in order, and what one shows: its text while the key
// is on, or where the platform cannot tell; blank while it is off.
const std::vector<int>& StatusIndicators();
std::string IndicatorText(int indicatorId, bool on);

// The help context of a control of the main window; the window's own elsewhere.
std::uint32_t FrameHelpId(int controlId);
