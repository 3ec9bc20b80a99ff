#include "platform/net.h"
#include "platform/host_address.h"
#include "platform/unix/uncancellable.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

static thread_local int lastError;
// How long a receive of what has arrived waits for a request still on its way.
constexpr int ArrivalWaitMs = 1;

int netStartup(NetStartupData*) { return 0; }
void netCleanup() {}

bool netHostName(char* name, std::size_t size)
{
    if (gethostname(name, size) != 0)
        return false;
    name[size - 1] = '\0';
    return true;
}

namespace {

constexpr std::size_t MaxCandidates = 16;
constexpr std::size_t MaxGatewayInterfaces = 8;

// The interfaces that a default route leaves through a gateway, as the main
// routing table lists them.
struct GatewayInterfaces {
    char names[MaxGatewayInterfaces][IFNAMSIZ];
    std::size_t count = 0;

    // `label` is an address's label: the interface's name, or the name
    // followed by ":" and an alias (a name itself never holds a colon).
    bool carry(const char* label) const
    {
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t length = std::strlen(names[i]);
            if (std::strncmp(label, names[i], length) == 0 && (label[length] == '\0' || label[length] == ':'))
                return true;
        }
        return false;
    }
};

// None when the table cannot be read: every address then counts as having no
// gateway, and the first is taken.
GatewayInterfaces defaultGatewayInterfaces()
{
    GatewayInterfaces found;
    std::FILE* routes = std::fopen("/proc/net/route", "re");
    if (!routes)
        return found;
    char line[256];
    while (std::fgets(line, sizeof line, routes) && found.count < MaxGatewayInterfaces) {
        char name[IFNAMSIZ];
        unsigned destination, gateway, flags, mask;
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the
        // heading line does not scan.
        if (std::sscanf(line, "%15s %x %x %x %*s %*s %*s %x", name, &destination, &gateway, &flags, &mask) != 5)
            continue;
        if (destination == 0 && mask == 0 && gateway != 0 && (flags & RTF_UP) && (flags & RTF_GATEWAY))
            std::memcpy(found.names[found.count++], name, sizeof name);
    }
    std::fclose(routes);
    return found;
}

} // namespace

// Windows answers a lookup of its own name with the addresses of its
// interfaces. The resolver here would often say 127.0.1.1 from /etc/hosts and
// hide the server from the network, so the interfaces are asked directly: the
// up interfaces' addresses in getifaddrs' order, loopback only when there is
// no other, and among them the first on an interface with a default gateway.
bool netHostAddress(const char*, std::uint32_t* address)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    GatewayInterfaces gateways = defaultGatewayInterfaces();
    HostAddressCandidate candidates[MaxCandidates];
    std::size_t count = 0;
    bool foundLoopback = false;
    std::uint32_t loopback = 0;
    for (ifaddrs* entry = list; entry && count < MaxCandidates; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP))
            continue;
        std::uint32_t candidate = reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
        if (entry->ifa_flags & IFF_LOOPBACK) {
            if (!foundLoopback)
                loopback = candidate;
            foundLoopback = true;
        } else {
            candidates[count++] = {candidate, (entry->ifa_flags & IFF_RUNNING) != 0, gateways.carry(entry->ifa_name)};
        }
    }
    freeifaddrs(list);
    if (count == 0 && foundLoopback)
        candidates[count++] = {loopback, true, false};
    if (count == 0)
        return false;
    *address = chooseHostAddress(candidates, count);
    return true;
}

void netAddressText(std::uint32_t address, char* text)
{
    in_addr a;
    a.s_addr = address;
    inet_ntop(AF_INET, &a, text, 16);
}

std::uint32_t netParseAddress(const char* text)
{
    return inet_addr(text);
}

Socket netOpenStream()
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    lastError = errno;
    return s;
}

bool netBind(Socket s, const sockaddr_in& address)
{
    // Lets a start right after a stop take the port back while the last
    // connections linger in TIME_WAIT; a port that another socket listens on
    // is still refused.
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bool bound = bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    lastError = errno;
    return bound;
}

bool netListen(Socket s, int ioTimeoutMs)
{
    // Accepted sockets inherit both time-outs. The listening socket's own
    // receive time-out only makes an idle accept return now and then; the
    // listener's poll does not heed it.
    timeval timeout{ioTimeoutMs / 1000, (ioTimeoutMs % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    bool listening = listen(s, SOMAXCONN) == 0;
    lastError = errno;
    return listening;
}

std::uint16_t netLocalPort(Socket s)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

NetFailure netLastFailure()
{
    switch (lastError) {
    case EADDRINUSE: return NetFailure::AddressInUse;
    case EACCES: return NetFailure::PermissionDenied;
    case EADDRNOTAVAIL: return NetFailure::AddressUnavailable;
    default: return NetFailure::Other;
    }
}

int netLastError()
{
    return lastError;
}

Socket netAccept(Socket listening, sockaddr_in* peer)
{
    socklen_t length = sizeof *peer;
    int accepted = accept4(listening, reinterpret_cast<sockaddr*>(peer), &length, SOCK_CLOEXEC);
    lastError = accepted < 0 ? errno : 0;
    return accepted;
}

bool netAcceptMayRetryAtOnce()
{
    switch (lastError) {
    case EAGAIN:  // the time-out
    case EINTR:
    case EINVAL:  // woken by shutdown
    case ECONNABORTED:
    // Errors of a connection that failed before it was taken, which
    // accept(2) passes on.
    case EPROTO:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENONET:
    case ENOPROTOOPT:
        return true;
    default:
        // EMFILE, ENFILE, ENOBUFS, ENOMEM and whatever else would only fail
        // again.
        return false;
    }
}

bool netWakerOpen(NetWaker* waker)
{
    waker->handle = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    lastError = waker->handle >= 0 ? 0 : errno;
    return waker->handle >= 0;
}

void netWakerGive(const NetWaker& waker)
{
    // Never read, so it stays readable; a full counter would still be.
    std::uint64_t one = 1;
    ssize_t written = write(waker.handle, &one, sizeof one);
    (void)written;
}

void netWakerClose(const NetWaker& waker)
{
    close(waker.handle);
}

int netWaitReadable(const Socket* sockets, int count, const NetWaker& waker, int timeoutMs, bool* ready)
{
    constexpr int MaxWaited = 64;
    pollfd waited[MaxWaited + 1];
    if (count > MaxWaited)
        count = MaxWaited;
    waited[0] = {waker.handle, POLLIN, 0};
    for (int i = 0; i < count; ++i)
        waited[i + 1] = {sockets[i], POLLIN, 0};
    int result = poll(waited, static_cast<nfds_t>(count + 1), timeoutMs);
    if (result < 0) {
        // Also EINVAL when the descriptor limit is below the count: the
        // waker alone still fits.
        int pause = timeoutMs < 0 || timeoutMs > NetFailurePauseMs ? NetFailurePauseMs : timeoutMs;
        poll(waited, 1, pause);
        return -1;
    }
    if (waited[0].revents)
        return -1;
    int found = 0;
    for (int i = 0; i < count; ++i) {
        // POLLHUP and POLLERR too: the receive then finds the close or the
        // reset at once.
        ready[i] = waited[i + 1].revents != 0;
        found += ready[i];
    }
    return found;
}

long netReceive(Socket s, char* buffer, std::size_t size)
{
    return recv(s, buffer, size, 0);
}

long netReceiveArrived(Socket s, char* buffer, std::size_t size)
{
    ssize_t got = recv(s, buffer, size, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // A client connects and then writes: under load the accept often
        // comes between the two, and the request follows within
        // microseconds. Waiting for it on this connection alone is far
        // cheaper than a wait over every connection, and a silent one costs
        // the clients behind it no more than this millisecond.
        pollfd connection{s, POLLIN, 0};
        if (poll(&connection, 1, ArrivalWaitMs) <= 0)
            return NetNothingYet;
        got = recv(s, buffer, size, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return NetNothingYet;
    }
    return got;
}

bool netSend(Socket s, const char* data, std::size_t size)
{
    while (size > 0) {
        ssize_t sent = uncancellableSend(s, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Linux doubles the size asked for, for its own bookkeeping of the queued
// segments (at a Wi-Fi segment size about 1.6 bytes for each byte of data),
// so that `bytes` of data fit, and reports the doubled size. It caps the
// request at net.core.wmem_max: a stock kernel's 212,992 bytes hold some
// 270 KB of an answer.
int netSetSendBuffer(Socket s, int bytes)
{
    int granted = 0;
    socklen_t length = sizeof granted;
    if (setsockopt(s, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) != 0 ||
        getsockopt(s, SOL_SOCKET, SO_SNDBUF, &granted, &length) != 0)
        return 0;
    return granted / 2;
}

void netDrain(Socket s, int maxMs)
{
    shutdown(s, SHUT_WR);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(maxMs);
    char discard[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return;
        pollfd waiting{s, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(left)) <= 0)
            return;
        if (recv(s, discard, sizeof discard, MSG_DONTWAIT) <= 0)
            return;
    }
}

void netClose(Socket s)
{
    close(s);
}

// shutdown() ends a blocked accept, receive or send on Linux, and every later
// one, while the descriptor stays ours to close.
void netWake(Socket s)
{
    shutdown(s, SHUT_RDWR);
}
