// What the engine's own files share beyond the public operations.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/files.h"
#include "server/server.h"

// A receive that waits longer than this ends the connection unanswered, and a
// send that makes no progress for as long ends the answer.
constexpr int ConnectionTimeoutMs = 10000;
// How long a closing connection may still take the client's unread bytes.
constexpr int LingerMs = 2000;
// The pause after an accept that failed for want of descriptors or buffers:
// long enough not to spin, short enough that the waiting client hardly
// notices once they are free again.
constexpr int AcceptRetryMs = 50;
// Connections accepted that have sent nothing yet, kept aside while the
// requests behind them are served: browsers open a few before they need
// them. While all these places are taken, new connections wait in the
// backlog.
constexpr int WaitingCapacity = 32;
// How long the longest-waiting of a full set must have been silent before it
// gives up its place to a connection in the backlog: ample for a client that
// sends as soon as its connect completes, however busy the machine.
constexpr int WaitingGraceMs = 1000;

struct WaitingConnection {
    Socket socket;
    sockaddr_in peer;
    std::uint64_t acceptedMs;
};

// What one start's listener owns. The listener thread and the stop share it;
// whichever lets go last frees it, so a run that a stop left behind inside a
// file call ends on its own and touches nothing of a later run.
struct ListenerRun {
    Socket listening = NoSocket;
    NetWaker waker{NoSocket};
    FileCaller caller{};
    // Set by the stop, before it wakes anything.
    std::atomic<bool> stopped{false};
    // Set while the listener uses the listening socket and the waiting
    // connections. Once the stop has seen it clear after setting `stopped`,
    // the listener never uses them again and the stop closes them.
    std::atomic<bool> inWait{false};
    std::atomic<bool> ended{false};
    // Guards `connection` between the listener, which sets and closes it, and
    // the stop, which wakes it.
    std::mutex lock;
    Socket connection = NoSocket;
    WaitingConnection waiting[WaitingCapacity];
    int waitingCount = 0;
    // The earliest time at which an accept that failed for want of
    // descriptors is tried again.
    std::uint64_t acceptPausedUntilMs = 0;

    // Whoever lets go last closes the waker, so that no wake can reach a
    // closed handle.
    ~ListenerRun()
    {
        if (waker.handle != NoSocket)
            netWakerClose(waker);
    }
};

// An answer up to this size goes into a fresh connection's send buffer at
// once on every system (Linux never gives less than 16 KiB), so it costs no
// call.
constexpr std::int64_t SmallAnswerBytes = 16 * 1024;
// The largest answer given a send buffer of its own size. A larger one is
// left to the system's own growth of the buffer, which a fixed size switches
// off and which serves a long transfer better.
constexpr std::int64_t WholeAnswerBytes = 4 * 1024 * 1024;
// Where the system grants less than asked (Linux caps it at
// net.core.wmem_max, 212,992 bytes on a stock kernel), a buffer of that size
// still serves an answer up to this many times it: the listener waits only
// for the answer's last bytes. A larger answer does better with the system's
// own growth of the buffer, which soon outgrows the capped size.
constexpr std::int64_t CappedAnswerFactor = 3;

// The send buffer to ask for an answer of `answerBytes`, header and body, so
// that the whole answer goes into the kernel at once and the listener takes
// the next connection while the kernel sends it; 0 leaves the system's own.
// `grantLimit`: the most the system has granted when asked for more, or 0
// while it has granted every size asked.
std::int64_t sendBufferFor(std::int64_t answerBytes, std::int64_t grantLimit);
// Gives connectionSocket that buffer, before the answer's first byte.
void makeRoomForAnswer(std::int64_t answerBytes);

// Milliseconds of a steady clock, for deadlines.
std::uint64_t steadyMs();

// Sends on connectionSocket; false once the client has gone or a stop ended
// the connection.
bool sendToClient(const char* data, std::size_t size);

// True when `path` (the request's path, without the leading '/') names a file
// inside DATA on every platform: no "..", no backslash or colon, no Windows
// device name in any segment.
bool pathStaysInData(const char* path);

// writeAccessLog for a given instant (seconds since 1970 UTC), so that the
// file name and line of any date can be checked.
int writeAccessLogAt(const char* clientAddressText, std::int64_t seconds);
