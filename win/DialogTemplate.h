#pragma once

#include <cstdint>
#include <vector>

#include "DialogTemplates.h"

struct HWND__; // HWND, without windows.h and its IDOK macros

// One template from res/ as the bytes of an in-memory DLGTEMPLATEEX and its items, the
// form the resource compiler gives a dialog, for CreateDialogIndirectParamW and
// DialogBoxIndirectParamW. The buffer starts DWORD-aligned, as they require.
// Throws std::invalid_argument for a template the format cannot hold (a coordinate
// beyond 16 bits, more than 65535 controls, a text with a NUL in it).
std::vector<std::uint8_t> BuildDialogTemplate(const DialogTemplate& dialog);

// Windows gives each control the help id its item carries, Wine drops them: the window
// sets them again from the template, in WM_INITDIALOG, while its children are still the
// template's controls in template order.
void ApplyHelpIds(HWND__* window, const DialogTemplate& dialog);
