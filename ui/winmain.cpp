// Harborlight.exe: the desktop web server's entry point.
#include "ui/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    HACCEL accelerators = nullptr;
    HWND mainWindow = startApplication(instance, showCommand, &accelerators);
    if (!mainWindow)
        return 0;
    return runMessageLoop(mainWindow, accelerators);
}
