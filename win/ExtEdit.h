#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// The three text fields (To:, Subject:, body) as edit controls made to behave as the
// program's fields: typing and pasting admit Latin-1 only ("?" for the rest), bounded by
// a limit all or nothing (a refused paste says why in the status bar); Tab and Shift+Tab
// cycle To: -> Subject: -> body; the frame's editing keys reach the frame.
void SubclassField(HWND edit, int controlId, bool multiLine, std::size_t limit);
void ReleaseField(int controlId);
// The field of a control id; null until it is subclassed.
HWND FieldWindow(int controlId);

// Latin-1 with CR LF line breaks, as the rest of the program reads and writes it.
std::string FieldText(int controlId);
// Text set by the program is not bound by the limit.
void SetFieldText(int controlId, const std::string& latin1);
