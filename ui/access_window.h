// The access window, "アクセス状況": every request the server received, one
// row each, oldest first, the answer in progress with it, read from the
// engine's record four times a second while the window is shown. The
// listener posts nothing: the window reads what it needs when it needs it.
#pragma once

#include <windows.h>

// The window while it exists (from its first opening to the main window's
// end); hidden, it keeps its rows, place and size.
extern HWND accessWindow;

// Opens the window, owned by `owner`, or brings it forward.
void showAccessWindow(HWND owner);

// Reads what the engine recorded since the last reading and shows it: the
// window's 250 ms timer, while it is shown.
void updateAccessWindow();

// Offers one message of the main loop to the window: its shortcuts (Ctrl+A,
// Ctrl+C) and its dialog keys (Tab, Esc, the mnemonics). True when taken.
// Messages of other windows are left alone.
bool takeAccessWindowMessage(MSG& message);

INT_PTR CALLBACK AccessWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
