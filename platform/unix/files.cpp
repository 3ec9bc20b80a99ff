#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const FileHandle NoFile = -1;

FileHandle fileOpenRegular(const char* name, std::int64_t* size)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return NoFile;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return NoFile;
    }
    *size = info.st_size;
    return fd;
}

FileHandle fileOpenWrite(const char* name, bool append)
{
    int flags = O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    int fd = open(name, flags, 0644);
    return fd < 0 ? NoFile : fd;
}

bool fileExists(const char* name)
{
    return access(name, F_OK) == 0;
}

long fileRead(FileHandle file, char* buffer, std::size_t size)
{
    ssize_t got;
    do
        got = read(file, buffer, size);
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

void fileClose(FileHandle file)
{
    close(file);
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
    time_t t = static_cast<time_t>(seconds);
    localtime_r(&t, local);
}
