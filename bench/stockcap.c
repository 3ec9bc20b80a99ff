/* Preloaded into harborlight-serve by bench/link.py: a send buffer asked for
 * with SO_SNDBUF is capped at STOCK_WMEM_MAX bytes before Linux doubles it,
 * as a stock kernel's net.core.wmem_max (212992) caps it. The machine's own
 * cap may be larger, and a network namespace cannot lower it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/socket.h>

int setsockopt(int s, int level, int name, const void* value, socklen_t length)
{
    static int (*real)(int, int, int, const void*, socklen_t);
    if (!real)
        real = (int (*)(int, int, int, const void*, socklen_t))dlsym(RTLD_NEXT, "setsockopt");
    const char* cap = getenv("STOCK_WMEM_MAX");
    if (cap && level == SOL_SOCKET && name == SO_SNDBUF && length == sizeof(int) && *(const int*)value > atoi(cap)) {
        int capped = atoi(cap);
        return real(s, level, name, &capped, length);
    }
    return real(s, level, name, value, length);
}
