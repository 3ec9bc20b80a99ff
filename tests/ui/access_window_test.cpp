// The access window: every request as the engine's record holds it, its
// filter, its copy and its keys.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstring>
#include <string>

#include "resources/resource.h"
#include "server/request_record.h"
#include "ui/access_window.h"
#include "main_window_test.h"

namespace {

// A request as the listener records it, on this thread; left open when
// `handlerResult` is 1.
void recordRequest(const std::string& request, int handlerResult, std::int64_t fileSize, std::int64_t sent,
                   bool testPage = false)
{
    std::strcpy(requestBuffer, request.c_str());
    recordRequestOpen(inet_addr("10.0.0.7"));
    if (fileSize >= 0)
        recordRequestFile(fileSize);
    if (testPage)
        recordRequestWroteTestPage();
    if (sent > 0)
        recordRequestBodySent(static_cast<std::size_t>(sent));
    if (handlerResult != 1)
        recordRequestClose(handlerResult);
}

std::string cell(HWND list, int row, int column)
{
    wchar_t text[1024] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 1024;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    char bytes[2048] = {};
    WideCharToMultiByte(932, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

// Ctrl with a key, through the application's loop.
void pressCtrl(App& app, HWND target, WPARAM key)
{
    BYTE saved[256], keys[256];
    GetKeyboardState(saved);
    std::copy(saved, saved + 256, keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = 0x80;
    SetKeyboardState(keys);
    PostMessageW(target, WM_KEYDOWN, key, 1);
    app.pump();
    SetKeyboardState(saved);
}

TEST_F(MainWindowTest, AccessWindowShowsEveryRequestEscapedAndCopiesThem)
{
    SendMessageW(app.mainWindow, WM_COMMAND, IDM_SHOW_ACCESS, 0);
    ASSERT_TRUE(IsWindowVisible(accessWindow));
    EXPECT_EQ(textOf(accessWindow), sjis("アクセス状況"));
    EXPECT_EQ(GetWindow(accessWindow, GW_OWNER), app.mainWindow);
    HWND list = GetDlgItem(accessWindow, IDC_ACCESS_LIST);
    const char* const headings[] = {"時刻", "接続元", "要求", "結果", "送信量", "時間"};
    for (int column = 0; column < 6; ++column) {
        wchar_t heading[32] = {};
        LVCOLUMNW header = {};
        header.mask = LVCF_TEXT;
        header.pszText = heading;
        header.cchTextMax = 32;
        SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&header));
        EXPECT_EQ(std::wstring(heading), utf16(headings[column]));
    }
    SendMessageW(accessWindow, WM_COMMAND, IDC_ACCESS_CLEAR, 0);
    const std::string longPath = "/" + std::string(299, 'p');
    recordRequest("GET /photo.jpg HTTP/1.0", 0, 1234567, 1234567);
    recordRequest("GET /missing.png HTTP/1.0", -2, -1, 78);
    recordRequest("GET / HTTP/1.0", 0, 279, 279, true);
    recordRequest("POST / HTTP/1.0", -1, -1, 0);
    recordRequest("GET /a\x1b[2J\\b\xe5" + longPath + " HTTP/1.0", 0, 1000, 500);
    recordRequest("GET /big.iso HTTP/1.0", 1, 1000, 450);
    updateAccessWindow();
    struct Row { std::string request, result, bytes; };
    const Row rows[] = {
        {"GET /photo.jpg", "送信済み", "1,234,567"},
        {"GET /missing.png", "見つかりません", "78"},
        {"GET /", "テストページを作成", "279"},
        {"POST /", "GET以外の要求", "0"},
        {"GET /a\\x1B[2J\\\\b\\xE5/" + std::string(190, 'p') + "...", "中断", "500 / 1,000"},
        {"GET /big.iso", "送信中 45 %", "450 / 1,000"},
    };
    ASSERT_EQ(ListView_GetItemCount(list), 6);
    std::string expectedCopy;
    for (int row = 0; row < 6; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(cell(list, row, 0).find_first_not_of("0123456789"), 2u);
        EXPECT_EQ(cell(list, row, 1), "10.0.0.7");
        EXPECT_EQ(cell(list, row, 2), rows[row].request);
        EXPECT_EQ(cell(list, row, 3).rfind(sjis(rows[row].result), 0), 0u) << cell(list, row, 3);
        EXPECT_EQ(cell(list, row, 4), rows[row].bytes);
        EXPECT_EQ(cell(list, row, 5).find('.'), cell(list, row, 5).size() - 3);
        for (int column = 0; column < 6; ++column)
            expectedCopy += cell(list, row, column) + (column < 5 ? "\t" : "\r\n");
    }

    // A letter typed in the list (as the text an input method commits there)
    // leaves the selection where it was; Alt+R, the key of the label just
    // before the list, brings the focus back to it.
    ListView_SetItemState(list, 3, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SetFocus(list);
    PostMessageW(list, WM_CHAR, 'g', 1);
    app.pump();
    EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), 3);
    EXPECT_EQ(ListView_GetSelectedCount(list), 1u);
    EXPECT_EQ(textOf(GetWindow(list, GW_HWNDPREV)), sjis("要求の一覧(&R):"));
    SetFocus(GetDlgItem(accessWindow, IDC_ACCESS_CLEAR));
    pressAltChar(app, GetFocus(), 'r');
    EXPECT_EQ(GetFocus(), list);

    // Only the not-found rows, and all of them again.
    SendMessageW(GetDlgItem(accessWindow, IDC_ACCESS_NOT_FOUND_ONLY), BM_CLICK, 0, 0);
    EXPECT_EQ(ListView_GetItemCount(list), 1);
    EXPECT_EQ(cell(list, 0, 2), "GET /missing.png");
    SendMessageW(GetDlgItem(accessWindow, IDC_ACCESS_NOT_FOUND_ONLY), BM_CLICK, 0, 0);
    ASSERT_EQ(ListView_GetItemCount(list), 6);

    pressCtrl(app, list, 'A');
    pressCtrl(app, list, 'C');
    ASSERT_TRUE(OpenClipboard(nullptr));
    auto copied = static_cast<const wchar_t*>(GlobalLock(GetClipboardData(CF_UNICODETEXT)));
    std::string copiedText(expectedCopy.size() + 1, '\0');
    if (copied)
        copiedText.resize(WideCharToMultiByte(932, 0, copied, -1, &copiedText[0], copiedText.size(), nullptr, nullptr));
    EXPECT_EQ(copiedText, expectedCopy + '\0');
    CloseClipboard();

    // Clear keeps the answer in progress alone.
    SendMessageW(GetDlgItem(accessWindow, IDC_ACCESS_CLEAR), BM_CLICK, 0, 0);
    ASSERT_EQ(ListView_GetItemCount(list), 1);
    EXPECT_EQ(cell(list, 0, 2), "GET /big.iso");
    recordRequestClose(0);

    // Past the window's 1,000 rows and the record's: what neither can show is
    // counted, and the newest row is in view.
    recordWaitingConnections(3);
    for (int i = 0; i < 1002; ++i)
        recordRequest("GET /" + std::to_string(i) + " HTTP/1.0", 0, 1, 1);
    updateAccessWindow();
    EXPECT_EQ(ListView_GetItemCount(list), 1000);
    EXPECT_EQ(textOf(GetDlgItem(accessWindow, IDC_ACCESS_STATUS)),
              sjis("要求を待っている接続: 3 件　　表示できなかった要求: 3 件"));
    EXPECT_EQ(ListView_GetTopIndex(list) + ListView_GetCountPerPage(list), 1000);
    // Scrolled away from the end, the view stays.
    ListView_EnsureVisible(list, 0, FALSE);
    recordRequest("GET /last HTTP/1.0", 0, 1, 1);
    updateAccessWindow();
    EXPECT_EQ(ListView_GetTopIndex(list), 0);
    EXPECT_EQ(cell(list, 999, 2), "GET /last");
    recordWaitingConnections(0);

    // Esc hides the window, its rows kept.
    SetFocus(list);
    PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 1);
    app.pump();
    EXPECT_FALSE(IsWindowVisible(accessWindow));
    SendMessageW(app.mainWindow, WM_COMMAND, IDM_SHOW_ACCESS, 0);
    EXPECT_TRUE(IsWindowVisible(accessWindow));
    EXPECT_EQ(ListView_GetItemCount(list), 1000);
}

TEST_F(MainWindowTest, AccessWindowAtTheDisplayScale)
{
    SendMessageW(app.mainWindow, WM_COMMAND, IDM_SHOW_ACCESS, 0);
    HWND list = GetDlgItem(accessWindow, IDC_ACCESS_LIST);
    auto fontHeight = [list] {
        LOGFONTW font = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), sizeof font, &font);
        return font.lfHeight;
    };
    // Made at the screen's scale, then following a change to half as large
    // a scale again, as on a move to such a screen.
    UINT dpi = screenDpi();
    EXPECT_EQ(fontHeight(), -MulDiv(8, dpi, 72));
    RECT frame;
    GetWindowRect(accessWindow, &frame);
    EXPECT_EQ(frame.right - frame.left, MulDiv(820, dpi, 96));
    int column = ListView_GetColumnWidth(list, 2);
    // Within the test display's 1280 by 1024 pixels up to 216 DPI.
    RECT suggested = {0, 0, MulDiv(560, dpi * 3 / 2, 96), MulDiv(300, dpi * 3 / 2, 96)};
    SendMessageW(accessWindow, WM_DPICHANGED, MAKEWPARAM(dpi * 3 / 2, dpi * 3 / 2),
                 reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(accessWindow, &frame);
    EXPECT_TRUE(EqualRect(&frame, &suggested));
    EXPECT_EQ(fontHeight(), -MulDiv(8, dpi * 3 / 2, 72));
    EXPECT_EQ(ListView_GetColumnWidth(list, 2), column * 3 / 2);
    RECT place;
    GetWindowRect(list, &place);
    GetClientRect(accessWindow, &frame);
    EXPECT_EQ(place.right - place.left, frame.right - MulDiv(16, dpi * 3 / 2, 96));
}

}  // namespace
