// Server settings, run state and the start and stop of the listener.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "server/engine.h"

std::atomic<std::int32_t> ServerState{Idle};

Socket listenSocket = NoSocket;
Socket listenerSocket = NoSocket;
Socket connectionSocket = NoSocket;

// Guards connectionSocket between the listener, which sets and closes it, and
// stopServer, which wakes it. Declared before serverSettings so that both
// outlive its teardown.
std::mutex connectionLock;
// Ends a listener's pause after a failed accept as soon as a stop comes.
static std::condition_variable stopSignal;
static std::thread listenerThread;
// Whether the listener thread is still inside Listener, so that a stop knows
// when to stop waking it.
static std::atomic<bool> listenerRunning{false};
// How often a stop repeats its wake while the listener has not ended.
constexpr int WakeRepeatMs = 5;
static NetFailure startFailure = NetFailure::Other;

ServerSettings serverSettings{};

static void setLocalAddress(ServerSettings& settings, std::uint16_t port)
{
    settings.localAddress.sin_family = AF_INET;
    settings.localAddress.sin_port = htons(port);
    const char* text = findHostAddress(settings);
    settings.localAddress.sin_addr.s_addr = text ? netParseAddress(text) : INADDR_NONE;
}

const char* findHostAddress(ServerSettings& settings)
{
    char hostName[256];
    std::uint32_t address;
    if (netHostName(hostName, 255) && netHostAddress(hostName, &address)) {
        netAddressText(address, settings.hostIpBuffer);
        settings.hostIpText = settings.hostIpBuffer;
    } else {
        settings.hostIpText = nullptr;
    }
    return settings.hostIpText;
}

int initServer()
{
    ServerSettings& settings = serverSettings;
    ServerState = Idle;
    if (netStartup(&settings.startupData) != 0)
        return 5;
    setLocalAddress(settings, 80);
    listenSocket = NoSocket;
    settings.port = 80;
    netCleanup();
    return 0;
}

int setPort(int newPort)
{
    ServerSettings& settings = serverSettings;
    if (netStartup(&settings.startupData) != 0)
        return 5;
    std::uint16_t port = static_cast<std::uint16_t>(newPort);
    setLocalAddress(settings, port);
    netCleanup();
    settings.port = port;
    listenSocket = NoSocket;
    return 0;
}

static int undoStart(int result, NetFailure failure)
{
    startFailure = failure;
    if (listenSocket != NoSocket)
        netClose(listenSocket);
    listenSocket = NoSocket;
    netCleanup();
    return result;
}

int startServer(ServerSettings& settings)
{
    if (ServerState == Running)
        return 1;
    if (netStartup(&settings.startupData) != 0)
        return 5;
    setLocalAddress(settings, settings.port);
    // Without an address there is nothing to bind: 255.255.255.255 is no
    // address of this host, though some socket layers (Wine's) bind it.
    if (!settings.hostIpText)
        return undoStart(3, NetFailure::AddressUnavailable);
    listenSocket = netOpenStream();
    if (listenSocket == NoSocket)
        return undoStart(2, netLastFailure());
    if (!netBind(listenSocket, settings.localAddress))
        return undoStart(3, netLastFailure());
    if (!netListen(listenSocket, ConnectionTimeoutMs))
        return undoStart(4, netLastFailure());
    std::int32_t before = ServerState;
    ServerState = Running;
    // From here the listener owns the socket and the stop closes it, through
    // listenerSocket alone.
    listenerSocket = listenSocket;
    listenSocket = NoSocket;
    listenerRunning = true;
    try {
        listenerThread = std::thread([] {
            Listener(&listenerSocket);
            listenerRunning = false;
        });
    } catch (const std::system_error&) {
        // Nothing would serve; better to look stopped than to claim to run.
        listenerRunning = false;
        ServerState = before;
        listenSocket = listenerSocket;
        listenerSocket = NoSocket;
        return undoStart(2, NetFailure::Other);
    }
    return 0;
}

// The stop wakes the listener wherever it waits and lets it close its own
// connection, then waits for it, so a later start can never meet the old
// listener or its handles. A wake can miss a call that starts at the same
// moment, so it is repeated every few milliseconds until the listener has
// ended; each repeat also reaches a connection accepted meanwhile.
int stopServer(ServerSettings&)
{
    if (ServerState != Running)
        return 1;
    ServerState = Stopped;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(connectionLock);
            if (connectionSocket != NoSocket)
                netWake(connectionSocket);
            stopSignal.notify_all();
        }
        netWake(listenerSocket);
        for (int waited = 0; waited < WakeRepeatMs && listenerRunning; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!listenerRunning)
            break;
    }
    if (listenerThread.joinable())
        listenerThread.join();
    netClose(listenerSocket);
    listenerSocket = NoSocket;
    netCleanup();
    return 1;
}

void waitUnlessStopped(int ms)
{
    std::unique_lock<std::mutex> hold(connectionLock);
    stopSignal.wait_for(hold, std::chrono::milliseconds(ms), [] { return ServerState != Running; });
}

ServerSettings::~ServerSettings()
{
    stopServer(*this);
    ServerState = Stopped;
}

NetFailure lastStartFailure()
{
    return startFailure;
}

std::uint16_t listeningPort()
{
    return ServerState == Running && listenerSocket != NoSocket ? netLocalPort(listenerSocket) : 0;
}
