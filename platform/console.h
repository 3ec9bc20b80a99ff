// What a console front end needs: to wait for Ctrl-C and its kin, to print
// text that holds Shift_JIS or UTF-8, and to draw a QR code.
#pragma once

// Call before any thread starts, so that the signals reach only the waiter.
void catchTerminationSignals();
// Returns once SIGINT or SIGTERM (Ctrl-C, Ctrl-Break or close on Windows)
// has arrived.
void waitForTerminationSignal();
// Prepares stdout for UTF-8 text.
void useUtf8Console();

// How standard output can draw a QR code of `modules` modules a side, its
// quiet zone included.
enum class CodeDrawing {
    // Not at all: a file, a pipe, or a terminal that cannot show it.
    None,
    // A UTF-8 terminal: half blocks, two modules to a character cell.
    HalfBlocks,
    // Two blank cells a module, coloured: a console without half blocks
    // (Windows' code page 932, or an East Asian terminal, which draws them
    // two cells wide).
    BlankPairs,
};
// With None, `why` says why, for a line such as "no QR code: ...".
CodeDrawing codeDrawingOnStdout(int modules, const char** why);
// The background of the next cells written to stdout, dark or light, with a
// dark foreground for half blocks; and the colours stdout had before, for
// after the code. Set explicitly, never left to the terminal's defaults,
// which may be light on dark.
void setModuleColour(bool dark);
void restoreConsoleColours();
