#include "Win32Text.h"

#include <windows.h>

std::wstring Wide(std::string_view latin1) {
    std::wstring wide;
    wide.reserve(latin1.size());
    for (const char c : latin1)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

std::string Latin1Of(std::wstring_view wide) {
    std::string latin1;
    latin1.reserve(wide.size());
    for (const wchar_t c : wide)
        latin1 += c < 0x100 ? static_cast<char>(c) : '?';
    return latin1;
}

std::wstring WindowWide(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string WindowLatin1(HWND window) {
    return Latin1Of(WindowWide(window));
}
