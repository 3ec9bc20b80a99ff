#include "platform/files.h"

#include <windows.h>

const FileHandle NoFile = INVALID_HANDLE_VALUE;

FileHandle fileOpenRegular(const char* name, std::int64_t* size)
{
    // Asked before opening: under Wine a pipe or device behind the name could
    // block the open itself.
    DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return NoFile;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return NoFile;
    LARGE_INTEGER length;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &length)) {
        CloseHandle(file);
        return NoFile;
    }
    *size = length.QuadPart;
    return file;
}

FileHandle fileOpenWrite(const char* name, bool append)
{
    HANDLE file = CreateFileA(name, append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file;
}

bool fileExists(const char* name)
{
    return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

long fileRead(FileHandle file, char* buffer, std::size_t size)
{
    DWORD got = 0;
    if (!ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr))
        return -1;
    return static_cast<long>(got);
}

bool fileWrite(FileHandle file, const char* data, std::size_t size)
{
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

void fileClose(FileHandle file)
{
    CloseHandle(file);
}

void makeDirectory(const char* name)
{
    CreateDirectoryA(name, nullptr);
}

std::int64_t clockSeconds()
{
    return static_cast<std::int64_t>(_time64(nullptr));
}

void localCalendarTime(std::int64_t seconds, std::tm* local)
{
    __time64_t t = seconds;
    _localtime64_s(local, &t);
}
