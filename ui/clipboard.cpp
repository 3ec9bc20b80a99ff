#include "ui/clipboard.h"

#include <cstring>

static bool putOnClipboard(UINT format, const void* data, std::size_t bytes)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory)
        return false;
    std::memcpy(GlobalLock(memory), data, bytes);
    GlobalUnlock(memory);
    // Once set, the clipboard owns the memory.
    if (SetClipboardData(format, memory))
        return true;
    GlobalFree(memory);
    return false;
}

// The clipboard, tried up to 10 times 10 ms apart: clipboard history,
// clipboard managers and Remote Desktop open it for a moment after every
// change. False when it stayed held.
static bool openClipboardPatiently(HWND owner)
{
    for (int attempt = 1; !OpenClipboard(owner); ++attempt) {
        if (attempt == 10)
            return false;
        Sleep(10);
    }
    return true;
}

bool putTextOnClipboard(HWND owner, const WCHAR* wide, std::size_t length, const char* ascii)
{
    if (!openClipboardPatiently(owner))
        return false;
    EmptyClipboard();
    bool copied = putOnClipboard(CF_UNICODETEXT, wide, (length + 1) * sizeof(WCHAR)) &&
                  (!ascii || putOnClipboard(CF_TEXT, ascii, std::strlen(ascii) + 1));
    CloseClipboard();
    return copied;
}
