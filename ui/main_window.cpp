// Start-up, the main window with its menu, accelerators, quit confirmation
// and version box, and the message loop.
#include "ui/main_window.h"

#include "resources/resource.h"
#include "server/server.h"
#include "ui/control_panel.h"
#include "ui/settings_dialogs.h"
#include "ui/status_display.h"

HINSTANCE appInstance;
WCHAR windowTitle[100];
WCHAR windowClassName[100];

// Harborlight\nアプリケーションを終了します。\n宜しいですか？。
static const char QuitQuestion[] =
    "Harborlight\n\x83" "A\x83v\x83\x8a\x83P\x81[\x83V\x83\x87\x83\x93\x82\xf0\x8fI\x97\xb9"
    "\x82\xb5\x82\xdc\x82\xb7\x81" "B\n\x8bX\x82\xb5\x82\xa2\x82\xc5\x82\xb7\x82\xa9\x81H\x81" "B";
// 確認メッセージ
static const char ConfirmationCaption[] = "\x8am\x94" "F\x83\x81\x83" "b\x83Z\x81[\x83W";

static void registerMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_HARBORLIGHT));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAIN_MENU);
    windowClass.lpszClassName = windowClassName;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_HARBORLIGHT_SMALL));
    RegisterClassExW(&windowClass);
}

HWND startApplication(HINSTANCE instance, int showCommand, HACCEL* accelerators)
{
    LoadStringW(instance, IDS_APP_TITLE, windowTitle, 100);
    LoadStringW(instance, IDS_WINDOW_CLASS, windowClassName, 100);
    registerMainWindowClass(instance);
    appInstance = instance;

    HWND mainWindow = CreateWindowExW(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, CW_USEDEFAULT, 410, 310, nullptr, nullptr,
                                      instance, nullptr);
    if (!mainWindow)
        return nullptr;
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    initServer();
    createControlPanel(instance, mainWindow);
    controlPanelSettings = &serverSettings;
    portDialogSettings = &serverSettings;
    refreshStatusTexts();
    InvalidateRect(mainWindow, nullptr, TRUE);

    *accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    return mainWindow;
}

void dispatchLoopMessage(MSG& message, HWND mainWindow, HACCEL accelerators)
{
    // The shortcuts belong to the main window even when the keyboard focus is
    // on one of the panel's buttons (as it is after a click on one).
    if (TranslateAcceleratorW(mainWindow, accelerators, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

int runMessageLoop(HWND mainWindow, HACCEL accelerators)
{
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        dispatchLoopMessage(message, mainWindow, accelerators);
    return static_cast<int>(message.wParam);
}

bool confirmQuit(HWND mainWindow)
{
    if (MessageBoxA(mainWindow, QuitQuestion, ConfirmationCaption, MB_YESNO) != IDYES)
        return false;
    // The window does not stop the server: the engine's teardown at process
    // end does.
    DestroyWindow(mainWindow);
    return true;
}

INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

static LRESULT handleCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_ABOUT:
        DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutBoxProc, 0);
        return 0;
    case IDM_EXIT:
        confirmQuit(window);
        return 0;
    case IDM_PORT:
        runPortDialog(window);
        return 0;
    case IDM_LOG:
        runLogDialog(window);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Whatever the message, pending refresh flags are served first.
    processRefreshFlags(window);
    switch (message) {
    case WM_CREATE:
        return 0;
    case WM_PAINT:
        paintStatusTexts(window);
        return 0;
    case WM_COMMAND:
        return handleCommand(window, message, wParam, lParam);
    case WM_CLOSE:
        confirmQuit(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
