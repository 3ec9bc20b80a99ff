#include "platform/files.h"
#include "platform/unix/uncancellable.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Sizes of 2 GiB and more, and the log's dates after 2038, must survive on
// 32-bit builds too.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");
static_assert(sizeof(time_t) == 8, "build with _TIME_BITS=64");

const FileHandle NoFile = -1;

// A FIFO, a device or a directory under the name is refused: only a regular
// file is read or written.
static FileHandle keepIfRegular(int fd, std::int64_t* size)
{
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return NoFile;
    }
    if (size)
        *size = info.st_size;
    return fd;
}

FileHandle fileOpenRegular(const char* name, std::int64_t* size)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return NoFile;
    return keepIfRegular(fd, size);
}

FileHandle fileOpenAppend(const char* name)
{
    // O_NONBLOCK as for reading: a FIFO under the name fails at once (no
    // reader) or is refused below, instead of holding the listener inside
    // open(). It stays set: on a regular file it changes nothing.
    int fd = open(name, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0)
        return NoFile;
    return keepIfRegular(fd, nullptr);
}

FileHandle fileCreateNew(const char* name)
{
    // With O_EXCL the open fails on any existing name and follows no link,
    // so what it opens is always the new regular file.
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0644);
    return fd < 0 ? NoFile : fd;
}

FileCaller fileCallerOfThisThread()
{
    return 0;
}

void fileCallerRelease(FileCaller) {}

void fileCancelCallOf(FileCaller) {}

long fileRead(FileHandle file, char* buffer, std::size_t size)
{
    ssize_t got;
    do
        got = uncancellableRead(file, buffer, size);
    while (got < 0 && errno == EINTR);
    return got;
}

bool fileWrite(FileHandle file, const char* data, std::size_t size)
{
    while (size > 0) {
        ssize_t written = write(file, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool fileClose(FileHandle file)
{
    // The descriptor is gone whatever close says: never closed again.
    return close(file) == 0;
}

void fileRemove(const char* name)
{
    unlink(name);
}

void makeDirectory(const char* name)
{
    mkdir(name, 0755);
}

std::int64_t clockSeconds()
{
    return static_cast<std::int64_t>(time(nullptr));
}

void localCalendarTime(std::int64_t seconds, std::tm* local)
{
    // localtime_r need not read the zone at all, so tzset reads it, once: a
    // tzset per call would look at TZ and /etc/localtime for every logged
    // page, which costs a logged request a tenth of its time.
    static const bool zoneRead = (tzset(), true);
    (void)zoneRead;
    time_t t = static_cast<time_t>(seconds);
    localtime_r(&t, local);
}
