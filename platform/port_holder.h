// Which program holds a TCP port, for a start that the port refused. The
// facts are read per platform (on Windows: the table of listening sockets
// with their processes, and the process's program file; natively:
// /proc/net/tcp and tcp6 and the /proc/PID/fd links this user may read);
// who holds the port is decided from them here, the same way everywhere.
#pragma once

#include <cstdint>
#include <string>

struct PortHolderFacts {
    bool found = false;           // a listening socket on the port was found
    std::uint32_t processId = 0;  // its process; 0 when the system does not say
    std::string programPath;      // the process's program file, UTF-8; empty when it cannot be read
};

enum class PortHolderKind {
    Unknown,      // no process found, or one this user may not look into
    HttpService,  // Windows' HTTP service (process 4, "System"): IIS and the programs that use it
    Harborlight,  // another Harborlight, which may serve another folder
    Program,      // any other program, by its file name
};

struct PortHolder {
    bool found = false;  // a listener holds the port, named or not
    PortHolderKind kind = PortHolderKind::Unknown;
    std::uint32_t processId = 0;
    std::string fileName;  // UTF-8, without its folder; for Harborlight and Program
};

// Windows gives the ports that its HTTP service (HTTP.sys) holds to the
// System process, whose number is always 4.
constexpr std::uint32_t SystemProcessId = 4;

PortHolder decidePortHolder(const PortHolderFacts& facts);

// Reads the facts for a listener on `port` that keeps a socket from binding
// `address` (network byte order): one on that address or on every address
// first, else any on the port.
void readPortHolderFacts(std::uint32_t address, std::uint16_t port, PortHolderFacts* facts);

// Both in one: who holds the port, as far as this user can tell.
PortHolder findPortHolder(std::uint32_t address, std::uint16_t port);

// The port a refused start suggests in place of `port`.
constexpr int otherPortThan(int port) { return port == 8080 ? 8081 : 8080; }
