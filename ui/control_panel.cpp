// Control panel. The buttons call the engine directly and leave the display to
// the main window: they only raise panelRequest, set before the call so that
// the next refresh sees the call's outcome.
#include "ui/control_panel.h"

#include "resources/resource.h"
#include "server/server.h"
#include "ui/status_display.h"

ServerSettings* controlPanelSettings;

int createControlPanel(HINSTANCE instance, HWND mainWindow)
{
    HWND panel = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_CONTROL_PANEL), mainWindow,
                                    ControlPanelProc, 0);
    MoveWindow(panel, 10, 10, 190, 110, TRUE);
    ShowWindow(panel, SW_SHOW);
    SetActiveWindow(panel);
    panelRequest = 0;
    return 0;
}

bool pressPanelButton(int controlId)
{
    switch (controlId) {
    case IDC_START_BUTTON:
        panelRequest = 1;
        if (controlPanelSettings)
            startServer(*controlPanelSettings);
        return true;
    case IDC_STOP_BUTTON:
        panelRequest = 2;
        if (controlPanelSettings)
            stopServer(*controlPanelSettings);
        return true;
    default:
        return false;
    }
}

INT_PTR CALLBACK ControlPanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        // Every command starts with a short pause, as in the settings dialogs.
        Sleep(1);
        if (!pressPanelButton(LOWORD(wParam)))
            return FALSE;
        wakeForRefresh(GetParent(panel));
        return TRUE;
    default:
        return FALSE;
    }
}
