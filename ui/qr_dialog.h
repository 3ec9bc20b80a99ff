// The QR code dialog: the status display's URL as a code that a phone's
// camera reads off the screen, the URL written under it, and a button that
// copies it. Under them, what this PC shows against a phone that cannot
// open the page, read anew each time the dialog opens.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/reachability.h"

// Opens the dialog modally, owned by `owner`, for statusUrl. Gives IDOK or
// IDCANCEL.
INT_PTR runQrDialog(HWND owner);

INT_PTR CALLBACK QrDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// How the dialog reads what keeps a phone out, off the user-interface
// thread: readReachFindingWithin, or a test's own.
using ReachReader = bool (*)(std::uint32_t address, std::uint16_t port, int limitMs, ReachReport* report);
extern ReachReader qrReachReader;
// The message that brings the dialog the reader's answer.
UINT reachFoundMessage();
