// The QR code dialog: the URL of the main window's URL line as a code, its
// copy, and what it finds may keep a phone from reaching the server.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "qr/url_code.h"
#include "resources/resource.h"
#include "ui/qr_dialog.h"
#include "main_window_test.h"

namespace {

TEST_F(MainWindowTest, QrDialogShowsTheUrlOfTheDisplayAndCopiesIt)
{
    setPort(8080);
    portChanged = 1;
    app.nextMessage();
    const std::string url = "http://" + hostText() + ":8080/";
    const char* hostIp = serverSettings.hostIpText;
    struct Case { bool start, address; const char* note; };
    for (const Case& c : {
             Case{false, true, "ＷＥＢサーバーは停止しています。パネルの「再生」の▲ボタンで開始すると、"
                               "このＵＲＬでページが開きます。"},
             Case{true, true, "スマートフォンのカメラで読み取ると、このページが開きます。"},
             Case{false, false, "このパソコンのＩＰアドレスが見つからないため、QRコードを作れません。"
                                "ネットワークにつないでから、▲ボタンで開始して下さい。"}}) {
        SCOPED_TRACE(c.note);
        if (c.start)
            SendMessageW(app.button(IDC_START_BUTTON), BM_CLICK, 0, 0);
        serverSettings.hostIpText = c.address ? hostIp : nullptr;
        portChanged = 1;
        DialogScript answer;
        answer.then([&](HWND box) {
            EXPECT_EQ(textOf(GetDlgItem(box, IDC_QR_NOTE)), sjis(c.note));
            EXPECT_EQ((GetWindowLongW(GetDlgItem(box, IDC_QR_URL), GWL_STYLE) & WS_VISIBLE) != 0, c.address);
            EXPECT_EQ(IsWindowEnabled(GetDlgItem(box, IDC_QR_COPY)) != 0, c.address);
            EXPECT_EQ(textOf(GetDlgItem(box, IDC_QR_FIREWALL)), sjis("ファイアウォールの設定(&F)..."));
            if (c.address) {
                EXPECT_EQ(textOf(GetDlgItem(box, IDC_QR_URL)), url);
                EXPECT_EQ(accessibleName(GetDlgItem(box, IDC_QR_CODE)), utf16(url));
                // Held 20 ms by another thread's window, as clipboard managers
                // hold it (Windows refuses other threads, Wine other windows).
                // Waited for until it is held: on a busy machine its 20 ms
                // may pass before this thread looks, and then never come.
                std::atomic<bool> held{false};
                std::thread holder([&held] {
                    OpenClipboard(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, 0, 0));
                    held = true;
                    Sleep(20);
                    CloseClipboard();
                });
                while (!held)
                    Sleep(1);
                SendMessageW(GetDlgItem(box, IDC_QR_COPY), BM_CLICK, 0, 0);
                holder.join();
                ASSERT_TRUE(OpenClipboard(nullptr));
                HANDLE text = GetClipboardData(CF_TEXT), unicode = GetClipboardData(CF_UNICODETEXT);
                ASSERT_TRUE(text && unicode);
                EXPECT_EQ(static_cast<const char*>(GlobalLock(text)), url);
                EXPECT_EQ(static_cast<const wchar_t*>(GlobalLock(unicode)), utf16(url));
                CloseClipboard();
            }
            c.start ? pressKey(box, VK_ESCAPE) : click(box, IDOK);
        });
        SendMessageW(app.mainWindow, WM_COMMAND, IDM_SHOW_QR, 0);
        ASSERT_EQ(answer.seen().size(), 1u);
        EXPECT_EQ(answer.seen()[0].caption, sjis("QRコード"));
    }
    serverSettings.hostIpText = hostIp;
}

// The reader holds its answer until the test has seen the dialog without it;
// then the finding given, or Wine's own reading.
HANDLE readerReleased = CreateEventW(nullptr, FALSE, FALSE, nullptr);
ReachFinding fakeFinding;
bool readFakeFinding(std::uint32_t, std::uint16_t, int, ReachReport* report)
{
    WaitForSingleObject(readerReleased, 10000);
    report->finding = fakeFinding;
    return true;
}
bool readOnRelease(std::uint32_t address, std::uint16_t port, int limitMs, ReachReport* report)
{
    WaitForSingleObject(readerReleased, 10000);
    return readReachFindingWithin(address, port, limitMs, report);
}

// Runs the dialog's messages until the reader's answer has come, for at most
// as long as the reader may take and a second more.
bool takeReachAnswer(HWND box)
{
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < ReachLimitMs + 1000; waited = GetTickCount() - start) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
            if (message.message == reachFoundMessage() && message.hwnd == box)
                return true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ReachLimitMs + 1000 - waited, QS_POSTMESSAGE);
    }
    return false;
}

TEST_F(MainWindowTest, QrDialogSaysWhatKeepsAPhoneOutAtTheDisplayScale)
{
    const char* const checkLine =
        "スマートフォンで開けないときは、同じWi-Fiにつないでいるかと、ファイアウォールの許可を確かめて下さい。";
    struct Case { ReachFinding finding; ReachReader reader; std::vector<const char*> words; };
    for (const Case& c : {Case{ReachFinding::BlockRule, readFakeFinding, {"ブロック", "Harborlight"}},
                          Case{ReachFinding::PortBlockRule, readFakeFinding, {"このポート", "ポート番号の変更"}},
                          Case{ReachFinding::BlocksAllInbound, readFakeFinding, {"すべての着信接続", "セキュリティ"}},
                          Case{ReachFinding::PublicNetwork, readFakeFinding, {"パブリック", "許可していません"}},
                          Case{ReachFinding::PublicNetworkPrivateAllowed, readFakeFinding,
                               {"パブリック", "プライベート ネットワークでだけ許可"}},
                          Case{ReachFinding::NoRuleYet, readFakeFinding, {"初めて", "アクセスを許可する"}},
                          Case{ReachFinding::NoRuleNoPrompt, readFakeFinding, {"通知がオフ", "別のアプリの許可"}},
                          Case{ReachFinding::NothingFound, readFakeFinding, {"見つかりませんでした", "テザリング"}},
                          // Wine's own classes: nothing read, the line stays.
                          Case{ReachFinding::Unknown, readOnRelease, {checkLine}}}) {
        SCOPED_TRACE(c.words[0]);
        fakeFinding = c.finding;
        qrReachReader = c.reader;
        DialogScript answer;
        answer.then([&](HWND box) {
            HWND line = GetDlgItem(box, IDC_QR_REACH);
            EXPECT_EQ(textOf(line), sjis(checkLine));
            // Tabbed to the firewall button while the facts are read.
            SendMessageW(box, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(box, IDC_QR_FIREWALL)), TRUE);
            RECT before, after;
            GetWindowRect(box, &before);
            SetEvent(readerReleased);
            const DWORD start = GetTickCount();
            EXPECT_TRUE(takeReachAnswer(box));
            EXPECT_LT(GetTickCount() - start, static_cast<DWORD>(ReachLimitMs));
            for (const char* word : c.words)
                EXPECT_NE(textOf(line).find(sjis(word)), std::string::npos) << word;
            // All of it within the line's room, and the dialog as large as before.
            EXPECT_TRUE(textFitsIn(line));
            GetWindowRect(box, &after);
            EXPECT_TRUE(EqualRect(&before, &after));
            const bool network = c.finding == ReachFinding::PublicNetwork ||
                                 c.finding == ReachFinding::PublicNetworkPrivateAllowed;
            auto shown = [box](int id) { return (GetWindowLongW(GetDlgItem(box, id), GWL_STYLE) & WS_VISIBLE) != 0; };
            EXPECT_EQ(shown(IDC_QR_NETWORK), network);
            EXPECT_EQ(shown(IDC_QR_FIREWALL), !network);
            // The focus goes with the button, never to a hidden one.
            EXPECT_EQ(GetFocus(), GetDlgItem(box, network ? IDC_QR_NETWORK : IDC_QR_FIREWALL));
            if (c.finding == ReachFinding::PublicNetwork)
                click(box, IDC_QR_NETWORK);
            pressButton(box, IDCANCEL);
        });
        // Wine has no Settings: the network button's box says so.
        if (c.finding == ReachFinding::PublicNetwork)
            answer.then([](HWND box) { click(box, IDOK); });
        SendMessageW(app.mainWindow, WM_COMMAND, IDM_SHOW_QR, 0);
        if (c.finding == ReachFinding::PublicNetwork) {
            EXPECT_EQ(answer.seen().back().text.find(sjis("ネットワークの設定を開けませんでした。\n")), 0u);
        }
    }
    qrReachReader = readReachFindingWithin;
}

}  // namespace
