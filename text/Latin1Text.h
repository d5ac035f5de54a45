#pragma once

#include <optional>
#include <string>
#include <string_view>

// The host and the program's records speak Latin-1; terminals, files, CSV and JSON speak
// UTF-8.
namespace tavo::text {

// Latin-1 bytes of `utf8`, or nullopt with `error` saying what and where: for data such
// as a directory, where a replaced character would be a different name.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8, std::string& error);
std::string Latin1ToUtf8(std::string_view latin1);

// What a text field holds of typed or given text, in the window and in tavo400-send
// alike: each character Latin-1 cannot carry becomes one "?", however many UTF-16 units
// or UTF-8 bytes it takes, so the user sees what will be sent. U+0085, U+2028 and U+2029
// become CR LF: Latin-1's byte 0x85 would reach the host as its own new-line code.
struct FieldText {
    std::string latin1;
    std::size_t replaced = 0;    // characters that became "?"
    std::size_t firstAt = 0;     // the first of them, counted in characters from 1
    unsigned long firstCode = 0; // and its code point
};
// Nullopt, with `error` saying where, when `utf8` is not UTF-8.
std::optional<FieldText> Utf8ToFieldText(std::string_view utf8, std::string& error);

// Text for a message: "?" for what Latin-1 cannot carry, and bytes that are not UTF-8
// taken to be Latin-1 already, so a name shows as its file spells it either way.
std::string Utf8ToLatin1Shown(std::string_view utf8);

// "U+20AC", as a message names a character.
std::string CodePointName(unsigned long code);

// The one rule for the case of a user, recipient or group name (Latin-1), wherever names
// are compared, stored, counted or logged: a-z and the accented small letters U+00E0 to
// U+00FE but the division sign become capitals; ß and ÿ have none in Latin-1 and stay.
unsigned char UpperLatin1(unsigned char c);
std::string FoldName(std::string_view latin1);
void FoldName(char* latin1, std::size_t length);
// The same rule backwards, for one character.
unsigned char LowerLatin1(unsigned char c);
// A name as a list shows it: the first character as received, the rest in lower case.
// Whatever lists names for a user shows them this one way.
std::string DisplayName(std::string_view latin1);

// Lower-case hex, two digits a byte: how raw records are printed for scripts.
std::string Hex(std::string_view bytes);

// UTF-8 text made safe to print on a terminal: C0 and C1 controls and DEL become "\xNN"
// (NN the code point), as does each byte that is not UTF-8, so text from a host or a
// file can neither move the cursor nor retitle the window. Everything else is kept.
std::string EscapeControls(std::string_view utf8);

} // namespace tavo::text
