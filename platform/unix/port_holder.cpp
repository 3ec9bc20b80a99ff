#include "platform/port_holder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace {

constexpr unsigned ListenState = 0x0A;  // TCP_LISTEN, as /proc/net/tcp writes it

// How well a listener's local address (as /proc/net/tcp or tcp6 writes it)
// explains a refused bind of `address`: 2 when it is that address or every
// address, 1 for any other address on the port.
int addressMatch(const char* hex, std::uint32_t address, bool six)
{
    char own[9];
    // The kernel writes each 32-bit word of an address as the number its
    // bytes make in memory, so that this reads back as network byte order.
    std::snprintf(own, sizeof own, "%08X", address);
    if (!six)
        return std::strcmp(hex, "00000000") == 0 || std::strcmp(hex, own) == 0 ? 2 : 1;
    // "::" and the IPv4-mapped form of the address; a dual-stack listener on
    // "::" holds the IPv4 port too.
    if (std::strcmp(hex, "00000000000000000000000000000000") == 0)
        return 2;
    return std::strncmp(hex, "0000000000000000FFFF0000", 24) == 0 && std::strcmp(hex + 24, own) == 0 ? 2 : 1;
}

// The inode of the best listener on `port` in one of /proc/net's tables.
void findListener(const char* table, bool six, std::uint32_t address, std::uint16_t port, unsigned long* inode,
                  int* match)
{
    std::FILE* file = std::fopen(table, "re");
    if (!file)
        return;
    char line[512];
    while (std::fgets(line, sizeof line, file)) {
        char hex[33];
        unsigned localPort, state;
        unsigned long node;
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when
        // retrnsmt uid timeout inode ...; the heading line does not scan.
        if (std::sscanf(line, " %*d: %32[0-9A-F]:%x %*s %x %*s %*s %*s %*u %*u %lu", hex, &localPort, &state,
                        &node) != 4)
            continue;
        if (state != ListenState || localPort != port || node == 0)
            continue;
        int found = addressMatch(hex, address, six);
        if (found > *match) {
            *match = found;
            *inode = node;
        }
    }
    std::fclose(file);
}

// Whether one of the process's descriptors that this user may read is the
// socket `link` ("socket:[inode]").
bool holdsSocket(const char* pid, const char* link)
{
    char path[300];
    std::snprintf(path, sizeof path, "/proc/%s/fd", pid);
    DIR* descriptors = opendir(path);
    if (!descriptors)
        return false;
    bool held = false;
    while (dirent* entry = readdir(descriptors)) {
        char target[64];
        ssize_t length = readlinkat(dirfd(descriptors), entry->d_name, target, sizeof target - 1);
        if (length > 0) {
            target[length] = '\0';
            if (std::strcmp(target, link) == 0) {
                held = true;
                break;
            }
        }
    }
    closedir(descriptors);
    return held;
}

} // namespace

void readPortHolderFacts(std::uint32_t address, std::uint16_t port, PortHolderFacts* facts)
{
    unsigned long inode = 0;
    int match = 0;
    findListener("/proc/net/tcp", false, address, port, &inode, &match);
    findListener("/proc/net/tcp6", true, address, port, &inode, &match);
    if (!inode)
        return;
    facts->found = true;
    char link[40];
    std::snprintf(link, sizeof link, "socket:[%lu]", inode);
    DIR* processes = opendir("/proc");
    if (!processes)
        return;
    while (dirent* entry = readdir(processes)) {
        char* end;
        unsigned long pid = std::strtoul(entry->d_name, &end, 10);
        if (*end || pid == 0 || !holdsSocket(entry->d_name, link))
            continue;
        facts->processId = static_cast<std::uint32_t>(pid);
        char path[64], program[4096];
        std::snprintf(path, sizeof path, "/proc/%lu/exe", pid);
        ssize_t length = readlink(path, program, sizeof program - 1);
        if (length > 0)
            facts->programPath.assign(program, static_cast<std::size_t>(length));
        break;
    }
    closedir(processes);
}
