// The listener: one connection at a time, one receive each.
#include <cstring>
#include <mutex>

#include "server/engine.h"

char requestBuffer[RequestCapacity + 1];
sockaddr_in clientAddress;

extern std::mutex connectionLock;

bool sendToClient(const char* data, std::size_t size)
{
    return netSend(connectionSocket, data, size);
}

// A request that fills the buffer, or that does not end with the blank line
// closing its header, may leave bytes unread. Closing a socket with unread
// input resets the connection, which can destroy the answer before the client
// has read it, so such connections are drained before they are closed.
static bool mayHaveUnreadInput(long received)
{
    if (received >= RequestCapacity)
        return true;
    const char* end = requestBuffer + received;
    bool crlfEnd = received >= 4 && std::memcmp(end - 4, "\r\n\r\n", 4) == 0;
    bool lfEnd = received >= 2 && std::memcmp(end - 2, "\n\n", 2) == 0;
    return !(crlfEnd || lfEnd);
}

static void serveConnection(Socket connection)
{
    // A receive that fails, times out or finds the client gone ends this
    // connection only; the next client is served as usual.
    long received = netReceive(connection, requestBuffer, RequestCapacity);
    if (received <= 0)
        return;
    requestBuffer[received] = '\0';
    bool drain = mayHaveUnreadInput(received);
    handleRequest();
    if (drain)
        netDrain(connection, LingerMs);
}

void Listener(Socket* listeningSocket)
{
    if (ServerState != Running)
        return;
    for (;;) {
        std::memset(&clientAddress, 0, sizeof clientAddress);
        Socket accepted = netAccept(*listeningSocket, &clientAddress);
        if (accepted != NoSocket) {
            {
                // Checked under the lock that stopServer takes after setting
                // Stopped: either the stop sees this connection and wakes it,
                // or this sees the stop.
                std::lock_guard<std::mutex> hold(connectionLock);
                if (ServerState != Running) {
                    netClose(accepted);
                    return;
                }
                connectionSocket = accepted;
            }
            serveConnection(accepted);
            std::lock_guard<std::mutex> hold(connectionLock);
            netClose(connectionSocket);
            connectionSocket = NoSocket;
        } else if (!netAcceptMayRetryAtOnce()) {
            waitUnlessStopped(AcceptRetryMs);
        }
        if (ServerState != Running)
            return;
    }
}
