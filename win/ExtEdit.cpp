#include "ExtEdit.h"

#include <commctrl.h>

#include <map>

#include "Latin1Text.h"
#include "MessagePresenter.h"
#include "SendRules.h"
#include "Utf16.h"
#include "Win32Text.h"

namespace {

struct Field {
    HWND window;
    bool multiLine;
    std::size_t limit;
    wchar_t highSurrogate = 0; // a character beyond the BMP arrives in two messages
};
std::map<int, Field> fields;

// What can enter a field, by the rule tavo400-send follows too.
std::string Admit(const std::string& utf8, bool multiLine) {
    std::string notUtf8; // cannot happen: the system's UTF-8 of any text is valid
    const auto field = tavo::text::Utf8ToFieldText(utf8, notUtf8);
    return field ? AdmitFieldText(field->latin1, multiLine) : std::string();
}

void Insert(int controlId, Field& field, std::wstring_view typed, bool pasted) {
    if (GetWindowLongW(field.window, GWL_STYLE) & ES_READONLY)
        return;
    const std::string text = Admit(tavo::platform::Narrow(typed), field.multiLine);
    const std::string whole = WindowLatin1(field.window);
    DWORD start = 0, end = 0;
    SendMessageW(field.window, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    const std::size_t kept =
        FieldLength(whole) -
        FieldLength(std::string_view(whole).substr(start, end > start ? end - start : 0));
    if (const auto refusal = PasteRefusal(controlId, field.limit, kept, FieldLength(text));
        !refusal.empty()) {
        MessageBeep(MB_OK);
        // a typed key explains itself; a paste that vanished whole needs the words
        if (pasted)
            MessagePresenter().ShowStatus(refusal);
        return;
    }
    SendMessageW(field.window, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

std::wstring ClipboardText(HWND owner) {
    std::wstring text;
    if (!OpenClipboard(owner))
        return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT))
        if (const auto* units = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = units;
            GlobalUnlock(data);
        }
    CloseClipboard();
    return text;
}

LRESULT CALLBACK FieldProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR controlId) {
    const auto it = fields.find(static_cast<int>(controlId));
    if (it == fields.end())
        return DefSubclassProc(window, message, wParam, lParam);
    Field& field = it->second;
    switch (message) {
    case WM_GETDLGCODE:
        return DefSubclassProc(window, message, wParam, lParam) | DLGC_WANTALLKEYS;
    case WM_PASTE:
        Insert(it->first, field, ClipboardText(window), true);
        return 0;
    case WM_CHAR: {
        const auto c = static_cast<wchar_t>(wParam);
        if (c == L'\t') { // never a tab character in the text
            if (HWND next = FieldWindow(NextField(it->first, GetKeyState(VK_SHIFT) < 0)))
                SetFocus(next);
            return 0;
        }
        if (c == L'\r' || c == L'\n') {
            if (field.multiLine) // a single-line field has no line breaks
                Insert(it->first, field, L"\r\n", false);
            return 0;
        }
        if (c == 0x08 || c == 0x01) // Backspace; Ctrl+A selects all
            break;
        if (c < 0x20 || c == 0x7F) // Ctrl+V, Ctrl+C and the like belong to the frame
            return 0;
        if (IS_HIGH_SURROGATE(c)) {
            field.highSurrogate = c;
            return 0;
        }
        if (IS_LOW_SURROGATE(c)) {
            const wchar_t pair[] = {field.highSurrogate, c};
            field.highSurrogate = 0;
            if (pair[0])
                Insert(it->first, field, std::wstring_view(pair, 2), false);
            return 0;
        }
        Insert(it->first, field, std::wstring_view(&c, 1), false);
        return 0;
    }
    case WM_NCDESTROY:
        fields.erase(it);
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

} // namespace

void SubclassField(HWND edit, int controlId, bool multiLine, std::size_t limit) {
    fields[controlId] = Field{edit, multiLine, limit};
    // The field's own check is all or nothing; the control's would cut a paste to fit.
    SendMessageW(edit, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    SetWindowSubclass(edit, FieldProc, 1, static_cast<DWORD_PTR>(controlId));
}

void ReleaseField(int controlId) {
    if (const auto it = fields.find(controlId); it != fields.end()) {
        RemoveWindowSubclass(it->second.window, FieldProc, 1);
        fields.erase(it);
    }
}

HWND FieldWindow(int controlId) {
    const auto it = fields.find(controlId);
    return it == fields.end() ? nullptr : it->second.window;
}

std::string FieldText(int controlId) {
    HWND window = FieldWindow(controlId);
    return window ? WindowLatin1(window) : std::string();
}

void SetFieldText(int controlId, const std::string& latin1) {
    const auto it = fields.find(controlId);
    if (it != fields.end())
        SetWindowTextW(it->second.window,
                       Wide(Admit(tavo::text::Latin1ToUtf8(latin1), it->second.multiLine)).c_str());
}
