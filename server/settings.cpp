// Server settings, run state and the start and stop of the listener.
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "server/engine.h"
#include "server/request_record.h"

std::atomic<std::int32_t> ServerState{Idle};

Socket listenSocket = NoSocket;
Socket listenerSocket = NoSocket;
thread_local Socket connectionSocket = NoSocket;

// The running server's listener; the stop lets go of it.
static std::shared_ptr<ListenerRun> currentRun;
static std::thread listenerThread;
// How often a stop repeats its wake while the listener has not ended, and
// how long it waits for the listener at most: past that the listener is
// inside a file call that does not return (a share or a mount that stopped
// answering), and it is left to end on its own.
constexpr int WakeRepeatMs = 5;
constexpr int StopWaitMs = 1000;
static StartFailure startFailure;

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
    startFailure = StartFailure{};
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

static int undoStart(int result, StartStep step, NetFailure reason, int error)
{
    startFailure = {step, reason, error, serverSettings.port};
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
    if (int error = netStartup(&settings.startupData)) {
        // Nothing to undo: the socket layer did not start.
        startFailure = {StartStep::SocketLayer, NetFailure::Other, error, settings.port};
        return 5;
    }
    setLocalAddress(settings, settings.port);
    // Without an address there is nothing to bind: 255.255.255.255 is no
    // address of this host, though some socket layers (Wine's) bind it.
    if (!settings.hostIpText)
        return undoStart(3, StartStep::Address, NetFailure::AddressUnavailable, 0);
    listenSocket = netOpenStream();
    if (listenSocket == NoSocket)
        return undoStart(2, StartStep::Socket, netLastFailure(), netLastError());
    if (!netBind(listenSocket, settings.localAddress))
        return undoStart(3, StartStep::Bind, netLastFailure(), netLastError());
    if (!netListen(listenSocket, ConnectionTimeoutMs))
        return undoStart(4, StartStep::Listen, netLastFailure(), netLastError());
    auto run = std::make_shared<ListenerRun>();
    if (!netWakerOpen(&run->waker))
        return undoStart(2, StartStep::Listener, NetFailure::Other, netLastError());
    std::int32_t before = ServerState;
    ServerState = Running;
    // From here the run owns the socket, and the stop closes it.
    run->listening = listenSocket;
    listenerSocket = listenSocket;
    listenSocket = NoSocket;
    try {
        listenerThread = std::thread([run] {
            {
                std::lock_guard<std::mutex> hold(run->lock);
                run->caller = fileCallerOfThisThread();
            }
            Listener(*run);
            std::lock_guard<std::mutex> hold(run->lock);
            fileCallerRelease(run->caller);
            run->caller = FileCaller{};
            run->ended = true;
        });
    } catch (const std::system_error& failure) {
        // Nothing would serve; better to look stopped than to claim to run.
        ServerState = before;
        listenSocket = listenerSocket;
        listenerSocket = NoSocket;
        return undoStart(2, StartStep::Listener, NetFailure::Other, failure.code().value());
    }
    currentRun = std::move(run);
    startFailure = StartFailure{};
    return 0;
}

// Wakes the listener wherever it waits: in its wait, in a receive or a send,
// or in a file call that the system can cancel.
static void wakeListener(ListenerRun& run, bool listeningOpen)
{
    netWakerGive(run.waker);
    std::lock_guard<std::mutex> hold(run.lock);
    if (run.connection != NoSocket)
        netWake(run.connection);
    if (listeningOpen)
        netWake(run.listening);
    if (run.caller)
        fileCancelCallOf(run.caller);
}

// The listening socket and the waiting connections, once the listener has
// let go of them for good.
static void closeListening(ListenerRun& run)
{
    netClose(run.listening);
    for (int i = 0; i < run.waitingCount; ++i)
        netClose(run.waiting[i].socket);
    run.waitingCount = 0;
    recordWaitingConnections(0);
}

// The stop wakes the listener and lets it close its own connection. A wake
// can miss a call that starts at the same moment, so it is repeated every few
// milliseconds. The listening socket is closed as soon as the listener is out
// of its wait, so that a new start can take the port at once; the stop then
// waits for the listener for StopWaitMs at most. A listener still inside a
// file call by then is left behind: it ends when the call returns, closing
// only its own connection, since everything it uses is its run's alone.
int stopServer(ServerSettings&)
{
    if (ServerState != Running)
        return 1;
    ServerState = Stopped;
    std::shared_ptr<ListenerRun> run = std::move(currentRun);
    run->stopped = true;
    bool listeningOpen = true;
    const std::uint64_t deadline = steadyMs() + StopWaitMs;
    for (;;) {
        wakeListener(*run, listeningOpen);
        if (listeningOpen && !run->inWait) {
            closeListening(*run);
            listeningOpen = false;
        }
        for (int waited = 0; waited < WakeRepeatMs && !run->ended; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (run->ended || (!listeningOpen && steadyMs() >= deadline))
            break;
    }
    if (run->ended)
        listenerThread.join();
    else
        listenerThread.detach();
    if (listeningOpen)
        closeListening(*run);
    listenerSocket = NoSocket;
    netCleanup();
    return 1;
}

ServerSettings::~ServerSettings()
{
    stopServer(*this);
    ServerState = Stopped;
}

StartFailure lastStartFailure()
{
    return startFailure;
}

std::uint16_t listeningPort()
{
    return ServerState == Running && listenerSocket != NoSocket ? netLocalPort(listenerSocket) : 0;
}
