// The request lines' writer. It reads the engine's record as entries close
// and writes from a buffer of its own, straight to standard output: to a
// terminal as the lines come, to a file or a pipe in blocks.
#include "headless/request_lines.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/net.h"
#include "platform/output.h"
#include "server/text.h"

namespace {

// Entries taken from the record at a time.
constexpr int EntriesPerRead = 64;
constexpr std::size_t BufferBytes = 64 * 1024;
// To a file or a pipe: the writer gathers the lines of this long, or of
// this many requests, before it reads again, so that a busy server costs it
// few wake-ups. The count keeps it well inside the record: a fast server
// closes more than the whole record in 20 ms.
constexpr int GatherMs = 20;
constexpr std::uint64_t GatherEntries = RecordCapacity / 4;
// The longest a line waits in the buffer before it is written.
constexpr int BlockMs = 500;

// Never destroyed: at the end this thread may still be blocked in a write,
// and go on while the exit runs the destructors.
std::mutex& controlLock = *new std::mutex;
std::condition_variable& controlChanged = *new std::condition_variable;
bool ending = false;
bool shown = false;
bool ended = false;
const char* endText = "";

char buffer[BufferBytes];
std::size_t used = 0;

std::uint64_t nowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Whether the writer is to end; `mayWrite`, whether its lines may go out.
bool isEnding(bool* mayWrite)
{
    std::lock_guard<std::mutex> hold(controlLock);
    *mayWrite = shown || ending;
    return ending;
}

// A write that fails (the reader has gone) drops the block: there is nobody
// to tell.
void flush()
{
    if (used > 0)
        writeStandardOutput(buffer, used);
    used = 0;
}

// "HH:MM:SS" of an entry; a second's many entries convert once.
const char* timeOf(const RequestEntry& entry)
{
    static std::int64_t seconds = -1;
    static char text[9];
    if (entry.receivedSeconds != seconds) {
        requestTimeText(entry, text);
        seconds = entry.receivedSeconds;
    }
    return text;
}

// Takes every finished entry there is into the buffer, writing it out
// whenever it fills. Gives whether any came.
bool takeEntries(std::uint64_t* next)
{
    RequestEntry entries[EntriesPerRead];
    bool any = false;
    for (;;) {
        std::uint64_t missed = 0;
        int count = readRequestRecord(next, entries, EntriesPerRead, &missed);
        if (missed > 0) {
            if (BufferBytes - used < RequestLineCapacity)
                flush();
            used += formatNotShownLine(missed, buffer + used);
        }
        for (int i = 0; i < count; ++i) {
            if (BufferBytes - used < RequestLineCapacity)
                flush();
            used += formatRequestLine(entries[i], timeOf(entries[i]), buffer + used);
        }
        any = any || count > 0 || missed > 0;
        if (count < EntriesPerRead)
            return any;
    }
}

void writeLines()
{
    const bool terminal = standardOutputIsTerminal();
    std::uint64_t next = 1;
    std::uint64_t dueMs = 0;  // when the buffer's first line must be out
    for (;;) {
        // Read before the end is looked at: a wake between the two is then
        // not lost.
        std::uint64_t wakes = requestRecordWakes();
        bool mayWrite = false;
        bool last = isEnding(&mayWrite);
        if (takeEntries(&next) && dueMs == 0)
            dueMs = nowMs() + BlockMs;
        if (mayWrite && (terminal || last || used >= BufferBytes / 2 || (dueMs != 0 && nowMs() >= dueMs))) {
            flush();
            dueMs = 0;
        }
        if (last)
            break;
        if (!terminal)
            waitForRequestRecord(next + GatherEntries - 1, wakes, GatherMs);
        int timeoutMs = -1;
        if (mayWrite && dueMs != 0) {
            std::uint64_t now = nowMs();
            timeoutMs = dueMs > now ? static_cast<int>(dueMs - now) : 0;
        }
        waitForRequestRecord(next, wakes, timeoutMs);
    }
}

void writeLastText(bool eachRequest)
{
    if (eachRequest) {
        writeLines();
    } else {
        std::unique_lock<std::mutex> hold(controlLock);
        controlChanged.wait(hold, [] { return ending; });
    }
    writeStandardOutput(endText, std::strlen(endText));
    std::lock_guard<std::mutex> hold(controlLock);
    ended = true;
    controlChanged.notify_all();
}

} // namespace

std::size_t formatRequestLine(const RequestEntry& entry, const char* time, char* line)
{
    char* out = appendText(line, time);
    char address[16];
    netAddressText(entry.clientAddress, address);
    out = appendText(appendText(out, " "), address);
    *out++ = ' ';
    out += escapeRequestText(entry.method, entry.methodLength, false, out);
    *out++ = ' ';
    std::size_t kept = entry.pathLength < RecordedPathBytes ? entry.pathLength : RecordedPathBytes;
    out += escapeRequestText(entry.path, kept, entry.pathLength > kept, out);
    switch (entry.result) {
    case RequestResult::Sent: {
        std::uint32_t centis = (entry.durationMs + 5) / 10;
        out = appendDecimal(appendText(out, " sent "), entry.bodyBytes);
        out = appendDecimal(appendText(out, " bytes in "), centis / 100);
        *out++ = '.';
        *out++ = static_cast<char>('0' + centis / 10 % 10);
        *out++ = static_cast<char>('0' + centis % 10);
        out = appendText(out, " s");
        break;
    }
    case RequestResult::NotFound:
        out = appendText(out, " not found");
        break;
    case RequestResult::TestPage:
        out = appendText(appendDecimal(appendText(out, " test page, "), entry.bodyBytes), " bytes");
        break;
    case RequestResult::NotGet:
        out = appendText(out, " not GET");
        break;
    case RequestResult::CutOff:
        out = appendDecimal(appendText(out, " cut off after "), entry.bodyBytes);
        if (entry.fileSize >= 0)
            out = appendDecimal(appendText(out, " of "), entry.fileSize);
        out = appendText(out, " bytes");
        break;
    case RequestResult::InProgress:
        out = appendText(out, " in progress");
        break;
    }
    *out++ = '\n';
    return static_cast<std::size_t>(out - line);
}

std::size_t formatNotShownLine(std::uint64_t count, char* line)
{
    char* out = appendDecimal(appendText(line, "... "), static_cast<std::int64_t>(count));
    out = appendText(out, count == 1 ? " request not shown\n" : " requests not shown\n");
    return static_cast<std::size_t>(out - line);
}

bool startRequestLines(bool eachRequest)
{
    try {
        // Detached: at the end it may still be blocked in a write that
        // nobody takes, and the process must end all the same.
        std::thread(writeLastText, eachRequest).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void showRequestLines()
{
    {
        std::lock_guard<std::mutex> hold(controlLock);
        shown = true;
    }
    wakeRequestRecordReaders();
}

void endRequestLines(const char* lastText, int waitMs)
{
    std::unique_lock<std::mutex> hold(controlLock);
    endText = lastText;
    ending = true;
    controlChanged.notify_all();
    hold.unlock();
    wakeRequestRecordReaders();
    hold.lock();
    controlChanged.wait_for(hold, std::chrono::milliseconds(waitMs), [] { return ended; });
}
