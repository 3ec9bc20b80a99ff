// The browser and the folder, opened as the shell opens them: by the
// default verb of the URL's scheme and of a folder, so that the user's own
// browser and file manager open them. And the firewall's list of allowed
// programs, opened by the Control Panel, and the network's page in Settings.
#include "ui/shell_open.h"

#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "resources/resource.h"
#include "server/server.h"
#include "ui/main_window.h"
#include "ui/status_display.h"
#include "ui/wide_text.h"

// The texts below are stored in code page 932 (see ui/CMakeLists.txt).
static const char ServerStoppedText[] =
    "ＷＥＢサーバーは [ 停止 ] しています。\nパネルの「再生」の▲ボタンで開始してから、もう一度お試し下さい。";
static const char BrowserFailedText[] =
    "ブラウザを開けませんでした。\n既定のブラウザが設定されているか、確かめて下さい。";
static const char DataIsFileText[] =
    "「DATA」という名前のファイルがあるため、DATAフォルダを作れません。\n"
    "そのファイルの名前を変えてから、もう一度お試し下さい。";
static const char DataNotMadeText[] =
    "DATAフォルダを作れませんでした。\n書き込みのできるフォルダーで起動して下さい。";
static const char DataNotOpenedText[] = "DATAフォルダを開けませんでした。";

// A box of the house's kind: the text, then the folder and the system's own
// words for `error`, which come as Unicode (and in the system's language)
// and are shown as they come.
static void showFailure(HWND owner, const WCHAR* text, const WCHAR* folder, DWORD error)
{
    std::wstring message = text;
    if (folder)
        message = message + L"\n\n" + folder;
    WCHAR* reason = nullptr;
    if (error && FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, reinterpret_cast<WCHAR*>(&reason), 0, nullptr)) {
        message = message + L"\n" + reason;
        LocalFree(reason);
    }
    MessageBoxW(owner, message.c_str(), wideText(ConfirmationCaption).text, MB_OK);
}

// The same with a Shift_JIS text.
static void showFailure(HWND owner, const char* text, const WCHAR* folder, DWORD error)
{
    showFailure(owner, wideText(text).text, folder, error);
}

// The shell's default verb on `target`, reporting no failure itself. Gives
// 0, or the system's error.
static DWORD shellOpen(HWND owner, const WCHAR* target)
{
    // Some handlers the shell hands the work to need COM on this thread; it
    // stays initialised for the rest of the program.
    static const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    (void)com;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpFile = target;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) ? 0 : GetLastError();
}

void openInBrowser(HWND mainWindow)
{
    if (ServerState != Running || statusUrl[0] == '\0') {
        sjisMessageBox(mainWindow, ServerStoppedText, ConfirmationCaption, MB_OK);
        return;
    }
    if (DWORD error = shellOpen(mainWindow, wideText(statusUrl).text))
        showFailure(mainWindow, BrowserFailedText, nullptr, error);
}

void openDataFolder(HWND mainWindow)
{
    // The whole path: the shell's programs have working directories of
    // their own.
    WCHAR folder[MAX_PATH];
    DWORD length = GetFullPathNameW(L"DATA", MAX_PATH, folder, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        showFailure(mainWindow, DataNotMadeText, nullptr, length ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
        return;
    }
    if (!CreateDirectoryW(folder, nullptr)) {
        DWORD error = GetLastError();
        DWORD attributes = GetFileAttributesW(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            showFailure(mainWindow, DataNotMadeText, folder, error);
            return;
        }
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            showFailure(mainWindow, DataIsFileText, folder, 0);
            return;
        }
    }
    // With a trailing separator: handed a bare "...\DATA", the shell runs a
    // program beside the folder named DATA.exe, .com, .bat, .cmd or .lnk in
    // its place.
    if (DWORD error = shellOpen(mainWindow, (std::wstring(folder) + L'\\').c_str()))
        showFailure(mainWindow, DataNotOpenedText, folder, error);
}

void openFirewallSettings(HWND owner)
{
    // By its whole path in the system folder, never by its bare name, which
    // Windows looks for in this program's folder and the working directory
    // first. It starts in the system folder too, so that the folder of DATA
    // is not held busy.
    WCHAR system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    WCHAR text[WideTextUnits];
    LoadStringW(appInstance, IDS_FIREWALL_NOT_OPENED, text, WideTextUnits);
    if (length == 0 || length >= MAX_PATH) {
        showFailure(owner, text, nullptr, length ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
        return;
    }
    std::wstring program = std::wstring(system) + L"\\control.exe";
    std::wstring commandLine = L'"' + program + L"\" /name Microsoft.WindowsFirewall /page pageConfigureApps";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, system, &startup,
                        &process)) {
        showFailure(owner, text, nullptr, GetLastError());
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

void openNetworkSettings(HWND owner, bool wifi)
{
    // Through the shell, as the browser is opened: Settings handles the scheme.
    if (DWORD error = shellOpen(owner, wifi ? L"ms-settings:network-wifi" : L"ms-settings:network-ethernet")) {
        WCHAR text[WideTextUnits];
        LoadStringW(appInstance, IDS_NETWORK_NOT_OPENED, text, WideTextUnits);
        showFailure(owner, text, nullptr, error);
    }
}
