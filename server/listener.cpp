// The listener: one request served at a time, one receive each. Connections
// that have sent nothing yet wait aside, so that a browser's spare connection
// never holds the requests queued behind it.
#include <chrono>
#include <cstring>
#include <mutex>

#include "server/engine.h"
#include "server/keep_awake.h"
#include "server/request_record.h"

thread_local char requestBuffer[RequestCapacity + 1];
thread_local sockaddr_in clientAddress;

std::uint64_t steadyMs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool sendToClient(const char* data, std::size_t size)
{
    return netSend(connectionSocket, data, size);
}

// Over Wi-Fi a round trip takes 5 to 40 ms. With the buffer a connection
// starts with, the send of a larger answer waits for the phone's
// acknowledgements, round trip after round trip, while the connections
// behind it wait in the backlog. Handed to the kernel whole, the answer goes
// on to the phone while the next connection is served.
std::int64_t sendBufferFor(std::int64_t answerBytes, std::int64_t grantLimit)
{
    if (answerBytes <= SmallAnswerBytes || answerBytes > WholeAnswerBytes)
        return 0;
    if (grantLimit > 0 && answerBytes > CappedAnswerFactor * grantLimit)
        return 0;
    return answerBytes;
}

// The system's cap, as the first grant below the size asked shows it. The
// listener alone writes it, but a listener that a stop left behind may still
// be ending beside the next.
static std::atomic<std::int64_t> sendBufferLimit{0};

void makeRoomForAnswer(std::int64_t answerBytes)
{
    std::int64_t bytes = sendBufferFor(answerBytes, sendBufferLimit.load(std::memory_order_relaxed));
    if (bytes == 0)
        return;
    int granted = netSetSendBuffer(connectionSocket, static_cast<int>(bytes));
    if (granted > 0 && granted < bytes)
        sendBufferLimit.store(granted, std::memory_order_relaxed);
}

// A request that fills the buffer, or that does not end with the blank line
// closing its header, may leave bytes unread. Closing a socket with unread
// input resets the connection, which can destroy the answer before the client
// has read it, so such connections are drained before they are closed.
static bool mayHaveUnreadInput(long received)
{
    if (received >= RequestCapacity)
        return true;
    const char* end = requestBuffer + received;
    bool crlfEnd = received >= 4 && std::memcmp(end - 4, "\r\n\r\n", 4) == 0;
    bool lfEnd = received >= 2 && std::memcmp(end - 2, "\n\n", 2) == 0;
    return !(crlfEnd || lfEnd);
}

// `received` bytes of the request are in requestBuffer; none when the client
// closed or its connection failed, which ends this connection only.
static void serveConnection(Socket connection, long received)
{
    if (received <= 0)
        return;
    requestBuffer[received] = '\0';
    bool drain = mayHaveUnreadInput(received);
    keepAwakeAt(recordRequestOpen(clientAddress.sin_addr.s_addr));
    recordRequestClose(handleRequest());
    if (drain)
        netDrain(connection, LingerMs);
}

// The waiting set changes only here, and its count is recorded at once: a
// connection that leaves it just before an answer must not be counted
// through the answer.
static void addWaiting(ListenerRun& run, const WaitingConnection& connection)
{
    run.waiting[run.waitingCount++] = connection;
    recordWaitingConnections(run.waitingCount);
}

// Takes `count` connections from the waiting set, from `index` on.
static void removeWaiting(ListenerRun& run, int index, int count = 1)
{
    std::memmove(&run.waiting[index], &run.waiting[index + count],
                 sizeof run.waiting[0] * static_cast<std::size_t>(run.waitingCount - index - count));
    run.waitingCount -= count;
    recordWaitingConnections(run.waitingCount);
}

// Closes, without an answer, the connections that were silent when the
// listener last looked and whose time is up, as a receive that timed out
// would. Only ever called right after a look that found them silent: one
// whose request came while the listener was busy elsewhere is answered.
static void closeExpired(ListenerRun& run, std::uint64_t now)
{
    // Kept in the order of their accepts, so the expired ones come first.
    int expired = 0;
    while (expired < run.waitingCount && run.waiting[expired].acceptedMs + ConnectionTimeoutMs <= now)
        netClose(run.waiting[expired++].socket);
    removeWaiting(run, 0, expired);
}

// Takes one connection from the backlog. When its request has arrived with
// it, or follows within a moment, as it mostly does, it is received and true
// returned; else the connection waits aside. The caller has made room.
static bool acceptOne(ListenerRun& run, WaitingConnection* next, long* received)
{
    WaitingConnection taken;
    std::memset(&taken.peer, 0, sizeof taken.peer);
    taken.socket = netAccept(run.listening, &taken.peer);
    std::uint64_t now = steadyMs();
    if (taken.socket == NoSocket) {
        if (!netAcceptMayRetryAtOnce())
            run.acceptPausedUntilMs = now + AcceptRetryMs;
        return false;
    }
    *received = netReceiveArrived(taken.socket, requestBuffer, RequestCapacity);
    if (*received != NetNothingYet) {
        *next = taken;
        return true;
    }
    taken.acceptedMs = now;
    addWaiting(run, taken);
    return false;
}

// When the waiting set is full, the backlog keeps the connections that come
// next, so that none is accepted only to be closed: a class opening the same
// page at once connects faster than it sends. The longest-waiting connection
// gives up its place only once it has been silent for WaitingGraceMs and the
// look that found it silent also found a connection in the backlog, so that
// a flood of silent connections cannot hold the ones behind it for long.
static bool mayAccept(const ListenerRun& run, std::uint64_t now)
{
    if (now < run.acceptPausedUntilMs)
        return false;
    return run.waitingCount < WaitingCapacity || now >= run.waiting[0].acceptedMs + WaitingGraceMs;
}

// When the listener must look again even if nothing arrives: the first
// waiting connection's time is up, it may give up its place, or an accept
// that failed may be tried again. 0 when nothing is due.
static std::uint64_t nextDueMs(const ListenerRun& run, std::uint64_t now)
{
    std::uint64_t due = 0;
    auto consider = [&due](std::uint64_t at) {
        if (due == 0 || at < due)
            due = at;
    };
    if (run.waitingCount > 0)
        consider(run.waiting[0].acceptedMs + ConnectionTimeoutMs);
    if (run.waitingCount == WaitingCapacity && now < run.waiting[0].acceptedMs + WaitingGraceMs)
        consider(run.waiting[0].acceptedMs + WaitingGraceMs);
    if (now < run.acceptPausedUntilMs)
        consider(run.acceptPausedUntilMs);
    return due;
}

// Waits on the listening socket and the waiting connections together, and
// gives the longest-waiting connection whose request (or close) has arrived,
// received into requestBuffer. False once the run is stopped.
static bool takeNextRequest(ListenerRun& run, WaitingConnection* next, long* received)
{
    Socket sockets[WaitingCapacity + 1];
    bool ready[WaitingCapacity + 1];
    for (;;) {
        if (run.stopped)
            return false;
        std::uint64_t now = steadyMs();
        bool accepting = mayAccept(run, now);
        if (run.waitingCount == 0 && accepting) {
            // Nothing waits aside: the accept waits itself, as the plainest
            // server's does, which costs a connection the least (under Wine a
            // wait before it costs a request a third of its time). The stop
            // wakes it through the listening socket.
            if (acceptOne(run, next, received))
                return true;
            continue;
        }
        int count = 0;
        for (int i = 0; i < run.waitingCount; ++i)
            sockets[count++] = run.waiting[i].socket;
        if (accepting)
            sockets[count++] = run.listening;
        std::uint64_t due = nextDueMs(run, now);
        int timeoutMs = due == 0 ? -1 : due > now ? static_cast<int>(due - now) : 0;
        int found = netWaitReadable(sockets, count, run.waker, timeoutMs, ready);
        if (found < 0 || run.stopped)
            continue;
        for (int i = 0; i < run.waitingCount; ++i) {
            if (ready[i]) {
                *next = run.waiting[i];
                removeWaiting(run, i);
                *received = netReceive(next->socket, requestBuffer, RequestCapacity);
                return true;
            }
        }
        // Every waiting connection was silent at this look.
        closeExpired(run, steadyMs());
        if (!accepting || !ready[count - 1])
            continue;
        if (run.waitingCount == WaitingCapacity) {
            netClose(run.waiting[0].socket);
            removeWaiting(run, 0);
        }
        if (acceptOne(run, next, received))
            return true;
    }
}

void Listener(ListenerRun& run)
{
    for (;;) {
        // Marked before `stopped` is looked at, and the stop sets `stopped`
        // before it looks at the mark: so either this sees the stop, or the
        // stop waits until the listening socket is no longer in use.
        run.inWait = true;
        WaitingConnection next;
        long received = 0;
        bool taken = takeNextRequest(run, &next, &received);
        run.inWait = false;
        if (!taken)
            return;
        {
            // Checked under the lock that the stop takes to wake the
            // connection: either the stop sees this connection, or this sees
            // the stop.
            std::lock_guard<std::mutex> hold(run.lock);
            if (run.stopped) {
                netClose(next.socket);
                return;
            }
            run.connection = next.socket;
        }
        connectionSocket = next.socket;
        clientAddress = next.peer;
        serveConnection(next.socket, received);
        connectionSocket = NoSocket;
        std::lock_guard<std::mutex> hold(run.lock);
        netClose(run.connection);
        run.connection = NoSocket;
    }
}
