// The record of what the server serves. Finished entries live in a ring of
// RecordCapacity, numbered in the order they closed; answers in progress in a
// small table, each with its body bytes in an atomic counter that the
// listener bumps without the lock.
#include "server/request_record.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/files.h"
#include "server/engine.h"

namespace {

struct OpenSlot {
    // Under recordLock.
    bool used = false;
    std::uint64_t opened = 0;
    std::uint64_t receivedMs = 0;
    RequestEntry entry{};
    // Written by the slot's listener alone, read by anyone: the size before
    // any bytes, the bytes with release order.
    std::atomic<std::int64_t> bodyBytes{0};
    std::atomic<std::int64_t> fileSize{-1};
};

// Never destroyed: a listener that a stop left behind inside a file call,
// or a front end's thread, may still record or read while the exit runs the
// destructors.
std::mutex& recordLock = *new std::mutex;
std::condition_variable& recordClosed = *new std::condition_variable;
RequestEntry finished[RecordCapacity];
std::uint64_t closedCount = 0;
std::uint64_t openedCount = 0;
std::uint64_t wakeCount = 0;
// The lowest number a waiting reader waits for: a close wakes the readers
// only once it has reached it, so that a reader gathering many entries costs
// the listener no wake per request.
constexpr std::uint64_t NoReaderWaits = UINT64_MAX;
std::uint64_t readersWakeAt = NoReaderWaits;
OpenSlot openSlots[RecordOpenCapacity];
std::atomic<int> waitingNow{0};

// The entry the calling listener has open. Its slot is -1 when the table of
// answers in progress was full (listeners left behind by stops): the entry is
// then recorded when it closes, only not seen while in progress.
struct ThreadEntry {
    bool open = false;
    int slot = -1;
    bool sentAny = false;
    bool wroteTestPage = false;
    std::uint64_t receivedMs = 0;
    RequestEntry entry{};
    // Where the body's bytes are shown when the entry has no slot, or none
    // is open: nobody reads them.
    BodyBytesShown unseenBytes{0};
};
thread_local ThreadEntry current;

// The request's method and path, as requestBuffer holds them (zero-ended).
void takeRequestLine(RequestEntry& entry)
{
    std::size_t methodLength = std::strcspn(requestBuffer, " ");
    entry.methodLength = static_cast<std::uint8_t>(std::min<std::size_t>(methodLength, RecordedMethodBytes));
    std::memcpy(entry.method, requestBuffer, entry.methodLength);
    // The handler looks up what follows the text's first '/'.
    const char* path = std::strchr(requestBuffer, '/');
    std::size_t pathLength = path ? std::strcspn(path, " ") : 0;
    entry.pathLength = static_cast<std::uint32_t>(pathLength);
    std::memcpy(entry.path, path ? path : "", std::min<std::size_t>(pathLength, RecordedPathBytes));
}

RequestResult resultOf(const ThreadEntry& done, int handlerResult)
{
    if (handlerResult == -1)
        return RequestResult::NotGet;
    if (handlerResult == -2)
        return done.sentAny ? RequestResult::NotFound : RequestResult::CutOff;
    if (!done.sentAny || done.entry.bodyBytes < done.entry.fileSize)
        return RequestResult::CutOff;
    return done.wroteTestPage ? RequestResult::TestPage : RequestResult::Sent;
}

} // namespace

std::uint64_t recordRequestOpen(std::uint32_t clientAddress)
{
    ThreadEntry& e = current;
    e.open = true;
    e.sentAny = false;
    e.wroteTestPage = false;
    e.receivedMs = steadyMs();
    e.entry.number = 0;
    e.entry.receivedSeconds = clockSeconds();
    e.entry.clientAddress = clientAddress;
    takeRequestLine(e.entry);
    e.entry.result = RequestResult::InProgress;
    e.entry.bodyBytes = 0;
    e.entry.fileSize = -1;
    e.entry.durationMs = 0;

    std::lock_guard<std::mutex> hold(recordLock);
    e.slot = -1;
    for (int i = 0; i < RecordOpenCapacity; ++i) {
        if (!openSlots[i].used) {
            OpenSlot& slot = openSlots[i];
            slot.used = true;
            slot.opened = ++openedCount;
            slot.receivedMs = e.receivedMs;
            slot.entry = e.entry;
            slot.bodyBytes.store(0, std::memory_order_relaxed);
            slot.fileSize.store(-1, std::memory_order_relaxed);
            e.slot = i;
            break;
        }
    }
    return e.receivedMs;
}

BodyBytesShown& recordRequestFile(std::int64_t fileSize)
{
    ThreadEntry& e = current;
    if (!e.open)
        return e.unseenBytes;
    e.entry.fileSize = fileSize;
    if (e.slot < 0)
        return e.unseenBytes;
    OpenSlot& slot = openSlots[e.slot];
    // Published by the release store of the first bytes shown after it.
    slot.fileSize.store(fileSize, std::memory_order_relaxed);
    return slot.bodyBytes;
}

void recordRequestWroteTestPage()
{
    current.wroteTestPage = true;
}

void recordRequestBodySent(std::int64_t bytes)
{
    ThreadEntry& e = current;
    e.sentAny = true;
    e.entry.bodyBytes += bytes;
    if (e.open && e.slot >= 0)
        openSlots[e.slot].bodyBytes.store(e.entry.bodyBytes, std::memory_order_release);
}

void recordRequestClose(int handlerResult)
{
    ThreadEntry& e = current;
    if (!e.open)
        return;
    e.open = false;
    e.entry.result = resultOf(e, handlerResult);
    // The handler returns right after its last send, and before the drain
    // of the close: a clock read here spares one per piece sent.
    e.entry.durationMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(steadyMs() - e.receivedMs, UINT32_MAX));
    bool wake;
    {
        std::lock_guard<std::mutex> hold(recordLock);
        if (e.slot >= 0)
            openSlots[e.slot].used = false;
        // Given up with the entry: a call after this finds no slot to touch.
        e.slot = -1;
        e.entry.number = ++closedCount;
        finished[(e.entry.number - 1) % RecordCapacity] = e.entry;
        wake = closedCount >= readersWakeAt;
        if (wake)
            readersWakeAt = NoReaderWaits;
    }
    if (wake)
        recordClosed.notify_all();
}

void recordWaitingConnections(int count)
{
    waitingNow.store(count, std::memory_order_relaxed);
}

int waitingConnectionsNow()
{
    return waitingNow.load(std::memory_order_relaxed);
}

// The finished entries from `*next` on, as readRequestRecord gives them;
// under recordLock.
static int copyFinished(std::uint64_t* next, RequestEntry* entries, int capacity, std::uint64_t* missed)
{
    std::uint64_t oldest = closedCount > RecordCapacity ? closedCount - RecordCapacity + 1 : 1;
    if (*next < 1)
        *next = 1;
    if (*next < oldest) {
        *missed += oldest - *next;
        *next = oldest;
    }
    int count = 0;
    while (count < capacity && count < RecordReadLimit && *next <= closedCount) {
        entries[count++] = finished[(*next - 1) % RecordCapacity];
        ++*next;
    }
    return count;
}

// The answers in progress, oldest first; under recordLock.
static int copyInProgress(RequestEntry* entries, int capacity)
{
    const OpenSlot* inOrder[RecordOpenCapacity];
    int count = 0;
    for (const OpenSlot& slot : openSlots) {
        if (!slot.used)
            continue;
        // Oldest first: the table is tiny, so an insertion does.
        int at = count++;
        for (; at > 0 && inOrder[at - 1]->opened > slot.opened; --at)
            inOrder[at] = inOrder[at - 1];
        inOrder[at] = &slot;
    }
    count = std::min(count, capacity);
    std::uint64_t now = steadyMs();
    for (int i = 0; i < count; ++i) {
        RequestEntry& entry = entries[i];
        entry = inOrder[i]->entry;
        // The bytes first: any bytes seen come with the size stored before them.
        entry.bodyBytes = inOrder[i]->bodyBytes.load(std::memory_order_acquire);
        entry.fileSize = inOrder[i]->fileSize.load(std::memory_order_relaxed);
        entry.durationMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(now - inOrder[i]->receivedMs, UINT32_MAX));
    }
    return count;
}

int readRequestRecord(std::uint64_t* next, RequestEntry* entries, int capacity, std::uint64_t* missed)
{
    std::lock_guard<std::mutex> hold(recordLock);
    return copyFinished(next, entries, capacity, missed);
}

int readRequestRecordAndProgress(std::uint64_t* next, RequestEntry* entries, int capacity, std::uint64_t* missed,
                                 RequestEntry* progress, int* progressCount)
{
    std::lock_guard<std::mutex> hold(recordLock);
    int count = copyFinished(next, entries, capacity, missed);
    *progressCount = *next > closedCount ? copyInProgress(progress, RecordOpenCapacity) : -1;
    return count;
}

bool waitForRequestRecord(std::uint64_t next, std::uint64_t wakesSeen, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::unique_lock<std::mutex> hold(recordLock);
    while (closedCount < next && wakeCount == wakesSeen) {
        // Asked anew at every turn: the wake of another reader clears it.
        readersWakeAt = std::min(readersWakeAt, next);
        if (timeoutMs < 0)
            recordClosed.wait(hold);
        else if (recordClosed.wait_until(hold, deadline) == std::cv_status::timeout)
            break;
    }
    return closedCount >= next;
}

std::uint64_t requestRecordWakes()
{
    std::lock_guard<std::mutex> hold(recordLock);
    return wakeCount;
}

void wakeRequestRecordReaders()
{
    {
        std::lock_guard<std::mutex> hold(recordLock);
        ++wakeCount;
    }
    recordClosed.notify_all();
}

void requestTimeText(const RequestEntry& entry, char* text)
{
    std::tm local{};
    localCalendarTime(entry.receivedSeconds, &local);
    const int parts[3] = {local.tm_hour, local.tm_min, local.tm_sec};
    for (int i = 0; i < 3; ++i) {
        text[3 * i] = static_cast<char>('0' + parts[i] / 10 % 10);
        text[3 * i + 1] = static_cast<char>('0' + parts[i] % 10);
        text[3 * i + 2] = i < 2 ? ':' : '\0';
    }
}

std::size_t escapeRequestText(const char* bytes, std::size_t kept, bool cut, char* text)
{
    static const char Hex[] = "0123456789ABCDEF";
    char* out = text;
    for (std::size_t i = 0; i < kept; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\') {
            *out++ = '\\';
            *out++ = '\\';
        } else if (c < 0x20 || c >= 0x7F) {
            *out++ = '\\';
            *out++ = 'x';
            *out++ = Hex[c >> 4];
            *out++ = Hex[c & 15];
        } else {
            *out++ = static_cast<char>(c);
        }
    }
    if (cut)
        out = static_cast<char*>(std::memcpy(out, "...", 3)) + 3;
    *out = '\0';
    return static_cast<std::size_t>(out - text);
}
