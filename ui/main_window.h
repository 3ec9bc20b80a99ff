// Start-up, the main window and the message loop.
#pragma once

#include <windows.h>

// Application-wide values, set once at start-up.
extern HINSTANCE appInstance;
extern WCHAR windowTitle[100];
extern WCHAR windowClassName[100];

// Start-up up to the message loop: loads the texts, registers the class,
// creates and shows the main window, initialises the server, creates the
// control panel and builds the status texts. Gives the main window, or null
// when it could not be created (then nothing else was done).
HWND startApplication(HINSTANCE instance, int showCommand, HACCEL* accelerators);

// One message of the loop: accelerators first, then the access window's
// keys, then translate and dispatch.
void dispatchLoopMessage(MSG& message, HWND mainWindow, HACCEL accelerators);

// Runs until the quit message; gives its exit code.
int runMessageLoop(HWND mainWindow, HACCEL accelerators);

// The caption of every confirmation and refusal box, in Shift_JIS.
extern const char ConfirmationCaption[];

// Asks "quit?" and destroys the window on Yes. True when it did.
bool confirmQuit(HWND mainWindow);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
