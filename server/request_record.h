// The record of what the server serves: one entry per request received, the
// last RecordCapacity of them, in fixed memory, for the front ends to show.
// It is global and outlives a run: a listener that a stop left behind inside
// a file call may still record into it while the next run's listener does.
//
// The listener never waits on a reader: recording takes the lock for a short
// copy when an entry opens and when it closes, and the bytes of an answer in
// progress go into an atomic counter. A reader copies at most a bounded
// number of entries per hold and learns how many it missed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Finished entries kept; older ones are overwritten.
constexpr int RecordCapacity = 1000;
// The bytes of a request's method and path that an entry keeps.
constexpr int RecordedMethodBytes = 16;
constexpr int RecordedPathBytes = 200;
// Answers in progress that can be read at once: the running listener's, and
// those of listeners that stops left behind inside a file call.
constexpr int RecordOpenCapacity = 4;

enum class RequestResult : std::uint8_t {
    // The answer is still going out.
    InProgress,
    // The whole answer went out.
    Sent,
    // The not-found page went out.
    NotFound,
    // This request wrote DATA/index.html and sent it.
    TestPage,
    // No "GET /": nothing was sent.
    NotGet,
    // Fewer body bytes went out than the length line said: a failed send, a
    // failed or short read, or a stop.
    CutOff,
};

struct RequestEntry {
    // Counts every entry ever closed, from 1; 0 for one in progress.
    std::uint64_t number;
    // When the request was received: seconds since 1970 (UTC).
    std::int64_t receivedSeconds;
    // The client's IPv4 address, network byte order.
    std::uint32_t clientAddress;
    // The bytes before the request's first blank, at most RecordedMethodBytes.
    std::uint8_t methodLength;
    char method[RecordedMethodBytes];
    // What the server looked up: from the request's first '/' up to the next
    // blank. At most RecordedPathBytes of it are kept; pathLength is the
    // whole length.
    std::uint32_t pathLength;
    char path[RecordedPathBytes];
    RequestResult result;
    // Body bytes sent (so far, while in progress), and the file's size; -1
    // when there is no file (the not-found page, not GET).
    std::int64_t bodyBytes;
    std::int64_t fileSize;
    // From the request's receipt to the end of its answer, the drain of the
    // connection's close not counted (to the moment of reading, while in
    // progress).
    std::uint32_t durationMs;
};

// The listener's side, on its own thread. Opens the entry of the request in
// requestBuffer, just received from `clientAddress` (network order). Gives
// the time of its receipt (steadyMs).
std::uint64_t recordRequestOpen(std::uint32_t clientAddress);
// The request handler's side: the file found and its size; that this
// request wrote the test page; body bytes that went out, once the answer is
// over (or the not-found page's).
//
// While a file's body goes out, the handler counts the bytes sent in a local
// of its own and shows the count after each piece in the BodyBytesShown that
// recordRequestFile gave: a store with release order, which is a plain store
// on x86, so what the record costs does not grow with the answer. Readers load
// it with acquire order before the file size, which was stored before it.
using BodyBytesShown = std::atomic<std::int64_t>;
BodyBytesShown& recordRequestFile(std::int64_t fileSize);
void recordRequestWroteTestPage();
void recordRequestBodySent(std::int64_t bytes);
// Closes the open entry with the handler's result (0, -1, -2).
void recordRequestClose(int handlerResult);

// Connections accepted that have not sent their request yet: not entries.
void recordWaitingConnections(int count);
int waitingConnectionsNow();

// Copies finished entries numbered `*next` on, oldest first: at most
// `capacity`, and never more than RecordReadLimit in one hold of the lock.
// `*missed` grows by the entries from `*next` on that were overwritten before
// they could be read; `*next` moves past what was given. Gives the count
// copied.
constexpr int RecordReadLimit = 256;
int readRequestRecord(std::uint64_t* next, RequestEntry* entries, int capacity, std::uint64_t* missed);
// The same, and in the same hold, once the entries given reach the newest,
// the answers in progress, oldest first, into `progress` (room for
// RecordOpenCapacity): so that a request that closes meanwhile is in one
// list or the other, never in neither. `*progressCount` is their count, or
// -1 while finished entries remain to be read.
int readRequestRecordAndProgress(std::uint64_t* next, RequestEntry* entries, int capacity, std::uint64_t* missed,
                                 RequestEntry* progress, int* progressCount);
// Sleeps until an entry numbered `next` or later has closed, until
// wakeRequestRecordReaders has been called since requestRecordWakes gave
// `wakesSeen`, or for `timeoutMs` (-1: no limit). True when such an entry is
// there.
bool waitForRequestRecord(std::uint64_t next, std::uint64_t wakesSeen, int timeoutMs);
std::uint64_t requestRecordWakes();
void wakeRequestRecordReaders();

// "HH:MM:SS" of the entry's receipt in local time, as the access log
// reckons it; `text` holds 9 bytes.
void requestTimeText(const RequestEntry& entry, char* text);
// The request's method or path as text that cannot act on a terminal or
// mislead a reader: bytes below 0x20, 0x7F and bytes above 0x7F as \xNN, a
// backslash as \\, and "..." after a path that was cut. `text` holds
// RecordedEscapedBytes; gives the length written, without the zero.
constexpr std::size_t RecordedEscapedBytes = 4 * RecordedPathBytes + 4;
std::size_t escapeRequestText(const char* bytes, std::size_t kept, bool cut, char* text);
