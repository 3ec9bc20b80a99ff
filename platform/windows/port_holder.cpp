#include "platform/port_holder.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <cstdlib>

namespace {

// The listening sockets with their processes (freed with std::free); null
// when they cannot be read.
MIB_TCPTABLE_OWNER_PID* readListeners()
{
    MIB_TCPTABLE_OWNER_PID* table = nullptr;
    DWORD size = 16 * 1024;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    // A socket may start listening between the call that gives the size and
    // the next.
    for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        std::free(table);
        table = static_cast<MIB_TCPTABLE_OWNER_PID*>(std::malloc(size));
        if (!table)
            return nullptr;
        result = GetExtendedTcpTable(table, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
    }
    if (result == NO_ERROR)
        return table;
    std::free(table);
    return nullptr;
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
    MIB_TCPTABLE_OWNER_PID* table = readListeners();
    if (!table)
        return;
    int match = 0;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID& row = table->table[i];
        // The port in network byte order in the low 16 bits.
        if (ntohs(static_cast<u_short>(row.dwLocalPort)) != port)
            continue;
        int found = row.dwLocalAddr == 0 || row.dwLocalAddr == address ? 2 : 1;
        if (found > match) {
            match = found;
            facts->found = true;
            facts->processId = row.dwOwningPid;
        }
    }
    std::free(table);
    // Process 4 is the kernel's: nothing to open.
    if (facts->found && facts->processId != 0 && facts->processId != SystemProcessId)
        facts->programPath = programPathOf(facts->processId);
}
