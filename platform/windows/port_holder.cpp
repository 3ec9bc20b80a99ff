#include "platform/port_holder.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <cstdlib>
#include <cstring>

namespace {

// The listening sockets of a family with their processes, a
// MIB_TCPTABLE_OWNER_PID or a MIB_TCP6TABLE_OWNER_PID (freed with
// std::free); null when they cannot be read.
void* readListeners(ULONG family)
{
    void* table = nullptr;
    DWORD size = 16 * 1024;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    // A socket may start listening between the call that gives the size and
    // the next.
    for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        std::free(table);
        table = std::malloc(size);
        if (!table)
            return nullptr;
        result = GetExtendedTcpTable(table, &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
    }
    if (result == NO_ERROR)
        return table;
    std::free(table);
    return nullptr;
}

// Takes the listener if it explains the refused bind better than the one
// taken so far (see readPortHolderFacts).
void consider(bool exact, DWORD processId, int* match, PortHolderFacts* facts)
{
    int found = exact ? 2 : 1;
    if (found > *match) {
        *match = found;
        facts->found = true;
        facts->processId = processId;
    }
}

// The program file of a process, in UTF-8; empty when the process cannot be
// opened (another user's, or a protected one, for a user without rights).
std::string programPathOf(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return {};
    WCHAR wide[MAX_PATH * 4];
    DWORD length = MAX_PATH * 4;
    bool read = QueryFullProcessImageNameW(process, 0, wide, &length);
    CloseHandle(process);
    if (!read || length == 0)
        return {};
    std::string path(length * 3, '\0');
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &path[0],
                                    static_cast<int>(path.size()), nullptr, nullptr);
    path.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    return path;
}

} // namespace

void readPortHolderFacts(std::uint32_t address, std::uint16_t port, PortHolderFacts* facts)
{
    int match = 0;
    // The port in network byte order in the low 16 bits; Microsoft warns
    // that the high 16 bits may hold anything.
    const DWORD portEntry = htons(port);
    if (auto* table = static_cast<MIB_TCPTABLE_OWNER_PID*>(readListeners(AF_INET))) {
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCPROW_OWNER_PID& row = table->table[i];
            if ((row.dwLocalPort & 0xFFFF) == portEntry)
                consider(row.dwLocalAddr == 0 || row.dwLocalAddr == address, row.dwOwningPid, &match, facts);
        }
        std::free(table);
    }
    // A dual-stack listener on "::" (Python's http.server, Node's) holds the
    // IPv4 port too, and is listed among the IPv6 ones alone.
    if (auto* table = static_cast<MIB_TCP6TABLE_OWNER_PID*>(readListeners(AF_INET6))) {
        static const UCHAR any[16] = {};
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCP6ROW_OWNER_PID& row = table->table[i];
            if ((row.dwLocalPort & 0xFFFF) == portEntry)
                consider(std::memcmp(row.ucLocalAddr, any, sizeof any) == 0, row.dwOwningPid, &match, facts);
        }
        std::free(table);
    }
    // Process 4 is the kernel's: nothing to open.
    if (facts->found && facts->processId != 0 && facts->processId != SystemProcessId)
        facts->programPath = programPathOf(facts->processId);
}
