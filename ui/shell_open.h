// What the program hands to Windows to open: from the File menu, the URL to
// the default browser and the folder DATA to Explorer; from the QR code
// dialog, the firewall's list of allowed programs and the network's page
// in Settings.
#pragma once

#include <windows.h>

// Opens statusUrl in the default browser. While the server is not running a
// box says so and how to start it, and nothing opens.
void openInBrowser(HWND mainWindow);

// Opens the folder DATA of the working directory, the one the server
// serves, making it first when it is missing. A box says why when it cannot
// be made or opened.
void openDataFolder(HWND mainWindow);

// Opens Windows' list of the programs allowed through the firewall, where the
// user sees whether this program may take connections from the network and
// of which types. Viewing it needs no administrator. A box says why when it
// cannot be opened.
void openFirewallSettings(HWND owner);

// Opens the page of Settings where the network's type is set: the Wi-Fi
// page for a Wi-Fi adapter, else the Ethernet page. A box says why when it
// cannot be opened.
void openNetworkSettings(HWND owner, bool wifi);
