// Files and directories below the working directory, and the clock. Names are
// byte strings as the engine forms them: the ANSI code page on Windows, the
// bytes unchanged elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#ifdef _WIN32
using FileHandle = void*;
using FileCaller = void*;
#else
using FileHandle = int;
using FileCaller = int;
#endif

extern const FileHandle NoFile;

// The calling thread, as another thread may name it to cancel its blocking
// file calls; released with fileCallerRelease.
FileCaller fileCallerOfThisThread();
void fileCallerRelease(FileCaller caller);
// Ends the file call that `caller` is blocked in, where the system allows:
// on Windows a read from an SMB share or of a cloud file being fetched
// (CancelSynchronousIo); the call then fails. Nothing when it is in none.
// Linux has no such call: a read from a hung NFS or FUSE mount waits for the
// kernel.
void fileCancelCallOf(FileCaller caller);

// Opens an existing regular file for binary reading and gives its size.
// Directories, pipes and devices are refused without blocking; NoFile then.
FileHandle fileOpenRegular(const char* name, std::int64_t* size);
// Opens for adding at the end, creating the file when missing. Only a regular
// file: a FIFO, a device or a directory under the name gives NoFile, without
// blocking.
FileHandle fileOpenAppend(const char* name);
// Creates a new file for writing; NoFile when anything at all has the name
// already, a link included (also one that points nowhere), so nothing is
// ever written over or through.
FileHandle fileCreateNew(const char* name);
// Bytes read, 0 at the end, -1 on failure.
long fileRead(FileHandle file, char* buffer, std::size_t size);
bool fileWrite(FileHandle file, const char* data, std::size_t size);
// False when the close fails, which may be where a full disk shows first.
bool fileClose(FileHandle file);
// Removes a file (not a directory); the result is not needed.
void fileRemove(const char* name);
// Result not needed: an existing directory is as good as a new one.
void makeDirectory(const char* name);

// Seconds since 1970-01-01 UTC, and their local calendar time in the
// system's time zone (on Windows: Windows' own, whatever TZ says).
std::int64_t clockSeconds();
void localCalendarTime(std::int64_t seconds, std::tm* local);
