#include "ui_support.h"

#include <algorithm>
#include <deque>

#include "server/server.h"
#include "ui/main_window.h"
#include "ui/status_display.h"

std::string sjis(const std::string& utf8)
{
    std::wstring wide(utf8.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                                static_cast<int>(wide.size()));
    std::string out(n * 2 + 1, '\0');
    int m = WideCharToMultiByte(932, 0, wide.data(), n, &out[0], static_cast<int>(out.size()),
                                nullptr, nullptr);
    out.resize(m);
    return out;
}

static std::string windowText(HWND window)
{
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

namespace {
struct HookState {
    HHOOK hook = nullptr;
    std::deque<std::function<void(HWND)>> actions;
    std::vector<SeenBox> seen;
    std::vector<HWND> answered;
};
thread_local HookState hookState;

bool isDialogBox(HWND window)
{
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    return std::string(className) == "#32770";
}

LRESULT CALLBACK cbtHook(int code, WPARAM wParam, LPARAM lParam)
{
    HWND window = reinterpret_cast<HWND>(wParam);
    HookState& state = hookState;
    if (code == HCBT_ACTIVATE && isDialogBox(window) &&
        std::find(state.answered.begin(), state.answered.end(), window) == state.answered.end() &&
        !state.actions.empty()) {
        state.answered.push_back(window);
        // 0xFFFF: the text control of a message box.
        state.seen.push_back({windowText(window), windowText(GetDlgItem(window, 0xFFFF)), window});
        auto action = state.actions.front();
        state.actions.pop_front();
        action(window);
    }
    return CallNextHookEx(state.hook, code, wParam, lParam);
}
}  // namespace

BoxAnswerer::BoxAnswerer()
{
    hookState = HookState{};
    hookState.hook = SetWindowsHookExW(WH_CBT, cbtHook, nullptr, GetCurrentThreadId());
}

BoxAnswerer::~BoxAnswerer()
{
    UnhookWindowsHookEx(hookState.hook);
    hookState.hook = nullptr;
}

void BoxAnswerer::then(std::function<void(HWND)> action)
{
    hookState.actions.push_back(std::move(action));
}

const std::vector<SeenBox>& BoxAnswerer::seen() const
{
    return hookState.seen;
}

std::function<void(HWND)> pressButton(int id)
{
    return [id](HWND box) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); };
}

std::function<void(HWND)> clickButton(int id)
{
    return [id](HWND box) { PostMessageW(GetDlgItem(box, id), BM_CLICK, 0, 0); };
}

std::function<void(HWND)> pressEscape()
{
    return [](HWND box) { PostMessageW(box, WM_KEYDOWN, VK_ESCAPE, 1); };
}

std::function<void(HWND)> closeBox()
{
    return [](HWND box) { PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0); };
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
