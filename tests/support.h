// What the engine tests share: a fresh working directory per test, a small
// raw client that talks to the server from outside, and file helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "server/server.h"

namespace test {

// Every test runs in a new, empty working directory of its own, since the
// engine works on the relative names DATA/ and LOG/.
class WorkDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    std::filesystem::path previous_;
    std::filesystem::path dir_;
};

// Starts servers: only inside the private network namespace, where the
// discovered host address is the namespace's own test address.
class ServerTest : public WorkDirTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // setPort on a fresh port, then startServer; the port it listens on.
    std::uint16_t start();
    std::uint16_t port_ = 0;
};

// A port that no earlier test of this process used.
std::uint16_t freshPort();

// What the client got: every byte up to the server's close, and how it ended.
struct Reply {
    std::string bytes;
    bool reset = false;     // the connection was reset instead of closed
    bool timedOut = false;  // no close within the client's patience
};

// The raw client: connects to the host address the server discovered.
class Client {
public:
    Client() = default;
    explicit Client(std::uint16_t port) { connectTo(port); }
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // `likeAPhone`: a Wi-Fi link's segment size and a phone's small receive
    // window, so that the server's send buffer fills as it would over Wi-Fi
    // and not as over loopback, whose large segments start it at megabytes.
    bool connectTo(std::uint16_t port, bool likeAPhone = false);
    bool connected() const;
    bool send(const std::string& bytes);
    void finishSending();  // shutdown of our direction: the request is complete
    // Reads until the server closes, at most `patienceMs`.
    Reply receiveAll(int patienceMs = 15000);
    // Reads up to `size` bytes (fewer at close); the bytes got.
    std::string receiveSome(std::size_t size, int patienceMs = 15000);
    // Reads and counts, without keeping them, the bytes up to the server's
    // close or a silence of `quietMs`: a large body at the speed it comes.
    std::int64_t receiveCount(int quietMs = 15000);
    void close();
    // Closes so that the server sees a reset (unread data or SO_LINGER 0).
    void abort();

private:
    std::uintptr_t socket_ = ~std::uintptr_t{0};
};

// One request, sent whole and our side shut down; everything the server sends.
Reply ask(std::uint16_t port, const std::string& request, int patienceMs = 15000);

// True when a connection to the host address and port is refused.
bool refused(std::uint16_t port);

void writeFile(const std::string& name, const std::string& bytes);
std::string readFile(const std::string& name);
bool exists(const std::string& name);
// A file of `size` bytes that takes no room on disk where the file system allows.
void writeSparseFile(const std::string& name, std::int64_t size);

// The answer header the server sends for a file.
std::string header(const char* typeText, std::int64_t size);
extern const std::string NotFound;
extern const std::string TestPage;

// Local time as the engine sees it, in a zone such as "UTC0" or "Asia/Tokyo".
// On Windows the zone is Windows' own, which a process cannot change for
// itself: true only when the process already runs in `zone` (under Wine: was
// started with TZ set to it, as the CTest entries do).
bool setTimeZone(const char* zone);

// Runs a shell command of the host: natively, or from under Wine the Unix
// /bin/sh (Wine starts Unix programs too), in the working directory. For what
// Windows cannot make itself, such as a FIFO. False where there is no such
// shell; the command's own outcome is for the caller to look at.
bool hostShell(const std::string& command);

#ifndef _WIN32
// Runs `work` on a full disk: no file may grow beyond `bytes`, and a write
// that would fails (EFBIG, SIGXFSZ ignored). False when it has not ended
// within two seconds; the disk then gets room, so that a work that keeps
// retrying ends all the same and the test goes on.
bool endsOnFullDisk(std::uint64_t bytes, const std::function<void()>& work);
#endif

// The process's open handles (Windows) or file descriptors (Linux).
long openHandles();

// CPU time this process has used, in milliseconds: a thread that spins
// shows there while the test sleeps.
long cpuMs();

std::uint64_t millisecondsSince(std::uint64_t start);
std::uint64_t nowMs();
void sleepMs(int ms);

} // namespace test
