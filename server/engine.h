// What the engine's own files share beyond the public operations.
#pragma once

#include <cstddef>

#include "server/server.h"

// A receive that waits longer than this ends the connection unanswered, and a
// send that makes no progress for as long ends the answer.
constexpr int ConnectionTimeoutMs = 10000;
// How long a closing connection may still take the client's unread bytes.
constexpr int LingerMs = 2000;
// The pause after an accept that failed for want of descriptors or buffers:
// long enough not to spin, short enough that the waiting client hardly
// notices once they are free again.
constexpr int AcceptRetryMs = 50;

// Waits `ms` milliseconds on the listener thread, or until a stop, whichever
// comes first.
void waitUnlessStopped(int ms);

// Sends on connectionSocket; false once the client has gone or a stop ended
// the connection.
bool sendToClient(const char* data, std::size_t size);

// True when `path` (the request's path, without the leading '/') names a file
// inside DATA on every platform: no "..", no backslash or colon, no Windows
// device name in any segment.
bool pathStaysInData(const char* path);

// writeAccessLog for a given instant (seconds since 1970 UTC), so that the
// file name and line of any date can be checked.
int writeAccessLogAt(const char* clientAddressText, std::int64_t seconds);
