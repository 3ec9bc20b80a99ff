// The display's scale. The window is designed in pixels of a 96-DPI screen;
// on a screen of another scale (120 DPI at 125 %, 144 at 150 %, 192 at 200 %)
// every length is multiplied by DPI / 96.
#pragma once

#include <windows.h>

// The DPI the main window is laid out for: its screen's when it is created,
// then the one each WM_DPICHANGED names. 96 until the window exists.
extern UINT mainWindowDpi;

// The DPI of the screen `window` stands on: GetDpiForWindow where Windows has
// it (Windows 10 1607 and later), else the screen's, which is the system's.
UINT windowDpi(HWND window);

// A length of the 96-DPI layout at mainWindowDpi.
int scaled(int length);
