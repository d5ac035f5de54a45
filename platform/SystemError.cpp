#include "SystemError.h"

#ifdef _WIN32
#include <windows.h>

#include "Utf16.h"
#else
#include <cerrno>
#include <cstring>
#endif

namespace tavo::platform {

#ifdef _WIN32
long LastError() {
    return static_cast<long>(GetLastError());
}

std::string ErrorText(long code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide(text ? text : L"", length);
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' ||
                             wide.back() == L'.'))
        wide.pop_back();
    return wide.empty() ? "error " + std::to_string(code) : Narrow(wide);
}
#else
long LastError() {
    return errno;
}

std::string ErrorText(long code) {
    return std::strerror(static_cast<int>(code));
}
#endif

} // namespace tavo::platform
