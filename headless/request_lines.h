// A line on standard output for every request served, written by a thread of
// its own, so that an output that takes nothing (a pipe nobody reads, a
// terminal paused with Ctrl-S) never holds the server: lines are left out
// meanwhile, and one line says how many once the output moves again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "server/request_record.h"

// Room for the longest line: time, address, method and path escaped (a path
// cut short), the result with two byte counts.
constexpr std::size_t RequestLineCapacity = 32 + 4 * RecordedMethodBytes + RecordedEscapedBytes + 80;

// The line of a finished entry, ended by '\n', such as
// "10:12:03 10.0.0.7 GET /photo.jpg sent 1234567 bytes in 0.12 s". `time` is
// the entry's "HH:MM:SS". Gives its length.
std::size_t formatRequestLine(const RequestEntry& entry, const char* time, char* line);
// "... 120 requests not shown\n".
std::size_t formatNotShownLine(std::uint64_t count, char* line);

// Starts the writer: with `eachRequest`, a line for each request that
// closes from now on; without, only the last text. False when no thread
// could be made (then nothing is written). The lines are taken from the
// record at once but held until showRequestLines, so that what the program
// still prints itself comes first; a buffer that fills meanwhile is written
// all the same, since a line held back is better than one lost.
bool startRequestLines(bool eachRequest);
// From here on the writer writes its lines, and it alone writes to standard
// output: stdio's buffer must have been flushed.
void showRequestLines();
// Writes the lines still due, then `lastText`, and ends the writer, waiting
// for it at most `waitMs`: an output that takes nothing by then loses them,
// and nothing on the way out is held.
void endRequestLines(const char* lastText, int waitMs);
