// The server engine: one settings record, the run state, and the operations
// the user interface calls. Everything here is called on the user-interface
// thread, except what the listener thread runs (Listener, handleRequest,
// writeAccessLog).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/net.h"

enum ServerStateValue : std::int32_t { Idle = 0, Running = 1, Stopped = 2 };

// Written only by the user-interface thread; read by the listener.
extern std::atomic<std::int32_t> ServerState;

struct ServerSettings {
    NetStartupData startupData;
    sockaddr_in localAddress;
    // The host's address as dotted-decimal text, or null when none was found.
    // Points into hostIpBuffer so it stays valid until the next discovery.
    const char* hostIpText;
    std::uint16_t port;
    char hostIpBuffer[16];

    // Program end: the server is stopped and the socket layer shut down.
    ~ServerSettings();
};

extern ServerSettings serverSettings;

extern Socket listenSocket;
// The running server's listening socket, or none.
extern Socket listenerSocket;

// The connection being served, the request received on it and its client:
// each listener thread has its own, so that a run a stop left behind inside
// a file call never shares them with a later run.
extern thread_local Socket connectionSocket;
constexpr int RequestCapacity = 1500;
extern thread_local char requestBuffer[RequestCapacity + 1];
extern thread_local sockaddr_in clientAddress;

// Logging switch, written by the user interface, read once per HTML request.
extern std::atomic<std::uint8_t> logEnabled;

// Results: 0 done; 1 already running (start) or any stop; 2 socket, 3 bind,
// 4 listen, 5 socket-layer start-up failed.
int initServer();
int setPort(int newPort);
const char* findHostAddress(ServerSettings& settings);
int startServer(ServerSettings& settings);
int stopServer(ServerSettings& settings);

// What one start's listener owns, and how its stop reaches it.
struct ListenerRun;
// The listener thread's body: serves until its run is stopped.
void Listener(ListenerRun& run);

// Answers the request in requestBuffer on connectionSocket.
// 0 file sent, -1 not a GET request (nothing sent), -2 not found.
int handleRequest();

// Appends one line for `clientAddressText` to the day's log file.
// 1 the file opened at once (or no address given), 2 after creating LOG.
int writeAccessLog(const char* clientAddressText);

// The step at which a start failed.
enum class StartStep : std::uint8_t { None, SocketLayer, Address, Socket, Bind, Listen, Listener };

// Why the latest start failed, for the front ends to say so: every failed
// start records it, and a start that succeeds clears it. The engine only
// records; the words are the front ends'.
struct StartFailure {
    StartStep step = StartStep::None;  // None: no start has failed since the last success
    NetFailure reason = NetFailure::Other;
    int error = 0;           // the system's error number (WSAGetLastError, errno); 0 for none
    std::uint16_t port = 0;  // the port the start asked for
};
StartFailure lastStartFailure();
// The port the running server really listens on (differs from `port` for 0).
std::uint16_t listeningPort();
