#include "platform/net.h"
#include "platform/host_address.h"

#include <iphlpapi.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>

#include <atomic>

// Every socket blocks, as the plainest Winsock server's do: one call per
// accept, receive and send; only a connection's first receive is an
// overlapped one, which can tell that nothing has arrived yet without a
// call more. While connections that have sent nothing wait aside, the
// listener waits with select, over its listening socket, them and a waker,
// and accepts or receives only what select found ready.
// select asks the sockets' state each time it is called; the event of
// WSAEventSelect would not serve, since under Wine 8 the listening socket's
// FD_ACCEPT is now and then never signalled for a connection that waits in
// the backlog. The time-outs are set once on the listening socket; accepted
// sockets inherit them.
//
// netWake ends another thread's blocking call with CancelIoEx, which "cancels
// I/O operations in the current process, regardless of which thread created
// the I/O operation", a blocking Winsock call included; the call then fails
// with ERROR_OPERATION_ABORTED. The handle stays open, so its value cannot be
// given to another socket while the blocked thread still holds it. A woken
// socket is also marked, and every later call on it fails at once. A wake
// that comes between the mark's check and the call's start finds nothing to
// cancel, so the caller repeats it until the thread it wakes has ended.
namespace {

// The woken sockets; lock-free, so that the listener's check before every
// call costs no more than a few loads.
constexpr int WokenCapacity = 4;
std::atomic<SOCKET> wokenSockets[WokenCapacity] = {INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET};
thread_local int lastError;

bool woken(SOCKET s)
{
    for (const std::atomic<SOCKET>& w : wokenSockets)
        if (w == s)
            return true;
    return false;
}

// The handle a cancel must name: the base provider's, should a layered
// provider stand between it and the caller.
HANDLE baseHandle(SOCKET s)
{
    SOCKET base = INVALID_SOCKET;
    DWORD size = 0;
    if (WSAIoctl(s, SIO_BASE_HANDLE, nullptr, 0, &base, sizeof base, &size, nullptr, nullptr) != 0)
        base = s;
    return reinterpret_cast<HANDLE>(base);
}

} // namespace

int netStartup(NetStartupData* startupData)
{
    return WSAStartup(MAKEWORD(2, 2), startupData);
}

void netCleanup()
{
    WSACleanup();
}

bool netHostName(char* name, std::size_t size)
{
    if (gethostname(name, static_cast<int>(size)) != 0)
        return false;
    name[size - 1] = '\0';
    return true;
}

namespace {

constexpr std::size_t MaxCandidates = 16;

// Every adapter with its IPv4 addresses and gateways, as GetAdaptersAddresses
// gives them (freed with std::free); null when they cannot be read.
IP_ADAPTER_ADDRESSES* readAdapters()
{
    const ULONG flags = GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                        GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    IP_ADAPTER_ADDRESSES* adapters = nullptr;
    ULONG size = 16 * 1024;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // An adapter may appear between the call that gives the size and the
    // next, so a buffer found short is tried again a few times.
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        std::free(adapters);
        adapters = static_cast<IP_ADAPTER_ADDRESSES*>(std::malloc(size));
        if (!adapters)
            return nullptr;
        result = GetAdaptersAddresses(AF_INET, flags, nullptr, adapters, &size);
    }
    if (result == NO_ERROR)
        return adapters;
    std::free(adapters);
    return nullptr;
}

bool holdsAddress(const IP_ADAPTER_ADDRESSES& adapter, std::uint32_t address)
{
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter.FirstUnicastAddress; unicast; unicast = unicast->Next) {
        const sockaddr* a = unicast->Address.lpSockaddr;
        if (a && a->sa_family == AF_INET && reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr == address)
            return true;
    }
    return false;
}

// Marks the candidates whose adapter is up and has a default gateway, as
// GetAdaptersAddresses tells; leaves every mark unset when it cannot tell.
void markAdapters(HostAddressCandidate* candidates, std::size_t count)
{
    IP_ADAPTER_ADDRESSES* adapters = readAdapters();
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter; adapter = adapter->Next) {
        for (std::size_t i = 0; i < count; ++i) {
            if (holdsAddress(*adapter, candidates[i].address)) {
                candidates[i].up = adapter->OperStatus == IfOperStatusUp;
                candidates[i].hasGateway = adapter->FirstGatewayAddress != nullptr;
            }
        }
    }
    std::free(adapters);
}

} // namespace

// The lookup lists the adapters' addresses in Windows' binding order, which
// often puts a virtual adapter (WSL, Hyper-V, VirtualBox, a VPN) first; the
// adapters' gateways tell which address the LAN can reach.
bool netHostAddress(const char* hostName, std::uint32_t* address)
{
    hostent* entry = gethostbyname(hostName);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0])
        return false;
    HostAddressCandidate candidates[MaxCandidates];
    std::size_t count = 0;
    for (char** listed = entry->h_addr_list; *listed && count < MaxCandidates; ++listed) {
        candidates[count] = {0, false, false};
        std::memcpy(&candidates[count].address, *listed, 4);
        ++count;
    }
    markAdapters(candidates, count);
    *address = chooseHostAddress(candidates, count);
    return true;
}

bool netAdapterOf(std::uint32_t address, NetAdapter* found)
{
    IP_ADAPTER_ADDRESSES* adapters = readAdapters();
    const IP_ADAPTER_ADDRESSES* adapter = adapters;
    while (adapter && !holdsAddress(*adapter, address))
        adapter = adapter->Next;
    if (adapter) {
        std::strncpy(found->name, adapter->AdapterName ? adapter->AdapterName : "", sizeof found->name - 1);
        found->name[sizeof found->name - 1] = '\0';
        found->wifi = adapter->IfType == IF_TYPE_IEEE80211;
        found->ethernet = adapter->IfType == IF_TYPE_ETHERNET_CSMACD;
    }
    std::free(adapters);
    return adapter != nullptr;
}

void netAddressText(std::uint32_t address, char* text)
{
    in_addr a;
    a.s_addr = address;
    const char* formed = inet_ntoa(a);
    std::strncpy(text, formed ? formed : "", 15);
    text[15] = '\0';
}

std::uint32_t netParseAddress(const char* text)
{
    return inet_addr(text);
}

Socket netOpenStream()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    lastError = WSAGetLastError();
    return s;
}

bool netBind(Socket s, const sockaddr_in& address)
{
    // A plain bind. SO_EXCLUSIVEADDRUSE would keep other programs off the
    // port, but Microsoft warns that with it, once a listening socket "accepts
    // a connection and is then subsequently closed", the port cannot be bound
    // again "until the original connection becomes inactive". The server
    // closes first, so every served page leaves a connection in TIME_WAIT for
    // up to four minutes, and a stop and a start on the same port would fail.
    // (Wine does not model this, so no test here shows it.)
    bool bound = bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    lastError = WSAGetLastError();
    return bound;
}

bool netListen(Socket s, int ioTimeoutMs)
{
    // Accepted sockets inherit both time-outs; accept itself waits without one.
    DWORD timeout = static_cast<DWORD>(ioTimeoutMs);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    bool listening = listen(s, SOMAXCONN) == 0;
    lastError = WSAGetLastError();
    return listening;
}

std::uint16_t netLocalPort(Socket s)
{
    sockaddr_in address{};
    int length = sizeof address;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

NetFailure netLastFailure()
{
    switch (lastError) {
    case WSAEADDRINUSE: return NetFailure::AddressInUse;
    case WSAEACCES: return NetFailure::PermissionDenied;
    case WSAEADDRNOTAVAIL: return NetFailure::AddressUnavailable;
    default: return NetFailure::Other;
    }
}

int netLastError()
{
    return lastError;
}

Socket netAccept(Socket listening, sockaddr_in* peer)
{
    if (woken(listening)) {
        lastError = WSAEINTR;
        return INVALID_SOCKET;
    }
    int length = sizeof *peer;
    SOCKET accepted = accept(listening, reinterpret_cast<sockaddr*>(peer), &length);
    lastError = accepted == INVALID_SOCKET ? WSAGetLastError() : 0;
    return accepted;
}

bool netAcceptMayRetryAtOnce()
{
    switch (lastError) {
    case WSAEINTR:
    case WSA_OPERATION_ABORTED:  // woken by CancelIoEx
    case WSAETIMEDOUT:
    case WSAEWOULDBLOCK:
    case WSAECONNRESET:  // the client gave up before it was accepted
    case WSAECONNABORTED:
        return true;
    default:
        // WSAEMFILE, WSAENOBUFS and whatever else would only fail again.
        return false;
    }
}

// select waits on sockets alone, so the waker is one: a UDP socket on the
// loopback address, connected to itself. Giving it sends a datagram to
// itself; nothing reads it, so the socket stays readable.
bool netWakerOpen(NetWaker* waker)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof self;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
        lastError = WSAGetLastError();
        if (s != INVALID_SOCKET)
            closesocket(s);
        return false;
    }
    waker->handle = s;
    return true;
}

void netWakerGive(const NetWaker& waker)
{
    send(waker.handle, "!", 1, 0);
}

void netWakerClose(const NetWaker& waker)
{
    closesocket(waker.handle);
}

int netWaitReadable(const Socket* sockets, int count, const NetWaker& waker, int timeoutMs, bool* ready)
{
    // fd_set holds FD_SETSIZE (64) sockets, the waker among them.
    if (count > FD_SETSIZE - 1)
        count = FD_SETSIZE - 1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(waker.handle, &readable);
    for (int i = 0; i < count; ++i)
        FD_SET(sockets[i], &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int result = select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit);
    if (result == SOCKET_ERROR) {
        // A socket closed under the wait, say: the waker alone still waits.
        int pause = timeoutMs < 0 || timeoutMs > NetFailurePauseMs ? NetFailurePauseMs : timeoutMs;
        fd_set wakerOnly;
        FD_ZERO(&wakerOnly);
        FD_SET(waker.handle, &wakerOnly);
        timeval pauseLimit{0, pause * 1000};
        if (select(0, &wakerOnly, nullptr, nullptr, &pauseLimit) == SOCKET_ERROR)
            Sleep(static_cast<DWORD>(pause));
        return -1;
    }
    if (FD_ISSET(waker.handle, &readable))
        return -1;
    int found = 0;
    for (int i = 0; i < count; ++i) {
        ready[i] = FD_ISSET(sockets[i], &readable) != 0;
        found += ready[i];
    }
    return found;
}

long netReceive(Socket s, char* buffer, std::size_t size)
{
    if (woken(s))
        return -1;
    int got = recv(s, buffer, static_cast<int>(size), 0);
    return got >= 0 ? got : -1;
}

// The socket blocks, so the receive is an overlapped one: what has arrived
// it takes at once, as the plain receive would; when nothing has, it is
// cancelled, and its result says whether bytes came in between, so none is
// lost. Asking with FIONREAD first would cost every request a round trip to
// the wineserver more under Wine (its completion signals the thread's event
// there); a zero-time select, more still.
long netReceiveArrived(Socket s, char* buffer, std::size_t size)
{
    if (woken(s))
        return -1;
    WSAOVERLAPPED overlapped{};
    WSABUF piece{static_cast<ULONG>(size), buffer};
    DWORD flags = 0;
    if (WSARecv(s, &piece, 1, nullptr, &flags, &overlapped, nullptr) != 0) {
        if (WSAGetLastError() != WSA_IO_PENDING)
            return -1;
        CancelIoEx(baseHandle(s), nullptr);
    }
    // Without an event the socket's handle is signalled when the receive
    // ends; one that ended at once is read from `overlapped` alone.
    DWORD got = 0;
    if (GetOverlappedResult(reinterpret_cast<HANDLE>(s), &overlapped, &got, TRUE))
        return static_cast<long>(got);
    return GetLastError() == ERROR_OPERATION_ABORTED ? NetNothingYet : -1;
}

bool netSend(Socket s, const char* data, std::size_t size)
{
    while (size > 0) {
        if (woken(s))
            return false;
        int sent = send(s, data, static_cast<int>(size), 0);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Windows counts the data itself, so the answer's size holds the answer: a
// blocking send returns once its bytes are in the buffer. Setting SO_SNDBUF
// ends Windows' dynamic send buffering for the connection, which otherwise
// sizes the buffer to the ideal send backlog (SIO_IDEAL_SEND_BACKLOG_QUERY),
// an estimate that grows with the connection and starts small: a fresh
// connection with an answer to send gains from a buffer of the answer's size
// at once. Windows grants the size asked.
int netSetSendBuffer(Socket s, int bytes)
{
    return setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0 ? bytes : 0;
}

void netDrain(Socket s, int maxMs)
{
    shutdown(s, SD_SEND);
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(maxMs);
    char discard[4096];
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline || woken(s))
            return;
        // The receive waits no longer than the drain has left.
        DWORD left = static_cast<DWORD>(deadline - now);
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&left), sizeof left);
        if (recv(s, discard, sizeof discard, 0) <= 0)
            return;
    }
}

void netClose(Socket s)
{
    for (std::atomic<SOCKET>& w : wokenSockets) {
        SOCKET marked = s;
        w.compare_exchange_strong(marked, INVALID_SOCKET);
    }
    closesocket(s);
}

void netWake(Socket s)
{
    for (std::atomic<SOCKET>& w : wokenSockets) {
        SOCKET free = INVALID_SOCKET;
        if (woken(s) || w.compare_exchange_strong(free, s))
            break;
    }
    CancelIoEx(baseHandle(s), nullptr);
}
