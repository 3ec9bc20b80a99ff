// Harborlight.exe as it shows under a high-contrast theme, which Wine cannot
// switch on: the program itself, with high contrast taken as on. The
// screenshot of the window in such a theme is taken of it (tests/e2e/ui_e2e.sh).
#include "ui/main_window.h"
#include "ui/status_display.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    highContrastForced = true;
    HACCEL accelerators = nullptr;
    HWND mainWindow = startApplication(instance, showCommand, &accelerators);
    return mainWindow ? runMessageLoop(mainWindow, accelerators) : 0;
}
