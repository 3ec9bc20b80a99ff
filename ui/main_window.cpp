// Start-up, the main window with its menu, accelerators, quit confirmation
// and version box, and the message loop.
#include "ui/main_window.h"

#include "resources/resource.h"
#include "server/server.h"
#include "ui/access_window.h"
#include "ui/control_panel.h"
#include "ui/display_scale.h"
#include "ui/qr_dialog.h"
#include "ui/settings_dialogs.h"
#include "ui/shell_open.h"
#include "ui/status_accessible.h"
#include "ui/status_display.h"
#include "ui/wide_text.h"

HINSTANCE appInstance;
WCHAR windowTitle[100];
WCHAR windowClassName[100];

// The texts of the user interface are stored in code page 932 (see
// ui/CMakeLists.txt). The compiler's conversion is checked where it matters:
// a trail byte 0x5C (ソ, 表) and the wave dash ～, which plain Shift_JIS
// tables do not map as Windows does.
static_assert(sizeof "ソ表～" == 7 && "ソ表～"[0] == '\x83' && "ソ表～"[1] == '\x5c' && "ソ表～"[2] == '\x95' &&
                  "ソ表～"[3] == '\x5c' && "ソ表～"[4] == '\x81' && "ソ表～"[5] == '\x60',
              "the user interface is built with -fexec-charset=CP932");

const char ConfirmationCaption[] = "確認メッセージ";
static const char QuitQuestion[] = "Harborlight\nアプリケーションを終了します。\n宜しいですか？。";

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
    // The window is designed for a 96-DPI screen: on a screen of another
    // scale it is made as much larger, before it is shown.
    mainWindowDpi = windowDpi(mainWindow);
    if (mainWindowDpi != 96)
        SetWindowPos(mainWindow, nullptr, 0, 0, scaled(410), scaled(310),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
    // The access window is the one modeless window: its keys are its own.
    if (takeAccessWindowMessage(message))
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
    if (sjisMessageBox(mainWindow, QuitQuestion, ConfirmationCaption, MB_YESNO) != IDYES)
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

// The window moved to a screen of another scale, or its screen's scale
// changed: it takes the place and size Windows suggests, and its contents
// follow. The panel is made anew, which lays it out at the new scale; the
// texts are painted at their new places in a font of the new size.
static void followDpiChange(HWND window, UINT dpi, const RECT& suggested)
{
    mainWindowDpi = dpi;
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    remakeControlPanel(appInstance, window);
    InvalidateRect(window, nullptr, TRUE);
}

// The File menu's start and stop, for the keyboard: what the panel's two
// buttons do. A key that chose the item may be the last input for a while,
// so the refresh is woken as after a press of the button from the keyboard.
static void runServerCommand(HWND window, int buttonId)
{
    pressPanelButton(buttonId);
    wakeForRefresh(window);
}

// The menu as it opens: of start and stop, the one that does not apply to
// the server's present state is greyed out.
static void enableServerCommands(HMENU menu)
{
    bool running = ServerState == Running;
    EnableMenuItem(menu, IDM_START_SERVER, MF_BYCOMMAND | (running ? MF_GRAYED : MF_ENABLED));
    EnableMenuItem(menu, IDM_STOP_SERVER, MF_BYCOMMAND | (running ? MF_ENABLED : MF_GRAYED));
}

// The system's colours or its high-contrast setting changed: the status is
// painted anew in the colours now chosen. The panel's controls are told of
// new colours, as Windows tells only top-level windows and the common
// controls keep their own copy.
static void followColourChange(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SYSCOLORCHANGE && IsWindow(controlPanel))
        for (HWND child = GetWindow(controlPanel, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            SendMessageW(child, message, wParam, lParam);
    InvalidateRect(window, nullptr, TRUE);
}

static LRESULT handleCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_START_SERVER:
        runServerCommand(window, IDC_START_BUTTON);
        return 0;
    case IDM_STOP_SERVER:
        runServerCommand(window, IDC_STOP_BUTTON);
        return 0;
    case IDM_ABOUT:
        DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutBoxProc, 0);
        return 0;
    case IDM_EXIT:
        confirmQuit(window);
        return 0;
    case IDM_SHOW_QR:
        runQrDialog(window);
        return 0;
    case IDM_OPEN_BROWSER:
        openInBrowser(window);
        return 0;
    case IDM_OPEN_DATA:
        openDataFolder(window);
        return 0;
    case IDM_SHOW_ACCESS:
        showAccessWindow(window);
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
    case WM_DPICHANGED:
        followDpiChange(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_INITMENUPOPUP:
        // Not the system menu (its high word).
        if (!HIWORD(lParam))
            enableServerCommands(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
        followColourChange(window, message, wParam, lParam);
        return 0;
    case WM_CLOSE:
        confirmQuit(window);
        return 0;
    case WM_GETOBJECT:
        // A screen reader asks what the client area holds: the status lines.
        if (LRESULT object = answerStatusObject(window, wParam, lParam))
            return object;
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
