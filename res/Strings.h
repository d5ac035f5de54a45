#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// String table of the program. Texts are Latin-1, as everything the program shows.
// A command's string holds its status-bar prompt and its tooltip, separated by "\n".
enum StringId : unsigned {
    IDS_DOC_TEMPLATE = 128,
    IDS_NO_CONNECTION = 129, // "Unable to obtain connection to %1, return code %2"
    IDS_SELECT_RECIPIENTS = 131,
    IDS_RECIPIENT_HEADING = 132,
    IDS_DESCRIPTION_HEADING = 133,
    IDS_DOCUMENT_TITLE = 134, // "TAVO/400 Express"
    IDS_SEND_LABEL = 136,
    IDS_SELECT_HOST = 137, // no system chosen
    IDS_GROUP_HEADING = 138,
    IDS_GROUP_DESCRIPTION_HEADING = 139,
    IDS_SELECT_GROUPS = 140,
    IDS_SELECT_DELIVERY_MODE = 141,
    IDS_SIGN_ON_CAPTION = 142, // "Sign on to %1"
    // Changing a password.
    IDS_CHANGE_PASSWORD_CAPTION = 143, // "Change password on %1"
    IDS_PASSWORD_EXPIRES_SOON = 144,   // %1 system, %2 days
    IDS_NEW_PASSWORDS_DIFFER = 145,
    IDS_PASSWORD_FIELDS_EMPTY = 146,
    IDS_PASSWORD_CHANGED = 147,        // %1 system
    IDS_PASSWORD_EXPIRED_CHANGE = 148, // %1 system
    IDS_APP_TITLE = 57344,             // caption of every message box
    IDS_IDLE_MESSAGE = 57345,          // "For Help, press F1"
    IDS_HELP_MODE_MESSAGE = 57346,
};

// The text of a string; empty for an id the table does not hold.
std::string LoadString(unsigned id);

// Replaces %1 .. %9 by the arguments, as the platform's message formatter does.
std::string FormatString(std::string_view pattern, std::initializer_list<std::string_view> args);

// The pieces of a string split at runs of "\n", empty pieces skipped.
std::string LastStringField(std::string_view text);
