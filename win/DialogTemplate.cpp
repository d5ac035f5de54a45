#include "DialogTemplate.h"

#include <windows.h>

#include <commctrl.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace {

// The fields in the order and widths the dialog manager reads them.
class Writer {
  public:
    void Word(std::uint16_t value) { Put(&value, sizeof value); }
    void Dword(std::uint32_t value) { Put(&value, sizeof value); }
    void Short(int value, const char* what) {
        if (value < -32768 || value > 32767)
            throw std::invalid_argument(std::string(what) + " " + std::to_string(value) +
                                        " does not fit in 16 bits");
        Word(static_cast<std::uint16_t>(value));
    }
    // The texts in res/ are Latin-1, whose bytes are the first 256 code points: each byte
    // is its own UTF-16 unit.
    void Text(std::string_view latin1, const char* what) {
        if (latin1.find('\0') != std::string_view::npos)
            throw std::invalid_argument(std::string(what) + " holds a NUL character");
        for (const char c : latin1)
            Word(static_cast<unsigned char>(c));
        Word(0);
    }
    void Ordinal(std::uint16_t atom) {
        Word(0xFFFF);
        Word(atom);
    }
    void Byte(std::uint8_t value) { bytes_.push_back(value); }
    void AlignToDword() { bytes_.resize((bytes_.size() + 3) & ~std::size_t{3}); }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

  private:
    void Put(const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    std::vector<std::uint8_t> bytes_;
};

// The system's own window classes go by the atoms the resource compiler writes for them.
enum : std::uint16_t { kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kComboBox = 0x85 };

struct WindowClass {
    std::uint16_t atom; // 0: by name
    const char* name;
    DWORD style;
};

// A flag that means nothing for a kind (a password list) is left out, as the Qt side does.
WindowClass ClassOf(const ControlTemplate& control) {
    const auto when = [&control](unsigned flag, DWORD style) -> DWORD {
        return (control.style & flag) ? style : 0;
    };
    switch (control.kind) {
    case ControlKind::PushButton:
        return {kButton, nullptr, BS_PUSHBUTTON};
    case ControlKind::DefaultPushButton:
        return {kButton, nullptr, BS_DEFPUSHBUTTON};
    case ControlKind::OwnerDrawButton:
        return {kButton, nullptr, BS_OWNERDRAW};
    case ControlKind::CheckBox:
        return {kButton, nullptr, BS_AUTOCHECKBOX};
    case ControlKind::RadioButton:
        return {kButton, nullptr, BS_AUTORADIOBUTTON};
    case ControlKind::GroupBox:
        return {kButton, nullptr, BS_GROUPBOX};
    case ControlKind::Static:
        return {kStatic, nullptr, SS_LEFT | when(kNoPrefix, SS_NOPREFIX)};
    case ControlKind::Icon: // the icon, set later, scales to the box rather than the box to it
        return {kStatic, nullptr, SS_ICON | SS_REALSIZECONTROL};
    case ControlKind::DropDownList: // never sorted: the host's order is the order shown
        return {kComboBox, nullptr, CBS_DROPDOWNLIST | when(kAutoHScroll, CBS_AUTOHSCROLL)};
    case ControlKind::ReportList:
        return {0, "SysListView32",
                LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER |
                    ((control.style & kMultiSelect) ? 0 : DWORD{LVS_SINGLESEL})};
    case ControlKind::Edit:
        return {kEdit, nullptr,
                ES_LEFT | when(kMultiLine, ES_MULTILINE) | when(kAutoVScroll, ES_AUTOVSCROLL) |
                    when(kAutoHScroll, ES_AUTOHSCROLL) | when(kWantReturn, ES_WANTRETURN) |
                    when(kPassword, ES_PASSWORD)};
    }
    throw std::invalid_argument("control " + std::to_string(control.id) + " has no known kind");
}

void WriteControl(Writer& out, const ControlTemplate& control) {
    const WindowClass windowClass = ClassOf(control);
    DWORD style = WS_CHILD | WS_VISIBLE | windowClass.style;
    for (const auto& [flag, bit] : {std::pair{kTabStop, WS_TABSTOP},
                                    {kGroup, WS_GROUP},
                                    {kBorder, WS_BORDER},
                                    {kVScroll, WS_VSCROLL},
                                    {kHScroll, WS_HSCROLL}})
        if (control.style & flag)
            style |= bit;
    out.AlignToDword();
    out.Dword(control.helpId);
    out.Dword(0); // extended style
    out.Dword(style);
    out.Short(control.x, "x");
    out.Short(control.y, "y");
    out.Short(control.width, "width");
    out.Short(control.height, "height");
    out.Dword(static_cast<std::uint32_t>(control.id));
    if (windowClass.atom)
        out.Ordinal(windowClass.atom);
    else
        out.Text(windowClass.name, "class");
    out.Text(control.text, "text");
    out.Word(0); // no creation data
}

} // namespace

std::vector<std::uint8_t> BuildDialogTemplate(const DialogTemplate& dialog) {
    // "MS Sans Serif" is a bitmap font that does not scale with the screen; the shell's
    // dialog font is its scalable successor.
    const bool shellFont = dialog.font == "MS Sans Serif";
    DWORD style = DS_SETFONT | (shellFont ? DS_SHELLFONT : 0) |
                  (dialog.childForm ? WS_CHILD | DS_CONTROL
                                    : WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
    // The dialog manager of Windows turns DS_CONTEXTHELP into the title bar's "?", Wine's
    // does not; the extended style asks for it on both.
    const DWORD exStyle = dialog.contextHelpButton ? WS_EX_CONTEXTHELP : 0;
    if (dialog.contextHelpButton)
        style |= DS_CONTEXTHELP;
    try {
        if (dialog.controls.size() > 0xFFFF)
            throw std::invalid_argument(std::to_string(dialog.controls.size()) + " controls");
        Writer out;
        out.Word(1); // DLGTEMPLATEEX: version, then the signature
        out.Word(0xFFFF);
        out.Dword(0); // help id
        out.Dword(exStyle);
        out.Dword(style);
        out.Word(static_cast<std::uint16_t>(dialog.controls.size()));
        out.Short(0, "x");
        out.Short(0, "y");
        out.Short(dialog.width, "width");
        out.Short(dialog.height, "height");
        out.Word(0); // no menu
        out.Word(0); // the dialog class
        out.Text(dialog.caption, "caption");
        out.Short(dialog.pointSize, "point size");
        out.Word(FW_NORMAL);
        out.Byte(FALSE); // italic
        out.Byte(DEFAULT_CHARSET);
        out.Text(shellFont ? "MS Shell Dlg" : dialog.font, "font");
        for (const auto& control : dialog.controls) {
            try {
                WriteControl(out, control);
            } catch (const std::invalid_argument& e) {
                throw std::invalid_argument("control " + std::to_string(control.id) + ": " +
                                            e.what());
            }
        }
        return out.Take();
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument("dialog " + std::to_string(dialog.id) + ": " + e.what());
    }
}

void ApplyHelpIds(HWND window, const DialogTemplate& dialog) {
    HWND child = GetWindow(window, GW_CHILD);
    for (const auto& control : dialog.controls) {
        if (!child)
            return;
        SetWindowContextHelpId(child, control.helpId);
        child = GetWindow(child, GW_HWNDNEXT);
    }
}
