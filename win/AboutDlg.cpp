#include "AboutDlg.h"

#include "Resource.h"

CAboutDlg::CAboutDlg(HWND parent) : CTemplateDialog(parent, IDD_ABOUTBOX) {}

bool CAboutDlg::OnInitDialog() {
    // The program's own icon when it carries one, else the system's for a program.
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    if (!icon)
        icon = LoadIconW(nullptr, IDI_APPLICATION);
    if (HWND box = GetWindow(Window(), GW_CHILD)) // the template's first control
        SendMessageW(box, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    return true;
}
