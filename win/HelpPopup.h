#pragma once

#include <windows.h>

#include <cstdint>

// The help file's texts in windows of the program's own: a topic as a small pop-up at a
// point, closed by any click or key; the contents in a plain window.
void ShowHelpTopic(HWND owner, std::uint32_t contextId, POINT screenPoint);
void ShowHelpContents(HWND owner);
// The topic the pop-up now shows: kDefaultHelpId for the contents, 0 when none shows.
std::uint32_t HelpPopupTopic();
