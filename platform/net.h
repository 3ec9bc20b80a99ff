// The socket layer the engine is written against: Winsock on Windows, BSD
// sockets elsewhere. Every blocking call can be ended early from another
// thread by netWake, which leaves the handle itself open so that its owner
// closes it exactly once.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
using Socket = SOCKET;
using NetStartupData = WSADATA;
constexpr Socket NoSocket = INVALID_SOCKET;
#else
#include <netinet/in.h>
using Socket = int;
struct NetStartupData {};
constexpr Socket NoSocket = -1;
#endif

// Ends another thread's netWaitReadable: once given, it stays given, so a
// wait that begins after it ends at once too. Linux: an eventfd. Windows: a
// UDP socket on the loopback address that sends to itself, since select
// waits on sockets alone.
struct NetWaker {
    Socket handle;
};
constexpr int NetFailurePauseMs = 50;

// Reasons a call failed, as far as the front ends care to name them.
enum class NetFailure { Other, AddressInUse, PermissionDenied, AddressUnavailable };

// Socket-layer start-up and clean-up (WSAStartup 2.2 / WSACleanup). Each
// successful netStartup is balanced by one netCleanup. Returns 0 on success.
int netStartup(NetStartupData* startupData);
void netCleanup();

// The host's own name, into a buffer of `size` bytes; false if it can't be read.
bool netHostName(char* name, std::size_t size);

// The host's IPv4 address among those Windows' lookup of its own name gives
// (interface addresses, non-loopback ones first when there are any): the
// first whose adapter is up and has a default gateway, else the first.
// Network byte order. False when the host has none.
bool netHostAddress(const char* hostName, std::uint32_t* address);

#ifdef _WIN32
// The adapter that holds `address` (network byte order): its name, which is
// its GUID in braces, as the network list knows it, and whether it is Wi-Fi
// or Ethernet. False when no adapter holds it, or the adapters cannot be read.
struct NetAdapter {
    char name[64];
    bool wifi;
    bool ethernet;
};
bool netAdapterOf(std::uint32_t address, NetAdapter* adapter);
#endif

// Dotted-decimal text of a network-order IPv4 address; `text` holds 16 bytes.
void netAddressText(std::uint32_t address, char* text);
// Network-order address of dotted-decimal text, or INADDR_NONE.
std::uint32_t netParseAddress(const char* text);

Socket netOpenStream();
bool netBind(Socket s, const sockaddr_in& address);
// Listens with the deepest backlog the system allows; also gives accepted
// connections their receive and send time-outs.
bool netListen(Socket s, int ioTimeoutMs);
// The port a bound socket ended up on, host byte order (for port 0).
std::uint16_t netLocalPort(Socket s);
NetFailure netLastFailure();
// The system's error number behind netLastFailure, and behind a failed
// netWakerOpen: WSAGetLastError on Windows, errno elsewhere.
int netLastError();

// Waits for the next connection, or takes it at once after netWaitReadable
// has said that the listening socket has one; NoSocket when the call failed
// or was woken.
Socket netAccept(Socket listening, sockaddr_in* peer);
// After netAccept gave NoSocket on this thread: whether the next accept may
// follow at once. It may after a time-out, an interruption, a wake or a
// client that gave up before it was accepted; not when the system has no
// descriptor or buffer to spare, where the next accept would fail at once
// too.
bool netAcceptMayRetryAtOnce();
bool netWakerOpen(NetWaker* waker);
// From any thread, as often as it likes, until the owner closes it.
void netWakerGive(const NetWaker& waker);
void netWakerClose(const NetWaker& waker);

// Waits until each socket of `sockets` that is ready can be read without
// blocking (a listening socket: a connection to take; a connection: bytes,
// or the peer's close or reset), until the waker is given, or for
// `timeoutMs` (-1: no limit). Marks `ready` for every socket ready. The count
// of ready sockets; 0 after the time-out; -1 when woken, or when the wait
// failed. A failed wait first pauses for as long as NetFailurePauseMs or
// until the waker is given, so that a caller that tries again cannot spin.
int netWaitReadable(const Socket* sockets, int count, const NetWaker& waker, int timeoutMs, bool* ready);

// One receive of at most `size` bytes. >0 bytes received, 0 the peer closed,
// -1 failure, time-out or wake.
long netReceive(Socket s, char* buffer, std::size_t size);
// As netReceive, but without waiting for long: NetNothingYet when neither
// bytes nor the peer's close have come within a millisecond (Linux), or at
// once (Windows, where a wait lasts at least a clock tick, about 15.6 ms).
constexpr long NetNothingYet = -2;
long netReceiveArrived(Socket s, char* buffer, std::size_t size);
// Sends all `size` bytes; false at the first failure (peer gone, woken, or no
// progress within the socket's time-out). Never raises SIGPIPE.
bool netSend(Socket s, const char* data, std::size_t size);
// Gives a connection a send buffer of `bytes` (SO_SNDBUF), so that sends up
// to that many bytes return without waiting for the peer. It stays that size:
// the system's own growth of the buffer ends for this connection. The size
// granted, in the same terms, which a system's cap may make smaller; 0 when
// the call failed.
int netSetSendBuffer(Socket s, int bytes);
// Ends our direction of the connection, then discards what the peer still
// sends until it closes, for at most `maxMs` milliseconds.
void netDrain(Socket s, int maxMs);
void netClose(Socket s);

// From another thread: makes the call blocked on `s` and every later call on
// it fail at once. A call that starts at the very moment of the wake may miss
// it, so a caller that must end a thread repeats the wake until that thread
// has ended; repeating it is harmless. The handle stays valid until its owner
// calls netClose, and no wake may come after that.
void netWake(Socket s);
