// The two system calls that an answer makes for every kilobyte it sends.
// glibc's send and read are thread cancellation points: in a process with
// more than one thread, each marks itself cancellable and back around the
// call, two atomic operations that cost this server some 5 % of its CPU on a
// large file. No thread of this program is ever cancelled, so on Linux they
// go to the kernel directly; elsewhere they are the C library's.
#pragma once

#include <sys/socket.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

inline ssize_t uncancellableSend(int s, const void* data, size_t size, int flags)
{
#if defined(__linux__) && defined(SYS_sendto)
    return syscall(SYS_sendto, s, data, size, flags, nullptr, 0);
#else
    return send(s, data, size, flags);
#endif
}

inline ssize_t uncancellableRead(int fd, void* buffer, size_t size)
{
#if defined(__linux__) && defined(SYS_read)
    return syscall(SYS_read, fd, buffer, size);
#else
    return read(fd, buffer, size);
#endif
}
