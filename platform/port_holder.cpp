#include "platform/port_holder.h"

// The names Harborlight's programs have on either system. Windows compares
// file names without regard to case; a renamed copy is just a program.
static bool isHarborlightName(const std::string& name)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
    for (const char* known : {"harborlight.exe", "harborlight-serve.exe", "harborlight-serve"}) {
        std::string::size_type i = 0;
        while (known[i] && i < name.size() && known[i] == lower(name[i]))
            ++i;
        if (!known[i] && i == name.size())
            return true;
    }
    return false;
}

PortHolder decidePortHolder(const PortHolderFacts& facts)
{
    PortHolder holder;
    holder.found = facts.found;
    if (!facts.found || facts.processId == 0)
        return holder;
    holder.processId = facts.processId;
    if (facts.processId == SystemProcessId) {
        holder.kind = PortHolderKind::HttpService;
        return holder;
    }
    // A process that cannot be opened (another user's, a protected one) is
    // only "another program".
    std::string::size_type slash = facts.programPath.find_last_of("\\/");
    holder.fileName = facts.programPath.substr(slash == std::string::npos ? 0 : slash + 1);
    if (holder.fileName.empty())
        return holder;
    holder.kind = isHarborlightName(holder.fileName) ? PortHolderKind::Harborlight : PortHolderKind::Program;
    return holder;
}

PortHolder findPortHolder(std::uint32_t address, std::uint16_t port)
{
    PortHolderFacts facts;
    readPortHolderFacts(address, port, &facts);
    return decidePortHolder(facts);
}
