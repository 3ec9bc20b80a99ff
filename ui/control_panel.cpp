// Control panel. The buttons call the engine directly and leave the display to
// the main window: they only raise panelRequest, set before the call so that
// the next refresh sees the call's outcome.
#include "ui/control_panel.h"

#include "resources/resource.h"
#include "server/server.h"
#include "ui/display_scale.h"
#include "ui/start_failure.h"
#include "ui/status_accessible.h"
#include "ui/status_display.h"

ServerSettings* controlPanelSettings;
HWND controlPanel;

// The buttons show a triangle and a square: a screen reader reads what they do.
static void nameButton(HINSTANCE instance, int id, UINT name)
{
    WCHAR text[32];
    LoadStringW(instance, name, text, 32);
    nameControl(GetDlgItem(controlPanel, id), text);
}

// The panel from its template, at 10,10 of the main window's client area,
// 190 by 110 at 96 DPI. The dialog manager lays its controls out in dialog
// units, which follow the template's font made for the window's scale.
static void makeControlPanel(HINSTANCE instance, HWND mainWindow)
{
    controlPanel = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_CONTROL_PANEL), mainWindow,
                                      ControlPanelProc, 0);
    MoveWindow(controlPanel, scaled(10), scaled(10), scaled(190), scaled(110), TRUE);
    nameButton(instance, IDC_START_BUTTON, IDS_START_BUTTON_NAME);
    nameButton(instance, IDC_STOP_BUTTON, IDS_STOP_BUTTON_NAME);
    ShowWindow(controlPanel, SW_SHOW);
}

int createControlPanel(HINSTANCE instance, HWND mainWindow)
{
    makeControlPanel(instance, mainWindow);
    SetActiveWindow(controlPanel);
    panelRequest = 0;
    return 0;
}

void remakeControlPanel(HINSTANCE instance, HWND mainWindow)
{
    // Windows documents a dialog's new layout on a change of scale as its
    // answer to WM_DPICHANGED, which only top-level windows get, and Wine
    // has none: the panel, a child, would keep the layout of its creation.
    // It holds no state, so a new one takes its place. (Before start-up has
    // made it there is none: a change while the window is first sized.)
    if (!IsWindow(controlPanel))
        return;
    // The keyboard focus stays where it was: on the same button of the new
    // panel, as a user who pressed it with Space expects.
    HWND focus = GetFocus();
    bool focused = focus == controlPanel || IsChild(controlPanel, focus);
    int focusedId = focus != controlPanel ? GetDlgCtrlID(focus) : 0;
    DestroyWindow(controlPanel);
    makeControlPanel(instance, mainWindow);
    if (focused) {
        HWND control = focusedId ? GetDlgItem(controlPanel, focusedId) : nullptr;
        // As a dialog moves its focus, so that the button looks focused too.
        if (control)
            SendMessageW(controlPanel, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        else
            SetFocus(controlPanel);
    }
}

bool pressPanelButton(int controlId)
{
    switch (controlId) {
    case IDC_START_BUTTON:
        panelRequest = 1;
        // A start refused says why, over the main window, which shows the
        // stopped state meanwhile.
        if (controlPanelSettings && startServer(*controlPanelSettings) >= 2)
            reportStartFailure(GetParent(controlPanel));
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
