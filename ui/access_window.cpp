// The access window. The rows are the window's own copy of the engine's
// record: the last RecordCapacity finished requests, and the answers in
// progress at the last reading. The list view is virtual: it asks for the
// text of the rows it draws, and holds nothing but their count and which
// are selected.
#include "ui/access_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "resources/resource.h"
#include "server/request_record.h"
#include "ui/clipboard.h"
#include "ui/display_scale.h"
#include "ui/main_window.h"
#include "ui/wide_text.h"

HWND accessWindow;

namespace {

enum Column { TimeColumn, ClientColumn, RequestColumn, ResultColumn, BytesColumn, DurationColumn, ColumnCount };
// Widths at 96 DPI.
constexpr int ColumnWidths[ColumnCount] = {64, 96, 220, 150, 190, 56};

constexpr UINT_PTR UpdateTimer = 1;
constexpr UINT UpdateMs = 250;
constexpr int ShownCapacity = RecordCapacity + RecordOpenCapacity;
// The longest cell: an escaped method, a blank and an escaped path.
constexpr int CellUnits = 4 * RecordedMethodBytes + 1 + static_cast<int>(RecordedEscapedBytes);

// The finished rows kept, oldest first, in a ring.
RequestEntry keptRows[RecordCapacity];
int keptStart;
int keptCount;
// The answers in progress at the last reading, and how fast each went out
// since the one before (bytes a second).
RequestEntry progressRows[RecordOpenCapacity];
double progressRates[RecordOpenCapacity];
int progressCount;
// The kept rows the list shows, by their place from the oldest: all of them,
// or with the check box the not-found ones alone. The answers in progress
// follow them, unless the check box is on.
int shownKept[RecordCapacity];
int shownKeptCount;
bool notFoundOnly;
// The record's next entry to read, and the requests the window cannot show:
// scrolled off its rows, or overwritten in the record before a reading.
std::uint64_t nextEntry;
std::uint64_t notShown;
// What the line under the list shows now, so that it is set only on a change.
int shownWaiting = -1;
std::uint64_t shownNotShown = UINT64_MAX;

HACCEL accessKeys;
// The DPI the window is laid out for, and the font made for it after a
// change of scale (null while the template's serves).
UINT accessDpi = 96;
HFONT scaledFont;

// The texts, loaded when the window is made.
WCHAR resultTexts[6][32];
WCHAR sendingFormat[64];
WCHAR statusFormat[128];

int atAccessDpi(int length)
{
    return MulDiv(length, accessDpi, 96);
}

const RequestEntry& keptRow(int place)
{
    return keptRows[(keptStart + place) % RecordCapacity];
}

int shownCount()
{
    return shownKeptCount + (notFoundOnly ? 0 : progressCount);
}

bool shownRow(int row, const RequestEntry** entry, double* rate)
{
    if (row < 0 || row >= shownCount())
        return false;
    *entry = row < shownKeptCount ? &keptRow(shownKept[row]) : &progressRows[row - shownKeptCount];
    *rate = row < shownKeptCount ? 0 : progressRates[row - shownKeptCount];
    return true;
}

// ASCII into a wide buffer of `size` units, cut to fit.
void widenAscii(const char* ascii, WCHAR* text, int size)
{
    int i = 0;
    for (; ascii[i] && i < size - 1; ++i)
        text[i] = static_cast<unsigned char>(ascii[i]);
    text[i] = L'\0';
}

// "1,234,567": the digits in threes, as the Japanese system writes them.
void groupDigits(std::uint64_t value, char* text)
{
    char reversed[32];
    int count = 0;
    do {
        if (count % 4 == 3)
            reversed[count++] = ',';
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    std::reverse_copy(reversed, reversed + count, text);
    text[count] = '\0';
}

// "1.5 MB": a rate's number and unit, for the text of the answer in progress.
void rateText(double bytesPerSecond, WCHAR* text, int size)
{
    static const wchar_t* const Units[] = {L"B", L"KB", L"MB", L"GB"};
    int unit = 0;
    for (; unit < 3 && bytesPerSecond >= 1024; ++unit)
        bytesPerSecond /= 1024;
    if (unit == 0)
        std::swprintf(text, size, L"%d %ls", static_cast<int>(bytesPerSecond), Units[unit]);
    else
        std::swprintf(text, size, L"%.1f %ls", bytesPerSecond, Units[unit]);
}

void resultText(const RequestEntry& entry, double rate, WCHAR* text, int size)
{
    if (entry.result != RequestResult::InProgress || entry.fileSize < 0) {
        std::swprintf(text, size, L"%ls", resultTexts[static_cast<int>(entry.result)]);
        return;
    }
    int percent = entry.fileSize > 0 ? static_cast<int>(entry.bodyBytes * 100 / entry.fileSize) : 100;
    WCHAR speed[32];
    rateText(rate, speed, 32);
    std::swprintf(text, size, sendingFormat, percent, speed);
}

// The text of one cell. Nothing of the request is shown as it came: its
// method and path are escaped, so that no byte of it can act on whatever
// the text is copied into.
void cellText(const RequestEntry& entry, double rate, int column, WCHAR* text, int size)
{
    char ascii[CellUnits + 1];
    const auto* octets = reinterpret_cast<const unsigned char*>(&entry.clientAddress);
    switch (column) {
    case TimeColumn:
        requestTimeText(entry, ascii);
        break;
    case ClientColumn:
        std::snprintf(ascii, sizeof ascii, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
        break;
    case RequestColumn: {
        std::size_t length = escapeRequestText(entry.method, entry.methodLength, false, ascii);
        ascii[length++] = ' ';
        std::size_t kept = std::min<std::size_t>(entry.pathLength, RecordedPathBytes);
        escapeRequestText(entry.path, kept, entry.pathLength > RecordedPathBytes, ascii + length);
        break;
    }
    case ResultColumn:
        resultText(entry, rate, text, size);
        return;
    case BytesColumn: {
        groupDigits(static_cast<std::uint64_t>(std::max<std::int64_t>(entry.bodyBytes, 0)), ascii);
        // The file's size beside what went out, while it goes out and where
        // it stopped short.
        bool partial = entry.result == RequestResult::InProgress || entry.result == RequestResult::CutOff;
        if (partial && entry.fileSize >= 0) {
            std::strcat(ascii, " / ");
            groupDigits(static_cast<std::uint64_t>(entry.fileSize), ascii + std::strlen(ascii));
        }
        break;
    }
    case DurationColumn:
        std::snprintf(ascii, sizeof ascii, "%u.%02u", entry.durationMs / 1000, entry.durationMs % 1000 / 10);
        break;
    default:
        ascii[0] = '\0';
    }
    widenAscii(ascii, text, size);
}

HWND accessList()
{
    return GetDlgItem(accessWindow, IDC_ACCESS_LIST);
}

void rebuildShownRows()
{
    shownKeptCount = 0;
    for (int place = 0; place < keptCount; ++place)
        if (!notFoundOnly || keptRow(place).result == RequestResult::NotFound)
            shownKept[shownKeptCount++] = place;
}

// Keeps a finished entry; the oldest row scrolls off when all are taken.
// True when that row was shown.
bool keepRow(const RequestEntry& entry)
{
    if (keptCount < RecordCapacity) {
        keptRows[(keptStart + keptCount++) % RecordCapacity] = entry;
        return false;
    }
    bool shown = !notFoundOnly || keptRows[keptStart].result == RequestResult::NotFound;
    keptRows[keptStart] = entry;
    keptStart = (keptStart + 1) % RecordCapacity;
    ++notShown;
    return shown;
}

// The entries finished since the last reading, and in the same hold of the
// record as the last of them the answers in progress (`*progressCount`, -1
// when the rounds ran out first), so that a request that closes meanwhile is
// in one or the other. Gives how many finished; `dropped` counts the shown
// rows that scrolled off for them.
int readFinishedRows(int* dropped, RequestEntry* progress, int* progressCount)
{
    RequestEntry batch[RecordReadLimit];
    int total = 0;
    // Every entry the record holds, and no more rounds than that takes: a
    // listener that goes on recording meanwhile waits for the next reading.
    for (int round = 0; round <= RecordCapacity / RecordReadLimit; ++round) {
        int count = readRequestRecordAndProgress(&nextEntry, batch, RecordReadLimit, &notShown, progress,
                                                 progressCount);
        for (int i = 0; i < count; ++i)
            *dropped += keepRow(batch[i]);
        total += count;
        if (*progressCount >= 0)
            break;
    }
    return total;
}

bool sameRequest(const RequestEntry& a, const RequestEntry& b)
{
    return a.receivedSeconds == b.receivedSeconds && a.clientAddress == b.clientAddress &&
           a.methodLength == b.methodLength && a.pathLength == b.pathLength &&
           std::memcmp(a.method, b.method, a.methodLength) == 0 &&
           std::memcmp(a.path, b.path, std::min<std::size_t>(a.pathLength, RecordedPathBytes)) == 0;
}

// The answers in progress now, `count` of them, each with its rate since the
// last reading (since its start, when it is new). True when there are some,
// now or before.
bool takeProgressRows(const RequestEntry* now, int count)
{
    double rates[RecordOpenCapacity];
    count = std::clamp(count, 0, RecordOpenCapacity);
    for (int i = 0; i < count; ++i) {
        std::int64_t bytes = now[i].bodyBytes;
        std::int64_t ms = now[i].durationMs;
        for (int j = 0; j < progressCount; ++j)
            if (sameRequest(now[i], progressRows[j]) && now[i].durationMs > progressRows[j].durationMs) {
                bytes -= progressRows[j].bodyBytes;
                ms -= progressRows[j].durationMs;
                break;
            }
        rates[i] = ms > 0 ? static_cast<double>(bytes) * 1000 / static_cast<double>(ms) : 0;
    }
    bool any = count > 0 || progressCount > 0;
    std::copy(now, now + count, progressRows);
    std::copy(rates, rates + count, progressRates);
    progressCount = count;
    return any;
}

// The list's selection moved up by `dropped` rows, as the rows under it
// did; those that scrolled off lose theirs.
void shiftSelection(HWND list, int dropped)
{
    static int selected[ShownCapacity];
    int count = 0;
    for (int row = -1; count < ShownCapacity && (row = ListView_GetNextItem(list, row, LVNI_SELECTED)) != -1;)
        selected[count++] = row;
    int focused = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
    // Nothing to move, as while rows merely go by: the list is left alone,
    // as a change for every row costs a pass over them all.
    if (count == 0 && focused < 0)
        return;
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (int i = 0; i < count; ++i)
        if (selected[i] >= dropped)
            ListView_SetItemState(list, selected[i] - dropped, LVIS_SELECTED, LVIS_SELECTED);
    if (focused >= dropped)
        ListView_SetItemState(list, focused - dropped, LVIS_FOCUSED, LVIS_FOCUSED);
}

bool showsLastRow(HWND list)
{
    int count = ListView_GetItemCount(list);
    return count == 0 || ListView_GetTopIndex(list) + ListView_GetCountPerPage(list) >= count;
}

// The list told of its new rows. The newest is scrolled into view if the
// last row was in view before, as a terminal does; otherwise the rows in
// view stay in view while older ones scroll off above them.
void relist(bool followEnd, int dropped)
{
    HWND list = accessList();
    if (dropped > 0)
        shiftSelection(list, dropped);
    // Once the rows are all taken, new ones only push old ones off: the
    // count stays, and telling the list again would cost it its scroll bar's
    // update four times a second.
    int count = shownCount();
    if (ListView_GetItemCount(list) != count)
        ListView_SetItemCountEx(list, count, LVSICF_NOSCROLL);
    if (followEnd && count > 0) {
        ListView_EnsureVisible(list, count - 1, FALSE);
    } else if (dropped > 0) {
        RECT row = {};
        ListView_GetItemRect(list, 0, &row, LVIR_BOUNDS);
        ListView_Scroll(list, 0, -dropped * (row.bottom - row.top));
    }
}

void showStatusLine()
{
    int waiting = waitingConnectionsNow();
    if (waiting == shownWaiting && notShown == shownNotShown)
        return;
    shownWaiting = waiting;
    shownNotShown = notShown;
    char waitingText[32], notShownText[32];
    groupDigits(static_cast<std::uint64_t>(std::max(waiting, 0)), waitingText);
    groupDigits(notShown, notShownText);
    WCHAR waitingWide[32], notShownWide[32], line[192];
    widenAscii(waitingText, waitingWide, 32);
    widenAscii(notShownText, notShownWide, 32);
    std::swprintf(line, 192, statusFormat, waitingWide, notShownWide);
    SetDlgItemTextW(accessWindow, IDC_ACCESS_STATUS, line);
}

void clearFinishedRows()
{
    keptStart = keptCount = 0;
    notShown = 0;
    rebuildShownRows();
    ListView_SetItemState(accessList(), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    relist(true, 0);
    showStatusLine();
}

void filterRows(bool onlyNotFound)
{
    notFoundOnly = onlyNotFound;
    rebuildShownRows();
    ListView_SetItemState(accessList(), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    relist(true, 0);
}

// The selected rows as Unicode text: a line each, tabs between the cells.
void copySelectedRows()
{
    HWND list = accessList();
    std::wstring text;
    WCHAR cell[CellUnits + 1];
    const RequestEntry* entry;
    double rate;
    for (int row = -1; (row = ListView_GetNextItem(list, row, LVNI_SELECTED)) != -1;) {
        if (!shownRow(row, &entry, &rate))
            break;
        for (int column = 0; column < ColumnCount; ++column) {
            cellText(*entry, rate, column, cell, CellUnits + 1);
            if (column > 0)
                text += L'\t';
            text += cell;
        }
        text += L"\r\n";
    }
    if (text.empty() || putTextOnClipboard(accessWindow, text.c_str(), text.size()))
        return;
    WCHAR busy[WideTextUnits];
    LoadStringW(appInstance, IDS_ACCESS_CLIPBOARD_BUSY, busy, WideTextUnits);
    MessageBoxW(accessWindow, busy, wideText(ConfirmationCaption).text, MB_OK);
}

// The controls in the client area, in pixels of a 96-DPI screen: the check
// box and the clear button at the top, the list's label over the list, the
// line under it.
void layOut(int width, int height)
{
    const int margin = atAccessDpi(8), buttonWidth = atAccessDpi(88), buttonHeight = atAccessDpi(24);
    const int lineHeight = atAccessDpi(18), labelTop = margin + buttonHeight + atAccessDpi(6);
    const int listTop = labelTop + lineHeight;
    const int lineTop = std::max(listTop, height - margin - lineHeight);
    struct Place { int id, x, y, width, height; };
    const Place places[] = {
        {IDC_ACCESS_NOT_FOUND_ONLY, margin, margin, width - 3 * margin - buttonWidth, buttonHeight},
        {IDC_ACCESS_CLEAR, width - margin - buttonWidth, margin, buttonWidth, buttonHeight},
        {IDC_ACCESS_LIST_LABEL, margin, labelTop, width - 2 * margin, lineHeight - atAccessDpi(4)},
        {IDC_ACCESS_LIST, margin, listTop, width - 2 * margin, lineTop - atAccessDpi(4) - listTop},
        {IDC_ACCESS_STATUS, margin, lineTop + atAccessDpi(2), width - 2 * margin, lineHeight - atAccessDpi(2)},
    };
    for (const Place& p : places)
        MoveWindow(GetDlgItem(accessWindow, p.id), p.x, p.y, std::max(p.width, 0), std::max(p.height, 0), TRUE);
}

void makeColumns(HWND list)
{
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP);
    for (int column = 0; column < ColumnCount; ++column) {
        WCHAR heading[32];
        LoadStringW(appInstance, IDS_ACCESS_TIME + column, heading, 32);
        LVCOLUMNW header = {};
        header.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        // Numbers to the right (the first column cannot be).
        header.fmt = column >= BytesColumn ? LVCFMT_RIGHT : LVCFMT_LEFT;
        header.cx = atAccessDpi(ColumnWidths[column]);
        header.pszText = heading;
        SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&header));
    }
}

void loadTexts()
{
    for (int result = 0; result < 6; ++result)
        LoadStringW(appInstance, IDS_ACCESS_SENDING + result, resultTexts[result], 32);
    LoadStringW(appInstance, IDS_ACCESS_SENDING_PERCENT, sendingFormat, 64);
    LoadStringW(appInstance, IDS_ACCESS_STATUS_LINE, statusFormat, 128);
}

void startAccessWindow(HWND window)
{
    accessWindow = window;
    // The window follows a change of scale itself (followDpiChange): on
    // Windows 10 1703 and later the dialog manager would otherwise scale it
    // too. Looked up, not linked, so that the program still starts before.
    using DpiChangeBehavior = BOOL(WINAPI*)(HWND, int, int);
    static const auto setBehavior = reinterpret_cast<DpiChangeBehavior>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior")));
    constexpr int DisableAll = 1;  // DDC_DISABLE_ALL
    if (setBehavior)
        setBehavior(window, DisableAll, DisableAll);
    accessDpi = windowDpi(window);
    loadTexts();
    if (!accessKeys)
        accessKeys = LoadAcceleratorsW(appInstance, MAKEINTRESOURCEW(IDR_ACCESS_ACCELERATORS));
    makeColumns(GetDlgItem(window, IDC_ACCESS_LIST));
    keptStart = keptCount = progressCount = shownKeptCount = 0;
    notFoundOnly = false;
    nextEntry = notShown = 0;
    shownWaiting = -1;
    shownNotShown = UINT64_MAX;
}

// The window moved to a screen of another scale, or its screen's scale
// changed: it takes the place Windows suggests, its font and columns grow
// or shrink with the scale, and its controls are laid out anew.
void followDpiChange(HWND window, UINT dpi, const RECT& suggested)
{
    HWND list = GetDlgItem(window, IDC_ACCESS_LIST);
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), sizeof font, &font);
    // The template's size in points, made anew for the new scale: scaling
    // the height in pixels would round it differently from the font Windows
    // makes for a window opened there.
    int points = MulDiv(std::abs(font.lfHeight), 72, accessDpi);
    font.lfHeight = -MulDiv(points, dpi, 72);
    HFONT made = CreateFontIndirectW(&font);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(made), TRUE);
    if (scaledFont)
        DeleteObject(scaledFont);
    scaledFont = made;
    for (int column = 0; column < ColumnCount; ++column)
        ListView_SetColumnWidth(list, column, MulDiv(ListView_GetColumnWidth(list, column), dpi, accessDpi));
    accessDpi = dpi;
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(window, &client);
    layOut(client.right, client.bottom);
}

// A cell's text into the list's own buffer, cut to fit: a buffer of ours
// handed back would have to outlive the notifications that follow.
void giveCellText(NMLVDISPINFOW& request)
{
    WCHAR cell[CellUnits + 1];
    const RequestEntry* entry;
    double rate;
    LVITEMW& item = request.item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0 || !shownRow(item.iItem, &entry, &rate))
        return;
    cellText(*entry, rate, item.iSubItem, cell, CellUnits + 1);
    std::size_t length = std::min(std::wcslen(cell), static_cast<std::size_t>(item.cchTextMax - 1));
    std::wmemcpy(item.pszText, cell, length);
    item.pszText[length] = L'\0';
}

// The list's own search as a key is typed in it (and the text an input
// method commits there) finds no row: the rows are not the list's to search,
// and the selection stays where the user put it. The dialog's answer left
// as it is, 0, would select the first row.
INT_PTR answerFindItem(HWND window)
{
    SetWindowLongPtrW(window, DWLP_MSGRESULT, -1);
    return TRUE;
}

void endAccessWindow()
{
    KillTimer(accessWindow, UpdateTimer);
    accessWindow = nullptr;
    if (scaledFont)
        DeleteObject(scaledFont);
    scaledFont = nullptr;
}

}  // namespace

void updateAccessWindow()
{
    if (!accessWindow)
        return;
    bool followEnd = showsLastRow(accessList());
    int shownBefore = shownKeptCount, dropped = 0;
    RequestEntry inProgress[RecordOpenCapacity];
    int inProgressCount = -1;
    bool finished = readFinishedRows(&dropped, inProgress, &inProgressCount) > 0;
    // A listener recording faster than the rounds read leaves the answers in
    // progress as they were, until the next reading.
    bool progress = inProgressCount >= 0 && takeProgressRows(inProgress, inProgressCount);
    if (finished) {
        rebuildShownRows();
        relist(followEnd, std::min(dropped, shownBefore));
        InvalidateRect(accessList(), nullptr, FALSE);
    } else if (progress) {
        // Only the answers in progress changed, in place, at the end.
        relist(followEnd, 0);
        ListView_RedrawItems(accessList(), shownKeptCount, std::max(shownKeptCount, shownCount() - 1));
    }
    showStatusLine();
}

void showAccessWindow(HWND owner)
{
    if (!accessWindow) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&classes);
        if (!CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_ACCESS_WINDOW), owner, AccessWindowProc, 0))
            return;
        // At first a little below and right of the main window, wide enough
        // for every column; then where the user puts it, while the program
        // runs.
        RECT frame;
        GetWindowRect(owner, &frame);
        SetWindowPos(accessWindow, nullptr, frame.left + atAccessDpi(32), frame.top + atAccessDpi(32),
                     atAccessDpi(820), atAccessDpi(440), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(accessWindow, DM_REPOSITION, 0, 0);
    }
    ShowWindow(accessWindow, IsIconic(accessWindow) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(accessWindow);
}

bool takeAccessWindowMessage(MSG& message)
{
    if (!accessWindow || (message.hwnd != accessWindow && !IsChild(accessWindow, message.hwnd)))
        return false;
    return TranslateAcceleratorW(accessWindow, accessKeys, &message) || IsDialogMessageW(accessWindow, &message);
}

INT_PTR CALLBACK AccessWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        startAccessWindow(window);
        // The focus goes to the first tab stop, the list.
        return TRUE;
    case WM_SHOWWINDOW:
        // Read only while shown: hidden by the user, or with the main window
        // minimised, the window costs nothing.
        if (wParam) {
            updateAccessWindow();
            SetTimer(window, UpdateTimer, UpdateMs, nullptr);
        } else {
            KillTimer(window, UpdateTimer);
        }
        return FALSE;
    case WM_TIMER:
        if (wParam != UpdateTimer)
            return FALSE;
        updateAccessWindow();
        return TRUE;
    case WM_SIZE:
        layOut(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_GETMINMAXINFO: {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize = {atAccessDpi(420), atAccessDpi(200)};
        return TRUE;
    }
    case WM_DPICHANGED:
        followDpiChange(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return TRUE;
    case WM_SYSCOLORCHANGE:
        // Windows tells the top-level windows alone; the list keeps a copy
        // of the system's colours, which a change of theme makes stale.
        SendMessageW(accessList(), message, wParam, lParam);
        return FALSE;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom != IDC_ACCESS_LIST)
            return FALSE;
        if (header->code == LVN_ODFINDITEMW || header->code == LVN_ODFINDITEMA)
            return answerFindItem(window);
        if (header->code == LVN_GETDISPINFOW)
            giveCellText(*reinterpret_cast<NMLVDISPINFOW*>(lParam));
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_ACCESS_NOT_FOUND_ONLY:
            filterRows(IsDlgButtonChecked(window, IDC_ACCESS_NOT_FOUND_ONLY) == BST_CHECKED);
            return TRUE;
        case IDC_ACCESS_CLEAR:
            clearFinishedRows();
            return TRUE;
        case IDC_ACCESS_SELECT_ALL:
            ListView_SetItemState(accessList(), -1, LVIS_SELECTED, LVIS_SELECTED);
            return TRUE;
        case IDC_ACCESS_COPY:
            copySelectedRows();
            return TRUE;
        case IDCANCEL:
            // Esc: hidden, its rows kept.
            ShowWindow(window, SW_HIDE);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        ShowWindow(window, SW_HIDE);
        return TRUE;
    case WM_NCDESTROY:
        endAccessWindow();
        return FALSE;
    default:
        return FALSE;
    }
}
