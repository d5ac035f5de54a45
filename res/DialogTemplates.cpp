#include "DialogTemplates.h"

#include "Resource.h"

namespace {

using K = ControlKind;

const DialogTemplate kAbout{
    IDD_ABOUTBOX,
    "About TAVO/400 Express",
    217,
    55,
    "MS Sans Serif",
    8,
    false,
    false,
    {
        {IDC_STATIC, K::Icon, "", 11, 17, 20, 20, 0, 0},
        {IDC_STATIC, K::Static, "TAVO/400 Express Version 2.1", 40, 10, 119, 8, kNoPrefix, 0},
        {IDC_STATIC, K::Static, "Free software; no warranty.", 40, 25, 119, 8, 0, 0},
        {IDOK, K::DefaultPushButton, "OK", 178, 7, 32, 14, kTabStop | kGroup, 0},
    }};

const DialogTemplate kBodyForm{
    IDD_BODY_FORM,
    "",
    206,
    94,
    "MS Sans Serif",
    12,
    true,
    false,
    {
        {IDC_BODY, K::Edit, "", 7, 7, 192, 79,
         kMultiLine | kWantReturn | kAutoHScroll | kVScroll | kHScroll | kTabStop, 0x808203EA},
    }};

const DialogTemplate kAddressForm{
    IDD_ADDRESS_FORM,
    "",
    278,
    74,
    "MS Sans Serif",
    10,
    true,
    false,
    {
        {IDC_TO, K::Edit, "", 42, 7, 108, 43,
         kMultiLine | kBorder | kVScroll | kAutoVScroll | kAutoHScroll | kWantReturn | kTabStop,
         0x808303EE},
        {IDC_SUBJECT, K::Edit, "", 42, 52, 229, 14, kBorder | kAutoHScroll | kTabStop, 0x808303EB},
        {IDC_BTN_TO, K::OwnerDrawButton, "IDB_BTNTO", 27, 10, 12, 8, 0, 0x808303E8},
        {IDC_SUBJECT_LABEL, K::Static, "Subject:", 11, 54, 27, 8, kGroup, 0x808303EA},
        {IDC_TO_LABEL, K::Static, "To:", 11, 10, 12, 8, kGroup, 0x808303EF},
        {IDC_RECIPIENTS, K::RadioButton, "Recipients", 174, 21, 47, 11, kGroup, 0x808303F4},
        {IDC_GROUPS, K::RadioButton, "Groups", 174, 32, 45, 10, 0, 0x808303F5},
        {IDC_STATIC, K::GroupBox, "Type", 171, 13, 54, 33, 0, 0x8094FFFF},
    }};

const DialogTemplate kBrowseOptions{
    IDD_BROWSE_OPTIONS,
    "Browse Options",
    260,
    141,
    "MS Sans Serif",
    10,
    false,
    true,
    {
        {IDC_LIST, K::ReportList, "", 7, 7, 246, 104, kBorder | kTabStop | kMultiSelect,
         0x808403EB},
        {IDOK, K::DefaultPushButton, "OK", 133, 120, 50, 14, kTabStop, 0x80840001},
        {IDCANCEL, K::PushButton, "Cancel", 192, 120, 50, 14, kTabStop, 0x80840002},
    }};

const DialogTemplate kChangeSystem{
    IDD_CHANGE_SYSTEM,
    "Change system",
    186,
    69,
    "MS Sans Serif",
    10,
    false,
    true,
    {
        {IDOK, K::DefaultPushButton, "OK", 69, 48, 50, 14, kTabStop, 0x80840001},
        {IDCANCEL, K::PushButton, "Cancel", 129, 48, 50, 14, kTabStop, 0x80840002},
        {IDC_SYSTEM_LABEL, K::Static, "System:", 18, 19, 36, 12, 0, 0x809203FF},
        {IDC_SYSTEM_LIST, K::DropDownList, "", 54, 19, 87, 49, kAutoHScroll | kVScroll | kTabStop,
         0x809203F3},
    }};

const DialogTemplate kDeliveryModes{
    IDD_DELIVERY_MODES,
    "Delivery modes",
    162,
    126,
    "MS Sans Serif",
    10,
    false,
    true,
    {
        {IDOK, K::DefaultPushButton, "OK", 108, 6, 50, 14, kTabStop, 0x80840001},
        {IDCANCEL, K::PushButton, "Cancel", 108, 25, 50, 14, kTabStop, 0x80840002},
        {IDC_PAGER, K::CheckBox, "Pager", 18, 25, 35, 10, kTabStop, 0x809403F6},
        {IDC_EMAIL, K::CheckBox, "Email", 18, 35, 33, 10, kTabStop, 0x809403F7},
        {IDC_FAX, K::CheckBox, "Fax", 18, 45, 27, 10, kTabStop, 0x809403F8},
        {IDC_NETWORK_MESSAGE, K::CheckBox, "Network message", 18, 55, 68, 10, kTabStop, 0x809403F9},
        {IDC_TELEPHONE, K::CheckBox, "Telephone", 18, 65, 49, 10, kTabStop, 0x809403FA},
        {IDC_MESSAGE_QUEUE, K::CheckBox, "Message queue", 18, 75, 65, 10, kTabStop, 0x809403FB},
        {IDC_SPOOLED_FILE, K::CheckBox, "Spooled file", 18, 85, 52, 10, kTabStop, 0x809403FC},
        {IDC_SAVE_SETTINGS, K::CheckBox, "Save delivery mode settings", 27, 107, 99, 10, kTabStop,
         0x809403FD},
        {IDC_SELECTIONS, K::GroupBox, "Selections", 10, 14, 83, 86, 0, 0x809403FE},
    }};

// Asked when a system's password is not configured; the caption names the system and
// the reason line, under the fields, says why the host refused the last attempt.
const DialogTemplate kSignOn{
    IDD_SIGN_ON,
    "Sign on",
    196,
    82,
    "MS Sans Serif",
    10,
    false,
    true,
    {
        {IDC_USER_ID_LABEL, K::Static, "User ID:", 10, 12, 40, 8, 0, 0x80960402},
        {IDC_USER_ID, K::Edit, "", 52, 10, 84, 12, kBorder | kAutoHScroll | kTabStop, 0x80960402},
        {IDC_PASSWORD_LABEL, K::Static, "Password:", 10, 30, 40, 8, 0, 0x80960404},
        {IDC_PASSWORD, K::Edit, "", 52, 28, 84, 12, kBorder | kAutoHScroll | kTabStop | kPassword,
         0x80960404},
        {IDOK, K::DefaultPushButton, "OK", 142, 9, 46, 14, kTabStop, 0x80840001},
        {IDCANCEL, K::PushButton, "Cancel", 142, 27, 46, 14, kTabStop, 0x80840002},
        {IDC_SIGN_ON_REASON, K::Static, "", 10, 48, 178, 28, kNoPrefix, 0},
    }};

// A new password for a system's user: the current one, then the new one twice. Offered
// when the password has expired or is about to.
const DialogTemplate kChangePassword{
    IDD_CHANGE_PASSWORD,
    "Change password",
    196,
    100,
    "MS Sans Serif",
    10,
    false,
    true,
    {
        {IDC_SYSTEM_LABEL, K::Static, "System:", 10, 10, 60, 8, 0, 0x80970400},
        {IDC_SYSTEM_NAME, K::Static, "", 74, 10, 62, 8, kNoPrefix, 0x80970400},
        {IDC_USER_ID_LABEL, K::Static, "User ID:", 10, 26, 60, 8, 0, 0x80970402},
        {IDC_USER_ID, K::Edit, "", 74, 24, 62, 12, kBorder | kAutoHScroll | kTabStop, 0x80970402},
        {IDC_OLD_PASSWORD_LABEL, K::Static, "Current password:", 10, 44, 62, 8, 0, 0x80970407},
        {IDC_OLD_PASSWORD, K::Edit, "", 74, 42, 62, 12,
         kBorder | kAutoHScroll | kTabStop | kPassword, 0x80970407},
        {IDC_NEW_PASSWORD_LABEL, K::Static, "New password:", 10, 62, 62, 8, 0, 0x80970409},
        {IDC_NEW_PASSWORD, K::Edit, "", 74, 60, 62, 12,
         kBorder | kAutoHScroll | kTabStop | kPassword, 0x80970409},
        {IDC_CONFIRM_PASSWORD_LABEL, K::Static, "Confirm password:", 10, 80, 62, 8, 0, 0x8097040B},
        {IDC_CONFIRM_PASSWORD, K::Edit, "", 74, 78, 62, 12,
         kBorder | kAutoHScroll | kTabStop | kPassword, 0x8097040B},
        {IDOK, K::DefaultPushButton, "OK", 142, 9, 46, 14, kTabStop, 0x80840001},
        {IDCANCEL, K::PushButton, "Cancel", 142, 27, 46, 14, kTabStop, 0x80840002},
    }};

} // namespace

const std::vector<const DialogTemplate*>& AllDialogTemplates() {
    static const std::vector<const DialogTemplate*> all{
        &kAbout,        &kBodyForm,      &kAddressForm, &kBrowseOptions,
        &kChangeSystem, &kDeliveryModes, &kSignOn,      &kChangePassword};
    return all;
}

const DialogTemplate* FindDialogTemplate(int id) {
    for (const auto* dialog : AllDialogTemplates())
        if (dialog->id == id)
            return dialog;
    return nullptr;
}

const ControlTemplate* FindControlTemplate(const DialogTemplate& dialog, int controlId) {
    for (const auto& control : dialog.controls)
        if (control.id == controlId)
            return &control;
    return nullptr;
}
