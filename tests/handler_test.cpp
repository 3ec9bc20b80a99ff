// handleRequest called directly, its connection one end of a local socket
// pair that keeps every send a record of its own, so the sizes of the sends
// can be seen. Unix only: that kind of pair has no Winsock counterpart.
#ifndef _WIN32
#include "support.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <future>
#include <new>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "server/engine.h"

using namespace test;

// Heap allocations made by this process while `countingHeap` is set. The
// sanitizers bring their own allocators, so only the plain build counts.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define HARBORLIGHT_COUNTS_HEAP 1
static std::atomic<bool> countingHeap{false};
static std::atomic<long> heapAllocations{0};

extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);

extern "C" void* malloc(std::size_t size)
{
    if (countingHeap)
        ++heapAllocations;
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size)
{
    if (countingHeap)
        ++heapAllocations;
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* old, std::size_t size)
{
    if (countingHeap)
        ++heapAllocations;
    return __libc_realloc(old, size);
}
#endif

namespace {

class Handler : public WorkDirTest {
protected:
    void SetUp() override
    {
        WorkDirTest::SetUp();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends_), 0);
        connectionSocket = ends_[0];
        clientAddress.sin_family = AF_INET;
        clientAddress.sin_addr.s_addr = htonl(0x7f000001);
        logEnabled = 0;
    }
    void TearDown() override
    {
        connectionSocket = NoSocket;
        if (ends_[0] >= 0)
            close(ends_[0]);
        close(ends_[1]);
        logEnabled = 0;
        WorkDirTest::TearDown();
    }

    int handle(const std::string& request)
    {
        EXPECT_LE(request.size(), std::size_t{RequestCapacity});
        std::memcpy(requestBuffer, request.data(), request.size());
        requestBuffer[request.size()] = '\0';
        return handleRequest();
    }

    // The sends the handler made, one record each.
    std::vector<std::string> sends()
    {
        shutdown(ends_[0], SHUT_WR);
        std::vector<std::string> records;
        char record[4096];
        for (;;) {
            ssize_t got = recv(ends_[1], record, sizeof record, 0);
            if (got <= 0)
                return records;
            records.emplace_back(record, static_cast<std::size_t>(got));
        }
    }

    int ends_[2] = {-1, -1};
};

std::vector<std::size_t> sizesOf(const std::vector<std::string>& records)
{
    std::vector<std::size_t> sizes;
    for (const std::string& r : records)
        sizes.push_back(r.size());
    return sizes;
}

} // namespace

TEST_F(Handler, SendsAtMost1024BytesAtATimeWithTheHeaderInTheFirst)
{
    struct Case {
        const char* name;
        std::size_t size;
        std::vector<std::size_t> sends;
    };
    const Case cases[] = {
        {"photo.JPG", 3000, {1024, 1024, 1015}},
        {"exact.txt", 962, {1024}},  // ends with a full send: nothing follows
        {"two.txt", 961 + 1024, {1024, 1024}},
        {"one.txt", 1, {header("text/plain\n", 1).size() + 1}},
        {"over.txt", 963, {1024, 1}},  // one byte left for the last piece
        {"over2.txt", 961 + 1024 + 1, {1024, 1024, 1}},
        {"small.gif", 10, {header("image/gif\n", 10).size() + 10}},
        {"empty.png", 0, {header("image/png\n", 0).size()}},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        std::string content;
        for (std::size_t i = 0; i < c.size; ++i)
            content += static_cast<char>('a' + i % 26);
        writeFile(std::string("DATA/") + c.name, content);
        EXPECT_EQ(handle(std::string("GET /") + c.name + " HTTP/1.0\r\n\r\n"), 0) << c.name;
        std::vector<std::string> records = sends();
        EXPECT_EQ(sizesOf(records), c.sends) << c.name;
        std::string all;
        for (const std::string& r : records)
            all += r;
        EXPECT_EQ(all.substr(all.size() - c.size), content) << c.name;
    }
}

// A file that changes size while it is sent goes out no further than the
// size its length line announced: one that grows (a video still being copied
// into DATA) is cut there, one that shrinks (overwritten meanwhile) ends at
// its new end.
TEST_F(Handler, SendsNoMoreThanTheAnnouncedSizeOfAFileThatGrowsOrShrinks)
{
    // More than an answer that goes to the system whole, so that the small
    // buffer below stays as it is.
    const std::string content(static_cast<std::size_t>(WholeAnswerBytes) + 256 * 1024, 'g');
    for (std::size_t changed : {content.size() + 64 * 1024, std::size_t{64 * 1024}}) {
        TearDown();
        SetUp();
        writeFile("DATA/changing.txt", content);
        int small = 4096;  // the handler waits on a full socket long before the end
        setsockopt(ends_[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        std::string got;
        std::thread reader([&] {
            char record[4096];
            for (ssize_t n; (n = recv(ends_[1], record, sizeof record, 0)) > 0;) {
                if (got.empty())
                    std::filesystem::resize_file("DATA/changing.txt", changed);
                got.append(record, static_cast<std::size_t>(n));
            }
        });
        // On a thread of its own, as a listener's: its connection is its own too.
        auto result = std::async(std::launch::async, [this, connection = connectionSocket] {
            connectionSocket = connection;
            return handle("GET /changing.txt HTTP/1.0\r\n\r\n");
        });
        bool ended = result.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
        if (!ended)  // lets a loop that waits for the old end finish
            std::filesystem::resize_file("DATA/changing.txt", content.size());
        EXPECT_TRUE(ended) << "the send loop spins at the new end of the file";
        EXPECT_EQ(result.get(), 0);
        shutdown(ends_[0], SHUT_WR);
        reader.join();
        EXPECT_EQ(got, header("text/plain\n", content.size()) + content.substr(0, changed)) << changed;
    }
}

// A full disk: the test page that could not be written whole is removed,
// the request gets the not-found page, and the next one, with room, the page.
TEST_F(Handler, ATestPageThatCouldNotBeWrittenIsNotLeftBehind)
{
    int result = 0;
    EXPECT_TRUE(endsOnFullDisk(0, [&] { result = handle("GET / HTTP/1.0\r\n\r\n"); }));
    EXPECT_EQ(result, -2);
    EXPECT_FALSE(exists("DATA/index.html"));
    EXPECT_EQ(handle("GET / HTTP/1.0\r\n\r\n"), 0);
    EXPECT_EQ(sends(), (std::vector<std::string>{NotFound, header("text/html\n", 279) + TestPage}));
}

TEST_F(Handler, ResultsAndTheirAnswers)
{
    EXPECT_EQ(handle("GET / HTTP/1.1\r\n\r\n"), 0);
    EXPECT_EQ(sends(), std::vector<std::string>{header("text/html\n", 279) + TestPage});
    TearDown();
    SetUp();
    EXPECT_EQ(handle("GET /missing.txt HTTP/1.0\r\n\r\n"), -2);
    EXPECT_EQ(sends(), std::vector<std::string>{NotFound});
    TearDown();
    SetUp();
    EXPECT_EQ(handle("HEAD / HTTP/1.0\r\n\r\n"), -1);
    EXPECT_EQ(sends(), std::vector<std::string>{});
    EXPECT_FALSE(exists("DATA"));
}

// Nothing that is not a regular file holds a request: a FIFO where the test
// page would go, or at the day's log name with logging on, is answered at once.
TEST_F(Handler, FifosAtTheTestPageOrTheLogNeverHoldTheAnswer)
{
    setTimeZone("UTC0");
    std::filesystem::create_directories("LOG");
    std::filesystem::create_directories("DATA");
    ASSERT_EQ(mkfifo("DATA/index.html", 0644), 0);
    std::time_t now = std::time(nullptr);
    for (std::time_t t : {now, now + 5}) {  // the day may turn meanwhile
        std::tm day = *std::gmtime(&t);
        std::string name = "LOG/HarborlightLog_" + std::to_string(day.tm_year + 1900) +
                           std::to_string(day.tm_mon + 1) + std::to_string(day.tm_mday) + ".log";
        if (!exists(name)) {
            ASSERT_EQ(mkfifo(name.c_str(), 0644), 0);
        }
    }
    writeFile("DATA/page.html", "page");
    logEnabled = 1;
    std::uint64_t begun = nowMs();
    EXPECT_EQ(handle("GET / HTTP/1.0\r\n\r\n"), -2);
    EXPECT_EQ(handle("GET /page.html HTTP/1.0\r\n\r\n"), 0);
    EXPECT_LT(millisecondsSince(begun), 1000u);
    EXPECT_EQ(sends(), (std::vector<std::string>{NotFound, header("text/html\n", 4) + "page"}));
}

// A file of 2 GiB and more states its true size; the client leaving after the
// header ends the sending at once, with result 0 and without SIGPIPE.
TEST_F(Handler, HugeFileSizeAndAClientThatLeaves)
{
    const std::int64_t size = 2147483648LL + 5;
    writeSparseFile("DATA/huge.bin", size);
    close(ends_[1]);
    ends_[1] = socket(AF_UNIX, SOCK_SEQPACKET, 0);  // keeps TearDown simple
    std::uint64_t begun = nowMs();
    EXPECT_EQ(handle("GET /huge.bin HTTP/1.0\r\n\r\n"), 0);
    EXPECT_LT(millisecondsSince(begun), 1000u);

    TearDown();
    SetUp();
    writeSparseFile("DATA/huge.bin", size);
    std::thread reader([this] {
        char first[1024];
        ssize_t got = recv(ends_[1], first, sizeof first, 0);
        const std::string expected = header("text/plain\n", size);
        EXPECT_EQ(std::string(first, static_cast<std::size_t>(got > 0 ? got : 0)).substr(0, expected.size()),
                  expected);
        close(ends_[1]);
        ends_[1] = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    });
    EXPECT_EQ(handle("GET /huge.bin HTTP/1.0\r\n\r\n"), 0);
    reader.join();
}

#ifdef HARBORLIGHT_COUNTS_HEAP
TEST_F(Handler, MakesNoHeapAllocations)
{
    writeFile("DATA/photo.JPG", std::string(5000, 'j'));
    writeFile("DATA/page.html", "page");
    setTimeZone("UTC0");
    writeAccessLog("127.0.0.1");  // lets the C library load the zone first
    std::filesystem::remove_all("LOG");
    logEnabled = 1;
    const char* const requests[] = {
        "GET / HTTP/1.0\r\n\r\n",          "GET / HTTP/1.0\r\n\r\n",          "GET /photo.JPG HTTP/1.0\r\n\r\n",
        "GET /page.html HTTP/1.0\r\n\r\n", "GET /missing HTTP/1.0\r\n\r\n",   "GET /../x HTTP/1.0\r\n\r\n",
        "POST / HTTP/1.0\r\n\r\n",
    };
    for (const char* request : requests) {
        std::strcpy(requestBuffer, request);
        heapAllocations = 0;
        countingHeap = true;
        handleRequest();
        countingHeap = false;
        EXPECT_EQ(heapAllocations, 0) << request;
        sends();
        TearDown();
        SetUp();
        writeFile("DATA/photo.JPG", std::string(5000, 'j'));
        writeFile("DATA/page.html", "page");
        logEnabled = 1;
    }
}
#endif

#endif
