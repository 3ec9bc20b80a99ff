#include "support.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <process.h>
#include <ws2tcpip.h>
using RawSocket = SOCKET;
using Length = int;
static int lastSocketError() { return WSAGetLastError(); }
static const int ResetError = WSAECONNRESET;
static void closeRaw(RawSocket s) { closesocket(s); }
static int processId() { return _getpid(); }
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/tcp.h>
#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
using RawSocket = int;
using Length = socklen_t;
static int lastSocketError() { return errno; }
static const int ResetError = ECONNRESET;
static void closeRaw(RawSocket s) { ::close(s); }
static int processId() { return getpid(); }
#endif

namespace test {

namespace {

const RawSocket NoRaw = static_cast<RawSocket>(~std::uintptr_t{0});

// The client's own socket layer, kept up for the whole run so that the
// engine's start-ups and clean-ups never take it down.
struct ClientSockets {
    ClientSockets()
    {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
    }
} clientSockets;

RawSocket raw(std::uintptr_t s) { return static_cast<RawSocket>(s); }

void setReceiveTimeout(RawSocket s, int ms)
{
#ifdef _WIN32
    DWORD timeout = static_cast<DWORD>(ms);
#else
    timeval timeout{ms / 1000, (ms % 1000) * 1000};
#endif
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
}

} // namespace

void WorkDirTest::SetUp()
{
    static int count = 0;
    previous_ = std::filesystem::current_path();
    dir_ = std::filesystem::temp_directory_path() /
           ("harborlight-test-" + std::to_string(processId()) + "-" + std::to_string(++count));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
}

void WorkDirTest::TearDown()
{
    if (dir_.empty())
        return;  // skipped before it began
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void ServerTest::SetUp()
{
    const char* inside = std::getenv("HARBORLIGHT_NETNS");
    if (!inside || std::string(inside) != "1")
        GTEST_SKIP() << "starts a server: run it inside tools/netns-run.sh (HARBORLIGHT_NETNS=1), "
                        "never on the host's own network";
    WorkDirTest::SetUp();
    logEnabled = 0;
    ASSERT_EQ(initServer(), 0);
    ASSERT_NE(serverSettings.hostIpText, nullptr);
}

void ServerTest::TearDown()
{
    if (IsSkipped())
        return;
    stopServer(serverSettings);
    logEnabled = 0;
    WorkDirTest::TearDown();
}

std::uint16_t ServerTest::start()
{
    port_ = freshPort();
    EXPECT_EQ(setPort(port_), 0);
    EXPECT_EQ(startServer(serverSettings), 0);
    EXPECT_EQ(ServerState, Running);
    return port_;
}

// Ports below 32768 lie outside both systems' ephemeral ranges (Linux from
// 32768, Windows from 49152): a client socket of an earlier test, connected or
// in TIME_WAIT, can then never hold the port a later test is about to bind.
std::uint16_t freshPort()
{
    static std::uint16_t next = static_cast<std::uint16_t>(20000 + processId() % 300 * 40);
    return next++;
}

Client::~Client()
{
    close();
}

bool Client::connectTo(std::uint16_t port, bool likeAPhone)
{
    close();
    RawSocket s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == NoRaw)
        return false;
    if (likeAPhone) {
        int window = 32 * 1024;
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&window), sizeof window);
#ifdef TCP_MAXSEG
        // Winsock only reads the segment size; under Wine the server's buffer
        // then starts at loopback's megabytes.
        int segment = 1400;
        setsockopt(s, IPPROTO_TCP, TCP_MAXSEG, reinterpret_cast<const char*>(&segment), sizeof segment);
#endif
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr(serverSettings.hostIpText ? serverSettings.hostIpText : "10.231.0.1");
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closeRaw(s);
        return false;
    }
    socket_ = static_cast<std::uintptr_t>(s);
    return true;
}

bool Client::connected() const
{
    return raw(socket_) != NoRaw;
}

bool Client::send(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        auto sent = ::send(raw(socket_), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (sent <= 0)
            return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

void Client::finishSending()
{
#ifdef _WIN32
    ::shutdown(raw(socket_), SD_SEND);
#else
    ::shutdown(raw(socket_), SHUT_WR);
#endif
}

Reply Client::receiveAll(int patienceMs)
{
    Reply reply;
    const std::uint64_t start = nowMs();
    char buffer[65536];
    for (;;) {
        int left = patienceMs - static_cast<int>(millisecondsSince(start));
        if (left <= 0) {
            reply.timedOut = true;
            return reply;
        }
        setReceiveTimeout(raw(socket_), left);
        auto got = ::recv(raw(socket_), buffer, sizeof buffer, 0);
        if (got > 0) {
            reply.bytes.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0) {
            if (lastSocketError() == ResetError)
                reply.reset = true;
            else
                reply.timedOut = true;
        }
        return reply;
    }
}

std::string Client::receiveSome(std::size_t size, int patienceMs)
{
    std::string bytes;
    const std::uint64_t start = nowMs();
    char buffer[4096];
    while (bytes.size() < size) {
        int left = patienceMs - static_cast<int>(millisecondsSince(start));
        if (left <= 0)
            break;
        setReceiveTimeout(raw(socket_), left);
        std::size_t want = std::min(sizeof buffer, size - bytes.size());
        auto got = ::recv(raw(socket_), buffer, static_cast<int>(want), 0);
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

std::int64_t Client::receiveCount(int quietMs)
{
    std::int64_t count = 0;
    std::vector<char> buffer(1 << 20);
    setReceiveTimeout(raw(socket_), quietMs);
    for (;;) {
        auto got = ::recv(raw(socket_), buffer.data(), static_cast<int>(buffer.size()), 0);
        if (got <= 0)
            return count;
        count += static_cast<std::int64_t>(got);
    }
}

void Client::close()
{
    if (connected())
        closeRaw(raw(socket_));
    socket_ = ~std::uintptr_t{0};
}

void Client::abort()
{
    if (!connected())
        return;
    linger hard{};
    hard.l_onoff = 1;
    hard.l_linger = 0;
    setsockopt(raw(socket_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    close();
}

Reply ask(std::uint16_t port, const std::string& request, int patienceMs)
{
    Client client;
    if (!client.connectTo(port)) {
        ADD_FAILURE() << "connection to port " << port << " failed";
        return {};
    }
    client.send(request);
    client.finishSending();
    return client.receiveAll(patienceMs);
}

bool refused(std::uint16_t port)
{
    Client client;
    return !client.connectTo(port);
}

void writeFile(const std::string& name, const std::string& bytes)
{
    std::filesystem::path path(name);
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& name)
{
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(name, ignored));
}

void writeSparseFile(const std::string& name, std::int64_t size)
{
    writeFile(name, "");
    std::filesystem::resize_file(name, static_cast<std::uintmax_t>(size));
}

std::string header(const char* typeText, std::int64_t size)
{
    return std::string("HTTP/1.0 200 OK\nContent-Type: ") + typeText + "Content-Length: " + std::to_string(size) +
           "\n\n";
}

const std::string NotFound =
    "HTTP/1.0 200 OK\nContent-Type: text/html\nContent-Length: 78\n\n"
    "<HTML><HEAD><TITLE>\x83\x47\x83\x89\x81\x5b</TITLE></HEAD><BODY><H1>Not found</H1></BODY></HTML>";

const std::string TestPage =
    "<!DOCTYPE HTML PUBLIC 'quot-//W3C//DTD HTML 4.01 Transitional//EN' \r\n"
    "'http://www.w3.org/TR/html4/loose.dtd'>\r\n"
    "<html>\r\n<head>\r\n<title>Harborlight TestPage</title>\r\n</head>\r\n<body>\r\n"
    "<h1>Harborlight TestPage</h1>\r\n"
    "<p>\x82\xb1\x82\xea\x82\xcd\x81\x41[Harborlight]\x82\xcc\x83\x65\x83\x58\x83\x67"
    "\x83\x79\x81\x5b\x83\x57\x82\xc5\x82\xb7\x81\x42</p>\r\n"
    "</body>\r\n</html>\r\n";

bool setTimeZone(const char* zone)
{
#ifdef _WIN32
    const char* current = std::getenv("TZ");
    return current && std::string(current) == zone;
#else
    setenv("TZ", zone, 1);
    tzset();
    return true;
#endif
}

bool hostShell(const std::string& command)
{
#ifdef _WIN32
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        return false;
    // Wine does not wait for a Unix child: the command leaves a mark when done.
    const char* const mark = "host-shell-done";
    DeleteFileA(mark);
    std::string line = "/bin/sh -c \"" + command + "; : > " + mark + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA("Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int waited = 0; waited < 10000 && GetFileAttributesA(mark) == INVALID_FILE_ATTRIBUTES; waited += 10)
        Sleep(10);
    DeleteFileA(mark);
    return true;
#else
    return std::system(command.c_str()) != -1;
#endif
}

#ifndef _WIN32
bool endsOnFullDisk(std::uint64_t bytes, const std::function<void()>& work)
{
    void (*signalBefore)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit before;
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit full = before;
    full.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    // The work runs here, on the calling thread, whose connection and
    // request it may need; a watchdog gives the disk room after two seconds.
    std::promise<void> done;
    std::future<void> ended = done.get_future();
    std::thread watchdog([&] {
        if (ended.wait_for(std::chrono::seconds(2)) != std::future_status::ready)
            setrlimit(RLIMIT_FSIZE, &before);
    });
    std::uint64_t begun = nowMs();
    work();
    bool quick = millisecondsSince(begun) < 2000;
    done.set_value();
    watchdog.join();
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, signalBefore);
    return quick;
}
#endif

#ifdef _WIN32
// Wine's GetProcessHandleCount says 0; its list of the system's handles is
// complete, so the process's entries there are counted instead.
static long handlesInSystemList()
{
    struct Entry {
        ULONG processId;
        BYTE type, flags;
        USHORT handle;
        void* object;
        ACCESS_MASK access;
    };
    using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    const int SystemHandleInformation = 16;
    const LONG InfoLengthMismatch = static_cast<LONG>(0xC0000004);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    std::vector<char> buffer(1 << 16);
    LONG status;
    while ((status = query(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), nullptr)) ==
           InfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return -1;
    ULONG entries = *reinterpret_cast<ULONG*>(buffer.data());
    auto* entry = reinterpret_cast<Entry*>(buffer.data() + sizeof(void*));
    long count = 0;
    for (ULONG i = 0; i < entries; ++i)
        count += entry[i].processId == GetCurrentProcessId();
    return count;
}
#endif

long openHandles()
{
#ifdef _WIN32
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count ? static_cast<long>(count) : handlesInSystemList();
#else
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<long>(std::distance(begin(entries), end(entries))) - 1;  // less the iterator's own
#endif
}

long cpuMs()
{
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return static_cast<long>((std::uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime) / 10000);
    };
    return ms(kernel) + ms(user);
#else
    rusage used;
    getrusage(RUSAGE_SELF, &used);
    return (used.ru_utime.tv_sec + used.ru_stime.tv_sec) * 1000 +
           (used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1000;
#endif
}

std::uint64_t nowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint64_t millisecondsSince(std::uint64_t start)
{
    return nowMs() - start;
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace test
