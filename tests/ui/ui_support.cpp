#include "ui_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "server/server.h"
#include "ui/main_window.h"
#include "ui/status_display.h"

std::string sjis(const std::string& utf8)
{
    std::wstring wide = utf16(utf8);
    std::string out(wide.size() * 2 + 1, '\0');
    int m = WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), &out[0],
                                static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(m);
    return out;
}

std::wstring utf16(const std::string& utf8)
{
    std::wstring wide(utf8.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                                static_cast<int>(wide.size()));
    wide.resize(n);
    return wide;
}

UINT manifestCodePage()
{
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    if (!found)
        return 0;
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(nullptr, found))),
                         SizeofResource(nullptr, found));
    if (manifest.find(">ja-JP</activeCodePage>") != std::string::npos)
        return 932;
    if (manifest.find(">en-US</activeCodePage>") != std::string::npos)
        return 1252;
    return 0;
}

std::string textOf(HWND window)
{
    // Read as Unicode: the A function would convert back by the same code
    // page that the text went in by, and so hide a wrong one.
    wchar_t wide[512] = {};
    int n = GetWindowTextW(window, wide, 512);
    char text[1024] = {};
    WideCharToMultiByte(932, 0, wide, n, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

bool textFitsIn(HWND control)
{
    wchar_t text[1024];
    GetWindowTextW(control, text, 1024);
    RECT room, needed;
    GetClientRect(control, &room);
    needed = room;
    HDC dc = GetDC(control);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    DrawTextW(dc, text, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    ReleaseDC(control, dc);
    return needed.bottom <= room.bottom;
}

namespace {
thread_local DialogScript* currentScript = nullptr;

// Posted to the helper window: run the next step for the box in wParam.
constexpr UINT RunStep = WM_APP + 17;

bool isDialogBox(HWND window)
{
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    return std::string(className) == "#32770";
}
}  // namespace

DialogScript::DialogScript()
{
    currentScript = this;
    WNDCLASSW helperClass = {};
    helperClass.lpfnWndProc = helperProc;
    helperClass.hInstance = GetModuleHandleW(nullptr);
    helperClass.lpszClassName = L"DialogScriptHelper";
    RegisterClassW(&helperClass);
    helper = CreateWindowExW(0, L"DialogScriptHelper", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    hook = SetWindowsHookExW(WH_CBT, cbtProc, nullptr, GetCurrentThreadId());
}

DialogScript::~DialogScript()
{
    UnhookWindowsHookEx(hook);
    DestroyWindow(helper);
    currentScript = nullptr;
    EXPECT_TRUE(steps.empty()) << steps.size() << " step(s) never ran";
}

DialogScript& DialogScript::then(std::function<void(HWND)> step)
{
    steps.push_back(std::move(step));
    return *this;
}

void DialogScript::backToOwner(HWND box)
{
    PostMessageW(currentScript->helper, RunStep, reinterpret_cast<WPARAM>(GetWindow(box, GW_OWNER)), 0);
}

LRESULT CALLBACK DialogScript::helperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DialogScript* script = currentScript;
    if (message != RunStep || !script)
        return DefWindowProcW(window, message, wParam, lParam);
    HWND box = reinterpret_cast<HWND>(wParam);
    if (script->steps.empty()) {
        // Never leave a box waiting for a user: close it and say so.
        ADD_FAILURE() << "unexpected box: " << textOf(box);
        for (int id : {IDCANCEL, IDNO, IDOK})
            PostMessageW(box, WM_COMMAND, id, 0);
        return 0;
    }
    auto step = std::move(script->steps.front());
    script->steps.pop_front();
    step(box);
    return 0;
}

LRESULT CALLBACK DialogScript::cbtProc(int code, WPARAM wParam, LPARAM lParam)
{
    HWND window = reinterpret_cast<HWND>(wParam);
    DialogScript* script = currentScript;
    if (code == HCBT_ACTIVATE && script && isDialogBox(window) &&
        std::find(script->known.begin(), script->known.end(), window) == script->known.end()) {
        script->known.push_back(window);
        // 0xFFFF: the text control of a message box.
        script->seenBoxes.push_back({textOf(window), textOf(GetDlgItem(window, 0xFFFF)), window});
        PostMessageW(script->helper, RunStep, wParam, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void click(HWND box, int id)
{
    PostMessageW(GetDlgItem(box, id), BM_CLICK, 0, 0);
}

void pressButton(HWND box, int id)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

void pressKey(HWND box, WPARAM key)
{
    PostMessageW(GetFocus() ? GetFocus() : box, WM_KEYDOWN, key, 1);
}

void pressCloseBox(HWND box)
{
    PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool App::pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quitCode = static_cast<int>(message.wParam);
            return false;
        }
        dispatchLoopMessage(message, mainWindow, accelerators);
    }
    return true;
}

void App::nextMessage() const
{
    SendMessageW(mainWindow, WM_NULL, 0, 0);
}

HWND App::button(int id) const
{
    return GetDlgItem(panel, id);
}

App startApp()
{
    App app;
    panelRequest = 0;
    portChanged = 0;
    logSettingChanged = 0;
    logEnabled = 0;
    app.mainWindow = startApplication(GetModuleHandleW(nullptr), SW_SHOWNORMAL, &app.accelerators);
    if (app.mainWindow)
        app.panel = FindWindowExA(app.mainWindow, nullptr, "#32770", nullptr);
    app.pump();
    return app;
}

void endApp(App& app)
{
    stopServer(serverSettings);
    if (IsWindow(app.mainWindow))
        DestroyWindow(app.mainWindow);
    app.pump();
    setPort(80);
    logEnabled = 0;
}

void pressAltChar(App& app, HWND target, char character, bool shift)
{
    BYTE saved[256], keys[256];
    GetKeyboardState(saved);
    std::copy(saved, saved + 256, keys);
    keys[VK_MENU] = keys[VK_LMENU] = 0x80;
    if (shift)
        keys[VK_SHIFT] = keys[VK_LSHIFT] = 0x80;
    SetKeyboardState(keys);
    // Bit 29: the Alt key is down, as the system sets it for WM_SYSCHAR.
    PostMessageW(target, WM_SYSCHAR, static_cast<WPARAM>(character), (1 << 29) | 1);
    app.pump();
    SetKeyboardState(saved);
}

void chooseMenuItem(App& app, WORD menuKey, WORD itemKey)
{
    const WORD keys[] = {VK_MENU, menuKey, menuKey, VK_MENU, itemKey, itemKey, VK_ESCAPE, VK_ESCAPE, VK_ESCAPE, VK_ESCAPE};
    INPUT inputs[10] = {};
    for (int i = 0; i < 10; ++i) {
        inputs[i].type = INPUT_KEYBOARD;
        inputs[i].ki.wVk = keys[i];
        // Alt and the menu's key down, both up again; then each key down and up.
        inputs[i].ki.dwFlags = (i < 2 || (i >= 4 && i % 2 == 0)) ? 0 : KEYEVENTF_KEYUP;
    }
    SendInput(10, inputs, sizeof(INPUT));
    app.pump();
}

UINT screenDpi()
{
    HDC screen = GetDC(nullptr);
    UINT dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

IAccessible* accessibleObject(HWND window)
{
    // __uuidof: mingw-w64's IID_IAccessible is not the interface's id.
    IAccessible* object = nullptr;
    AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&object));
    return object;
}

VARIANT childId(LONG id)
{
    VARIANT child;
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

std::wstring accessibleName(IAccessible* object, LONG child)
{
    BSTR name = nullptr;
    if (!object || object->get_accName(childId(child), &name) != S_OK || !name)
        return L"";
    std::wstring text(name, SysStringLen(name));
    SysFreeString(name);
    return text;
}

std::wstring accessibleName(HWND window)
{
    IAccessible* object = accessibleObject(window);
    std::wstring name = accessibleName(object, CHILDID_SELF);
    if (object)
        object->Release();
    return name;
}

LONG accessibleRole(IAccessible* object, LONG child)
{
    VARIANT role;
    VariantInit(&role);
    object->get_accRole(childId(child), &role);
    return role.vt == VT_I4 ? role.lVal : 0;
}
