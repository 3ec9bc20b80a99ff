// The port and log dialogs in-process: the real dialogs and message boxes,
// answered as a user would through a thread-local CBT hook, with the real
// engine behind them (inside the test's private network namespace).
#include <winsock2.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "server/server.h"
#include "ui/settings_dialogs.h"
#include "ui/status_display.h"
#include "ui_support.h"

namespace {

// What a user does in the port dialog, and what a dialog shows.
void typePort(HWND dialog, const char* utf8)
{
    SetDlgItemTextW(dialog, IDC_PORT_FIELD, utf16(utf8).c_str());
}
bool checked(HWND dialog, int id)
{
    return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string refusal(const std::string& value)
{
    return sjis("ポート番号[ " + value + " ]は、設定できません。\n０～６５５３５の範囲で入力して下さい。");
}
std::string portQuestion(const std::string& value)
{
    return sjis("ポート番号を[ " + value + " ]に変更します。\n宜しいですか？。");
}
const char* const LogOnQuestion = "[ ログを取得する ]に、設定します。\n宜しいですか？。";
const char* const LogOffQuestion = "[ ログを停止する ]に、設定します。\n宜しいですか？。";
const char* const Caption = "確認メッセージ";

// A connection to the server's address on `port`; the whole answer to one
// GET, or "" when the connection is refused.
std::string fetch(std::uint16_t port, const char* path = "/")
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    DWORD timeoutMs = 5000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    sockaddr_in address = serverSettings.localAddress;
    address.sin_port = htons(port);
    std::string answer;
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string request = std::string("GET ") + path + " HTTP/1.0\r\n\r\n";
        send(s, request.data(), static_cast<int>(request.size()), 0);
        char buffer[2048];
        int n;
        while ((n = recv(s, buffer, sizeof buffer, 0)) > 0)
            answer.append(buffer, n);
    }
    closesocket(s);
    WSACleanup();
    return answer;
}

// Threads of this process: the listener is the only one the server adds.
int threadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

TEST(PortField, ReadsLikeAtoiFromFiveBytesAndTestsTheRange)
{
    struct Case {
        const char* typed;
        int value;
        bool inRange;
    };
    const Case cases[] = {
        {"65535", 65535, true}, {"65536", 65536, false}, {"99999", 99999, false},
        {"0", 0, true},         {"-1", -1, false},       {"-0", 0, true},
        {"", 0, true},          {"abc", 0, true},        {"123456", 12345, true},
        {" +81abc", 81, true},  {"\t\n80", 80, true},    {"  - 5", 0, true},
        {"00080", 80, true},    {"８０", 0, true},       {"8０", 8, true},
        {"     8", 0, true},  // the sixth byte is not read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(readPortField(sjis(c.typed).c_str()), c.value);
        EXPECT_EQ(portInRange(c.value), c.inRange);
    }
    EXPECT_FALSE(portInRange(-65535));
    char text[PortMessageBytes];
    formatPortRefusal(-9999, text);
    EXPECT_EQ(std::string(text), refusal("-9999"));
    formatPortQuestion(0, text);
    EXPECT_EQ(std::string(text), portQuestion("0"));
}

class SettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(GetACP(), manifestCodePage()) << "the manifest's code page, in any locale";
        // DATA and LOG go to a directory of the test's own.
        home = std::filesystem::current_path();
        work = std::filesystem::temp_directory_path() /
               ("harborlight-dialogs-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::remove_all(work);
        std::filesystem::create_directories(work);
        std::filesystem::current_path(work);
        logChoice = 0;
        app = startApp();
        ASSERT_TRUE(app.mainWindow) << "no main window: is there an X display (DISPLAY)?";
    }
    void TearDown() override
    {
        endApp(app);
        logChoice = 0;
        std::filesystem::current_path(home);
        std::error_code ignored;
        std::filesystem::remove_all(work, ignored);
    }
    void openPortDialog() { SendMessageW(app.mainWindow, WM_COMMAND, IDM_PORT, 0); }
    void openLogDialog() { SendMessageW(app.mainWindow, WM_COMMAND, IDM_LOG, 0); }
    void pressStart()
    {
        SendMessageW(app.button(IDC_START_BUTTON), BM_CLICK, 0, 0);
        app.nextMessage();
    }
    std::string portLine(const std::string& port)
    {
        return sjis("Ｗｅｂサーバーのポート番号は [ " + port + " ] です。");
    }

    App app;
    std::filesystem::path home, work;
};

struct ControlLayout {
    const char* className;
    int id;
    const char* text;
    int x, y, width, height;
    DWORD style;  // as the template gives it
};

constexpr DWORD Child = WS_CHILD | WS_VISIBLE;
const ControlLayout PortDialogControls[] = {
    {"Button", IDOK, "OK", 129, 7, 50, 14, Child | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {"Button", IDCANCEL, "キャンセル", 129, 24, 50, 14, Child | WS_TABSTOP | BS_PUSHBUTTON},
    {"Edit", IDC_PORT_FIELD, "", 7, 14, 118, 12,
     Child | WS_TABSTOP | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL},
    {"Static", -1, "・０～６５５３５の範囲で設定して下さい。", 7, 43, 172, 8, Child | WS_GROUP | SS_LEFT},
    {"Static", -1, "・通常は[ 80 ]を設定します。", 7, 31, 116, 8, Child | WS_GROUP | SS_LEFT},
    {"Static", -1,
     "※ポート番号が他のアプリケーションと同じ場合、アプリケーションが正しく動作しない場合があります。"
     "変更する場合は注意して下さい。",
     7, 54, 172, 29, Child | WS_GROUP | SS_LEFT},
};
const ControlLayout LogDialogControls[] = {
    {"Button", IDOK, "OK", 129, 7, 50, 14, Child | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {"Button", IDCANCEL, "キャンセル", 129, 24, 50, 14, Child | WS_TABSTOP | BS_PUSHBUTTON},
    {"Button", IDC_LOG_ON, "ログを取得する", 22, 7, 85, 13, Child | BS_AUTORADIOBUTTON},
    {"Button", IDC_LOG_OFF, "ログを取得しない", 21, 25, 80, 12, Child | BS_AUTORADIOBUTTON},
    {"Static", -1,
     "ログファイルの名前は[ Harborlight_年_月_日.log ]です。  ログファイルはアクセスが有ると、"
     "常に増え続けます。ログファイルのサイズには十分に注意して下さい。\u3000取得する場合は、"
     "少し処理が重たくなります。",
     7, 47, 172, 36, Child | WS_GROUP | SS_LEFT},
};

// The dialog template as linked into the program. The styles are checked
// here rather than on the live controls, which change some at run time (a
// checked radio button gains a tab stop, an edit's border becomes an edge).
void expectTemplate(int templateId, const ControlLayout* controls, size_t count)
{
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(5));  // RT_DIALOG
    ASSERT_TRUE(found);
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    auto word = [&] { WORD w; std::memcpy(&w, p, 2); p += 2; return w; };
    auto dword = [&] { DWORD d; std::memcpy(&d, p, 4); p += 4; return d; };
    auto text = [&] {  // a string, or 0xFFFF and an ordinal
        std::wstring s;
        if (WORD first = word(); first == 0xFFFF)
            return L"#" + std::to_wstring(word());
        else
            for (WORD c = first; c; c = word())
                s += static_cast<wchar_t>(c);
        return s;
    };
    const BYTE* start = p;
    EXPECT_EQ(word(), 1);       // extended template
    EXPECT_EQ(word(), 0xFFFF);
    dword();                    // help id
    EXPECT_EQ(dword(), 0u);     // extended style
    EXPECT_EQ(dword(), DWORD(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU));
    WORD items = word();
    EXPECT_EQ(word(), 0);   // x
    EXPECT_EQ(word(), 0);   // y
    EXPECT_EQ(word(), 186);
    EXPECT_EQ(word(), 90);
    EXPECT_EQ(text(), L"");  // no menu
    EXPECT_EQ(text(), L"");  // the standard dialog class
    text();                  // caption, checked on the live dialog
    EXPECT_EQ(word(), 8);    // points
    EXPECT_EQ(word(), 400);  // weight
    word();                  // italic, character set
    EXPECT_EQ(text(), L"MS Shell Dlg");
    ASSERT_EQ(items, count);
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(controls[i].text);
        p = start + ((p - start + 3) & ~3);
        dword();  // help id
        EXPECT_EQ(dword(), 0u);
        EXPECT_EQ(dword(), controls[i].style);
        p += 8;   // place, checked on the live dialog
        EXPECT_EQ(static_cast<WORD>(dword()), static_cast<WORD>(controls[i].id));
        // The class by its ordinal or by its name.
        std::string name = controls[i].className;
        std::wstring ordinal = name == "Button" ? L"#128" : name == "Edit" ? L"#129" : L"#130";
        std::wstring className = text();
        EXPECT_TRUE(className == ordinal ||
                    _wcsicmp(className.c_str(), std::wstring(name.begin(), name.end()).c_str()) == 0);
        text();
        p += word();  // creation data
    }
}

// Caption, font, size and place, owner, first focus, and every control with
// its text and place, in template order, which is the order of the child
// windows and the tab order.
void expectLayout(HWND dialog, HWND owner, const char* caption, const ControlLayout* controls,
                  size_t count)
{
    EXPECT_EQ(textOf(dialog), sjis(caption));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
    EXPECT_FALSE(IsWindowEnabled(owner)) << "not modal";
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDOK));
    EXPECT_EQ(GetNextDlgTabItem(dialog, GetDlgItem(dialog, IDOK), FALSE), GetDlgItem(dialog, IDCANCEL));

    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, L"MS Shell Dlg");
    EXPECT_EQ(font.lfWeight, 400);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);

    // The client area: 186 by 90 dialog units, at the owner's client origin.
    RECT size = {0, 0, 186, 90}, client;
    MapDialogRect(dialog, &size);
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    POINT origin = {0, 0}, ownerOrigin = {0, 0};
    ClientToScreen(dialog, &origin);
    ClientToScreen(owner, &ownerOrigin);
    EXPECT_EQ(origin.x, ownerOrigin.x);
    EXPECT_EQ(origin.y, ownerOrigin.y);

    HWND child = GetWindow(dialog, GW_CHILD);
    for (size_t i = 0; i < count; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
        const ControlLayout& c = controls[i];
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(child);
        char className[32] = {};
        GetClassNameA(child, className, sizeof className);
        EXPECT_STRCASEEQ(className, c.className);
        EXPECT_EQ(static_cast<WORD>(GetDlgCtrlID(child)), static_cast<WORD>(c.id));
        EXPECT_EQ(textOf(child), sjis(c.text));
        EXPECT_TRUE(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE);
        // Place and size are converted from dialog units each on its own.
        RECT expected = {c.x, c.y, c.width, c.height}, actual;
        MapDialogRect(dialog, &expected);
        expected.right += expected.left;
        expected.bottom += expected.top;
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_TRUE(EqualRect(&expected, &actual));
    }
    EXPECT_FALSE(child) << "more controls than the template's";
}

TEST_F(SettingsDialogTest, BothDialogsOpenAsLaidOutWithTheFocusOnOk)
{
    DialogScript script;
    script
        .then([&](HWND dialog) {
            expectLayout(dialog, app.mainWindow, "ポート番号の設定", PortDialogControls,
                         std::size(PortDialogControls));
            click(dialog, IDCANCEL);
        })
        .then([&](HWND dialog) {
            expectLayout(dialog, app.mainWindow, "ログファイルの取得", LogDialogControls,
                         std::size(LogDialogControls));
            click(dialog, IDCANCEL);
        });
    openPortDialog();
    openLogDialog();
    EXPECT_EQ(script.seen().size(), 2u);
    EXPECT_TRUE(IsWindowEnabled(app.mainWindow));
    expectTemplate(IDD_PORT_DIALOG, PortDialogControls, std::size(PortDialogControls));
    expectTemplate(IDD_LOG_DIALOG, LogDialogControls, std::size(LogDialogControls));
}

TEST_F(SettingsDialogTest, PortOutOfRangeIsRefusedAndNoKeepsTheDialogAndText)
{
    std::string keptText;
    DialogScript script;
    script
        .then([](HWND dialog) {
            typePort(dialog, "65536");
            click(dialog, IDOK);
        })
        .then([](HWND refused) {
            click(refused, IDOK);
            DialogScript::backToOwner(refused);
        })
        .then([](HWND dialog) {
            // Enter in the field acts as OK.
            typePort(dialog, "-1");
            SetFocus(GetDlgItem(dialog, IDC_PORT_FIELD));
            pressKey(dialog, VK_RETURN);
        })
        .then([](HWND refused) {
            click(refused, IDOK);
            DialogScript::backToOwner(refused);
        })
        .then([](HWND dialog) {
            // Full-width digits are no digits, whatever the process's code
            // page (code page 1252 would read them as "80").
            typePort(dialog, "８０");
            click(dialog, IDOK);
        })
        .then([](HWND question) {
            click(question, IDNO);
            DialogScript::backToOwner(question);
        })
        .then([](HWND dialog) {
            typePort(dialog, "123456");
            click(dialog, IDOK);
        })
        .then([](HWND question) {
            click(question, IDNO);
            DialogScript::backToOwner(question);
        })
        .then([&](HWND dialog) {
            keptText = textOf(GetDlgItem(dialog, IDC_PORT_FIELD));
            click(dialog, IDOK);
        })
        .then([](HWND question) { click(question, IDYES); });
    openPortDialog();

    const std::string expectedTexts[] = {"", refusal("65536"), refusal("-1"), portQuestion("0"),
                                         portQuestion("12345"), portQuestion("12345")};
    ASSERT_EQ(script.seen().size(), std::size(expectedTexts));
    for (size_t i = 1; i < script.seen().size(); ++i) {
        EXPECT_EQ(script.seen()[i].caption, sjis(Caption));
        EXPECT_EQ(script.seen()[i].text, expectedTexts[i]) << i;
    }
    EXPECT_EQ(keptText, "123456");
    EXPECT_FALSE(IsWindow(script.seen()[0].window));

    // The server was idle: the port is stored and shown, nothing started.
    EXPECT_EQ(serverSettings.port, 12345);
    EXPECT_EQ(ServerState.load(), Idle);
    // Raised, and served by what is already queued for the main window: the
    // display follows without the user moving the mouse.
    EXPECT_EQ(portChanged, 1);
    app.pump();
    EXPECT_EQ(portChanged, 0);
    EXPECT_EQ(std::string(statusTexts.portLine), portLine("12345"));
    EXPECT_EQ(std::string(statusTexts.urlLine),
              sjis(std::string("ＵＲＬは [ http://") + serverSettings.hostIpText + ":12345/ ] です。"));
    EXPECT_EQ(std::string(statusTexts.stateLine), sjis("[ 停止 ] しています。"));
}

TEST_F(SettingsDialogTest, PortDialogClosedWithoutOkChangesNothing)
{
    pressStart();
    ASSERT_EQ(ServerState.load(), Running);
    const std::function<void(HWND)> closers[] = {
        [](HWND dialog) { click(dialog, IDCANCEL); },
        [](HWND dialog) { pressKey(dialog, VK_ESCAPE); },
        [](HWND dialog) { pressCloseBox(dialog); },
    };
    for (const auto& closer : closers) {
        DialogScript script;
        script.then([&](HWND dialog) {
            typePort(dialog, "8080");
            closer(dialog);
        });
        EXPECT_EQ(runPortDialog(app.mainWindow), 0);
        EXPECT_EQ(script.seen().size(), 1u) << "a message box was shown";
    }
    EXPECT_EQ(serverSettings.port, 80);
    EXPECT_EQ(portChanged, 0);
    EXPECT_EQ(ServerState.load(), Running);
    EXPECT_NE(fetch(80), "");
}

TEST_F(SettingsDialogTest, RunningServerMovesToTheConfirmedPort)
{
    pressStart();
    ASSERT_EQ(ServerState.load(), Running);
    ASSERT_EQ(fetch(80).rfind("HTTP/1.0 200 OK\n", 0), 0u);
    int threadsWhileRunning = threadCount();

    for (const char* port : {"8081", "8081"}) {  // the same port again restarts too
        DialogScript script;
        script
            .then([port](HWND dialog) {
                typePort(dialog, port);
                click(dialog, IDOK);
            })
            .then([](HWND question) { pressKey(question, VK_RETURN); });  // Yes is the default
        openPortDialog();
        ASSERT_EQ(script.seen().size(), 2u);
        EXPECT_EQ(script.seen()[1].text, portQuestion(port));

        EXPECT_EQ(ServerState.load(), Running);
        EXPECT_EQ(fetch(80), "") << "the old port still answers";
        EXPECT_EQ(fetch(8081).rfind("HTTP/1.0 200 OK\n", 0), 0u);
        EXPECT_EQ(threadCount(), threadsWhileRunning) << "not exactly one listener";
    }
    app.pump();
    EXPECT_EQ(std::string(statusTexts.stateLine), sjis("[ 稼動 ] しています。"));
    EXPECT_EQ(std::string(statusTexts.portLine), portLine("8081"));
    EXPECT_EQ(runIndicator, 1);
}

TEST_F(SettingsDialogTest, TakenPortLeavesTheServerStoppedAndShowsIt)
{
    pressStart();
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = serverSettings.localAddress;
    address.sin_port = htons(8082);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(holder, 1), 0);

    DialogScript script;
    script
        .then([](HWND dialog) {
            typePort(dialog, "8082");
            click(dialog, IDOK);
        })
        .then([](HWND question) { click(question, IDYES); })
        .then([this](HWND failure) {
            EXPECT_EQ(GetWindow(failure, GW_OWNER), app.mainWindow);
            click(failure, IDOK);
        });
    openPortDialog();

    // The restart refused says why, over the main window.
    ASSERT_EQ(script.seen().size(), 3u);
    EXPECT_EQ(script.seen()[2].caption, sjis(Caption));
    EXPECT_EQ(script.seen()[2].text.find(sjis("ポート番号[ 8082 ]で、ＷＥＢサーバーを開始できませんでした。\n")), 0u);
    EXPECT_EQ(ServerState.load(), Stopped);
    EXPECT_EQ(serverSettings.port, 8082);
    EXPECT_EQ(fetch(80), "");
    app.pump();
    EXPECT_EQ(std::string(statusTexts.stateLine), sjis("[ 停止 ] しています。"));
    EXPECT_EQ(std::string(statusTexts.portLine), portLine("8082"));
    EXPECT_EQ(runIndicator, 0);
    closesocket(holder);
    WSACleanup();
}

TEST_F(SettingsDialogTest, LogDialogRemembersTheLastClickedRadio)
{
    struct Radios {
        bool on, off;
    };
    std::vector<Radios> atOpening;
    auto look = [&](HWND dialog) { atOpening.push_back({checked(dialog, IDC_LOG_ON), checked(dialog, IDC_LOG_OFF)}); };
    DialogScript script;
    script
        .then([&](HWND dialog) {  // first opening: "do not log"; click "log", Cancel
            look(dialog);
            click(dialog, IDC_LOG_ON);
            click(dialog, IDCANCEL);
        })
        .then([&](HWND dialog) {  // the click is remembered; OK, then No
            look(dialog);
            click(dialog, IDOK);
        })
        .then([](HWND question) {
            click(question, IDNO);
            DialogScript::backToOwner(question);
        })
        .then([&](HWND dialog) {  // still open as it was; Esc
            look(dialog);
            pressKey(dialog, VK_ESCAPE);
        })
        .then([&](HWND dialog) {  // "do not log" clicked, then the close box
            look(dialog);
            click(dialog, IDC_LOG_OFF);
            pressCloseBox(dialog);
        })
        .then([&](HWND dialog) {
            look(dialog);
            click(dialog, IDCANCEL);
        });
    for (int opening = 0; opening < 4; ++opening)
        EXPECT_EQ(runLogDialog(app.mainWindow), 0);

    const bool logOn[] = {false, true, true, true, false};
    ASSERT_EQ(atOpening.size(), std::size(logOn));
    for (size_t i = 0; i < atOpening.size(); ++i) {
        EXPECT_EQ(atOpening[i].on, logOn[i]) << i;
        EXPECT_EQ(atOpening[i].off, !logOn[i]) << i;
    }
    ASSERT_EQ(script.seen().size(), 5u);
    EXPECT_EQ(script.seen()[2].caption, sjis(Caption));
    EXPECT_EQ(script.seen()[2].text, sjis(LogOnQuestion));
    EXPECT_EQ(logEnabled.load(), 0);
    EXPECT_EQ(logSettingChanged, 0);
    EXPECT_EQ(logChoice, 0);
}

TEST_F(SettingsDialogTest, LogDialogYesSwitchesLoggingAndTheServerFollows)
{
    pressStart();
    ASSERT_EQ(ServerState.load(), Running);
    std::filesystem::create_directories("DATA");
    std::ofstream("DATA/lamp.png", std::ios::binary) << "\x89PNG";

    std::time_t now = std::time(nullptr);
    std::tm* local = std::localtime(&now);
    char logName[64];
    std::snprintf(logName, sizeof logName, "LOG/HarborlightLog_%d%d%d.log", local->tm_year + 1900,
                  local->tm_mon + 1, local->tm_mday);
    auto logBytes = [&] {
        std::ifstream file(logName, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };

    struct Step {
        bool clickOn;        // which radio is clicked before OK; none when both false
        bool clickOff;
        const char* question;
        INT_PTR result;      // logging as it was
        std::uint8_t logging;  // after Yes
        const char* logLine;
    };
    const Step steps[] = {
        {true, false, LogOnQuestion, 0, 1, "ＬＯＧ情報を取得しています。"},
        {false, false, LogOnQuestion, 1, 1, "ＬＯＧ情報を取得しています。"},  // no change, still raised
        {false, true, LogOffQuestion, 1, 0, "ＬＯＧ情報を取得していません。"},
        {false, false, LogOffQuestion, 0, 0, "ＬＯＧ情報を取得していません。"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.question);
        DialogScript script;
        script
            .then([&](HWND dialog) {
                if (step.clickOn)
                    click(dialog, IDC_LOG_ON);
                if (step.clickOff)
                    click(dialog, IDC_LOG_OFF);
                click(dialog, IDOK);
            })
            .then([](HWND question) { click(question, IDYES); });
        EXPECT_EQ(runLogDialog(app.mainWindow), step.result);
        ASSERT_EQ(script.seen().size(), 2u);
        EXPECT_EQ(script.seen()[1].text, sjis(step.question));
        EXPECT_EQ(logEnabled.load(), step.logging);
        EXPECT_EQ(logSettingChanged, 1);
        app.pump();
        EXPECT_EQ(logSettingChanged, 0);
        EXPECT_EQ(std::string(statusTexts.logLine), sjis(step.logLine));

        // The next HTML page is logged while logging is on; an image never.
        std::string before = logBytes();
        ASSERT_NE(fetch(80, "/"), "");
        ASSERT_NE(fetch(80, "/lamp.png"), "");
        std::string after = logBytes();
        if (!step.logging) {
            EXPECT_EQ(after, before);
            continue;
        }
        std::string line = after.substr(before.size());
        std::string address = serverSettings.hostIpText;
        ASSERT_EQ(line.size(), address.size() + 4 + 24 + 2) << line;
        EXPECT_EQ(line.substr(0, address.size() + 4), address + " \x81\x46 ");
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    }
}

}  // namespace
