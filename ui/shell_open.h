// The File menu's two commands that hand something to the shell: the URL to
// the default browser and the folder DATA to Explorer.
#pragma once

#include <windows.h>

// Opens statusUrl in the default browser. While the server is not running a
// box says so and how to start it, and nothing opens.
void openInBrowser(HWND mainWindow);

// Opens the folder DATA of the working directory, the one the server
// serves, making it first when it is missing. A box says why when it cannot
// be made or opened.
void openDataFolder(HWND mainWindow);
