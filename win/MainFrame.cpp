#include "MainFrame.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#undef LoadString // the string table's, not the module's resources
#include "AboutDlg.h"
#include "BrowseOptionsDlg.h"
#include "ChangeSystemDlg.h"
#include "DeliveryModesDlg.h"
#include "DialogTemplate.h"
#include "ExtEdit.h"
#include "HelpPopup.h"
#include "HelpTopics.h"
#include "Menus.h"
#include "OperationRunner.h"
#include "Resource.h"
#include "SendOperation.h"
#include "SendRules.h"
#include "SignOnDlg.h"
#include "Strings.h"
#include "SystemSelection.h"
#include "Win32Text.h"

namespace {

constexpr double kTopPaneShare = 0.42;
constexpr int kSplitterBar = 4;
constexpr UINT_PTR kKeyTimer = 1;
int waiting = 0; // commands now showing the wait cursor

// The wait cursor for as long as a command runs, whichever way it ends.
struct WaitCursor {
    WaitCursor() {
        ++waiting;
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    }
    ~WaitCursor() {
        --waiting;
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    }
};

std::wstring KeyName(const Accelerator& key) {
    std::wstring name;
    if (key.modifiers & kCtrl)
        name += L"Ctrl+";
    if (key.modifiers & kShift)
        name += L"Shift+";
    if (key.modifiers & kAlt)
        name += L"Alt+";
    if (key.key >= kKeyF1 && key.key < kKeyF1 + 12)
        return name + L"F" + std::to_wstring(key.key - kKeyF1 + 1);
    if (key.key == kKeyBackspace || key.key == kKeyInsert || key.key == kKeyDelete)
        return name + (key.key == kKeyBackspace ? L"Bksp"
                       : key.key == kKeyInsert  ? L"Ins"
                                                : L"Del");
    return name + static_cast<wchar_t>(key.key);
}

HWND CreateForm(HWND parent, int id, CMainFrame* frame, DLGPROC proc) {
    const auto bytes = BuildDialogTemplate(*FindDialogTemplate(id));
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                      reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), parent, proc,
                                      reinterpret_cast<LPARAM>(frame));
}

// The control under or holding `window` that the frame has a help topic for.
int ControlIdOf(HWND window, HWND frame) {
    for (; window && window != frame; window = GetParent(window))
        if (const int id = GetDlgCtrlID(window); FrameHelpId(id) != kDefaultHelpId)
            return id;
    return 0;
}

// Whether a bar is switched on, whether or not the frame shows yet: the frame is laid out
// before its first showing.
bool Shown(HWND bar) {
    return GetWindowLongW(bar, GWL_STYLE) & WS_VISIBLE;
}

} // namespace

CMainFrame::~CMainFrame() {
    if (window_)
        DestroyWindow(window_);
    if (accelerators_)
        DestroyAcceleratorTable(accelerators_);
    if (images_)
        ImageList_Destroy(images_);
}

bool CMainFrame::Create(bool quitOnClose) {
    quitOnClose_ = quitOnClose;
    static const ATOM atom = [] {
        WNDCLASSEXW type{};
        type.cbSize = sizeof type;
        type.lpfnWndProc = WindowProc;
        type.hInstance = GetModuleHandleW(nullptr);
        type.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
        type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        type.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        type.lpszClassName = L"TavoMainFrame";
        return RegisterClassExW(&type);
    }();
    std::vector<ACCEL> table;
    for (const auto& key : MainAccelerators())
        table.push_back({static_cast<BYTE>(FVIRTKEY | ((key.modifiers & kCtrl) ? FCONTROL : 0) |
                                           ((key.modifiers & kShift) ? FSHIFT : 0) |
                                           ((key.modifiers & kAlt) ? FALT : 0)),
                         static_cast<WORD>(key.key), static_cast<WORD>(key.command)});
    accelerators_ = CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));
    const auto templateTitle = LoadString(IDS_DOC_TEMPLATE);
    // the platform's default frame size stands in for none given
    window_ = CreateWindowExW(0, MAKEINTATOM(atom),
                              Wide(templateTitle.substr(0, templateTitle.find('\n'))).c_str(),
                              WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                              640, 480, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!window_)
        return false;
    SetTitleSetter(
        [w = window_](const std::string& title) { SetWindowTextW(w, Wide(title).c_str()); });
    return true;
}

void CMainFrame::CreateBars() {
    HMENU bar = CreateMenu();
    for (const auto& menu : MainMenus()) {
        HMENU popup = CreatePopupMenu();
        for (const auto& item : menu.items) {
            if (item.command == 0) {
                AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
                continue;
            }
            std::wstring text = Wide(item.text);
            for (const auto& key : MainAccelerators())
                if (key.command == item.command) {
                    text += L"\t" + KeyName(key);
                    break;
                }
            AppendMenuW(popup, MF_STRING | (item.checkable ? MF_CHECKED : 0),
                        static_cast<UINT_PTR>(item.command), text.c_str());
        }
        AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), Wide(menu.title).c_str());
    }
    SetMenu(window_, bar);

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    toolBar_ =
        CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                        WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0,
                        0, window_, reinterpret_cast<HMENU>(ID_VIEW_TOOLBAR), instance, nullptr);
    SendMessageW(toolBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    images_ = ImageList_Create(kToolbarImageWidth, kToolbarImageHeight, ILC_COLOR32, 4, 0);
    if (HANDLE strip =
            LoadImageW(instance, L"IDB_TOOLBAR", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)) {
        ImageList_Add(images_, static_cast<HBITMAP>(strip), nullptr);
        DeleteObject(strip);
    }
    SendMessageW(toolBar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
    // buttons without autosize are all as large as the largest, so the row stays even
    std::vector<TBBUTTON> buttons;
    int image = 0;
    for (const int command : ToolbarButtons()) {
        TBBUTTON button{};
        if (command == 0) {
            button.fsStyle = BTNS_SEP;
        } else {
            std::wstring label = Wide(ToolbarButtonLabel(command));
            label += L'\0';
            button.iBitmap = image++;
            button.idCommand = command;
            button.fsState = TBSTATE_ENABLED;
            button.fsStyle = BTNS_BUTTON;
            button.iString =
                SendMessageW(toolBar_, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(label.c_str()));
        }
        buttons.push_back(button);
    }
    SendMessageW(toolBar_, TB_ADDBUTTONSW, buttons.size(),
                 reinterpret_cast<LPARAM>(buttons.data()));
    SendMessageW(toolBar_, TB_AUTOSIZE, 0, 0);

    statusBar_ = CreateWindowExW(0, STATUSCLASSNAMEW, Wide(LoadString(IDS_IDLE_MESSAGE)).c_str(),
                                 WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window_,
                                 reinterpret_cast<HMENU>(ID_VIEW_STATUS_BAR), instance, nullptr);
    SetTimer(window_, kKeyTimer, 250, nullptr);
}

void CMainFrame::CreatePanes() {
    topPane_ = CreateForm(window_, IDD_ADDRESS_FORM, this, PaneProc);
    bottomPane_ = CreateForm(window_, IDD_BODY_FORM, this, PaneProc);
    SetWindowLongPtrW(bottomPane_, GWLP_ID, AFX_IDW_PANE_FIRST);
    // a form's template is not visible of itself: its view shows it
    ShowWindow(topPane_, SW_SHOW);
    ShowWindow(bottomPane_, SW_SHOW);
}

void CMainFrame::InitialUpdate() {
    SubclassField(GetDlgItem(topPane_, IDC_TO), IDC_TO, true, kToLimit);
    SubclassField(GetDlgItem(topPane_, IDC_SUBJECT), IDC_SUBJECT, false, kSubjectLimit);
    SubclassField(GetDlgItem(bottomPane_, IDC_BODY), IDC_BODY, true, kBodyLimit);
    ChooseStartupSystem();
    CheckRadioButton(topPane_, IDC_RECIPIENTS, IDC_GROUPS, IDC_RECIPIENTS);
    // the address pane is the active view and To: its first control
    SetFocus(FieldWindow(IDC_TO));
}

bool CMainFrame::PreTranslate(MSG* msg) const {
    return accelerators_ && ::TranslateAcceleratorW(window_, accelerators_, msg);
}

void CMainFrame::Layout() {
    RECT client;
    GetClientRect(window_, &client);
    int top = 0, bottom = client.bottom;
    if (Shown(toolBar_)) {
        SendMessageW(toolBar_, TB_AUTOSIZE, 0, 0);
        RECT bar;
        GetWindowRect(toolBar_, &bar);
        top = bar.bottom - bar.top;
    }
    if (Shown(statusBar_)) {
        SendMessageW(statusBar_, WM_SIZE, 0, 0);
        RECT bar;
        GetWindowRect(statusBar_, &bar);
        bottom -= bar.bottom - bar.top;
        // the message pane takes what the three indicators leave
        const int parts[] = {client.right - 150, client.right - 100, client.right - 50, -1};
        SendMessageW(statusBar_, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(parts));
    }
    const int height = bottom - top;
    if (topHeight_ < 0 && height > 0)
        topHeight_ = static_cast<int>(height * kTopPaneShare);
    const int row = std::clamp(topHeight_, 0, std::max(0, height - kSplitterBar));
    MoveWindow(topPane_, 0, top, client.right, row, TRUE);
    MoveWindow(bottomPane_, 0, top + row + kSplitterBar, client.right,
               std::max(0, height - row - kSplitterBar), TRUE);
}

LRESULT CALLBACK CMainFrame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* frame =
            static_cast<CMainFrame*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        frame->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
    }
    auto* frame = reinterpret_cast<CMainFrame*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return frame ? frame->Handle(message, wParam, lParam)
                 : DefWindowProcW(window, message, wParam, lParam);
}

INT_PTR CALLBACK CMainFrame::PaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(pane, DWLP_USER, lParam);
        const int id = GetDlgItem(pane, IDC_TO) ? IDD_ADDRESS_FORM : IDD_BODY_FORM;
        ApplyHelpIds(pane, *FindDialogTemplate(id));
        return FALSE;
    }
    auto* frame = reinterpret_cast<CMainFrame*>(GetWindowLongPtrW(pane, DWLP_USER));
    if (!frame)
        return FALSE;
    switch (message) {
    case WM_SIZE: // the body always covers its whole view; the field scrolls its text
        if (HWND body = GetDlgItem(pane, IDC_BODY))
            MoveWindow(body, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_BTN_TO && HIWORD(wParam) == BN_CLICKED)
            frame->OnToButton();
        return TRUE;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        const bool down = item->itemState & ODS_SELECTED;
        HANDLE picture = LoadImageW(GetModuleHandleW(nullptr), down ? L"IDB_BTNTOD" : L"IDB_BTNTOU",
                                    IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
        if (!picture) { // a missing picture is not reported
            DrawFrameControl(item->hDC, const_cast<RECT*>(&item->rcItem), DFC_BUTTON,
                             DFCS_BUTTONPUSH | (down ? DFCS_PUSHED : 0));
            return TRUE;
        }
        HDC source = CreateCompatibleDC(item->hDC);
        HGDIOBJ old = SelectObject(source, picture);
        BITMAP info;
        GetObjectW(picture, sizeof info, &info);
        StretchBlt(item->hDC, item->rcItem.left, item->rcItem.top,
                   item->rcItem.right - item->rcItem.left, item->rcItem.bottom - item->rcItem.top,
                   source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
        DeleteObject(picture);
        return TRUE;
    }
    }
    return FALSE;
}

LRESULT CMainFrame::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CreateBars();
        CreatePanes();
        Layout(); // a WM_SIZE may have come before the bars and panes were there
        ShowKeyState(); // not a blank quarter of a second until the timer's first look
        return 0;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == kKeyTimer)
            ShowKeyState();
        return 0;
    case WM_MENUSELECT:
        // a command's prompt while its item is highlighted; the idle prompt once the menu closes
        ShowPrompt(HIWORD(wParam) == 0xFFFF && !lParam ? 0 : LOWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        auto* tip = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        if (tip->hdr.code == TTN_GETDISPINFOW) {
            static std::wstring text;
            text = Wide(CommandPromptAndTip(static_cast<int>(tip->hdr.idFrom)).tip);
            tip->lpszText = text.data();
        }
        return 0;
    }
    case WM_SETCURSOR:
        if (waiting > 0 || helpMode_) {
            SetCursor(LoadCursorW(nullptr, waiting > 0 ? IDC_WAIT : IDC_HELP));
            return TRUE;
        }
        if (LOWORD(lParam) == HTCLIENT) {
            POINT at;
            GetCursorPos(&at);
            ScreenToClient(window_, &at);
            RECT pane;
            GetWindowRect(topPane_, &pane);
            MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&pane), 2);
            if (at.y >= pane.bottom && at.y < pane.bottom + kSplitterBar) {
                SetCursor(LoadCursorW(nullptr, IDC_SIZENS));
                return TRUE;
            }
        }
        break;
    case WM_LBUTTONDOWN:
        if (helpMode_) {
            // the control clicked on names the topic
            helpMode_ = false;
            ReleaseCapture();
            POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            ClientToScreen(window_, &at);
            ShowHelpTopic(window_, FrameHelpId(ControlIdOf(WindowFromPoint(at), window_)), at);
            return 0;
        }
        dragging_ = true;
        SetCapture(window_);
        return 0;
    case WM_MOUSEMOVE:
        if (dragging_) {
            RECT pane;
            GetWindowRect(topPane_, &pane);
            MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&pane), 2);
            topHeight_ =
                std::max(0, static_cast<short>(HIWORD(lParam)) - static_cast<int>(pane.top));
            Layout();
        }
        return 0;
    case WM_LBUTTONUP:
        if (dragging_) {
            dragging_ = false;
            ReleaseCapture();
        }
        return 0;
    case WM_CLOSE:
        // The window goes at once; what it waited for ends with it.
        CWin32OperationRunner::CancelRunning();
        DestroyWindow(window_);
        return 0;
    case WM_DESTROY:
        KillTimer(window_, kKeyTimer);
        SetTitleSetter(nullptr);
        for (const int id : {IDC_TO, IDC_SUBJECT, IDC_BODY})
            ReleaseField(id);
        window_ = nullptr;
        if (quitOnClose_)
            PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void CMainFrame::ShowPrompt(int command) {
    const std::string text =
        command ? CommandPromptAndTip(command).prompt : LoadString(IDS_IDLE_MESSAGE);
    SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void CMainFrame::ShowKeyState() {
    const int keys[] = {VK_CAPITAL, VK_NUMLOCK, VK_SCROLL};
    for (int i = 0; i < 3; ++i) {
        const auto text = Wide(IndicatorText(StatusIndicators()[i], GetKeyState(keys[i]) & 1));
        SendMessageW(statusBar_, SB_SETTEXTW, i + 1, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

bool CMainFrame::WaitingForHost() {
    if (!CWin32OperationRunner::Busy())
        return false;
    MessageBeep(MB_OK);
    return true;
}

void CMainFrame::OnCommand(int command) {
    const auto toggle = [this](HWND bar, int command) {
        ShowWindow(bar, Shown(bar) ? SW_HIDE : SW_SHOW);
        CheckMenuItem(GetMenu(window_), command, Shown(bar) ? MF_CHECKED : MF_UNCHECKED);
        Layout();
    };
    switch (command) {
    case ID_SEND:
        OnSend();
        break;
    case ID_APP_EXIT:
        PostMessageW(window_, WM_CLOSE, 0, 0);
        break;
    case ID_VIEW_TOOLBAR:
        toggle(toolBar_, command);
        break;
    case ID_VIEW_STATUS_BAR:
        toggle(statusBar_, command);
        break;
    case ID_CHANGE_SYSTEM:
        if (!WaitingForHost())
            CChangeSystemDlg(window_).DoModal();
        break;
    case ID_CHANGE_DELIVERY:
        if (!WaitingForHost())
            CDeliveryModesDlg(window_).DoModal();
        break;
    case ID_APP_ABOUT:
        CAboutDlg(window_).DoModal();
        break;
    case ID_HELP_FINDER:
        ShowHelpContents(window_);
        break;
    case ID_CONTEXT_HELP:
        helpMode_ = true;
        SetCapture(window_);
        SetCursor(LoadCursorW(nullptr, IDC_HELP));
        ShowPrompt(0);
        SendMessageW(statusBar_, SB_SETTEXTW, 0,
                     reinterpret_cast<LPARAM>(Wide(LoadString(IDS_HELP_MODE_MESSAGE)).c_str()));
        break;
    case ID_HELP:
        OnHelp();
        break;
    case ID_NEXT_PANE:
    case ID_PREV_PANE: // two panes: next and previous are the same step
        SetFocus(IsChild(topPane_, GetFocus()) ? FieldWindow(IDC_BODY) : FieldWindow(IDC_TO));
        break;
    default: // Undo, Cut, Copy and Paste reach no handler that does anything
        break;
    }
}

void CMainFrame::OnSend() {
    if (WaitingForHost())
        return;
    WaitCursor wait;
    const auto outcome = SendCommand(FieldText(IDC_TO), FieldText(IDC_SUBJECT), FieldText(IDC_BODY),
                                     IsDlgButtonChecked(topPane_, IDC_RECIPIENTS) == BST_CHECKED);
    OfferPasswordChange(window_, static_cast<unsigned>(outcome.returnCode));
}

void CMainFrame::OnToButton() {
    if (WaitingForHost())
        return;
    CBrowseOptionsDlg picker(window_);
    picker.m_strListType =
        PickerListType(IsDlgButtonChecked(topPane_, IDC_RECIPIENTS) == BST_CHECKED);
    // anything but OK leaves To: alone
    if (picker.DoModal() == IDOK)
        SetFieldText(IDC_TO, AppendPickedNames(FieldText(IDC_TO), picker.m_arrSelected));
}

void CMainFrame::OnHelp() {
    // the focused control's topic; elsewhere the contents, as Help Topics opens them
    HWND focus = GetFocus();
    const std::uint32_t id =
        IsChild(window_, focus) ? FrameHelpId(ControlIdOf(focus, window_)) : kDefaultHelpId;
    if (id == kDefaultHelpId) {
        ShowHelpContents(window_);
        return;
    }
    RECT box;
    GetWindowRect(focus, &box);
    ShowHelpTopic(window_, id, {(box.left + box.right) / 2, (box.top + box.bottom) / 2});
}
