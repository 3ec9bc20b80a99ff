// The user interface's Shift_JIS texts where they meet Windows. They are held
// as code page 932 bytes, and Windows is handed them as UTF-16, converted by
// code page 932 itself: never by the process's code page, which the A
// functions use. That one is the system's on Windows 10 whatever the manifest
// asks (1252 on an English system), and GDI keeps the system's even where
// Windows 11 grants the manifest's.
#pragma once

#include <windows.h>

// Room for the longest text shown, a 200-byte message: a Shift_JIS character
// takes one or two bytes and gives one UTF-16 unit.
constexpr int WideTextUnits = 256;

struct WideText {
    WCHAR text[WideTextUnits];  // terminated
    int length;                 // in UTF-16 units, without the terminator
};

// The Shift_JIS bytes `sjis` (terminated) in UTF-16. A text longer than the
// buffer is cut.
WideText wideText(const char* sjis);

// The text of `window` as Shift_JIS bytes, as GetWindowTextA gives it in code
// page 932: its first `size` - 1 bytes at most, terminated.
void sjisWindowText(HWND window, char* bytes, int size);

// MessageBoxW with a Shift_JIS text and caption.
int sjisMessageBox(HWND owner, const char* text, const char* caption, UINT type);
