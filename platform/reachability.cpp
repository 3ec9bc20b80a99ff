#include "platform/reachability.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// The number in `text` from `begin` to `end`, blanks around it aside; false
// when it is no number of 0..`largest`.
bool readNumber(const std::wstring& text, std::size_t begin, std::size_t end, unsigned* number,
                unsigned largest = 65535)
{
    while (begin < end && text[begin] == L' ')
        ++begin;
    while (end > begin && text[end - 1] == L' ')
        --end;
    if (begin == end)
        return false;
    unsigned value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        value = value * 10 + static_cast<unsigned>(text[i] - L'0');
        if (value > largest)
            return false;
    }
    *number = value;
    return true;
}

// Calls `each` with the bounds of every comma-separated item of `list` until
// it answers true; whether one did.
template <class Each>
bool anyItem(const std::wstring& list, Each each)
{
    for (std::size_t begin = 0;;) {
        const std::size_t end = std::min(list.find(L',', begin), list.size());
        if (each(begin, end))
            return true;
        if (end == list.size())
            return false;
        begin = end + 1;
    }
}

wchar_t asciiLower(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Whether the item from `begin` to `end`, blanks aside, is `word`, in any
// case (the firewall's keywords are ASCII).
bool itemIs(const std::wstring& list, std::size_t begin, std::size_t end, const wchar_t* word)
{
    while (begin < end && list[begin] == L' ')
        ++begin;
    while (end > begin && list[end - 1] == L' ')
        --end;
    std::size_t i = 0;
    for (; begin + i < end; ++i)
        if (word[i] == L'\0' || asciiLower(list[begin + i]) != asciiLower(word[i]))
            return false;
    return word[i] == L'\0';
}

// Blank, or "*" among its items.
bool everyItem(const std::wstring& list)
{
    return list.find_first_not_of(L' ') == std::wstring::npos ||
           anyItem(list, [&](std::size_t begin, std::size_t end) { return itemIs(list, begin, end, L"*"); });
}

// An IPv4 address in dotted decimal, host byte order.
bool readAddress(const std::wstring& text, std::size_t begin, std::size_t end, std::uint32_t* address)
{
    std::uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t stop = part < 3 ? std::min(text.find(L'.', begin), end) : end;
        unsigned byte = 0;
        if ((part < 3 && stop == end) || !readNumber(text, begin, stop, &byte, 255))
            return false;
        value = value << 8 | byte;
        begin = stop + 1;
    }
    *address = value;
    return true;
}

// Whether an item of LocalAddresses (an address, "low-high", or a subnet as
// "address/bits" or "address/mask") holds `address` (host byte order).
bool addressItemHolds(const std::wstring& list, std::size_t begin, std::size_t end, std::uint32_t address)
{
    std::uint32_t low = 0, high = 0;
    const std::size_t dash = std::min(list.find(L'-', begin), end), slash = std::min(list.find(L'/', begin), end);
    if (dash < end)
        return readAddress(list, begin, dash, &low) && readAddress(list, dash + 1, end, &high) && low <= address &&
               address <= high;
    if (!readAddress(list, begin, slash, &low))
        return false;
    std::uint32_t mask = 0xFFFFFFFF;
    unsigned bits = 0;
    if (slash < end) {
        if (readNumber(list, slash + 1, end, &bits, 32))
            mask = bits == 0 ? 0 : 0xFFFFFFFF << (32 - bits);
        else if (!readAddress(list, slash + 1, end, &mask))
            return false;
    }
    return (address & mask) == (low & mask);
}

std::uint32_t hostOrder(std::uint32_t networkOrder)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &networkOrder, 4);
    return static_cast<std::uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

// A rule may name the program with the prefix that lifts the length limit:
// "\\?\C:\..." and "\\?\UNC\server\share\..." are "C:\..." and
// "\\server\share\...". Dropped before the path is expanded: Wine's
// GetLongPathNameW leaves a short path with the prefix as it is.
std::wstring withoutLongPrefix(const std::wstring& path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path.substr(4);
    return path;
}

unsigned profileIndex(unsigned profile)
{
    return profile == ProfileDomain ? 0 : profile == ProfilePrivate ? 1 : 2;
}

// Inbound and naming the program at `program` (its expanded form), not a
// service or a package of it.
bool namesProgram(const FirewallRule& rule, const std::wstring& program, PathExpander expand)
{
    return rule.inbound && !program.empty() && !rule.application.empty() && rule.service.empty() &&
           rule.package.empty() && samePathIgnoringCase(expand(withoutLongPrefix(rule.application)), program);
}

// The decision's view of the facts, for a server on one port.
struct Facts {
    Facts(const ReachFacts& read, std::uint16_t port, PathExpander expand)
        : read(read), port(port), naming(read.rules.size())
    {
        // Each path expanded once: on Windows, a look-up in the file system.
        const std::wstring program = read.program.empty() ? std::wstring() : expand(withoutLongPrefix(read.program));
        for (std::size_t i = 0; i < read.rules.size(); ++i)
            naming[i] = namesProgram(read.rules[i], program, expand);
    }

    const ReachFacts& read;
    const std::uint16_t port;
    std::vector<bool> naming;  // by the rules' order

    const FirewallProfile& profile(unsigned bit) const { return read.profiles[profileIndex(bit)]; }

    bool ours(const FirewallRule& rule) const { return naming[static_cast<std::size_t>(&rule - read.rules.data())]; }
    // Whether the rule's adapter types hold the adapter: unknown when the
    // adapter's kind is not one they name.
    Known coversAdapter(const FirewallRule& rule) const
    {
        const std::wstring& types = rule.interfaceTypes;
        const AdapterKind kind = read.adapter;
        if (types.find_first_not_of(L' ') == std::wstring::npos ||
            anyItem(types, [&](std::size_t begin, std::size_t end) {
                return itemIs(types, begin, end, L"All") ||
                       (kind == AdapterKind::Wifi && itemIs(types, begin, end, L"Wireless")) ||
                       (kind == AdapterKind::Ethernet && itemIs(types, begin, end, L"Lan"));
            }))
            return Known::Yes;
        return kind == AdapterKind::Wifi || kind == AdapterKind::Ethernet ? Known::No : Known::Unknown;
    }
    // Whether the rule's addresses and remote ports hold a phone on the
    // adapter's subnet, as the URL assumes, reaching the server's address.
    bool coversPhone(const FirewallRule& rule) const
    {
        const std::wstring &remote = rule.remoteAddresses, &local = rule.localAddresses;
        const std::uint32_t address = hostOrder(read.address);
        return (everyItem(remote) || anyItem(remote, [&](std::size_t begin, std::size_t end) {
                    return itemIs(remote, begin, end, L"LocalSubnet");
                })) &&
               (everyItem(local) || anyItem(local, [&](std::size_t begin, std::size_t end) {
                    return addressItemHolds(local, begin, end, address);
                })) &&
               everyItem(rule.remotePorts);
    }
    // Whether the rule holds for a phone reaching this program on the port
    // through profile `bit`: a rule for no program (nor service, nor package)
    // holds for every one. Unknown when it would, but for a condition that
    // cannot be judged here.
    Known holds(const FirewallRule& rule, unsigned bit) const
    {
        if (!rule.inbound || !rule.enabled || !(rule.profiles & bit) ||
            (rule.protocol != ProtocolTcp && rule.protocol != ProtocolAny) || !portsInclude(rule.localPorts, port))
            return Known::No;
        const bool everyProgram = rule.application.empty() && rule.service.empty() && rule.package.empty();
        if (!everyProgram && !ours(rule))
            return Known::No;
        const Known adapter = coversAdapter(rule);
        if (adapter == Known::No)
            return Known::No;
        return adapter == Known::Yes && !rule.interfacesListed && !rule.authenticatedOnly && coversPhone(rule)
                   ? Known::Yes
                   : Known::Unknown;
    }
    // The first rule that allows (or blocks) that holds, one naming this
    // program before one for every program; else null, and `maybe` says
    // whether one may.
    const FirewallRule* ruleThatHolds(unsigned bit, bool allow, bool* maybe = nullptr) const
    {
        const FirewallRule* found = nullptr;
        bool unknown = false;
        for (const FirewallRule& rule : read.rules) {
            if (rule.allow != allow)
                continue;
            const Known holding = holds(rule, bit);
            if (holding == Known::Yes && !rule.application.empty())
                return &rule;
            if (holding == Known::Yes && !found)
                found = &rule;
            unknown = unknown || holding == Known::Unknown;
        }
        if (maybe)
            *maybe = unknown;
        return found;
    }
    // Yes when a rule that allows (or blocks) holds, Unknown when one may.
    Known anyRule(unsigned bit, bool allow) const
    {
        bool maybe = false;
        return ruleThatHolds(bit, allow, &maybe) ? Known::Yes : maybe ? Known::Unknown : Known::No;
    }
    bool anyRuleOfOurs() const
    {
        for (const FirewallRule& rule : read.rules)
            if (ours(rule))
                return true;
        return false;
    }
    // The firewall is on, and lets in nothing but what a rule allows.
    bool guarded(unsigned bit) const
    {
        return profile(bit).enabled == Known::Yes && profile(bit).allowsInboundByDefault == Known::No;
    }
    // Known to let the port in: off, or on and letting in everything not
    // blocked, or allowing this program; and no rule blocks it.
    bool open(unsigned bit) const
    {
        const FirewallProfile& p = profile(bit);
        if (p.enabled == Known::No)
            return true;
        return p.enabled == Known::Yes && p.blocksAllInbound == Known::No && read.rulesRead &&
               anyRule(bit, false) == Known::No &&
               (p.allowsInboundByDefault == Known::Yes || anyRule(bit, true) == Known::Yes);
    }
    // Known to keep the program out: on, and a rule blocks it, or none
    // allows it where nothing else is let in.
    bool keepsOut(unsigned bit) const
    {
        return profile(bit).enabled == Known::Yes && read.rulesRead &&
               (anyRule(bit, false) == Known::Yes || (guarded(bit) && anyRule(bit, true) == Known::No));
    }
    // No rule holds, nor may: the rule that the prompt's answer makes would
    // decide alone.
    bool noRuleHolds(unsigned bit) const
    {
        return anyRule(bit, true) == Known::No && anyRule(bit, false) == Known::No;
    }
};

// The profiles that rule the adapter: its network's, or, when that is not
// known, every profile in use; 0 when neither is.
unsigned profilesInUse(const ReachFacts& facts)
{
    switch (facts.category) {
    case NetworkCategory::Public: return ProfilePublic;
    case NetworkCategory::Private: return ProfilePrivate;
    case NetworkCategory::Domain: return ProfileDomain;
    case NetworkCategory::Unknown: break;
    }
    return facts.currentProfiles & (ProfileDomain | ProfilePrivate | ProfilePublic);
}

} // namespace

bool portsInclude(const std::wstring& ports, std::uint16_t port)
{
    if (everyItem(ports))
        return true;
    return anyItem(ports, [&](std::size_t begin, std::size_t end) {
        // A keyword such as "RPC-EPMap" reads as neither a number nor a range.
        const std::size_t dash = std::min(ports.find(L'-', begin), end);
        unsigned low = 0, high = 0;
        return dash < end ? readNumber(ports, begin, dash, &low) && readNumber(ports, dash + 1, end, &high) &&
                                low <= port && port <= high
                          : readNumber(ports, begin, end, &low) && low == port;
    });
}

ReachFinding decideReachFinding(const ReachFacts& read, std::uint16_t port, PathExpander expand)
{
    // The findings in ReachFinding's order; each claims only what is known.
    const Facts facts(read, port, expand);
    const unsigned inUse = profilesInUse(read);
    // A block rule wins over every allow rule, but only where the firewall is
    // on. Its cure in the allowed-apps list is for private networks: on a
    // public one, the network's type is the cure (below).
    if (read.rulesRead)
        for (unsigned bit = ProfileDomain; bit <= ProfilePrivate; bit <<= 1)
            if ((inUse & bit) && facts.profile(bit).enabled == Known::Yes)
                if (const FirewallRule* rule = facts.ruleThatHolds(bit, false))
                    return rule->application.empty() ? ReachFinding::PortBlockRule : ReachFinding::BlockRule;
    for (unsigned bit = 1; bit <= ProfilePublic; bit <<= 1)
        if ((inUse & bit) && facts.profile(bit).enabled == Known::Yes &&
            facts.profile(bit).blocksAllInbound == Known::Yes)
            return ReachFinding::BlocksAllInbound;
    // On a public network the cure is the network's type, whether a block
    // rule or the want of an allow rule keeps the program out: ticking only
    // "Private" in Windows' prompt leaves both an allow rule on Private and a
    // block rule on Public.
    if (inUse == ProfilePublic && facts.keepsOut(ProfilePublic))
        return facts.anyRule(ProfilePrivate, true) == Known::Yes && facts.open(ProfilePrivate)
                   ? ReachFinding::PublicNetworkPrivateAllowed
                   : ReachFinding::PublicNetwork;
    if (read.rulesRead && !facts.anyRuleOfOurs())
        for (unsigned bit = 1; bit <= ProfilePublic; bit <<= 1)
            if ((inUse & bit) && facts.guarded(bit) && facts.noRuleHolds(bit))
                return facts.profile(bit).notificationsOff == Known::Yes ? ReachFinding::NoRuleNoPrompt
                                                                          : ReachFinding::NoRuleYet;
    if (read.ufwEnabled == Known::Yes)
        return ReachFinding::UfwEnabled;
    // Nothing against the phone only when every profile in use is known open.
    if (inUse == 0)
        return ReachFinding::Unknown;
    for (unsigned bit = 1; bit <= ProfilePublic; bit <<= 1)
        if ((inUse & bit) && !facts.open(bit))
            return ReachFinding::Unknown;
    return ReachFinding::NothingFound;
}

namespace {

// What the reading thread and its waiter share; whichever ends last frees it.
struct Reading {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    ReachReport report;
};

} // namespace

bool readReachFindingWithin(std::uint32_t address, std::uint16_t port, int limitMs, ReachReport* report)
{
    auto reading = std::make_shared<Reading>();
    try {
        // Detached: a call that hangs must hold neither the waiter nor the
        // program's end.
        std::thread([reading, address, port] {
            ReachFacts facts;
            readReachFacts(address, &facts);
            ReachReport found{decideReachFinding(facts, port, expandProgramPath),
                              facts.adapter == AdapterKind::Wifi};
            std::lock_guard<std::mutex> hold(reading->lock);
            reading->report = found;
            reading->finished = true;
            reading->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    std::unique_lock<std::mutex> hold(reading->lock);
    if (!reading->done.wait_for(hold, std::chrono::milliseconds(limitMs), [&] { return reading->finished; }))
        return false;
    *report = reading->report;
    return true;
}
