// The QR code dialog: the status display's URL as a code that a phone's
// camera reads off the screen, the URL written under it, and a button that
// copies it.
#pragma once

#include <windows.h>

// Opens the dialog modally, owned by `owner`, for statusUrl. Gives IDOK or
// IDCANCEL.
INT_PTR runQrDialog(HWND owner);

INT_PTR CALLBACK QrDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
