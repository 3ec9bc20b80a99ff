// The display's scale.
#include "ui/display_scale.h"

UINT mainWindowDpi = 96;

UINT windowDpi(HWND window)
{
    // Windows before 10 1607 lack the function: it is looked up, not linked,
    // so that the program still starts there.
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT dpi = dpiForWindow ? dpiForWindow(window) : 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    return dpi;
}

int scaled(int length)
{
    return MulDiv(length, mainWindowDpi, 96);
}
