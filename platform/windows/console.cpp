#include "platform/console.h"

#include <windows.h>

#include <cstdio>

static HANDLE terminationEvent;

static BOOL WINAPI onConsoleControl(DWORD type)
{
    // A log-off reaches only a process that a service started, at any user's
    // log-off: no reason to stop. Passed on to the default handler that
    // Windows gives such a process, which lets it run on (taken, it would
    // end the process).
    if (type == CTRL_LOGOFF_EVENT)
        return FALSE;
    SetEvent(terminationEvent);
    // After a close the process ends as soon as this returns: give the main
    // thread a moment to stop the server first.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_SHUTDOWN_EVENT)
        Sleep(2000);
    return TRUE;
}

void catchTerminationSignals()
{
    terminationEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void waitForTerminationSignal()
{
    WaitForSingleObject(terminationEvent, INFINITE);
}

// The console's code page is left as the user has it: a change would outlive
// this process, and every text written here is ASCII.

static HANDLE codeOutput;
static WORD attributesBefore;
static DWORD modeBefore;
// Whether the console reads escape sequences (Windows 10 and later): the
// colours are then given as RGB, which Windows Terminal draws as given,
// where it would draw attribute 0 in the profile's own background.
static bool escapeColours;

CodeDrawing codeDrawingOnStdout(int modules, const char** why)
{
    codeOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO console;
    if (!GetConsoleScreenBufferInfo(codeOutput, &console)) {
        *why = "standard output is not a console";
        return CodeDrawing::None;
    }
    // A code wider than the visible window would wrap into nonsense, and a
    // line that fills the window exactly wraps too, leaving an empty line
    // under every row: the window needs a column more than the code. A
    // taller code scrolls and stays whole in the buffer.
    int columns = console.srWindow.Right - console.srWindow.Left + 1;
    if (columns <= 2 * modules) {
        static char text[80];
        std::snprintf(text, sizeof text, "the console has %d columns and the code needs %d", columns,
                      2 * modules + 1);
        *why = text;
        return CodeDrawing::None;
    }
    attributesBefore = console.wAttributes;
    escapeColours = GetConsoleMode(codeOutput, &modeBefore) &&
                    SetConsoleMode(codeOutput, modeBefore | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    return CodeDrawing::BlankPairs;
}

// Code page 932 has no half blocks: a module is two blanks, black or bright
// white, by RGB where the console reads escape sequences, else by the
// console's own attributes.
void setModuleColour(bool dark)
{
    if (escapeColours) {
        std::fputs(dark ? "\x1b[48;2;0;0;0m" : "\x1b[48;2;255;255;255m", stdout);
        return;
    }
    std::fflush(stdout);
    SetConsoleTextAttribute(codeOutput,
                            dark ? 0 : BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE | BACKGROUND_INTENSITY);
}

void restoreConsoleColours()
{
    if (escapeColours) {
        std::fputs("\x1b[0m", stdout);
        return;
    }
    std::fflush(stdout);
    SetConsoleTextAttribute(codeOutput, attributesBefore);
}

void restoreConsoleMode()
{
    std::fflush(stdout);
    if (escapeColours)
        SetConsoleMode(codeOutput, modeBefore);
    escapeColours = false;
}
