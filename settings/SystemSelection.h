#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Choosing the target system among those configured in the Client Access layer.
// Every Client Access failure is shown at once through the message presenter.

// First character as the layer returned it, the rest in lower case: MYSYS -> Mysys.
std::string NormalizeSystemName(std::string_view name);

// At start-up: the stored system if it is still configured under exactly that
// (normalised) name, else the default system. May restore saved delivery modes. Returns
// CWB_OK, or the return code of the layer's step that failed (CWB_CONFIG_ERROR: the
// systems file cannot be used), whose text was shown.
unsigned ChooseStartupSystem();

// "TAVO/400 Express" or "TAVO/400 Express (Mysys)".
std::string SystemTitle();
// Sets the main window's title from CurrentSystem through the registered setter.
void ShowSystemInTitle();
// The GUI registers how to set its main window's title; null: titles go nowhere.
void SetTitleSetter(std::function<void(const std::string&)> setter);

// The configured systems in the layer's order, normalised; nullopt when the layer cannot
// list them. Unlike the start-up walk it needs no default system.
std::optional<std::vector<std::string>> ConfiguredSystems();

// What the Change system dialog offers: the configured systems in the layer's order and
// the entry to select (-1: none).
struct SystemChoices {
    std::vector<std::string> names;
    int selection = -1;
};
SystemChoices LoadSystemChoices();

// OK in the Change system dialog with entry `index` of `choices` selected (-1: none):
// it becomes the current system (none: no system), is remembered in an existing settings
// file and shown in the main window's title.
void AcceptSystemChoice(const SystemChoices& choices, int index);

// The first entry that begins with `prefix`, ignoring case, as a combo box selects by
// prefix; -1 when none does.
int FindByPrefix(const std::vector<std::string>& names, std::string_view prefix);
