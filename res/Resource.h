#pragma once

// Resource ids: dialogs and forms, their controls, commands and bitmaps.

// dialogs and forms
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDR_MAINFRAME = 128; // menu, accelerators, toolbar, icon, bitmap
inline constexpr int IDR_DOCTYPE = 129;   // the document type's icon
inline constexpr int IDD_BODY_FORM = 130;
inline constexpr int IDD_ADDRESS_FORM = 131;
inline constexpr int IDD_BROWSE_OPTIONS = 132;
inline constexpr int IDD_CHANGE_SYSTEM = 146;
inline constexpr int IDD_DELIVERY_MODES = 148;
inline constexpr int IDD_SIGN_ON = 150;
inline constexpr int IDD_CHANGE_PASSWORD = 151;

// controls
#ifndef IDOK // <windows.h> has them, with the same values
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
#endif
inline constexpr int IDC_STATIC = -1;
inline constexpr int IDC_BTN_TO = 1000;
inline constexpr int IDC_SUBJECT_LABEL = 1003;
inline constexpr int IDC_BODY = 1004;
inline constexpr int IDC_LIST = 1006;
inline constexpr int IDC_SUBJECT = 1007;
inline constexpr int IDC_TO = 1009;
inline constexpr int IDC_TO_LABEL = 1010;
inline constexpr int IDC_SYSTEM_LIST = 1012;
inline constexpr int IDC_RECIPIENTS = 1013;
inline constexpr int IDC_GROUPS = 1014;
inline constexpr int IDC_PAGER = 1015;
inline constexpr int IDC_EMAIL = 1016;
inline constexpr int IDC_FAX = 1017;
inline constexpr int IDC_NETWORK_MESSAGE = 1018;
inline constexpr int IDC_TELEPHONE = 1019;
inline constexpr int IDC_MESSAGE_QUEUE = 1020;
inline constexpr int IDC_SPOOLED_FILE = 1021;
inline constexpr int IDC_SAVE_SETTINGS = 1022;
inline constexpr int IDC_SELECTIONS = 1023;
inline constexpr int IDC_SYSTEM_LABEL = 1024;
inline constexpr int IDC_USER_ID_LABEL = 1025;
inline constexpr int IDC_USER_ID = 1026;
inline constexpr int IDC_PASSWORD_LABEL = 1027;
inline constexpr int IDC_PASSWORD = 1028;
inline constexpr int IDC_SIGN_ON_REASON = 1029;
inline constexpr int IDC_OLD_PASSWORD_LABEL = 1030;
inline constexpr int IDC_OLD_PASSWORD = 1031;
inline constexpr int IDC_NEW_PASSWORD_LABEL = 1032;
inline constexpr int IDC_NEW_PASSWORD = 1033;
inline constexpr int IDC_CONFIRM_PASSWORD_LABEL = 1034;
inline constexpr int IDC_CONFIRM_PASSWORD = 1035;
inline constexpr int IDC_SYSTEM_NAME = 1036;

// commands of the program's own
inline constexpr int ID_SEND = 32772;
inline constexpr int ID_CHANGE_SYSTEM = 32773;
inline constexpr int ID_CHANGE_DELIVERY = 32774;

// the framework's commands the program uses
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_HELP_FINDER = 57667;
inline constexpr int ID_CONTEXT_HELP = 57669;
inline constexpr int ID_HELP = 57670;
inline constexpr int ID_NEXT_PANE = 57680;
inline constexpr int ID_PREV_PANE = 57681;
inline constexpr int ID_EDIT_COPY = 57634;
inline constexpr int ID_EDIT_CUT = 57635;
inline constexpr int ID_EDIT_PASTE = 57637;
inline constexpr int ID_EDIT_UNDO = 57643;
inline constexpr int ID_VIEW_TOOLBAR = 59392;
inline constexpr int ID_VIEW_STATUS_BAR = 59393;
inline constexpr int ID_INDICATOR_CAPS = 59137;
inline constexpr int ID_INDICATOR_NUM = 59138;
inline constexpr int ID_INDICATOR_SCRL = 59139;
inline constexpr int AFX_IDW_PANE_FIRST = 59648;
