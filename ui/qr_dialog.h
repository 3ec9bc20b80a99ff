// The QR code dialog: the status display's URL as a code that a phone's
// camera reads off the screen, the URL written under it, and a button that
// copies it.
#pragma once

#include <windows.h>

// Pixels a module of the code takes on a screen of `dpi`: 6 at 96 DPI, and as
// many more as the scale asks, rounded up to whole pixels so that every
// module is as large as every other.
int qrModulePixels(UINT dpi);

// Opens the dialog modally, owned by `owner`, for statusUrl. Gives IDOK or
// IDCANCEL.
INT_PTR runQrDialog(HWND owner);

// Puts the ASCII text on the clipboard as Unicode text and as text. False
// when the clipboard could not be had (another program holding it).
bool copyToClipboard(HWND owner, const char* text);

INT_PTR CALLBACK QrDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
