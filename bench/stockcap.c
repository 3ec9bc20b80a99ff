/* Preloaded into harborlight-serve by bench/link.py.
 * STOCK_WMEM_MAX=N: a send buffer asked for with SO_SNDBUF is capped at N
 * bytes before Linux doubles it, as a stock kernel's net.core.wmem_max
 * (212992) caps it. The machine's own cap may be larger, and a network
 * namespace cannot lower it.
 * FIXED_SNDBUF=N: every accepted connection gets SO_SNDBUF N at once, and
 * the program's own requests are ignored: a fixed size, to weigh against the
 * program's rule. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/socket.h>

typedef int SetOption(int, int, int, const void*, socklen_t);

static SetOption* realSetsockopt(void)
{
    static SetOption* real;
    if (!real)
        real = (SetOption*)dlsym(RTLD_NEXT, "setsockopt");
    return real;
}

int setsockopt(int s, int level, int name, const void* value, socklen_t length)
{
    if (level == SOL_SOCKET && name == SO_SNDBUF && length == sizeof(int)) {
        if (getenv("FIXED_SNDBUF"))
            return 0;
        const char* cap = getenv("STOCK_WMEM_MAX");
        if (cap && *(const int*)value > atoi(cap)) {
            int capped = atoi(cap);
            return realSetsockopt()(s, level, name, &capped, length);
        }
    }
    return realSetsockopt()(s, level, name, value, length);
}

int accept4(int s, struct sockaddr* address, socklen_t* length, int flags)
{
    static int (*real)(int, struct sockaddr*, socklen_t*, int);
    if (!real)
        real = (int (*)(int, struct sockaddr*, socklen_t*, int))dlsym(RTLD_NEXT, "accept4");
    int accepted = real(s, address, length, flags);
    const char* fixed = getenv("FIXED_SNDBUF");
    if (accepted >= 0 && fixed) {
        int bytes = atoi(fixed);
        realSetsockopt()(accepted, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    }
    return accepted;
}
