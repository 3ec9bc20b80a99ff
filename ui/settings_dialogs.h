// The two settings dialogs the main window opens from its menu bar: the port
// number and the access log switch. Both run modally, owned by `owner`.
#pragma once

#include <windows.h>

struct ServerSettings;

// The record the port dialog stores the port in and restarts; set at start-up.
extern ServerSettings* portDialogSettings;

void runPortDialog(HWND owner);
void runLogDialog(HWND owner);
