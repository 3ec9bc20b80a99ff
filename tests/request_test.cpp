// Requests answered by a running server, seen from a client outside.
#include "support.h"

#include "server/request_record.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace test;

namespace {

class Requests : public ServerTest {};

std::string get(const std::string& path)
{
    return "GET /" + path + " HTTP/1.0\r\nHost: 10.231.0.1\r\n\r\n";
}

} // namespace

TEST_F(Requests, RootOfAFreshDirectoryWritesAndServesTheTestPage)
{
    std::uint16_t port = start();
    logEnabled = 1;
    Reply reply = ask(port, "GET / HTTP/1.1\r\nHost: 10.231.0.1\r\nUser-Agent: test\r\n\r\n");

    ASSERT_EQ(TestPage.size(), 279u);
    EXPECT_EQ(reply.bytes, header("text/html\n", 279) + TestPage);
    EXPECT_EQ(reply.bytes.size(), 340u);
    EXPECT_FALSE(reply.reset);
    EXPECT_EQ(readFile("DATA/index.html"), TestPage);
    EXPECT_TRUE(exists("LOG"));
}

TEST_F(Requests, AnExistingIndexIsServedAndNeverRewritten)
{
    std::uint16_t port = start();
    for (const std::string& page : {std::string("<p>mine</p>\n"), std::string()}) {
        writeFile("DATA/index.html", page);
        EXPECT_EQ(ask(port, get("")).bytes, header("text/html\n", page.size()) + page);
        EXPECT_EQ(readFile("DATA/index.html"), page);
    }
}

TEST_F(Requests, OnlyTheEmptyPathWritesTheTestPage)
{
    std::uint16_t port = start();
    EXPECT_EQ(ask(port, get("index.html")).bytes, NotFound);
    EXPECT_FALSE(exists("DATA"));
    // The CR LF after the slash belong to the path: not the root.
    EXPECT_EQ(ask(port, "GET /\r\n").bytes, NotFound);
    EXPECT_FALSE(exists("DATA"));
}

TEST_F(Requests, AFileGoesOutWholeBehindItsHeader)
{
    std::uint16_t port = start();
    std::string photo;
    for (int i = 0; i < 3000; ++i)
        photo += static_cast<char>(i * 7 % 256);
    writeFile("DATA/photo.JPG", photo);
    EXPECT_EQ(ask(port, get("photo.JPG")).bytes, header("image/jpeg\n", 3000) + photo);
    EXPECT_EQ(header("image/jpeg\n", 3000).size(), 63u);
    EXPECT_EQ(ask(port, get("missing.txt")).bytes, NotFound);
    EXPECT_EQ(NotFound.size(), 138u);
}

TEST_F(Requests, ContentTypeComesFromTheFirstMatchAnywhereInTheName)
{
    struct Case {
        const char* name;
        const char* typeText;
    };
    const Case cases[] = {
        {"a.png.html", "text/html\n"}, {"b.html.png", "text/html\n"}, {"page.HTML", "text/html\n"},
        {"c.Html", "text/plain\n"},    {"d.jpeg", "text/plain\n"},    {"e.JPEG", "text/plain\n"},
        {"f.txt", "text/plain\n"},     {"g.GIF", "image/gif\n"},      {"h.pngx", "image/png\n"},
        {"i.jpg", "image/jpeg\n"},     {"j.gif", "image/gif\n"},      {"k.PNG", "image/png\n"},
        {"noext", "text/plain\n"},
    };
    std::uint16_t port = start();
    for (const Case& c : cases) {
        writeFile(std::string("DATA/") + c.name, c.name);
        EXPECT_EQ(ask(port, get(c.name)).bytes, header(c.typeText, std::strlen(c.name)) + c.name) << c.name;
    }
}

TEST_F(Requests, OnlyGetIsAnswered)
{
    std::uint16_t port = start();
    Reply head = ask(port, "HEAD / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(head.bytes, "");
    EXPECT_FALSE(head.timedOut);
    EXPECT_EQ(ask(port, "get / HTTP/1.0\r\n\r\n").bytes, "");
    EXPECT_FALSE(exists("DATA"));
    writeFile("DATA/form.txt", "form");
    // The path follows the first slash of the whole text, here the POST's own.
    EXPECT_EQ(ask(port, "POST /form.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\nGET /").bytes,
              header("text/plain\n", 4) + "form");
}

TEST_F(Requests, PathsAreTakenAsTheyAre)
{
    std::uint16_t port = start();
    writeFile("DATA/a%20b.html", "percent");
    writeFile("DATA/q.txt", "q");
    EXPECT_EQ(ask(port, get("a%20b.html")).bytes, header("text/html\n", 7) + "percent");
    EXPECT_EQ(ask(port, get("q.txt?x=1")).bytes, NotFound);
}

// A request is what one receive of at most 1,500 bytes gets. "GET /" closing
// the first 1,500 bytes asks for the root; beyond them it is never seen.
TEST_F(Requests, OneReceiveOfAtMost1500BytesIsTheRequest)
{
    std::uint16_t port = start();
    const std::string first(1495, 'x');
    const std::string exact = first + "GET /";
    ASSERT_EQ(exact.size(), 1500u);
    Reply reply = ask(port, exact);
    EXPECT_EQ(reply.bytes, header("text/html\n", 279) + TestPage);

    const std::string twice = exact + "x GET /missing " + std::string(1485, 'y');
    ASSERT_EQ(twice.size(), 3000u);
    reply = ask(port, twice);
    EXPECT_EQ(reply.bytes, header("text/html\n", 279) + TestPage);
    EXPECT_FALSE(reply.reset);

    // 1,499 bytes of a request that ends in "GET" alone: no GET at all.
    EXPECT_EQ(ask(port, std::string(1496, 'x') + "GET").bytes, "");
}

// Large cookies: the server reads 1,500 bytes of a 6 KiB request, answers and
// must not reset the connection before the client has read the answer. The
// client sends everything but keeps its side open, as browsers do. A short
// request whose header ends only in a second piece leaves bytes unread too.
TEST_F(Requests, TheAnswerSurvivesUnreadRequestBytes)
{
    std::uint16_t port = start();
    const std::string page(1 << 20, 'p');
    writeFile("DATA/page.html", page);
    const std::string cookie = "GET /page.html HTTP/1.1\r\nCookie: " + std::string(6 * 1024, 'c') + "\r\n\r\n";
    const std::vector<std::string> requests[] = {
        {cookie}, {cookie}, {cookie}, {"GET /page.html HTTP/1.1\r\n", "Host: 10.231.0.1\r\n\r\n"}};
    for (const std::vector<std::string>& pieces : requests) {
        Client client(port);
        for (const std::string& piece : pieces) {
            ASSERT_TRUE(client.send(piece));
            sleepMs(100);  // the server takes the first piece alone
        }
        Reply reply = client.receiveAll(10000);
        EXPECT_FALSE(reply.reset) << pieces.size();
        EXPECT_FALSE(reply.timedOut);
        EXPECT_TRUE(reply.bytes == header("text/html\n", page.size()) + page) << reply.bytes.size() << " bytes";
    }
}

TEST_F(Requests, LoggingWritesOneLinePerHtmlPage)
{
    setTimeZone("UTC0");
    std::uint16_t port = start();
    writeFile("DATA/a.html", "a");
    writeFile("DATA/b.png", "b");

    ask(port, get("a.html"));  // logging still off
    EXPECT_FALSE(exists("LOG"));

    logEnabled = 1;
    std::time_t before = std::time(nullptr);
    ask(port, get("a.html"));
    ask(port, get("b.png"));
    ask(port, get("missing.html"));
    ask(port, get(""));
    std::time_t after = std::time(nullptr);

    // Either second the requests may have been logged in, rendered as the
    // engine must: "10.231.0.1 ： Www Mmm DD hh:mm:ss YYYY" CR LF.
    auto expectedFor = [](std::time_t t, std::string* name) {
        std::tm utc = *std::gmtime(&t);
        char text[64];
        std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &utc);
        *name = "LOG/HarborlightLog_" + std::to_string(utc.tm_year + 1900) + std::to_string(utc.tm_mon + 1) +
                std::to_string(utc.tm_mday) + ".log";
        return std::string("10.231.0.1 \x81\x46 ") + text + "\r\n";
    };
    std::string name;
    std::vector<std::string> lines;
    for (std::time_t t = before; t <= after; ++t)
        lines.push_back(expectedFor(t, &name));
    std::string log = readFile(name);
    ASSERT_EQ(log.size(), 2 * lines.front().size()) << log;
    for (std::size_t at = 0; at < log.size(); at += lines.front().size()) {
        std::string line = log.substr(at, lines.front().size());
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
}

// Names that could leave DATA on Linux or on Windows, or reach a device, are
// refused alike on both, and refused before anything is opened or logged.
TEST_F(Requests, HostilePathsGetNotFound)
{
    std::uint16_t port = start();
    logEnabled = 1;
    writeFile("secret.html", "secret");
    writeFile("DATA/ok.txt", "ok");
    std::filesystem::create_directories("DATA/sub/deeper");
    const char* const paths[] = {
        "../secret.html",     "nope/../../secret.html", "sub/../../secret.html", "..\\secret.html",
        "sub\\..\\..\\secret.html", "C:/Windows/win.ini",     "C:secret.html",         "ok.txt:stream",
        "a:b",                "AUX",                    "aux.html",              "com1.txt",
        "CON",                "NUL.txt",                "lpt9",                  "CONIN$",
        "CONOUT$",            "aux .txt",               "sub/Prn.html",          "..",
        "...",                ".. /secret.html",        "sub/.. ./../secret.html", "sub",
        "sub/",               "sub/deeper",
    };
    for (const char* path : paths) {
        std::uint64_t begun = nowMs();
        EXPECT_EQ(ask(port, get(path)).bytes, NotFound) << path;
        EXPECT_LT(millisecondsSince(begun), 3000u) << path;
    }
    EXPECT_FALSE(exists("LOG"));
    // Names that only look alike are ordinary files.
    for (const char* path : {"auxiliary.txt", "com10.txt", "console.txt", "sub/lpt.txt", "a..b.txt"}) {
        writeFile(std::string("DATA/") + path, "fine");
        EXPECT_EQ(ask(port, get(path)).bytes, header("text/plain\n", 4) + "fine") << path;
    }
}

TEST_F(Requests, PathsTooLongForTheFileNameGetNotFound)
{
    std::uint16_t port = start();
    for (std::size_t length : {995u, 996u, 1200u, 1450u}) {
        std::string path(length, 'n');
        for (std::size_t i = 100; i < length; i += 100)
            path[i] = '/';
        EXPECT_EQ(ask(port, get(path)).bytes, NotFound) << length;
    }
    // "GET /" and a path that fills the rest of the receive, with no blank.
    EXPECT_EQ(ask(port, "GET /" + std::string(1495, 'z')).bytes, NotFound);
}

#ifndef _WIN32
// The longest path that fits is served; one byte more is refused.
TEST_F(Requests, APathOf994BytesIsServed)
{
    std::uint16_t port = start();
    std::string path;
    while (path.size() + 201 < 994)
        path += std::string(200, 'd') + "/";
    path += std::string(994 - path.size(), 'f');
    ASSERT_EQ(path.size(), 994u);
    writeFile("DATA/" + path, "deep");
    EXPECT_EQ(ask(port, get(path)).bytes, header("text/plain\n", 4) + "deep");
    writeFile("DATA/" + path + "g", "deeper");
    EXPECT_EQ(ask(port, get(path + "g")).bytes, NotFound);
}

#endif

// Only regular files are served, and a FIFO or a device behind a name never
// holds the listener; links placed by the user are followed. Under Wine the
// host's shell makes them, as Windows itself has no FIFOs.
TEST_F(Requests, OnlyRegularFilesAreServedAndLinksAreFollowed)
{
    std::uint16_t port = start();
    writeFile("DATA/real.txt", "real");
    writeFile("outside.txt", "placed by the user");
    if (!hostShell("mkfifo DATA/pipe.txt && ln -s real.txt DATA/link.txt && ln -s ../outside.txt DATA/out.txt"
                   " && ln -s /dev/zero DATA/zero.txt && ln -s ../outside.html DATA/index.html"))
        GTEST_SKIP() << "no host shell to make a FIFO with (Windows without Wine)";

    std::uint64_t begun = nowMs();
    EXPECT_EQ(ask(port, get("pipe.txt")).bytes, NotFound);
    EXPECT_EQ(ask(port, get("zero.txt")).bytes, NotFound);
    EXPECT_LT(millisecondsSince(begun), 3000u);
    EXPECT_EQ(ask(port, get("link.txt")).bytes, header("text/plain\n", 4) + "real");
    EXPECT_EQ(ask(port, get("out.txt")).bytes, header("text/plain\n", 18) + "placed by the user");
    // The test page is never written through a link that points nowhere.
    EXPECT_EQ(ask(port, get("")).bytes, NotFound);
    EXPECT_FALSE(exists("outside.html"));
    // Removed by the host: std::filesystem under Wine gets past neither a FIFO
    // nor a link to a device.
    hostShell("rm -f DATA/pipe.txt DATA/zero.txt DATA/link.txt DATA/out.txt DATA/index.html");
}

namespace {

// Every finished entry of the record from `*next` on, and the answers in
// progress, read with the newest of them.
std::vector<RequestEntry> readRecord(std::uint64_t* next, std::uint64_t* missed,
                                     std::vector<RequestEntry>* progress = nullptr)
{
    std::vector<RequestEntry> all;
    RequestEntry some[RecordReadLimit], open[RecordOpenCapacity];
    int openCount = -1;
    while (openCount < 0) {
        int count = readRequestRecordAndProgress(next, some, RecordReadLimit, missed, open, &openCount);
        all.insert(all.end(), some, some + count);
    }
    if (progress)
        progress->assign(open, open + openCount);
    return all;
}

std::string escaped(const RequestEntry& entry)
{
    char text[RecordedEscapedBytes];
    std::size_t kept = std::min<std::size_t>(entry.pathLength, RecordedPathBytes);
    return std::string(text, escapeRequestText(entry.path, kept, entry.pathLength > kept, text));
}

} // namespace

// Each request served leaves one entry with what went out; a connection
// that never sends is no entry, only counted while it waits aside. An entry
// gives up its place among the answers in progress as it closes: what its
// thread records afterwards reaches neither the answer in that place next
// nor the record.
TEST_F(Requests, TheRecordHoldsEveryResult)
{
    std::snprintf(requestBuffer, sizeof requestBuffer, "GET /closed HTTP/1.0\r\n\r\n");
    recordRequestOpen(0);
    recordRequestClose(-2);
    std::uint64_t next = 1, missed = 0;
    readRecord(&next, &missed);
    std::uint16_t port = start();
    writeSparseFile("DATA/big.bin", 64 << 20);
    std::string longPath = "\x1b[2J\\" + std::string(300, 'a');

    ask(port, get(""));
    ask(port, get(""));
    ask(port, get("missing.png"));
    ask(port, "POST / HTTP/1.0\r\n\r\n");
    ask(port, get(longPath));
    {
        Client silent(port);
        Client leaving(port);
        ASSERT_TRUE(leaving.send(get("big.bin")));
        ASSERT_EQ(leaving.receiveSome(5000).size(), 5000u);
        recordRequestFile(5000);
        recordRequestBodySent(4000);
        recordRequestClose(0);
        std::uint64_t upTo = next;
        std::vector<RequestEntry> open;
        EXPECT_EQ(readRecord(&upTo, &missed, &open).size(), 5u);
        ASSERT_EQ(open.size(), 1u);
        EXPECT_EQ(std::string(open[0].path, open[0].pathLength), "/big.bin");
        EXPECT_EQ(open[0].fileSize, 64 << 20);
        // The last sends the client read may not be counted yet.
        EXPECT_GE(open[0].bodyBytes, 5000 - 63 - 2 * 1024);
        EXPECT_EQ(waitingConnectionsNow(), 1);
        leaving.abort();
        ASSERT_TRUE(waitForRequestRecord(next + 5, requestRecordWakes(), 10000));
    }

    std::vector<RequestEntry> entries = readRecord(&next, &missed);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(missed, 0u);
    struct Expected {
        const char* method;
        const char* path;
        RequestResult result;
        std::int64_t bodyBytes, fileSize;
    };
    const Expected expected[] = {
        {"GET", "/", RequestResult::TestPage, 279, 279},
        {"GET", "/", RequestResult::Sent, 279, 279},
        {"GET", "/missing.png", RequestResult::NotFound, 78, -1},
        {"POST", "/", RequestResult::NotGet, 0, -1},
        {"GET", "/\\x1B[2J\\\\aaaa", RequestResult::NotFound, 78, -1},
        {"GET", "/big.bin", RequestResult::CutOff, -1, 64 << 20},
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RequestEntry& entry = entries[i];
        const Expected& want = expected[i];
        EXPECT_EQ(std::string(entry.method, entry.methodLength), want.method) << i;
        EXPECT_EQ(escaped(entry).substr(0, std::strlen(want.path)), want.path) << i;
        EXPECT_EQ(entry.result, want.result) << i;
        if (want.bodyBytes >= 0) {
            EXPECT_EQ(entry.bodyBytes, want.bodyBytes) << i;
        }
        EXPECT_EQ(entry.fileSize, want.fileSize) << i;
        EXPECT_EQ(entry.clientAddress, netParseAddress("10.231.0.1")) << i;
        EXPECT_LT(entry.durationMs, 10000u) << i;
    }
    // The long path: 200 of its 306 bytes kept, escaped, and marked as cut.
    EXPECT_EQ(entries[4].pathLength, 306u);
    EXPECT_EQ(escaped(entries[4]), "/\\x1B[2J\\\\" + std::string(194, 'a') + "...");
    EXPECT_GT(entries[5].bodyBytes, 5000 - 63);
    EXPECT_LT(entries[5].bodyBytes, 64 << 20);
}

// However many requests come, the record holds the last RecordCapacity, and
// a reader that fell behind learns how many it missed.
TEST_F(Requests, TheRecordKeepsTheLastThousand)
{
    std::uint64_t next = 1, missed = 0;
    readRecord(&next, &missed);
    const std::uint64_t first = next;
    for (int i = 0; i < 2500; ++i) {
        std::snprintf(requestBuffer, sizeof requestBuffer, "GET /%d HTTP/1.0\r\n\r\n", i);
        recordRequestOpen(0);
        recordRequestClose(-2);
    }
    missed = 0;
    std::vector<RequestEntry> entries = readRecord(&next, &missed);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(RecordCapacity));
    EXPECT_EQ(missed, 2500u - RecordCapacity);
    EXPECT_EQ(entries.front().number, first + 1500);
    EXPECT_EQ(std::string(entries.back().path, entries.back().pathLength), "/2499");
}

