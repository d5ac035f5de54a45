#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>

#include "DialogTemplate.h"

namespace {

using K = ControlKind;

// What each kind must become, read back from the windows the dialog manager made: its
// class, and its type within the class.
const std::tuple<ControlKind, const wchar_t*, DWORD, DWORD> kKinds[] = {
    {K::PushButton, L"Button", BS_TYPEMASK, BS_PUSHBUTTON},
    {K::DefaultPushButton, L"Button", BS_TYPEMASK, BS_DEFPUSHBUTTON},
    {K::OwnerDrawButton, L"Button", BS_TYPEMASK, BS_OWNERDRAW},
    {K::CheckBox, L"Button", BS_TYPEMASK, BS_AUTOCHECKBOX},
    {K::RadioButton, L"Button", BS_TYPEMASK, BS_AUTORADIOBUTTON},
    {K::GroupBox, L"Button", BS_TYPEMASK, BS_GROUPBOX},
    {K::Static, L"Static", SS_TYPEMASK, SS_LEFT},
    {K::Icon, L"Static", SS_TYPEMASK, SS_ICON},
    {K::DropDownList, L"ComboBox", CBS_DROPDOWNLIST | CBS_SORT, CBS_DROPDOWNLIST},
    {K::ReportList, WC_LISTVIEWW, LVS_TYPEMASK, LVS_REPORT},
    {K::Edit, L"Edit", ES_CENTER | ES_RIGHT, ES_LEFT}};

// The style bit each flag sets, on any kind or on one; the last column: set when absent.
// A drop-down list hands its scroll bars to its list.
const std::tuple<unsigned, DWORD, std::optional<ControlKind>, bool> kFlags[] = {
    {kTabStop, WS_TABSTOP, {}, false},
    {kGroup, WS_GROUP, {}, false},
    {kVScroll, WS_VSCROLL, K::Edit, false},
    {kHScroll, WS_HSCROLL, K::Edit, false},
    {kMultiLine, ES_MULTILINE, K::Edit, false},
    {kAutoVScroll, ES_AUTOVSCROLL, K::Edit, false},
    {kWantReturn, ES_WANTRETURN, K::Edit, false},
    {kAutoHScroll, ES_AUTOHSCROLL, K::Edit, false},
    {kPassword, ES_PASSWORD, K::Edit, false},
    {kAutoHScroll, CBS_AUTOHSCROLL, K::DropDownList, false},
    {kNoPrefix, SS_NOPREFIX, K::Static, false},
    {kMultiSelect, LVS_SINGLESEL, K::ReportList, true}};

std::wstring Widened(std::string_view latin1) {
    std::wstring wide;
    for (const unsigned char c : latin1)
        wide += static_cast<wchar_t>(c);
    return wide;
}

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

// Left, top, width and height in pixels, each mapped on its own as the dialog manager does.
std::array<LONG, 4> Pixels(HWND dialog, int x, int y, int width, int height) {
    RECT rect{x, y, width, height};
    MapDialogRect(dialog, &rect);
    return {rect.left, rect.top, rect.right, rect.bottom};
}

// A Latin-1 caption and texts of odd lengths, so items land off a DWORD boundary.
DialogTemplate Latin1Dialog() {
    DialogTemplate dialog{9, "Caf\xE9", 100, 50, "MS Sans Serif", 8, false, false, {}};
    dialog.controls = {{7, K::Static, "\xC0 la carte", 3, 5, 40, 8, 0, 0x10},
                       {8, K::CheckBox, "Na\xEFve", 3, 20, 40, 10, kTabStop, 0x20}};
    return dialog;
}

void CheckDialog(const DialogTemplate& dialog, HWND parent) {
    SCOPED_TRACE("dialog " + std::to_string(dialog.id));
    const auto bytes = BuildDialogTemplate(dialog);
    HWND window = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), parent,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    ASSERT_TRUE(window) << GetLastError();
    ApplyHelpIds(window, dialog);
    const DWORD style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(!!(style & WS_CHILD), dialog.childForm);
    EXPECT_EQ((style & WS_CAPTION) == WS_CAPTION, !dialog.childForm);
    EXPECT_EQ(!!(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_CONTEXTHELP),
              dialog.contextHelpButton);
    EXPECT_EQ(TextOf(window), Widened(dialog.caption));
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -MulDiv(dialog.pointSize, GetDpiForWindow(window), 72));
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(Pixels(window, 0, 0, dialog.width, dialog.height),
              (std::array<LONG, 4>{0, 0, client.right, client.bottom}));

    HWND child = GetWindow(window, GW_CHILD);
    for (const auto& control : dialog.controls) {
        SCOPED_TRACE("control " + std::to_string(control.id) + " " + std::string(control.text));
        ASSERT_TRUE(child);
        EXPECT_EQ(GetDlgCtrlID(child), control.id);
        const auto& [kind, className, typeMask, type] =
            *std::find_if(std::begin(kKinds), std::end(kKinds),
                          [&](auto& k) { return std::get<0>(k) == control.kind; });
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        EXPECT_STREQ(name, className);
        const DWORD got = GetWindowLongW(child, GWL_STYLE);
        EXPECT_EQ(got & typeMask, type);
        for (const auto& [flag, bit, onKind, whenAbsent] : kFlags)
            if (!onKind || *onKind == control.kind) {
                EXPECT_EQ(!!(got & bit), !!(control.style & flag) != whenAbsent) << "flag " << flag;
            }
        // The dialog manager draws a bordered control's edge sunken.
        EXPECT_EQ(!!(GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE),
                  !!(control.style & kBorder));
        EXPECT_EQ(TextOf(child), Widened(control.text));
        EXPECT_EQ(GetWindowContextHelpId(child), control.helpId);
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
        auto want = Pixels(window, control.x, control.y, control.width, control.height);
        if (control.kind == K::DropDownList) // its height is that of the open list
            want[3] = rect.bottom - rect.top;
        EXPECT_EQ(want, (std::array{rect.left, rect.top, rect.right - rect.left,
                                    rect.bottom - rect.top}));
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_FALSE(child) << "a control the template does not hold";
    DestroyWindow(window);
}

} // namespace

TEST(DialogTemplate, EveryTemplateBuildsTheDialogItDescribes) {
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    HWND parent = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_TRUE(parent);
    for (const auto* dialog : AllDialogTemplates())
        CheckDialog(*dialog, parent);
    CheckDialog(Latin1Dialog(), parent);
    DestroyWindow(parent);
}

TEST(DialogTemplate, RefusesWhatTheFormatCannotHold) {
    DialogTemplate dialog = Latin1Dialog();
    dialog.controls[1].x = 40000;
    EXPECT_THROW(BuildDialogTemplate(dialog), std::invalid_argument);
    dialog = Latin1Dialog();
    dialog.controls[0].text = std::string_view("a\0b", 3);
    EXPECT_THROW(BuildDialogTemplate(dialog), std::invalid_argument);
}
