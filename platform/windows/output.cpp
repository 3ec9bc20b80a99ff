#include "platform/output.h"

#include <windows.h>

bool standardOutputIsTerminal()
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetFileType(out) == FILE_TYPE_CHAR && GetConsoleMode(out, &mode);
}

bool writeStandardOutput(const char* data, std::size_t size)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return false;
    while (size > 0) {
        DWORD written = 0;
        DWORD piece = size > 65536 ? 65536 : static_cast<DWORD>(size);
        if (!WriteFile(out, data, piece, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}
