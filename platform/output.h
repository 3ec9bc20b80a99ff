// Standard output written directly, past stdio: for a thread of its own
// that may block in it (a pipe nobody reads, a terminal paused with Ctrl-S)
// while every other thread goes on.
#pragma once

#include <cstddef>

// A terminal or console, where a person reads each line as it comes.
bool standardOutputIsTerminal();
// Writes all `size` bytes, lines ended by LF alone, which go out as the
// system's line ends (CR LF on Windows); false when standard output refuses
// them (closed, a full disk). May block for as long as the reader takes.
// From one thread at a time.
bool writeStandardOutput(const char* data, std::size_t size);
