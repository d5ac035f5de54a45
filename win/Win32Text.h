#pragma once

#include <string>
#include <string_view>

// The window's UTF-16 and the program's Latin-1: each byte is its own code unit.
std::wstring Wide(std::string_view latin1);
// Units beyond Latin-1 cannot be in a field, which admits only Latin-1; "?" if one is.
std::string Latin1Of(std::wstring_view wide);
// A window's (a control's) text, as Windows holds it and in Latin-1.
std::wstring WindowWide(struct HWND__* window);
std::string WindowLatin1(struct HWND__* window);
// UTF-8 and UTF-16 are the platform layer's: Widen and Narrow (Utf16.h).
