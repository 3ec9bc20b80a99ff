#include "platform/console.h"

#include <windows.h>

#include <cstdio>

static HANDLE terminationEvent;

static BOOL WINAPI onConsoleControl(DWORD type)
{
    SetEvent(terminationEvent);
    // After a close the process ends as soon as this returns: give the main
    // thread a moment to stop the server first.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
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

void useUtf8Console()
{
    SetConsoleOutputCP(CP_UTF8);
}

static WORD attributesBefore;

CodeDrawing codeDrawingOnStdout(int modules, const char** why)
{
    CONSOLE_SCREEN_BUFFER_INFO console;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &console)) {
        *why = "standard output is not a console";
        return CodeDrawing::None;
    }
    // A code wider than the console would wrap into nonsense; a taller one
    // scrolls and stays whole in the buffer.
    if (console.dwSize.X < 2 * modules) {
        static char text[80];
        std::snprintf(text, sizeof text, "the console has %d columns and the code needs %d", console.dwSize.X,
                      2 * modules);
        *why = text;
        return CodeDrawing::None;
    }
    attributesBefore = console.wAttributes;
    return CodeDrawing::BlankPairs;
}

// Code page 932 has no half blocks: a module is two blanks, black or bright
// white by the console's own attributes.
void setModuleColour(bool dark)
{
    std::fflush(stdout);
    SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE),
                            dark ? 0 : BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE | BACKGROUND_INTENSITY);
}

void restoreConsoleColours()
{
    std::fflush(stdout);
    SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), attributesBefore);
}
