// What a console front end needs: to wait for Ctrl-C and its kin, and to
// draw a QR code.
#pragma once

// Call before any thread starts, so that the signals reach only the waiter.
void catchTerminationSignals();
// Returns once SIGINT or SIGTERM (Ctrl-C, Ctrl-Break or close on Windows)
// has arrived.
void waitForTerminationSignal();

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
// The code needs a column more than it draws: a line that fills the window
// wraps in some terminals, and in Windows' console by default. With None,
// `why` says why, for a line such as "no QR code: ...". Otherwise a call of
// restoreConsoleMode follows the drawing.
CodeDrawing codeDrawingOnStdout(int modules, const char** why);
// The background of the next cells written to stdout, dark or light, with a
// dark foreground for half blocks; and the colours stdout had before, for
// the end of each line. Set explicitly, as RGB where the terminal takes it,
// never left to the terminal's defaults, which may be light on dark or see-
// through.
void setModuleColour(bool dark);
void restoreConsoleColours();
// Puts back what codeDrawingOnStdout changed in the console's mode.
void restoreConsoleMode();
