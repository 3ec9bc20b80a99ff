// PLACEHOLDER until the port and log dialogs are written: each opens its
// template and closes on Cancel, Esc or the close box, changing nothing.
#include "ui/settings_dialogs.h"

#include "resources/resource.h"
#include "ui/main_window.h"

ServerSettings* portDialogSettings;

static INT_PTR CALLBACK closeOnlyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND) {
        Sleep(1);
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
    }
    return FALSE;
}

static void runDialog(HWND owner, int templateId)
{
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(templateId), owner, closeOnlyDialogProc, 0);
}

void runPortDialog(HWND owner)
{
    runDialog(owner, IDD_PORT_DIALOG);
}

void runLogDialog(HWND owner)
{
    runDialog(owner, IDD_LOG_DIALOG);
}
