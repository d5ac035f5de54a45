#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// String table of the program. Texts are Latin-1, as everything the program shows.
enum StringId : unsigned {
    IDS_NO_CONNECTION = 129,  // "Unable to obtain connection to %1, return code %2"
    IDS_DOCUMENT_TITLE = 134, // "TAVO/400 Express"
    IDS_SELECT_HOST = 137,    // no system chosen
    IDS_APP_TITLE = 57344,    // caption of every message box
};

// The text of a string; empty for an id the table does not hold.
std::string LoadString(unsigned id);

// Replaces %1 .. %9 by the arguments, as the platform's message formatter does.
std::string FormatString(std::string_view pattern, std::initializer_list<std::string_view> args);
