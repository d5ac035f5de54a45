#pragma once

#include <windows.h>

// The window's sign-on prompt: from now on a system without a configured password is
// asked for in the sign-on dialog over `owner`, on the window's thread whichever thread
// connects. Call it on the window's thread.
void InstallWindowSignOn(HWND owner);

// After a host call to the current system that ended with `returnCode`: opens the
// change-password dialog when the password has expired, or asks first when it expires
// soon (once per run).
void OfferPasswordChange(HWND owner, unsigned returnCode);
