// What a screen reader reads of the main window and its pictures: the status
// display's lines as accessible objects of the window's client area, and
// names for the controls that show a symbol or a picture instead of words.
#pragma once

#include <windows.h>

#include "ui/status_display.h"

// The lines a screen reader reads, child ids 1 to StatusLineCount in the
// order they are painted: the state (its lead-in and "[ 稼動 ]" or
// "[ 停止 ]" as one sentence), the address, the port, the URL and logging.
// The glyph has none: the state line says the same in words.
constexpr int StatusLineCount = 5;

// WM_GETOBJECT of the main window: its client area's accessible object, the
// lines followed by the child windows as the system's own object gives them.
// 0 for any other object, which the caller leaves to DefWindowProc.
LRESULT answerStatusObject(HWND mainWindow, WPARAM wParam, LPARAM lParam);

// Tells a screen reader of every line that a rebuild changed since `before`
// (EVENT_OBJECT_NAMECHANGE), and of none other.
void announceChangedLines(HWND mainWindow, const StatusTexts& before);

// From now on, `control` is read as `name` (UTF-16, copied), whatever it
// shows; everything else about it stays as the system's object gives it. An
// empty name leaves it to the system's object. Once for each control.
void nameControl(HWND control, const WCHAR* name);
