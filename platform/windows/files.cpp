#include "platform/files.h"

#include <windows.h>

const FileHandle NoFile = INVALID_HANDLE_VALUE;

// Opened straight away: a folder does not open without backup semantics, and
// Wine opens a FIFO or a device behind the name without waiting, so the file
// type afterwards is the whole check. (Asking for the attributes first cost
// every request three more stats under Wine.)
static FileHandle keepIfRegular(HANDLE file)
{
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return NoFile;
    }
    return file;
}

FileHandle fileOpenRegular(const char* name, std::int64_t* size)
{
    HANDLE file = keepIfRegular(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file == NoFile)
        return NoFile;
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length)) {
        CloseHandle(file);
        return NoFile;
    }
    *size = length.QuadPart;
    return file;
}

FileHandle fileOpenAppend(const char* name)
{
    return keepIfRegular(CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle fileCreateNew(const char* name)
{
    // CREATE_NEW fails on any existing name, a link included.
    return CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileCaller fileCallerOfThisThread()
{
    // CancelSynchronousIo needs THREAD_TERMINATE on the thread's handle.
    return OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
}

void fileCallerRelease(FileCaller caller)
{
    if (caller)
        CloseHandle(caller);
}

void fileCancelCallOf(FileCaller caller)
{
    // ERROR_NOT_FOUND: the thread is in no call that could be cancelled.
    if (caller)
        CancelSynchronousIo(caller);
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

bool fileClose(FileHandle file)
{
    return CloseHandle(file) != 0;
}

void fileRemove(const char* name)
{
    DeleteFileA(name);
}

void makeDirectory(const char* name)
{
    CreateDirectoryA(name, nullptr);
}

// FILETIME counts 100-nanosecond steps from 1601-01-01 UTC.
constexpr std::int64_t FileTimeUnitsPerSecond = 10000000;
constexpr std::int64_t SecondsFrom1601To1970 = 11644473600;

std::int64_t clockSeconds()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER units;
    units.LowPart = now.dwLowDateTime;
    units.HighPart = now.dwHighDateTime;
    return static_cast<std::int64_t>(units.QuadPart / FileTimeUnitsPerSecond) - SecondsFrom1601To1970;
}

// Windows' own time zone and its rules, not the C runtime's: that one reads a
// TZ variable when the environment has one, parses it its own way (a zone
// name such as Asia/Tokyo becomes UTC) and applies US daylight rules.
void localCalendarTime(std::int64_t seconds, std::tm* local)
{
    *local = std::tm{};
    ULARGE_INTEGER units;
    units.QuadPart = static_cast<ULONGLONG>(seconds + SecondsFrom1601To1970) * FileTimeUnitsPerSecond;
    FILETIME instant;
    instant.dwLowDateTime = units.LowPart;
    instant.dwHighDateTime = units.HighPart;
    SYSTEMTIME utc;
    SYSTEMTIME time;
    if (!FileTimeToSystemTime(&instant, &utc))
        return;
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &time))
        time = utc;
    local->tm_year = time.wYear - 1900;
    local->tm_mon = time.wMonth - 1;
    local->tm_mday = time.wDay;
    local->tm_hour = time.wHour;
    local->tm_min = time.wMinute;
    local->tm_sec = time.wSecond;
    local->tm_wday = time.wDayOfWeek;
}
