#include "ui/wide_text.h"

#include <algorithm>
#include <cstring>

// Shift_JIS is Windows' code page 932, with Microsoft's own mappings (the
// wave dash, the trail byte 0x5C) that the compiler wrote the texts with.
constexpr UINT ShiftJis = 932;

WideText wideText(const char* sjis)
{
    WideText wide;
    // Every byte gives at most one unit, so this many bytes always fit.
    int bytes = static_cast<int>(std::min(std::strlen(sjis), std::size_t{WideTextUnits - 1}));
    wide.length = MultiByteToWideChar(ShiftJis, 0, sjis, bytes, wide.text, WideTextUnits - 1);
    wide.text[wide.length] = L'\0';
    return wide;
}

void sjisWindowText(HWND window, char* bytes, int size)
{
    // Every character gives at least one byte: the first size - 1 bytes come
    // from the first size - 1 characters at most.
    WCHAR wide[WideTextUnits];
    int units = GetWindowTextW(window, wide, std::min(size, WideTextUnits));
    char all[2 * WideTextUnits];
    int length = WideCharToMultiByte(ShiftJis, 0, wide, units, all, sizeof all, nullptr, nullptr);
    length = std::min(length, size - 1);
    std::memcpy(bytes, all, length);
    bytes[length] = '\0';
}

int sjisMessageBox(HWND owner, const char* text, const char* caption, UINT type)
{
    return MessageBoxW(owner, wideText(text).text, wideText(caption).text, type);
}
