// Start, stop and restart, and clients that misbehave.
#include "support.h"

#include "server/engine.h"
#include "server/keep_awake.h"
#include "server/request_record.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace test;

namespace {

class Lifecycle : public ServerTest {
protected:
    // The server answers a plain request, and at once.
    void expectServing(std::uint16_t port)
    {
        std::uint64_t begun = nowMs();
        EXPECT_EQ(ask(port, "GET /missing HTTP/1.0\r\n\r\n").bytes, NotFound) << "port " << port;
        EXPECT_LT(millisecondsSince(begun), 3000u);
    }
    // A stop wakes the listener wherever it waits and returns within 100 ms.
    void expectQuickStop()
    {
        std::uint64_t begun = nowMs();
        EXPECT_EQ(stopServer(serverSettings), 1);
        EXPECT_LT(millisecondsSince(begun), 100u);
        EXPECT_EQ(ServerState, Stopped);
    }
};

// Holds a port on the host address the way another program would.
class PortHolder {
public:
    explicit PortHolder(std::uint16_t port)
    {
        s_ = netOpenStream();
#ifndef _WIN32
        int on = 1;  // as the server itself does: TIME_WAIT must not stand in the way
        setsockopt(s_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = netParseAddress(serverSettings.hostIpText);
        held_ = bind(s_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(s_, 4) == 0;
    }
    ~PortHolder() { netClose(s_); }
    bool held() const { return held_; }

private:
    Socket s_;
    bool held_ = false;
};

} // namespace

TEST_F(Lifecycle, StartAndStopGiveTheirResults)
{
    EXPECT_EQ(ServerState, Idle);
    EXPECT_EQ(stopServer(serverSettings), 1);
    EXPECT_EQ(ServerState, Idle);
    std::uint16_t port = start();
    EXPECT_EQ(startServer(serverSettings), 1);
    EXPECT_EQ(listeningPort(), port);
    expectServing(port);
    expectQuickStop();  // the listener waits in accept
    EXPECT_TRUE(refused(port));
    EXPECT_EQ(stopServer(serverSettings), 1);
    EXPECT_EQ(ServerState, Stopped);
    EXPECT_EQ(startServer(serverSettings), 0);
    expectServing(port);
}

TEST_F(Lifecycle, ListensOnlyOnTheDiscoveredAddress)
{
    EXPECT_STREQ(serverSettings.hostIpText, "10.231.0.1");
    std::uint16_t port = start();
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_port = htons(port);
    loopback.sin_addr.s_addr = netParseAddress("127.0.0.1");
    Socket s = netOpenStream();
    EXPECT_NE(connect(s, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback), 0);
    netClose(s);
}

// Every start looks the address up again: a window opened before the
// network came up, or while the host had another address, serves on the
// address the host has when the start comes.
TEST_F(Lifecycle, AStartLooksTheAddressUpAgain)
{
    const std::string ip = "/usr/sbin/ip addr ";
    if (!hostShell(ip + "del 10.231.0.1/24 dev hl0 && " + ip + "add 10.231.0.2/24 dev hl0"))
        GTEST_SKIP() << "no host shell to change the address with (Windows without Wine)";
    std::uint16_t port = freshPort();
    EXPECT_EQ(setPort(port), 0);
    std::string before = serverSettings.hostIpText ? serverSettings.hostIpText : "none";
    hostShell(ip + "del 10.231.0.2/24 dev hl0; " + ip + "add 10.231.0.1/24 dev hl0; /usr/sbin/ip route add default dev hl0");
    EXPECT_EQ(before, "10.231.0.2");
    ASSERT_EQ(startServer(serverSettings), 0);
    EXPECT_STREQ(serverSettings.hostIpText, "10.231.0.1");
    expectServing(port);
}

TEST_F(Lifecycle, ARestartOnANewPortLeavesOneListener)
{
    std::uint16_t first = start();
    expectServing(first);
    std::uint16_t second = freshPort();
    EXPECT_EQ(setPort(second), 0);
    expectServing(first);  // still on the old port until restarted
    EXPECT_EQ(stopServer(serverSettings), 1);
    EXPECT_EQ(startServer(serverSettings), 0);
    EXPECT_TRUE(refused(first));
    expectServing(second);
    EXPECT_EQ(listeningPort(), second);
}

TEST_F(Lifecycle, PortZeroLetsTheSystemChoose)
{
    EXPECT_EQ(setPort(0), 0);
    EXPECT_EQ(startServer(serverSettings), 0);
    EXPECT_EQ(serverSettings.port, 0);
    ASSERT_NE(listeningPort(), 0);
    expectServing(listeningPort());
}

TEST_F(Lifecycle, ATakenPortFailsToBindUntilReleased)
{
    std::uint16_t port = freshPort();
    ASSERT_EQ(setPort(port), 0);
    {
        PortHolder other(port);
        ASSERT_TRUE(other.held());
        EXPECT_EQ(startServer(serverSettings), 3);
        EXPECT_EQ(ServerState, Idle);
        StartFailure failure = lastStartFailure();
        EXPECT_EQ(failure.step, StartStep::Bind);
        EXPECT_EQ(failure.reason, NetFailure::AddressInUse);
        EXPECT_NE(failure.error, 0);
        EXPECT_EQ(failure.port, port);
    }
    EXPECT_EQ(startServer(serverSettings), 0);
    EXPECT_EQ(lastStartFailure().step, StartStep::None);
    expectServing(port);
    EXPECT_EQ(stopServer(serverSettings), 1);
    {
        PortHolder other(port);
        EXPECT_TRUE(other.held());
        EXPECT_EQ(startServer(serverSettings), 3);
        EXPECT_EQ(ServerState, Stopped);
    }
}

// Connections the server closed first linger in TIME_WAIT on its port.
TEST_F(Lifecycle, RestartBindsAtOnceAfterManyConnections)
{
    std::uint16_t port = start();
    for (int i = 0; i < 20; ++i)
        expectServing(port);
    for (int cycle = 0; cycle < 3; ++cycle) {
        EXPECT_EQ(stopServer(serverSettings), 1);
        EXPECT_EQ(startServer(serverSettings), 0) << "cycle " << cycle;
        expectServing(port);
    }
}

TEST_F(Lifecycle, StopWakesAReceive)
{
    std::uint16_t port = start();
    Client idle(port);
    sleepMs(200);  // the listener takes the connection and waits for its request
    expectQuickStop();
    Reply reply = idle.receiveAll(3000);
    EXPECT_EQ(reply.bytes, "");
    EXPECT_FALSE(reply.timedOut);
    EXPECT_TRUE(refused(port));
}

TEST_F(Lifecycle, StopWakesASendToAClientThatDoesNotRead)
{
    const std::int64_t size = 256 << 20;
    writeSparseFile("DATA/big.bin", size);
    std::uint16_t port = start();
    Client stalled(port);
    ASSERT_TRUE(stalled.send("GET /big.bin HTTP/1.0\r\n\r\n"));
    sleepMs(500);  // the socket buffers fill and the send waits
    expectQuickStop();
    Reply reply = stalled.receiveAll(5000);
    EXPECT_LT(static_cast<std::int64_t>(reply.bytes.size()), size);
    EXPECT_EQ(reply.bytes.substr(0, 16), "HTTP/1.0 200 OK\n");
    EXPECT_EQ(startServer(serverSettings), 0);
    expectServing(port);
}

// A request with bytes beyond the buffer is answered, then the rest is
// discarded for at most two seconds; a stop ends that wait too.
TEST_F(Lifecycle, ADrainLastsTwoSecondsAtMostAndAStopEndsIt)
{
    std::uint16_t port = start();
    const std::string unfinished = "GET /missing HTTP/1.0\r\nCookie: " + std::string(3000, 'c');
    {
        Client lingering(port);
        ASSERT_TRUE(lingering.send(unfinished));
        EXPECT_EQ(lingering.receiveAll(5000).bytes, NotFound);  // answered; the server drains
        std::uint64_t begun = nowMs();
        EXPECT_EQ(ask(port, "GET /missing HTTP/1.0\r\n\r\n").bytes, NotFound);
        std::uint64_t waited = millisecondsSince(begun);
        EXPECT_GE(waited, 1000u);
        EXPECT_LT(waited, 3000u);
    }
    Client lingering(port);
    ASSERT_TRUE(lingering.send(unfinished));
    EXPECT_EQ(lingering.receiveAll(5000).bytes, NotFound);
    expectQuickStop();
}

// Start, serve and stop, over and over, every other stop with a client
// connected and silent: every cycle serves, no stop hangs, and nothing leaks.
// Each cycle works in a fresh folder, so that its "/" writes the test page,
// logs it and serves it, and begins with a start refused for a taken port.
// HARBORLIGHT_SOAK_CYCLES sets the count (the benchmark runs 1,000).
TEST_F(Lifecycle, StartServeStopCyclesLeakNothing)
{
    const char* asked = std::getenv("HARBORLIGHT_SOAK_CYCLES");
    const int cycles = asked ? std::atoi(asked) : 200;
    const std::filesystem::path base = std::filesystem::current_path();
    std::uint16_t port = start();
    EXPECT_EQ(stopServer(serverSettings), 1);
    logEnabled = 1;
    long afterFirst = 0;
    int slowStops = 0;
    std::uint64_t slowestStop = 0, begun = nowMs();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        std::filesystem::create_directory(base / std::to_string(cycle));
        std::filesystem::current_path(base / std::to_string(cycle));
        {
            PortHolder other(port);
            ASSERT_EQ(startServer(serverSettings), 3) << "cycle " << cycle;
        }
        ASSERT_EQ(startServer(serverSettings), 0) << "cycle " << cycle;
        ASSERT_EQ(ask(port, "GET / HTTP/1.0\r\n\r\n").bytes, header("text/html\n", 279) + TestPage) << "cycle " << cycle;
        Client idle;
        if (cycle % 2) {
            ASSERT_TRUE(idle.connectTo(port));
            sleepMs(5);  // the listener takes it and waits for its request
        }
        std::uint64_t stopping = nowMs();
        ASSERT_EQ(stopServer(serverSettings), 1);
        std::uint64_t took = millisecondsSince(stopping);
        slowestStop = std::max(slowestStop, took);
        slowStops += took >= 100;
        idle.close();
        if (cycle == 0)
            afterFirst = openHandles();
    }
    long atEnd = openHandles();
    std::printf("%d cycles in %llu ms; stops over 100 ms: %d, slowest %llu ms; "
                "open handles after the first cycle %ld, at the end %ld\n",
                cycles, static_cast<unsigned long long>(millisecondsSince(begun)), slowStops,
                static_cast<unsigned long long>(slowestStop), afterFirst, atEnd);
    EXPECT_LT(slowestStop, 1000u);  // a missed wake would hold a stop for the 10 s time-out
#ifdef _WIN32
    // The threads library gives a lock an event of its own the first time two
    // threads meet on it, and keeps it: a few may appear once, at any cycle.
    // A leak would grow with the cycles.
    EXPECT_LE(atEnd - afterFirst, 4);
#else
    EXPECT_EQ(atEnd, afterFirst);
#endif
    EXPECT_TRUE(exists("LOG"));
}

TEST_F(Lifecycle, StopAndStartInQuickSuccessionUnderLoad)
{
    writeFile("DATA/page.html", std::string(50000, 'x'));
    std::uint16_t port = start();
    for (int cycle = 0; cycle < 10; ++cycle) {
        Client client(port);
        client.send("GET /page.html HTTP/1.0\r\n\r\n");
        if (cycle % 2)
            sleepMs(20);
        EXPECT_EQ(stopServer(serverSettings), 1);
        EXPECT_EQ(startServer(serverSettings), 0);
    }
    expectServing(port);
}

// A connection that sends nothing ends only itself.
TEST_F(Lifecycle, AnEmptyClientDoesNotEndTheListener)
{
    std::uint16_t port = start();
    for (int i = 0; i < 3; ++i) {
        Client empty(port);
        empty.close();
        Client reset(port);
        reset.abort();
    }
    expectServing(port);
}

// The first failed send ends the answer: reading the rest of a 2 GiB file
// behind failing sends would hold the next client for seconds.
TEST_F(Lifecycle, AClientLeavingDuringALargeFileFreesTheServer)
{
    writeSparseFile("DATA/big.bin", 2147483648LL);
    std::uint16_t port = start();
    {
        Client leaving(port);
        ASSERT_TRUE(leaving.send("GET /big.bin HTTP/1.0\r\n\r\n"));
        EXPECT_EQ(leaving.receiveSome(5000).size(), 5000u);
        leaving.abort();
    }
    std::uint64_t begun = nowMs();
    EXPECT_EQ(ask(port, "GET /missing HTTP/1.0\r\n\r\n").bytes, NotFound);
    EXPECT_LT(millisecondsSince(begun), 1000u);
}

// A phone that reads its answer late holds the answer in the kernel, not the
// listener: the next client is answered meanwhile, a stop returns at once,
// and the phone still gets every byte. (A listener held by the send would
// leave the next client unanswered for the send's ten-second time-out.)
TEST_F(Lifecycle, AnAnswerToAPhoneThatDoesNotReadLeavesTheListenerFree)
{
    std::string photo(400 * 1000, '\0');
    for (std::size_t i = 0; i < photo.size(); ++i)
        photo[i] = static_cast<char>(i * 7 + i / 251);
    writeFile("DATA/photo.jpg", photo);
    std::uint16_t port = start();
    Client phone;
    ASSERT_TRUE(phone.connectTo(port, true));
    ASSERT_TRUE(phone.send("GET /photo.jpg HTTP/1.0\r\n\r\n"));
    sleepMs(200);  // the listener takes the phone's request first
    EXPECT_EQ(ask(port, "GET /missing HTTP/1.0\r\n\r\n", 5000).bytes, NotFound);
    expectQuickStop();
    EXPECT_EQ(phone.receiveAll(5000).bytes, header("image/jpeg\n", static_cast<std::int64_t>(photo.size())) + photo);
}

// The engine's resets of the system's idle timer, counted in place of the
// system's call. The rules change only while no listener runs.
static std::atomic<int> idleResets;
static void countReset() { ++idleResets; }
static void countResets(std::uint64_t everyMs)
{
    idleResets = 0;
    keepAwakeRules = {countReset, everyMs};
    nextIdleResetMs = 0;
}

// The first activity resets whatever the clock says, even 0; then one a
// period, reckoned from the last reset.
TEST(KeepAwake, ResetsAtTheFirstActivityThenOncePerPeriod)
{
    countResets(30000);
    for (auto [at, count] : {std::pair{0, 1}, {29999, 1}, {30000, 2}, {60001, 3}, {90000, 3}, {90001, 4}}) {
        keepAwakeAt(at);
        EXPECT_EQ(idleResets, count) << "at " << at << " ms";
    }
    keepAwakeRules = {resetSystemIdleTimer, IdleResetEveryMs};
}

// A request and each piece of an answer, a short one too, reset the idle
// timer, at most once a period while the bytes move; a send that waits on a
// client that reads nothing makes none, and neither does the server idle or
// stopped.
TEST_F(Lifecycle, KeepsTheSystemAwakeOnlyWhileBytesMove)
{
    writeFile("DATA/short.bin", std::string(5 << 10, 's'));
    writeSparseFile("DATA/big.bin", 1 << 30);
    countResets(0);
    std::uint16_t port = start();
    sleepMs(200);
    EXPECT_EQ(idleResets, 0) << "idle";
    ask(port, "GET /short.bin HTTP/1.0\r\n\r\n");
    EXPECT_EQ(idleResets, 1 + 6) << "a period of 0: the request and the answer's 6 pieces";

    const int periodMs = 250;
    ASSERT_EQ(stopServer(serverSettings), 1);
    countResets(periodMs);
    ASSERT_EQ(startServer(serverSettings), 0);
    // Paced past what the socket buffers hold: the sends wait on the reads.
    Client paced(port);
    ASSERT_TRUE(paced.send("GET /big.bin HTTP/1.0\r\n\r\n"));
    for (std::uint64_t begun = nowMs(); millisecondsSince(begun) < 2000; sleepMs(10))
        paced.receiveSome(128 << 10, 1000);
    EXPECT_GE(idleResets, 2000 / (2 * periodMs)) << "while the bytes move";
    EXPECT_LE(idleResets, 2000 / periodMs + 2) << "at most one a period";
    int stalled = -1;  // the reads stop: the buffers fill, then the send waits
    for (int waited = 0; waited < 6000 && stalled != idleResets; waited += 4 * periodMs) {
        stalled = idleResets;
        sleepMs(4 * periodMs);
    }
    EXPECT_EQ(idleResets, stalled) << "while a send waits";
    ASSERT_EQ(stopServer(serverSettings), 1);
    sleepMs(periodMs);
    EXPECT_EQ(idleResets, stalled) << "stopped";
    keepAwakeRules = {resetSystemIdleTimer, IdleResetEveryMs};
}

#ifndef _WIN32
// An accept that fails for want of descriptors, with nothing waiting aside,
// pauses before the next one instead of spinning, and the client waiting
// meanwhile is served once descriptors are free again.
TEST_F(Lifecycle, AnAcceptWithoutDescriptorsWaitsInsteadOfSpinning)
{
    std::uint16_t port = start();
    Client busy(port);  // its request's rest is discarded until it closes
    ASSERT_TRUE(busy.send("GET /missing HTTP/1.0\r\nCookie: c"));
    EXPECT_EQ(busy.receiveAll(3000).bytes, NotFound);
    Client waiting(port);  // its request waits in the backlog
    ASSERT_TRUE(waiting.send("GET /missing HTTP/1.0\r\n\r\n"));
    rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit none = before;
    none.rlim_cur = 1;  // below stdin, stdout and stderr: no accept can succeed
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    busy.close();  // the listener's next accept fails
    long cpuBefore = cpuMs();
    sleepMs(1000);
    long spent = cpuMs() - cpuBefore;
    setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_LT(spent, 100) << "ms of CPU in a second of failing accepts";
    std::uint64_t begun = nowMs();
    EXPECT_EQ(waiting.receiveAll(3000).bytes, NotFound);
    EXPECT_LT(millisecondsSince(begun), 1000u);
}
#endif

#ifdef HARBORLIGHT_GATEFS
// A stop while the listener is inside a file read that does not return (DATA
// on a share that stopped answering): the stop returns all the same, and the
// port serves again at once. The run left behind ends when the read returns,
// closing what was its own and nothing else.
TEST_F(Lifecycle, AStopLeavesAFileReadThatHangsBehind)
{
    const std::filesystem::path gate = std::filesystem::current_path() / "gate";
    std::filesystem::create_directory("DATA");
    pid_t fileSystem = fork();
    if (fileSystem == 0) {
        execl(HARBORLIGHT_GATEFS, "gatefs", gate.c_str(), "DATA", static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int waited = 0; waited < 5000 && !exists("DATA/slow.bin"); waited += 10)
        sleepMs(10);
    ASSERT_TRUE(exists("DATA/slow.bin")) << "the gated file system did not come up";
    const long before = openHandles();
    countResets(0);
    std::uint16_t port = start();
    {
        Client held(port);
        ASSERT_TRUE(held.send("GET /slow.bin HTTP/1.0\r\n\r\n"));
        sleepMs(300);  // the listener is inside the read
        EXPECT_EQ(idleResets, 1) << "the request's reset, then none while the read hangs";
        std::uint64_t stopping = nowMs();
        EXPECT_EQ(stopServer(serverSettings), 1);
        EXPECT_LT(millisecondsSince(stopping), 1500u);
        EXPECT_EQ(startServer(serverSettings), 0);
        expectServing(port);
        EXPECT_EQ(stopServer(serverSettings), 1);
        writeFile(gate.string(), "");
        EXPECT_FALSE(held.receiveAll(5000).timedOut) << "the run left behind did not end";
    }
    EXPECT_EQ(idleResets, 2) << "and the next run's request: no piece went out after the stop";
    keepAwakeRules = {resetSystemIdleTimer, IdleResetEveryMs};
    long after = openHandles();
    for (int waited = 0; waited < 3000 && after != before; waited += 10, after = openHandles())
        sleepMs(10);
    EXPECT_EQ(after, before) << "handles left open by the run left behind";
    // A handle left open would keep the detached mount, and the file system
    // with it, for good: it is ended after a bound, and the test fails.
    umount2("DATA", MNT_DETACH);
    pid_t ended = 0;
    for (int waited = 0; waited < 3000 && (ended = waitpid(fileSystem, nullptr, WNOHANG)) == 0; waited += 10)
        sleepMs(10);
    if (ended == 0) {
        ADD_FAILURE() << "the gated file system is still in use";
        kill(fileSystem, SIGKILL);
        waitpid(fileSystem, nullptr, 0);
    }
}
#endif

// Clients that all connect before any of them sends, as a class opening the
// same page at once does, far more than the listener keeps aside: every
// request is answered, none of the connections is closed unanswered.
TEST_F(Lifecycle, ClientsThatAllConnectBeforeAnySendsAreAllAnswered)
{
    writeFile("DATA/page.html", "<p>class</p>");
    std::uint16_t port = start();
    std::vector<Client> clients(200);
    for (Client& c : clients)
        ASSERT_TRUE(c.connectTo(port));
    // Long enough for the server to take every connection it will, also
    // under Wine, whose accepts would otherwise lag behind the sends.
    sleepMs(100);
    for (Client& c : clients) {
        ASSERT_TRUE(c.send("GET /page.html HTTP/1.0\r\n\r\n"));
        c.finishSending();
    }
    const std::string page = header("text/html\n", 12) + "<p>class</p>";
    int answered = 0;
    for (Client& c : clients)
        answered += c.receiveAll(15000).bytes == page;
    EXPECT_EQ(answered, 200);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Connections that a browser opens before it needs them send nothing for
// seconds: the requests behind them are served at once, and a silent one is
// closed unanswered after its ten seconds. A client that stops reading a
// large file holds the server for the send time-out and no longer; a
// request that came meanwhile on a waiting connection is answered after it,
// although its ten seconds are up by then. The waits overlap, so the test
// takes ten seconds, and the bounds leave room for a busy machine: a missing
// time-out would hold either for good.
TEST_F(Lifecycle, SilentClientsWaitAsideAndStalledOnesAreDroppedAfterTenSeconds)
{
    writeSparseFile("DATA/big.bin", 256 << 20);
    writeFile("DATA/small.png", "png");
    std::uint16_t port = start();
    Client silent[3];
    for (Client& c : silent)
        ASSERT_TRUE(c.connectTo(port));
    const std::string small = header("image/png\n", 3) + "png";
    for (int i = 0; i < 30; ++i) {
        std::uint64_t begun = nowMs();
        ASSERT_EQ(ask(port, "GET /small.png HTTP/1.0\r\n\r\n").bytes, small) << i;
        EXPECT_LT(millisecondsSince(begun), 500u) << "request " << i << " behind three silent connections";
    }
    // A connection opened early is answered once its request comes.
    ASSERT_TRUE(silent[0].send("GET /small.png HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(silent[0].receiveAll(3000).bytes, small);

    Client stalled(port);
    ASSERT_TRUE(stalled.send("GET /big.bin HTTP/1.0\r\n\r\n"));
    sleepMs(500);  // the socket buffers fill and the send waits
    ASSERT_TRUE(silent[1].send("GET /small.png HTTP/1.0\r\n\r\n"));
    std::uint64_t begun = nowMs();
    Reply reply = ask(port, "GET /missing HTTP/1.0\r\n\r\n", 25000);
    std::uint64_t waited = millisecondsSince(begun);
    EXPECT_EQ(reply.bytes, NotFound);
    EXPECT_GE(waited, 8500u);
    EXPECT_LT(waited, 20000u);
    EXPECT_EQ(silent[1].receiveAll(3000).bytes, small) << "a request that came while the server was busy";

    Reply unanswered = silent[2].receiveAll(15000);
    EXPECT_EQ(unanswered.bytes, "");
    EXPECT_FALSE(unanswered.timedOut);
}

// A connection that sends nothing is closed unanswered after its ten
// seconds, also when nothing else happens meanwhile, and the server sleeps
// until then.
TEST_F(Lifecycle, ASilentConnectionIsClosedAfterItsTenSeconds)
{
    std::uint16_t port = start();
    Client silent(port);
    std::uint64_t begun = nowMs();
    long cpuBefore = cpuMs();
    Reply closed = silent.receiveAll(15000);
    std::uint64_t waited = millisecondsSince(begun);
    EXPECT_EQ(closed.bytes, "");
    EXPECT_GE(waited, ConnectionTimeoutMs - 500u);
    EXPECT_LT(waited, ConnectionTimeoutMs + 2500u);
    EXPECT_LT(cpuMs() - cpuBefore, 500) << "ms of CPU while a silent connection waited";
}

// A flood of silent connections, three times what the listener keeps aside:
// a request behind them is answered well within a silent connection's ten
// seconds, the longest-waiting ones give up their places for it (and are no
// longer counted while it is answered), and nothing piles up: the stop
// closes the rest at once.
TEST_F(Lifecycle, ManySilentConnectionsNeitherHoldTheServerNorPileUp)
{
    writeSparseFile("DATA/big.bin", 64 << 20);
    std::uint16_t port = start();
    std::vector<Client> silent(3 * WaitingCapacity);
    for (Client& c : silent)
        ASSERT_TRUE(c.connectTo(port));
    std::uint64_t begun = nowMs();
    Client asking(port);
    ASSERT_TRUE(asking.send("GET /big.bin HTTP/1.0\r\n\r\n"));
    ASSERT_EQ(asking.receiveSome(5000).size(), 5000u);
    EXPECT_LT(millisecondsSince(begun), static_cast<std::uint64_t>(ConnectionTimeoutMs));
    EXPECT_EQ(waitingConnectionsNow(), WaitingCapacity - 1);
    asking.abort();
    Reply closed = silent[0].receiveAll(3000);
    EXPECT_EQ(closed.bytes, "");
    EXPECT_FALSE(closed.timedOut) << "the longest-waiting silent connection stays open";
    expectQuickStop();
    for (std::size_t i = 1; i < silent.size(); ++i)
        EXPECT_FALSE(silent[i].receiveAll(3000).timedOut) << "the stop closes every waiting connection";
}

#endif

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A file beyond 2 GiB goes out whole with its true length.
TEST_F(Lifecycle, AFileOfMoreThan2GiBIsSentWhole)
{
#ifdef _WIN32
    GTEST_SKIP() << "two gigabytes through Wine take minutes";
#endif
    const std::int64_t size = 2147483648LL + 3;
    writeSparseFile("DATA/huge.bin", size);
    std::uint16_t port = start();
    Client client(port);
    ASSERT_TRUE(client.send("GET /huge.bin HTTP/1.0\r\n\r\n"));
    client.finishSending();
    const std::string expected = header("text/plain\n", size);
    EXPECT_EQ(client.receiveSome(expected.size()), expected);
    EXPECT_EQ(client.receiveCount(20000), size);
}
#endif
