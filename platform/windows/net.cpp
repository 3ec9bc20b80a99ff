#include "platform/net.h"

#include <ws2tcpip.h>

#include <cstring>

#include <atomic>
#include <mutex>

const Socket NoSocket = INVALID_SOCKET;

// Winsock has no call that ends another thread's blocking accept or receive
// and keeps the handle, so every socket runs non-blocking with an event of its
// own: a wait ends on network activity, on its time-out, or on netWake, which
// marks the socket woken and sets the event.
namespace {

struct SocketSlot {
    SOCKET socket = INVALID_SOCKET;
    WSAEVENT event = WSA_INVALID_EVENT;
    std::atomic<bool> woken{false};
    DWORD timeoutMs = INFINITE;
};

constexpr int SlotCount = 8;
constexpr DWORD AcceptRecheckMs = 50;
SocketSlot slots[SlotCount];
std::mutex slotLock;
thread_local int lastError;

SocketSlot* findSlot(SOCKET s)
{
    for (SocketSlot& slot : slots)
        if (slot.socket == s)
            return &slot;
    return nullptr;
}

bool attachSlot(SOCKET s, DWORD timeoutMs)
{
    std::lock_guard<std::mutex> hold(slotLock);
    SocketSlot* slot = findSlot(INVALID_SOCKET);
    if (!slot)
        return false;
    WSAEVENT event = WSACreateEvent();
    if (event == WSA_INVALID_EVENT)
        return false;
    if (WSAEventSelect(s, event, FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        WSACloseEvent(event);
        return false;
    }
    slot->socket = s;
    slot->event = event;
    slot->timeoutMs = timeoutMs;
    slot->woken = false;
    return true;
}

SocketSlot* slotOf(SOCKET s)
{
    std::lock_guard<std::mutex> hold(slotLock);
    return findSlot(s);
}

// Waits until the socket may make progress. False on wake or time-out.
bool waitReady(SocketSlot* slot, DWORD timeoutMs)
{
    if (!slot || slot->woken)
        return false;
    DWORD got = WSAWaitForMultipleEvents(1, &slot->event, FALSE, timeoutMs, FALSE);
    if (got != WSA_WAIT_EVENT_0 || slot->woken)
        return false;
    WSAResetEvent(slot->event);
    return true;
}

bool wouldBlock()
{
    return WSAGetLastError() == WSAEWOULDBLOCK;
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

bool netHostAddress(const char* hostName, std::uint32_t* address)
{
    hostent* entry = gethostbyname(hostName);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0])
        return false;
    std::memcpy(address, entry->h_addr_list[0], 4);
    return true;
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
    // Windows rebinds a port whose last connections are in TIME_WAIT anyway;
    // exclusive use keeps another program from binding the port beside us.
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    bool bound = bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    lastError = WSAGetLastError();
    return bound;
}

bool netListen(Socket s, int ioTimeoutMs)
{
    bool listening = listen(s, SOMAXCONN) == 0;
    lastError = WSAGetLastError();
    if (!listening)
        return false;
    if (!attachSlot(s, static_cast<DWORD>(ioTimeoutMs))) {
        lastError = WSAGetLastError();
        return false;
    }
    return true;
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

Socket netAccept(Socket listening, sockaddr_in* peer)
{
    SocketSlot* slot = slotOf(listening);
    if (!slot)
        return INVALID_SOCKET;
    for (;;) {
        if (slot->woken)
            return INVALID_SOCKET;
        int length = sizeof *peer;
        SOCKET s = accept(listening, reinterpret_cast<sockaddr*>(peer), &length);
        if (s != INVALID_SOCKET) {
            // The new socket shares the listening socket's event until it
            // gets one of its own.
            if (!attachSlot(s, slot->timeoutMs)) {
                closesocket(s);
                return INVALID_SOCKET;
            }
            return s;
        }
        // The accept is tried again at least every AcceptRecheckMs: Wine now
        // and then loses the event of an arriving connection, which would
        // otherwise wait in the backlog for good.
        if (!wouldBlock() || (!waitReady(slot, AcceptRecheckMs) && slot->woken))
            return INVALID_SOCKET;
    }
}

long netReceive(Socket s, char* buffer, std::size_t size)
{
    SocketSlot* slot = slotOf(s);
    if (!slot)
        return -1;
    const ULONGLONG deadline = GetTickCount64() + slot->timeoutMs;
    for (;;) {
        if (slot->woken)
            return -1;
        int got = recv(s, buffer, static_cast<int>(size), 0);
        if (got >= 0)
            return got;
        ULONGLONG now = GetTickCount64();
        if (!wouldBlock() || now >= deadline || !waitReady(slot, static_cast<DWORD>(deadline - now)))
            return -1;
    }
}

bool netSend(Socket s, const char* data, std::size_t size)
{
    SocketSlot* slot = slotOf(s);
    if (!slot)
        return false;
    ULONGLONG deadline = GetTickCount64() + slot->timeoutMs;
    while (size > 0) {
        if (slot->woken)
            return false;
        int sent = send(s, data, static_cast<int>(size), 0);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
            deadline = GetTickCount64() + slot->timeoutMs;
            continue;
        }
        ULONGLONG now = GetTickCount64();
        if (sent == 0 || !wouldBlock() || now >= deadline || !waitReady(slot, static_cast<DWORD>(deadline - now)))
            return false;
    }
    return true;
}

void netDrain(Socket s, int maxMs)
{
    SocketSlot* slot = slotOf(s);
    if (!slot)
        return;
    shutdown(s, SD_SEND);
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(maxMs);
    char discard[4096];
    for (;;) {
        if (slot->woken)
            return;
        int got = recv(s, discard, sizeof discard, 0);
        if (got == 0 || (got < 0 && !wouldBlock()))
            return;
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return;
        if (got < 0 && !waitReady(slot, static_cast<DWORD>(deadline - now)))
            return;
    }
}

void netClose(Socket s)
{
    WSAEVENT event = WSA_INVALID_EVENT;
    {
        std::lock_guard<std::mutex> hold(slotLock);
        if (SocketSlot* slot = findSlot(s)) {
            event = slot->event;
            slot->socket = INVALID_SOCKET;
            slot->event = WSA_INVALID_EVENT;
        }
    }
    closesocket(s);
    if (event != WSA_INVALID_EVENT)
        WSACloseEvent(event);
}

void netWake(Socket s)
{
    std::lock_guard<std::mutex> hold(slotLock);
    if (SocketSlot* slot = findSlot(s)) {
        slot->woken = true;
        WSASetEvent(slot->event);
    }
}
