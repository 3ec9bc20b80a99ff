#include "platform/reachability.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cwctype>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// Windows compares file names without regard to case (the letters beyond
// ASCII as far as the C library's locale knows them).
wchar_t upperCase(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : static_cast<wchar_t>(std::towupper(c));
}

bool samePath(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upperCase(a[i]) != upperCase(b[i]))
            return false;
    return true;
}

// The number in `text` from `begin` to `end`, blanks around it aside; false
// when it is no number of 0..65535.
bool readNumber(const std::wstring& text, std::size_t begin, std::size_t end, unsigned* number)
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
        if (value > 65535)
            return false;
    }
    *number = value;
    return true;
}

unsigned profileIndex(unsigned profile)
{
    return profile == ProfileDomain ? 0 : profile == ProfilePrivate ? 1 : 2;
}

// The decision's view of the facts, for a server on one port.
struct Facts {
    const ReachFacts& read;
    std::uint16_t port;
    PathExpander expand;

    const FirewallProfile& profile(unsigned bit) const { return read.profiles[profileIndex(bit)]; }

    // Inbound and naming this program.
    bool ours(const FirewallRule& rule) const
    {
        return rule.inbound && !read.program.empty() && !rule.application.empty() &&
               samePath(expand(rule.application), read.program);
    }
    // Ours, in force on the profile `bit`, and for TCP on the port.
    bool counts(const FirewallRule& rule, unsigned bit) const
    {
        return rule.enabled && (rule.profiles & bit) &&
               (rule.protocol == ProtocolTcp || rule.protocol == ProtocolAny) && portsInclude(rule.localPorts, port) &&
               ours(rule);
    }
    bool anyRule(unsigned bit, bool allow) const
    {
        for (const FirewallRule& rule : read.rules)
            if (rule.allow == allow && counts(rule, bit))
                return true;
        return false;
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
               !anyRule(bit, false) && (p.allowsInboundByDefault == Known::Yes || anyRule(bit, true));
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
    if (ports.find_first_not_of(L' ') == std::wstring::npos)
        return true;
    for (std::size_t begin = 0;;) {
        std::size_t end = std::min(ports.find(L',', begin), ports.size());
        std::size_t first = ports.find_first_not_of(L' ', begin);
        if (first < end && ports[first] == L'*' && ports.find_first_not_of(L' ', first + 1) >= end)
            return true;
        // A keyword such as "RPC-EPMap" reads as neither a number nor a range.
        std::size_t dash = ports.find(L'-', begin);
        unsigned low = 0, high = 0;
        if (dash < end ? readNumber(ports, begin, dash, &low) && readNumber(ports, dash + 1, end, &high) &&
                             low <= port && port <= high
                       : readNumber(ports, begin, end, &low) && low == port)
            return true;
        if (end == ports.size())
            return false;
        begin = end + 1;
    }
}

ReachFinding decideReachFinding(const ReachFacts& read, std::uint16_t port, PathExpander expand)
{
    // The findings in ReachFinding's order; each claims only what is known.
    const Facts facts{read, port, expand};
    const unsigned inUse = profilesInUse(read);
    // A block rule wins over every allow rule, but only where the firewall is on.
    if (read.rulesRead)
        for (unsigned bit = 1; bit <= ProfilePublic; bit <<= 1)
            if ((inUse & bit) && facts.profile(bit).enabled == Known::Yes && facts.anyRule(bit, false))
                return ReachFinding::BlockRule;
    for (unsigned bit = 1; bit <= ProfilePublic; bit <<= 1)
        if ((inUse & bit) && facts.profile(bit).enabled == Known::Yes &&
            facts.profile(bit).blocksAllInbound == Known::Yes)
            return ReachFinding::BlocksAllInbound;
    if (inUse == ProfilePublic && read.rulesRead && facts.guarded(ProfilePublic) && !facts.anyRule(ProfilePublic, true))
        return ReachFinding::PublicNetwork;
    if (read.rulesRead && !facts.anyRuleOfOurs())
        for (unsigned bit = 1; bit <= ProfilePublic; bit <<= 1)
            if ((inUse & bit) && facts.guarded(bit))
                return ReachFinding::NoRuleYet;
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
            ReachReport found{decideReachFinding(facts, port, expandEnvironmentStrings), facts.wifi};
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
