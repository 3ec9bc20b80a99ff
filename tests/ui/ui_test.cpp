// The desktop application in-process: the real main window, control panel,
// menu, accelerators and modal boxes, with the real engine behind them.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "qr/url_code.h"
#include "resources/resource.h"
#include "server/server.h"
#include "ui/main_window.h"
#include "ui/start_failure.h"
#include "ui/status_accessible.h"
#include "ui/status_display.h"
#include "main_window_test.h"

namespace {

const char* const ConfirmCaption = "確認メッセージ";

bool answersOnPort(std::uint16_t port);

// A native program holding the server's port, as another web server on the
// same machine would (Wine runs a Unix program as it is, and tells nothing
// of its process). It ends at the first connection, or after a minute.
struct NativePortHolder {
    explicit NativePortHolder(std::uint16_t port) : port(port)
    {
        std::wstring command = L"/usr/bin/python3 -c \"import socket; s = socket.socket(); "
                               L"s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(('0.0.0.0', " +
                               std::to_wstring(port) + L")); s.listen(1); s.settimeout(60); s.accept()\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        if (CreateProcessW(L"Z:\\usr\\bin\\python3", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &process)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        for (int waited = 0; waited < 10000 && !held(); waited += 20)
            Sleep(20);
    }
    ~NativePortHolder()
    {
        // Its connection ends it; the port is free once it has gone.
        answersOnPort(port);
        for (int waited = 0; waited < 10000 && held(); waited += 20)
            Sleep(20);
    }
    // Whether a bind of the port is refused as in use.
    bool held() const
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = serverSettings.localAddress;
        address.sin_port = htons(port);
        bool refused = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
                       WSAGetLastError() == WSAEADDRINUSE;
        closesocket(s);
        WSACleanup();
        return refused;
    }
    std::uint16_t port;
};

bool answersOnPort(std::uint16_t port)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = serverSettings.localAddress;
    address.sin_port = htons(port);
    bool connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    closesocket(s);
    WSACleanup();
    return connected;
}

TEST_F(MainWindowTest, StartsStoppedOnPort80WithLoggingOff)
{
    RECT frame;
    GetWindowRect(app.mainWindow, &frame);
    EXPECT_EQ(frame.right - frame.left, 410);
    EXPECT_EQ(frame.bottom - frame.top, 310);
    WCHAR title[100];
    GetWindowTextW(app.mainWindow, title, 100);
    EXPECT_STREQ(title, L"Harborlight");

    EXPECT_EQ(ServerState.load(), Idle);
    EXPECT_EQ(std::string(statusTexts.stateIntroLine), sjis("現在、ＷＥＢサーバーは、"));
    expectStoppedTexts();
    EXPECT_EQ(std::string(statusTexts.addressLine),
              sjis("ＷｅｂサーバーのＩＰアドレスは [ " + hostText() + " ] です。"));
    EXPECT_EQ(std::string(statusTexts.portLine), sjis("Ｗｅｂサーバーのポート番号は [ 80 ] です。"));
    EXPECT_EQ(std::string(statusTexts.urlLine), sjis("ＵＲＬは [ http://" + hostText() + "/ ] です。"));
    EXPECT_EQ(std::string(statusTexts.logLine), sjis("ＬＯＧ情報を取得していません。"));
    EXPECT_EQ(panelRequest, 0);
}

TEST_F(MainWindowTest, MenuBarAndPanelHoldTheirTextsAndPlaces)
{
    HMENU bar = GetMenu(app.mainWindow);
    ASSERT_EQ(GetMenuItemCount(bar), 4);
    HMENU file = GetSubMenu(bar, 0);
    ASSERT_EQ(GetMenuItemCount(file), 9);
    struct Item { HMENU menu; int position; const char* text; int id; };
    const Item items[] = {
        {bar, 0, "ファイル(&F)", -1},
        {file, 0, "サーバーを開始(&S)", IDM_START_SERVER},
        {file, 1, "サーバーを停止(&T)", IDM_STOP_SERVER},
        {file, 2, "", 0},  // a separator
        {file, 3, "QRコードを表示(&Q)...", IDM_SHOW_QR},
        {file, 4, "ブラウザで開く(&B)", IDM_OPEN_BROWSER},
        {file, 5, "DATAフォルダを開く(&D)", IDM_OPEN_DATA},
        {file, 6, "アクセス状況を表示(&A)...", IDM_SHOW_ACCESS},
        {file, 7, "", 0},
        {file, 8, "アプリケーションの終了(&X)", IDM_EXIT},
        {bar, 1, "ヘルプ(&H)", -1},
        {GetSubMenu(bar, 1), 0, "バージョン情報(&A)...", IDM_ABOUT},
        {bar, 2, "ポート番号の変更", IDM_PORT},
        {bar, 3, "ログの取得", IDM_LOG},
    };
    for (const Item& item : items) {
        // Read as Unicode, as textOf reads windows.
        wchar_t text[200];
        GetMenuStringW(item.menu, item.position, text, 200, MF_BYPOSITION);
        EXPECT_EQ(std::wstring(text), utf16(item.text));
        EXPECT_EQ(static_cast<int>(GetMenuItemID(item.menu, item.position)), item.id) << item.text;
    }

    // The panel: 190 by 110 pixels at 10,10 of the client area.
    RECT panel;
    GetWindowRect(app.panel, &panel);
    MapWindowPoints(nullptr, app.mainWindow, reinterpret_cast<POINT*>(&panel), 2);
    EXPECT_EQ(panel.left, 10);
    EXPECT_EQ(panel.top, 10);
    EXPECT_EQ(panel.right - panel.left, 190);
    EXPECT_EQ(panel.bottom - panel.top, 110);

    // A screen reader reads the buttons by what they do, not by their symbols.
    struct Control { int x, y, width, height; const char* text; int id; const char* name; };
    const Control controls[] = {
        {6, 5, 105, 8, "ＷＥＢサーバーの再生／停止ボタン", -1, "ＷＥＢサーバーの再生／停止ボタン"},
        {10, 31, 34, 34, "▲", IDC_START_BUTTON, "開始"},
        {65, 32, 33, 33, "■", IDC_STOP_BUTTON, "停止"},
        {21, 21, 18, 9, "再生", -1, "再生"},
        {74, 21, 19, 8, "停止", -1, "停止"},
    };
    HWND child = GetWindow(app.panel, GW_CHILD);
    for (const Control& control : controls) {
        ASSERT_TRUE(child) << control.text;
        EXPECT_TRUE(IsWindowVisible(child)) << control.text;
        EXPECT_EQ(static_cast<WORD>(GetDlgCtrlID(child)), static_cast<WORD>(control.id)) << control.text;
        EXPECT_EQ(textOf(child), sjis(control.text));
        EXPECT_EQ(accessibleName(child), utf16(control.name));
        // Place and size are converted from dialog units each on its own.
        RECT expected = {control.x, control.y, control.width, control.height};
        MapDialogRect(app.panel, &expected);
        expected.right += expected.left;
        expected.bottom += expected.top;
        RECT actual;
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, app.panel, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_TRUE(EqualRect(&expected, &actual)) << control.text;
        child = GetWindow(child, GW_HWNDNEXT);
    }
}

TEST_F(MainWindowTest, StartAndStopButtonsRefreshAtTheNextMessage)
{
    // The start button's command: the server runs at once, the texts follow
    // only when the main window gets its next message.
    SendMessageW(app.panel, WM_COMMAND, MAKEWPARAM(IDC_START_BUTTON, BN_CLICKED),
                 reinterpret_cast<LPARAM>(app.button(IDC_START_BUTTON)));
    EXPECT_EQ(ServerState.load(), Running);
    EXPECT_EQ(panelRequest, 1);
    expectStoppedTexts();
    ValidateRect(app.mainWindow, nullptr);

    app.nextMessage();
    EXPECT_EQ(panelRequest, 0);
    expectRunningTexts();
    EXPECT_TRUE(repaintRequested());
    EXPECT_TRUE(answersOnPort(80));

    // Start again while running: nothing happens to the server, the flag is set.
    SendMessageW(app.button(IDC_START_BUTTON), BM_CLICK, 0, 0);
    app.nextMessage();
    EXPECT_EQ(ServerState.load(), Running);
    expectRunningTexts();

    // A port chosen meanwhile, without its own flag, stays off the display
    // after a stop: a stop rebuilds the run-state texts only.
    setPort(8080);
    SendMessageW(app.button(IDC_STOP_BUTTON), BM_CLICK, 0, 0);
    EXPECT_EQ(ServerState.load(), Stopped);
    app.nextMessage();
    EXPECT_EQ(panelRequest, 0);
    expectStoppedTexts();
    EXPECT_EQ(std::string(statusTexts.portLine), sjis("Ｗｅｂサーバーのポート番号は [ 80 ] です。"));
    EXPECT_FALSE(answersOnPort(80));
}

TEST_F(MainWindowTest, ButtonPressedFromKeyboardRefreshesWithoutFurtherInput)
{
    // Space on the focused button: no mouse message reaches the main window,
    // yet what is queued after the press is enough to show the outcome.
    HWND start = app.button(IDC_START_BUTTON);
    SetFocus(start);
    SendMessageW(start, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(start, WM_KEYUP, VK_SPACE, 0xC0000001);
    ASSERT_EQ(ServerState.load(), Running);
    app.pump();
    EXPECT_EQ(panelRequest, 0);
    expectRunningTexts();

    HWND stop = app.button(IDC_STOP_BUTTON);
    SetFocus(stop);
    SendMessageW(stop, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(stop, WM_KEYUP, VK_SPACE, 0xC0000001);
    app.pump();
    expectStoppedTexts();
}

TEST_F(MainWindowTest, FileMenuStartsAndStopsFromTheKeyboard)
{
    HMENU file = GetSubMenu(GetMenu(app.mainWindow), 0);
    auto greyed = [file](int id) { return (GetMenuState(file, id, MF_BYCOMMAND) & MF_GRAYED) != 0; };
    chooseMenuItem(app, 'F', 'S');
    EXPECT_EQ(ServerState.load(), Running);
    expectRunningTexts();
    EXPECT_TRUE(greyed(IDM_STOP_SERVER) && !greyed(IDM_START_SERVER)) << "as the menu opened, stopped";
    // Greyed while running, start does nothing: not even the full rebuild
    // that a start asks for, which would show logging set behind its back.
    logEnabled = 1;
    chooseMenuItem(app, 'F', 'S');
    EXPECT_TRUE(greyed(IDM_START_SERVER) && !greyed(IDM_STOP_SERVER));
    EXPECT_EQ(std::string(statusTexts.logLine), sjis("ＬＯＧ情報を取得していません。"));
    chooseMenuItem(app, 'F', 'T');
    EXPECT_EQ(ServerState.load(), Stopped);
    expectStoppedTexts();
    EXPECT_FALSE(answersOnPort(80));
}

TEST_F(MainWindowTest, FailedStartSaysWhyAndShowsStopped)
{
    const std::string why = sjis(
        "ポート番号[ 80 ]で、ＷＥＢサーバーを開始できませんでした。\n"
        "このポート番号は、他のアプリケーションが使用しています。\n"
        "「ポート番号の変更」で別の番号（例えば 8080）を選ぶか、そのアプリケーションを終了してから、"
        "もう一度▲ボタンで開始して下さい。");
    auto qrNote = [this](const std::function<void(HWND)>& check) {
        DialogScript script;
        script.then([&](HWND box) {
            check(GetDlgItem(box, IDC_QR_NOTE));
            click(box, IDOK);
        });
        SendMessageW(app.mainWindow, WM_COMMAND, IDM_SHOW_QR, 0);
    };
    {
        NativePortHolder holder(80);
        ASSERT_TRUE(holder.held());
        // The panel's button, then the File menu's item.
        for (auto start : {+[](App& a) { SendMessageW(a.button(IDC_START_BUTTON), BM_CLICK, 0, 0); },
                           +[](App& a) { SendMessageW(a.mainWindow, WM_COMMAND, IDM_START_SERVER, 0); }}) {
            DialogScript script;
            script.then([this](HWND box) {
                // Behind the box, the display already shows the stopped state.
                expectStoppedTexts();
                click(box, IDOK);
            });
            start(app);
            ASSERT_EQ(script.seen().size(), 1u);
            EXPECT_EQ(script.seen()[0].caption, sjis(ConfirmCaption));
            EXPECT_EQ(script.seen()[0].text, why);
            EXPECT_EQ(ServerState.load(), Idle);
            app.nextMessage();
            expectStoppedTexts();
            EXPECT_EQ(panelRequest, 0);
        }
        qrNote([&](HWND note) {
            EXPECT_EQ(textOf(note), why);
            EXPECT_TRUE(textFitsIn(note));
        });
    }
    // Once a start succeeds, the note is the usual one again.
    SendMessageW(app.button(IDC_START_BUTTON), BM_CLICK, 0, 0);
    ASSERT_EQ(ServerState.load(), Running);
    SendMessageW(app.button(IDC_STOP_BUTTON), BM_CLICK, 0, 0);
    qrNote([](HWND note) { EXPECT_EQ(textOf(note).find(sjis("ＷＥＢサーバーは停止しています。")), 0u); });
}

// The box's text for each cause, with the holder as the system's facts tell
// it: the port, the cause and what to do, a line each.
TEST(StartFailureText, NamesThePortTheCauseAndWhatToDo)
{
    const std::string other = "「ポート番号の変更」で別の番号（例えば 8080）を選ぶか、そのアプリケーションを終了してから、"
                              "もう一度▲ボタンで開始して下さい。";
    struct Case { NetFailure reason; StartStep step; int error; std::uint16_t port; bool found;
                  std::uint32_t process; const char* path; std::string lines; };
    const Case cases[] = {
        {NetFailure::AddressInUse, StartStep::Bind, WSAEADDRINUSE, 80, true, 4, "",
         "このポート番号は、Windows の HTTP サービス（プロセス ID 4 の「System」）が使用しています。IIS や、"
         "HTTP サービスを使うアプリケーションが受け付けているポート番号です。\n「ポート番号の変更」で別の番号"
         "（例えば 8080）を選ぶか、IIS など HTTP サービスを使うアプリケーションを停止してから、もう一度▲ボタンで"
         "開始して下さい。"},
        {NetFailure::AddressInUse, StartStep::Bind, WSAEADDRINUSE, 80, true, 5120, "C:\\Users\\Hana\\HARBORLIGHT.EXE",
         "このポート番号は、別に起動している Harborlight（HARBORLIGHT.EXE、プロセス ID 5120）が使用しています。"
         "別のフォルダーを公開しているかもしれません。\n" + other},
        {NetFailure::AddressInUse, StartStep::Bind, WSAEADDRINUSE, 80, true, 7004, "C:\\ツール\\サーバー.exe",
         "このポート番号は、サーバー.exe（プロセス ID 7004）が使用しています。\n" + other},
        // A process this user may not open, and Wine's owner 0.
        {NetFailure::AddressInUse, StartStep::Bind, WSAEADDRINUSE, 80, true, 7004, "",
         "このポート番号は、他のアプリケーション（プロセス ID 7004）が使用しています。タスク マネージャーの"
         "「詳細」で、この ID のアプリケーションが分かります。\n" + other},
        {NetFailure::AddressInUse, StartStep::Bind, WSAEADDRINUSE, 80, true, 0, "",
         "このポート番号は、他のアプリケーションが使用しています。\n" + other},
        // Held for itself by a program whose listener is found, or reserved.
        {NetFailure::PermissionDenied, StartStep::Bind, WSAEACCES, 80, true, 0, "",
         "このポート番号は、他のアプリケーションが使用しています。\n" + other},
        {NetFailure::PermissionDenied, StartStep::Bind, WSAEACCES, 8080, false, 0, "",
         "このポート番号は、Windows が予約しているか（Hyper-V、WSL、Docker などが範囲で予約します）、"
         "他のアプリケーションが占有しています。\n「ポート番号の変更」で別の番号（例えば 8081）を選んでから、"
         "もう一度▲ボタンで開始して下さい。"},
        {NetFailure::AddressUnavailable, StartStep::Address, 0, 80, false, 0, "",
         "このパソコンのＩＰアドレスが見つかりません。\nネットワークにつないでから、もう一度▲ボタンで開始して下さい。"},
        {NetFailure::Other, StartStep::Listen, WSAENOBUFS, 80, false, 0, "",
         "接続の待ち受けに失敗しました（エラー番号 10055）。\n少し待ってから、もう一度▲ボタンで開始して下さい。"},
    };
    for (const Case& c : cases) {
        const std::string expected = "ポート番号[ " + std::to_string(c.port) +
                                     " ]で、ＷＥＢサーバーを開始できませんでした。\n" + c.lines;
        const StartFailure failure{c.step, c.reason, c.error, c.port};
        const PortHolderFacts facts{c.found, c.process, c.path};
        EXPECT_EQ(startFailureText(failure, decidePortHolder(facts)).text, utf16(expected));
    }
}

// The child ids of the main window's EVENT_OBJECT_NAMECHANGE, as a screen
// reader hears them.
HWND watchedWindow;
std::vector<LONG> namesChanged;
void CALLBACK noteNameChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (window == watchedWindow && object == OBJID_CLIENT)
        namesChanged.push_back(child);
}

TEST_F(MainWindowTest, ScreenReaderReadsTheStatusAndHearsWhatChanged)
{
    IAccessible* client = accessibleObject(app.mainWindow);
    ASSERT_TRUE(client);
    auto expectLines = [&](const char* state, const std::string& port) {
        const std::string host = hostText(), url = "http://" + host + (port == "80" ? "" : ":" + port) + "/";
        const std::string lines[] = {std::string("現在、ＷＥＢサーバーは、[ ") + state + " ] しています。",
                                     "ＷｅｂサーバーのＩＰアドレスは [ " + host + " ] です。",
                                     "Ｗｅｂサーバーのポート番号は [ " + port + " ] です。",
                                     "ＵＲＬは [ " + url + " ] です。", "ＬＯＧ情報を取得していません。"};
        // The lines, then the panel's window with the buttons below it.
        VARIANT children[8];
        LONG count = 0, listed = 0;
        client->get_accChildCount(&count);
        AccessibleChildren(client, 0, 8, children, &listed);
        ASSERT_EQ(count, 6);
        ASSERT_EQ(listed, 6);
        for (LONG id = 1; id <= 5; ++id) {
            EXPECT_TRUE(children[id - 1].vt == VT_I4 && children[id - 1].lVal == id);
            EXPECT_EQ(accessibleName(client, id), utf16(lines[id - 1]));
            EXPECT_EQ(accessibleRole(client, id), ROLE_SYSTEM_STATICTEXT);
        }
        EXPECT_EQ(children[5].vt, VT_DISPATCH);
        VariantClear(&children[5]);
    };
    expectLines("停止", "80");

    // Started on a port the system chooses: the state, port and URL lines
    // change, the address and logging lines do not.
    watchedWindow = app.mainWindow;
    namesChanged.clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, noteNameChange,
                                         GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    setPort(0);
    SendMessageW(app.button(IDC_START_BUTTON), BM_CLICK, 0, 0);
    app.pump();
    UnhookWinEvent(hook);
    ASSERT_EQ(ServerState.load(), Running);
    EXPECT_EQ(namesChanged, (std::vector<LONG>{1, 3, 4}));
    expectLines("稼動", std::to_string(listeningPort()));
    client->Release();
}

// The status object of a window without child windows: its last child is
// the last line.
LRESULT CALLBACK bareStatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return message == WM_GETOBJECT ? answerStatusObject(window, wParam, lParam)
                                   : DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(MainWindowTest, ScreenReaderReachesTheLastLineWithoutAChildWindow)
{
    WNDCLASSW kind = {0, bareStatusProc, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, L"HarborlightBare"};
    RegisterClassW(&kind);
    HWND bare = CreateWindowExW(0, kind.lpszClassName, L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    IAccessible* client = accessibleObject(bare);
    ASSERT_TRUE(client);
    VARIANT last;
    EXPECT_EQ(client->accNavigate(NAVDIR_LASTCHILD, childId(CHILDID_SELF), &last), S_OK);
    EXPECT_TRUE(last.vt == VT_I4 && last.lVal == 5);
    client->Release();
    DestroyWindow(bare);
}

TEST_F(MainWindowTest, ScreenReaderFindsTheLinesWherePaintedAtTheDisplayScale)
{
    IAccessible* client = accessibleObject(app.mainWindow);
    ASSERT_TRUE(client);
    HDC dc = GetDC(app.mainWindow);
    HFONT font = createStatusFont(dc);
    HGDIOBJ defaultFont = SelectObject(dc, font ? font : GetCurrentObject(dc, OBJ_FONT));
    POINT origin = {0, 0};
    ClientToScreen(app.mainWindow, &origin);
    auto at = [](int length) { return MulDiv(length, screenDpi(), 96); };
    // Each line from its first text's place to the ends of its texts, in the
    // font they are painted in; the state's two texts are one line.
    auto extent = [dc](const char* utf8) {
        std::wstring text = utf16(utf8);
        SIZE size = {};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        return size;
    };
    struct Line { LONG id; int first, last; const char* texts[2]; };
    for (const Line& line : {Line{1, 0, 1, {"現在、ＷＥＢサーバーは、", "[ 停止 ] しています。"}},
                             Line{5, 6, 6, {"ＬＯＧ情報を取得していません。", "ＬＯＧ情報を取得していません。"}}}) {
        SCOPED_TRACE(line.id);
        SIZE first = extent(line.texts[0]), last = extent(line.texts[1]);
        LONG left = 0, top = 0, width = 0, height = 0;
        client->accLocation(&left, &top, &width, &height, childId(line.id));
        EXPECT_EQ(left, origin.x + at(statusTextPlaces[line.first].x));
        EXPECT_EQ(top, origin.y + at(statusTextPlaces[line.first].y));
        EXPECT_EQ(left + width, origin.x + std::max(at(statusTextPlaces[line.first].x) + first.cx,
                                                    at(statusTextPlaces[line.last].x) + last.cx));
        EXPECT_EQ(top + height, origin.y + at(statusTextPlaces[line.last].y) + last.cy);
        VARIANT hit;
        client->accHitTest(left + width - 2, top + height / 2, &hit);
        EXPECT_TRUE(hit.vt == VT_I4 && hit.lVal == line.id);
    }
    SelectObject(dc, defaultFont);
    if (font)
        DeleteObject(font);
    ReleaseDC(app.mainWindow, dc);
    client->Release();
}

TEST_F(MainWindowTest, StopBeforeAnyStartKeepsStopped)
{
    SendMessageW(app.button(IDC_STOP_BUTTON), BM_CLICK, 0, 0);
    EXPECT_EQ(ServerState.load(), Idle);
    EXPECT_EQ(panelRequest, 2);
    app.nextMessage();
    EXPECT_EQ(panelRequest, 0);
    expectStoppedTexts();
}

TEST_F(MainWindowTest, ServesEveryPendingFlagWithinOneMessage)
{
    setPort(8080);
    SendMessageW(app.button(IDC_START_BUTTON), BM_CLICK, 0, 0);
    logEnabled = 1;
    panelRequest = 1;
    portChanged = 1;
    logSettingChanged = 1;
    app.nextMessage();
    EXPECT_EQ(panelRequest, 0);
    EXPECT_EQ(portChanged, 0);
    EXPECT_EQ(logSettingChanged, 0);
    expectRunningTexts();
    EXPECT_EQ(std::string(statusTexts.portLine), sjis("Ｗｅｂサーバーのポート番号は [ 8080 ] です。"));
    EXPECT_EQ(std::string(statusTexts.urlLine),
              sjis("ＵＲＬは [ http://" + hostText() + ":8080/ ] です。"));
    EXPECT_EQ(std::string(statusTexts.logLine), sjis("ＬＯＧ情報を取得しています。"));

    // Values other than the ones named are left alone.
    panelRequest = 3;
    portChanged = 2;
    logSettingChanged = 2;
    logEnabled = 0;
    app.nextMessage();
    EXPECT_EQ(panelRequest, 3);
    EXPECT_EQ(portChanged, 2);
    EXPECT_EQ(logSettingChanged, 2);
    EXPECT_EQ(std::string(statusTexts.logLine), sjis("ＬＯＧ情報を取得しています。"));
    panelRequest = portChanged = logSettingChanged = 0;
}

TEST_F(MainWindowTest, QuitConfirmationNoKeepsEverything)
{
    SendMessageW(app.button(IDC_START_BUTTON), BM_CLICK, 0, 0);
    ASSERT_EQ(ServerState.load(), Running);
    DialogScript answer;
    answer.then([](HWND box) { pressButton(box, IDNO); })  // close box
        .then([](HWND box) { click(box, IDNO); })         // File menu
        .then([](HWND box) { pressButton(box, IDNO); });  // system menu's close
    SendMessageW(app.mainWindow, WM_CLOSE, 0, 0);
    SendMessageW(app.mainWindow, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    SendMessageW(app.mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);

    ASSERT_EQ(answer.seen().size(), 3u);
    for (const SeenBox& box : answer.seen()) {
        EXPECT_EQ(box.caption, sjis(ConfirmCaption));
        EXPECT_EQ(box.text, sjis("Harborlight\nアプリケーションを終了します。\n宜しいですか？。"));
    }
    EXPECT_TRUE(IsWindow(app.mainWindow));
    EXPECT_TRUE(app.pump()) << "no quit message after No";
    EXPECT_EQ(ServerState.load(), Running);
    EXPECT_TRUE(answersOnPort(80));
}

TEST_F(MainWindowTest, QuitConfirmationYesEndsTheLoopWithZero)
{
    SendMessageW(app.button(IDC_START_BUTTON), BM_CLICK, 0, 0);
    DialogScript answer;
    answer.then([](HWND box) { click(box, IDYES); });
    PostMessageW(app.mainWindow, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    EXPECT_EQ(runMessageLoop(app.mainWindow, app.accelerators), 0);
    ASSERT_EQ(answer.seen().size(), 1u);
    EXPECT_FALSE(IsWindow(app.mainWindow));
    EXPECT_FALSE(IsWindow(app.panel));
    // The window leaves the server to the engine's teardown at process end.
    EXPECT_EQ(ServerState.load(), Running);
}

enum class Opener { Menu, AltQuestion, AltSlash, AltShiftSlashOnButton };

struct AboutCase {
    Opener opener;
    std::function<void(HWND)> closer;
    const char* name;
};

TEST_F(MainWindowTest, VersionBoxOpensFromMenuAndShortcutsAndCloses)
{
    const auto ok = [](HWND box) { click(box, IDOK); };
    const auto escape = [](HWND box) { pressKey(box, VK_ESCAPE); };
    const AboutCase cases[] = {
        {Opener::Menu, ok, "menu, OK"},
        {Opener::Menu, escape, "menu, Esc"},
        {Opener::AltQuestion, pressCloseBox, "Alt+?, close box"},
        {Opener::AltSlash, ok, "Alt+/, OK"},
        {Opener::AltSlash, escape, "Alt+/, Esc"},
        // Focus on a panel button, as after a click on it: still the box.
        {Opener::AltShiftSlashOnButton, pressCloseBox, "Alt+Shift+? on the start button"},
    };
    for (const AboutCase& c : cases) {
        SCOPED_TRACE(c.name);
        DialogScript answer;
        answer.then(c.closer);
        switch (c.opener) {
        case Opener::Menu:
            PostMessageW(app.mainWindow, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
            app.pump();
            break;
        case Opener::AltQuestion:
            pressAltChar(app, app.mainWindow, '?');
            break;
        case Opener::AltSlash:
            pressAltChar(app, app.mainWindow, '/');
            break;
        case Opener::AltShiftSlashOnButton:
            SetFocus(app.button(IDC_START_BUTTON));
            pressAltChar(app, app.button(IDC_START_BUTTON), '?', true);
            break;
        }
        ASSERT_EQ(answer.seen().size(), 1u);
        HWND box = answer.seen()[0].window;
        EXPECT_EQ(answer.seen()[0].caption, sjis("バージョン情報"));
        EXPECT_FALSE(IsWindow(box)) << "the box is still open";
        EXPECT_TRUE(IsWindowEnabled(app.mainWindow));
    }
    // Plain characters and other Alt keys do not open it.
    DialogScript none;
    pressAltChar(app, app.mainWindow, 'a');
    PostMessageW(app.mainWindow, WM_CHAR, '?', 1);
    app.pump();
    EXPECT_TRUE(none.seen().empty());
}

TEST_F(MainWindowTest, VersionBoxShowsIconNameAndOk)
{
    DialogScript answer;
    std::string staticText;
    HWND icon = nullptr;
    RECT place = {};
    answer.then([&](HWND box) {
        icon = GetDlgItem(box, IDC_ABOUT_ICON);
        char text[100];
        GetWindowTextA(GetWindow(icon, GW_HWNDNEXT), text, sizeof text);
        staticText = text;
        // The template's place is that of the box's client area.
        RECT r = {22, 17, 0, 0};
        MapDialogRect(box, &r);
        POINT origin = {0, 0};
        ClientToScreen(box, &origin);
        ScreenToClient(app.mainWindow, &origin);
        place = {origin.x, origin.y, r.left, r.top};
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    SendMessageW(app.mainWindow, WM_COMMAND, IDM_ABOUT, 0);
    ASSERT_EQ(answer.seen().size(), 1u);
    EXPECT_EQ(staticText, "Harborlight version 1.1");
    EXPECT_TRUE(icon);
    // Placed at 22,17 dialog units from the main window's client origin.
    EXPECT_EQ(place.left, place.right);
    EXPECT_EQ(place.top, place.bottom);
}

TEST_F(MainWindowTest, MenuBarCommandsOpenTheSettingsDialogs)
{
    DialogScript answer;
    answer.then([](HWND dialog) { pressButton(dialog, IDCANCEL); })
        .then([](HWND dialog) { pressKey(dialog, VK_ESCAPE); });
    SendMessageW(app.mainWindow, WM_COMMAND, IDM_PORT, 0);
    SendMessageW(app.mainWindow, WM_COMMAND, IDM_LOG, 0);
    ASSERT_EQ(answer.seen().size(), 2u);
    EXPECT_EQ(answer.seen()[0].caption, sjis("ポート番号の設定"));
    EXPECT_EQ(answer.seen()[1].caption, sjis("ログファイルの取得"));
}

TEST_F(MainWindowTest, BrowserAndDataFolderSayWhyTheyCannotOpen)
{
    // A file named DATA where the folder belongs, in a working directory of
    // this test's own.
    namespace fs = std::filesystem;
    fs::path saved = fs::current_path(), work = fs::temp_directory_path() / "harborlight-data-file";
    fs::create_directories(work);
    std::ofstream(work / "DATA") << "not a folder";
    fs::current_path(work);
    DialogScript answer;
    answer.then([](HWND box) { click(box, IDOK); }).then([](HWND box) { click(box, IDOK); });
    SendMessageW(app.mainWindow, WM_COMMAND, IDM_OPEN_BROWSER, 0);
    SendMessageW(app.mainWindow, WM_COMMAND, IDM_OPEN_DATA, 0);
    fs::current_path(saved);
    fs::remove_all(work);
    ASSERT_EQ(answer.seen().size(), 2u);
    EXPECT_EQ(answer.seen()[0].text, sjis("ＷＥＢサーバーは [ 停止 ] しています。\n"
                                          "パネルの「再生」の▲ボタンで開始してから、もう一度お試し下さい。"));
    EXPECT_EQ(answer.seen()[1].text, sjis("「DATA」という名前のファイルがあるため、DATAフォルダを作れません。\n"
                                          "そのファイルの名前を変えてから、もう一度お試し下さい。\n\n") +
                                         (work / "DATA").string());
    for (const SeenBox& box : answer.seen())
        EXPECT_EQ(box.caption, sjis(ConfirmCaption));
}

TEST_F(MainWindowTest, PanelAndDialogsAtTheDisplayScale)
{
    // Dialog units follow the dialog's font: made for the screen's DPI, it
    // makes the panel's buttons and each dialog at 150 % half as large again.
    int dpi = static_cast<int>(screenDpi());
    auto expectFont = [dpi](HWND dialog, int points) {
        LOGFONTW font = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -MulDiv(points, dpi, 72)) << textOf(dialog);
    };
    expectFont(app.panel, 9);
    struct Dialog { int command, points; };
    for (const Dialog& d :
         {Dialog{IDM_ABOUT, 9}, Dialog{IDM_PORT, 8}, Dialog{IDM_LOG, 8}, Dialog{IDM_SHOW_QR, 8}}) {
        DialogScript answer;
        answer.then([&](HWND box) {
            expectFont(box, d.points);
            // The code's square: whole modules with the quiet zone, each of at
            // least 5 pixels at 100 % and as many more as the scale asks.
            UrlCode code;
            RECT square = {};
            if (d.command == IDM_SHOW_QR) {
                GetClientRect(GetDlgItem(box, IDC_QR_CODE), &square);
                int modules = makeUrlCode(statusUrl, &code) ? code.size + 2 * QuietZoneModules : 0;
                EXPECT_TRUE(modules && square.right == square.bottom && square.right % modules == 0);
                EXPECT_GE(square.right * 96, 5 * dpi * modules);
            }
            pressButton(box, IDCANCEL);
        });
        SendMessageW(app.mainWindow, WM_COMMAND, d.command, 0);
    }
}

}  // namespace
