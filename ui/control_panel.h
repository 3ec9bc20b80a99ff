// The control panel: start and stop buttons at the top left of the main
// window's client area.
#pragma once

#include <windows.h>

struct ServerSettings;

// The record the buttons act on; set by start-up right after the panel exists.
extern ServerSettings* controlPanelSettings;

// The panel's window.
extern HWND controlPanel;

// Creates the panel as a modeless child dialog of `mainWindow`. Gives 0.
int createControlPanel(HINSTANCE instance, HWND mainWindow);

// The panel made anew at mainWindowDpi, after a change of the display's
// scale; panelRequest is left as it is.
void remakeControlPanel(HINSTANCE instance, HWND mainWindow);

// What a command of the panel does, by control id. True when it was a button.
bool pressPanelButton(int controlId);

INT_PTR CALLBACK ControlPanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam);
