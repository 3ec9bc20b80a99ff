// What the user is told when a start they asked for fails (the panel's start
// button, the File menu's start item, a port change on a running server): a
// box that names the port, the cause and what to do, a line each. The QR
// code dialog's note says the same while the server stays stopped, until a
// start succeeds.
#pragma once

#include <windows.h>

#include "platform/port_holder.h"
#include "server/server.h"

// Room for the longest text: three lines and a long program name.
constexpr int StartFailureUnits = 640;
struct StartFailureText {
    WCHAR text[StartFailureUnits];  // terminated
};

// The text for `failure`; `holder` says who holds the port when it is in use.
StartFailureText startFailureText(const StartFailure& failure, const PortHolder& holder);

// Right after a start the user asked for: when it failed, finds who holds
// the port, keeps the text for the QR code dialog and shows it in a box
// owned by `owner`, with OK alone and no icon.
void reportStartFailure(HWND owner);

// The kept text while the server is stopped after a failed start, with no
// start that succeeded since; null otherwise.
const WCHAR* pendingStartFailure();
