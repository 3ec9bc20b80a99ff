#include "platform/output.h"

#include <windows.h>

bool standardOutputIsTerminal()
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetFileType(out) == FILE_TYPE_CHAR && GetConsoleMode(out, &mode);
}

// Each LF goes out as CR LF, as the C runtime's text mode writes the rest of
// the program's output: a file or a pipe gets one kind of line end. The
// lines go out in pieces of at most 64 KiB, which a console takes at once.
bool writeStandardOutput(const char* data, std::size_t size)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return false;
    static char piece[65536];
    while (size > 0) {
        DWORD length = 0;
        for (; size > 0 && length < sizeof piece - 1; ++data, --size) {
            if (*data == '\n')
                piece[length++] = '\r';
            piece[length++] = *data;
        }
        for (DWORD done = 0; done < length;) {
            DWORD written = 0;
            if (!WriteFile(out, piece + done, length - done, &written, nullptr) || written == 0)
                return false;
            done += written;
        }
    }
    return true;
}
