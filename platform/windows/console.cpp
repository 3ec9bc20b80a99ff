#include "platform/console.h"

#include <windows.h>

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
