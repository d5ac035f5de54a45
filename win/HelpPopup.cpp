#include "HelpPopup.h"

#include <string>

#include "HelpTopics.h"
#include "Win32Text.h"

#include "HelpTopicsText.h"
#include "Utf16.h"

namespace {

HWND popup = nullptr;
std::uint32_t shownTopic = 0;

const HelpTopics& Topics() {
    static const HelpTopics topics = [] {
        auto load = ParseHelpTopics(kHelpTopicsText);
        return load.topics ? *load.topics : HelpTopics{};
    }();
    return topics;
}

LRESULT CALLBACK PopupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        InflateRect(&area, -6, -6);
        SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        const auto* text =
            reinterpret_cast<const wchar_t*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        DrawTextW(dc, text, -1, &area, DT_WORDBREAK | DT_NOPREFIX);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_KEYDOWN:
    case WM_KILLFOCUS:
        DestroyWindow(window);
        return 0;
    case WM_NCDESTROY:
        delete[] reinterpret_cast<wchar_t*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (popup == window)
            popup = nullptr;
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

namespace {

void ShowText(HWND owner, const std::string& utf8, POINT at, int width) {
    if (popup)
        DestroyWindow(popup);
    static const ATOM atom = [] {
        WNDCLASSW type{};
        type.style = CS_DROPSHADOW;
        type.lpfnWndProc = PopupProc;
        type.hInstance = GetModuleHandleW(nullptr);
        type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        type.hbrBackground = GetSysColorBrush(COLOR_INFOBK);
        type.lpszClassName = L"TavoHelpPopup";
        return RegisterClassW(&type);
    }();
    const std::wstring text = tavo::platform::Widen(ReflowHelpText(utf8));
    auto* owned = new wchar_t[text.size() + 1];
    text.copy(owned, text.size());
    owned[text.size()] = 0;
    // measured in the font it is drawn in
    RECT size{0, 0, width, 0};
    HDC dc = GetDC(nullptr);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    DrawTextW(dc, owned, -1, &size, DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
    ReleaseDC(nullptr, dc);
    popup = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, MAKEINTATOM(atom), L"",
                            WS_POPUP | WS_BORDER, at.x, at.y, size.right + 14, size.bottom + 14,
                            owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!popup) {
        delete[] owned;
        return;
    }
    SetWindowLongPtrW(popup, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owned));
    ShowWindow(popup, SW_SHOW);
    SetFocus(popup);
}

} // namespace

void ShowHelpTopic(HWND owner, std::uint32_t contextId, POINT at) {
    const auto topic = Topics().Topic(contextId);
    ShowText(owner, topic ? *topic : kNoHelpTopic, at, 320);
    shownTopic = contextId;
}

void ShowHelpContents(HWND owner) {
    POINT corner{24, 24};
    ClientToScreen(owner, &corner);
    ShowText(owner, Topics().contents, corner, 480);
    shownTopic = kDefaultHelpId;
}

std::uint32_t HelpPopupTopic() {
    return popup ? shownTopic : 0;
}
