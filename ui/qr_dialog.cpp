// The QR code dialog. The code is the status display's URL (statusUrl), so
// that the phone opens exactly what the window tells the user to type.
#include "ui/qr_dialog.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "qr/url_code.h"
#include "resources/resource.h"
#include "server/server.h"
#include "ui/clipboard.h"
#include "ui/display_scale.h"
#include "ui/main_window.h"
#include "ui/shell_open.h"
#include "ui/start_failure.h"
#include "ui/status_accessible.h"
#include "ui/status_display.h"
#include "ui/wide_text.h"

// The texts below are stored in code page 932 (see ui/CMakeLists.txt).
static const char ClipboardBusyText[] =
    "ＵＲＬをクリップボードにコピーできませんでした。\n他のアプリケーションが使用中です。もう一度お試し下さい。";

// The code the open dialog draws; size 0 when there is none.
static UrlCode dialogCode;

// Pixels a module takes on a screen of `dpi`: 6 at 96 DPI and as many more
// as the scale asks, rounded up to whole pixels so that every module is as
// large as every other.
static int qrModulePixels(UINT dpi)
{
    // 6 pixels at 100 % make a code of this server's URLs 4.5 to 6 cm across
    // on a common screen, which a phone reads from arm's length.
    constexpr int PixelsAt96 = 6;
    return (PixelsAt96 * static_cast<int>(dpi) + 95) / 96;
}

// The code's square, `side` pixels (0 for none), takes the room below the
// top margin: the other controls move down by it and the dialog grows by
// it. Where the code is wider than the template, the dialog widens too, its
// lines of text with it, and OK keeps to the right edge.
static void makeRoomForCode(HWND dialog, int side)
{
    RECT client;
    GetClientRect(dialog, &client);
    RECT margin = {7, 7, 0, 0};
    MapDialogRect(dialog, &margin);
    int widen = std::max(0, side + 2 * static_cast<int>(margin.left) - static_cast<int>(client.right));
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT place;
        GetWindowRect(child, &place);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
        int id = GetDlgCtrlID(child);
        if (id == IDC_QR_CODE) {
            SetRect(&place, 0, 0, side, side);
            OffsetRect(&place, (client.right + widen - side) / 2, margin.top);
        } else {
            OffsetRect(&place, id == IDOK ? widen : 0, side);
            if (SendMessageW(child, WM_GETDLGCODE, 0, 0) & DLGC_STATIC)
                place.right += widen;
        }
        MoveWindow(child, place.left, place.top, place.right - place.left, place.bottom - place.top, FALSE);
    }
    RECT frame;
    GetWindowRect(dialog, &frame);
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left + widen, frame.bottom - frame.top + side,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Grown, it may reach past the screen's edge: back within it.
    SendMessageW(dialog, DM_REPOSITION, 0, 0);
}

// A note longer than its room takes the room it needs: the controls below
// it move down, and the dialog grows by as much.
static void fitNoteToText(HWND dialog)
{
    HWND note = GetDlgItem(dialog, IDC_QR_NOTE);
    WCHAR text[StartFailureUnits];
    GetWindowTextW(note, text, StartFailureUnits);
    RECT room, needed;
    GetClientRect(note, &room);
    needed = room;
    HDC dc = GetDC(note);
    HGDIOBJ font = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(note, WM_GETFONT, 0, 0)));
    // As the static text itself breaks its lines.
    DrawTextW(dc, text, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(dc, font);
    ReleaseDC(note, dc);
    const int grow = needed.bottom - room.bottom;
    if (grow <= 0)
        return;
    RECT notePlace;
    GetWindowRect(note, &notePlace);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&notePlace), 2);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT place;
        GetWindowRect(child, &place);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
        if (child == note)
            place.bottom += grow;
        else if (place.top >= notePlace.bottom)
            OffsetRect(&place, 0, grow);
        else
            continue;
        MoveWindow(child, place.left, place.top, place.right - place.left, place.bottom - place.top, FALSE);
    }
    RECT frame;
    GetWindowRect(dialog, &frame);
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The code, its URL and the line under them, for the server as the status
// display shows it. Without an address there is no URL: no code and nothing
// to copy, and the line says why.
static void fillQrDialog(HWND dialog)
{
    bool coded = statusUrl[0] != '\0' && makeUrlCode(statusUrl, &dialogCode);
    if (!coded)
        dialogCode.size = 0;
    SetDlgItemTextW(dialog, IDC_QR_URL, wideText(statusUrl).text);
    ShowWindow(GetDlgItem(dialog, IDC_QR_URL), coded ? SW_SHOW : SW_HIDE);
    EnableWindow(GetDlgItem(dialog, IDC_QR_COPY), coded);
    // After a failed start, why it failed, until a start succeeds.
    if (const WCHAR* failure = pendingStartFailure()) {
        SetDlgItemTextW(dialog, IDC_QR_NOTE, failure);
        fitNoteToText(dialog);
    } else {
        UINT note = !coded ? IDS_QR_NO_ADDRESS : ServerState == Running ? IDS_QR_RUNNING : IDS_QR_STOPPED;
        WCHAR text[WideTextUnits];
        LoadStringW(appInstance, note, text, WideTextUnits);
        SetDlgItemTextW(dialog, IDC_QR_NOTE, text);
    }
    int modules = dialogCode.size + 2 * QuietZoneModules;
    makeRoomForCode(dialog, coded ? modules * qrModulePixels(windowDpi(dialog)) : 0);
}

ReachReader qrReachReader = readReachFindingWithin;

// Each reading's number, so that an answer for a dialog since closed, or
// opened again, is dropped; and whether the adapter of the latest answer is
// Wi-Fi, for the network button. A finding is of its moment: never kept.
static unsigned reachReading;
static bool reachWifi;

UINT reachFoundMessage()
{
    static const UINT message = RegisterWindowMessageW(L"HarborlightReachFound");
    return message;
}

// Reads on a thread of its own, which posts the finding to the dialog when
// it comes within ReachLimitMs. Until then, and when it does not come, the
// line on what to check stays.
static void startReachReading(HWND dialog)
{
    if (!serverSettings.hostIpText)
        return;
    const unsigned reading = ++reachReading;
    const std::uint32_t address = serverSettings.localAddress.sin_addr.s_addr;
    const std::uint16_t port = ServerState == Running ? listeningPort() : serverSettings.port;
    const ReachReader reader = qrReachReader;
    const UINT found = reachFoundMessage();
    try {
        std::thread([=] {
            ReachReport report;
            if (reader(address, port, ReachLimitMs, &report))
                PostMessageW(dialog, found, reading, static_cast<LPARAM>(report.finding) | (report.wifi ? 0x100 : 0));
        }).detach();
    } catch (const std::system_error&) {
    }
}

// The finding in place of the line on what to check; for a public network,
// the network settings' button in the firewall button's place.
static void showReachFinding(HWND dialog, ReachFinding finding, bool wifi)
{
    UINT text = 0;
    switch (finding) {
    case ReachFinding::BlockRule: text = IDS_QR_REACH_BLOCK_RULE; break;
    case ReachFinding::PortBlockRule: text = IDS_QR_REACH_PORT_BLOCK_RULE; break;
    case ReachFinding::BlocksAllInbound: text = IDS_QR_REACH_BLOCKS_ALL; break;
    case ReachFinding::PublicNetwork: text = IDS_QR_REACH_PUBLIC; break;
    case ReachFinding::PublicNetworkPrivateAllowed: text = IDS_QR_REACH_PUBLIC_PRIVATE_ALLOWED; break;
    case ReachFinding::NoRuleYet: text = IDS_QR_REACH_NO_RULE; break;
    case ReachFinding::NoRuleNoPrompt: text = IDS_QR_REACH_NO_PROMPT; break;
    case ReachFinding::NothingFound: text = IDS_QR_REACH_NOTHING_FOUND; break;
    case ReachFinding::UfwEnabled:
    case ReachFinding::Unknown:
        return;
    }
    WCHAR line[WideTextUnits];
    LoadStringW(appInstance, text, line, WideTextUnits);
    SetDlgItemTextW(dialog, IDC_QR_REACH, line);
    const bool network = finding == ReachFinding::PublicNetwork || finding == ReachFinding::PublicNetworkPrivateAllowed;
    HWND shown = GetDlgItem(dialog, network ? IDC_QR_NETWORK : IDC_QR_FIREWALL);
    HWND hidden = GetDlgItem(dialog, network ? IDC_QR_FIREWALL : IDC_QR_NETWORK);
    ShowWindow(shown, SW_SHOW);
    // The button that goes may hold the focus: it passes to the one in its
    // place through the dialog manager (which moves the default button's
    // border too), for the keys of a hidden control reach no one.
    if (GetFocus() == hidden)
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(shown), TRUE);
    ShowWindow(hidden, SW_HIDE);
    reachWifi = wifi;
}

// Black modules on white, whatever the colour scheme: readers want dark on
// light. The modules take whole pixels, as many as the square holds (the
// size made for it, or Windows' own scaling of it when the dialog moves to a
// screen of another scale), the code in its middle with the quiet zone
// around it.
static void drawUrlCode(const DRAWITEMSTRUCT& item)
{
    const RECT& area = item.rcItem;
    FillRect(item.hDC, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (dialogCode.size == 0)
        return;
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    int pixels = std::min(width, height) / (dialogCode.size + 2 * QuietZoneModules);
    int left = area.left + (width - dialogCode.size * pixels) / 2;
    int top = area.top + (height - dialogCode.size * pixels) / 2;
    HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    for (int y = 0; y < dialogCode.size; ++y)
        for (int x = 0; x < dialogCode.size; ++x)
            if (dialogCode.dark(x, y)) {
                RECT module = {left + x * pixels, top + y * pixels, left + (x + 1) * pixels,
                               top + (y + 1) * pixels};
                FillRect(item.hDC, &module, black);
            }
}

INT_PTR CALLBACK QrDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == reachFoundMessage()) {
        if (wParam == reachReading)
            showReachFinding(dialog, static_cast<ReachFinding>(lParam & 0xFF), (lParam & 0x100) != 0);
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        fillQrDialog(dialog);
        startReachReading(dialog);
        // A screen reader reads the code as the URL it holds.
        nameControl(GetDlgItem(dialog, IDC_QR_CODE), wideText(statusUrl).text);
        // The focus goes to the first tab stop, OK.
        return TRUE;
    case WM_DRAWITEM:
        if (wParam != IDC_QR_CODE)
            return FALSE;
        drawUrlCode(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_QR_COPY: {
            WideText url = wideText(statusUrl);
            if (!putTextOnClipboard(dialog, url.text, static_cast<std::size_t>(url.length), statusUrl))
                sjisMessageBox(dialog, ClipboardBusyText, ConfirmationCaption, MB_OK);
            return TRUE;
        }
        case IDC_QR_FIREWALL:
            openFirewallSettings(dialog);
            return TRUE;
        case IDC_QR_NETWORK:
            openNetworkSettings(dialog, reachWifi);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
        }
    case WM_DESTROY:
        ++reachReading;
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR runQrDialog(HWND owner)
{
    return DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_QR_DIALOG), owner, QrDialogProc, 0);
}
