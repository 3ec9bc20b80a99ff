// Why a phone on the LAN may not reach the server, as far as this machine
// can tell without an administrator. The facts are read per platform (on
// Windows: the network's type from the network list, the firewall's
// profiles and its rules for this program; natively: whether ufw is
// enabled); the finding is decided from them here, the same way everywhere.
// Every fact may be unknown, and nothing is claimed from an unknown one: a
// finding that is not sure is no finding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A yes or no that could not be read.
enum class Known : std::int8_t { Unknown = -1, No = 0, Yes = 1 };

// Windows' types of network; each has a firewall profile of its own.
enum class NetworkCategory { Unknown, Public, Private, Domain };

// Firewall profiles as the firewall numbers them (NET_FW_PROFILE_TYPE2).
constexpr unsigned ProfileDomain = 1, ProfilePrivate = 2, ProfilePublic = 4;
constexpr unsigned ProfileCount = 3;  // the bits above, lowest first
constexpr int ProtocolTcp = 6, ProtocolAny = 256;

struct FirewallProfile {
    Known enabled = Known::Unknown;
    Known blocksAllInbound = Known::Unknown;  // even allowed programs
    Known allowsInboundByDefault = Known::Unknown;
};

// A firewall rule as read, before any test of whether it is ours.
struct FirewallRule {
    bool inbound = true;
    bool enabled = true;
    unsigned profiles = 0;       // ProfileDomain | ... ; every bit for all
    bool allow = true;           // else it blocks
    std::wstring application;    // as stored, environment strings unexpanded
    int protocol = ProtocolAny;
    std::wstring localPorts;     // "*", "80", "8000-8100,8080", ...
};

struct ReachFacts {
    // The type of the network of the adapter that the server's address is
    // on; it picks the profile. Unknown: every profile in `currentProfiles`.
    NetworkCategory category = NetworkCategory::Unknown;
    unsigned currentProfiles = 0;  // 0: unknown
    FirewallProfile profiles[ProfileCount];  // domain, private, public
    bool rulesRead = false;
    std::vector<FirewallRule> rules;
    std::wstring program;  // this program's full path
    bool wifi = false;     // the adapter is Wi-Fi (else wired, or unknown)
    Known ufwEnabled = Known::Unknown;  // natively: the firewall ufw is on
};

// The first that holds, in this order.
enum class ReachFinding : std::uint8_t {
    BlockRule,         // a firewall rule blocks this program on the port
    BlocksAllInbound,  // the profile blocks every incoming connection
    PublicNetwork,     // a public network, and no rule allows us there
    NoRuleYet,         // no rule for this program at all: the prompt was never answered
    UfwEnabled,        // natively: ufw is on, and may drop the port
    NothingFound,      // everything read, and nothing against the phone
    Unknown,           // too little could be read to tell
};

// Expands environment strings such as %USERPROFILE% in a rule's path.
using PathExpander = std::wstring (*)(const std::wstring& path);

// Whether `ports`, a rule's LocalPorts ("*", numbers and ranges separated by
// commas, keywords such as "RPC"), includes `port`. Empty counts as every
// port, as a rule for any protocol has none.
bool portsInclude(const std::wstring& ports, std::uint16_t port);

// The finding for a server on `port`, from `facts`.
ReachFinding decideReachFinding(const ReachFacts& facts, std::uint16_t port, PathExpander expand);

// Reads the facts for the adapter holding `address` (network byte order).
// Blocking, and on Windows possibly for hundreds of milliseconds: called off
// the user-interface thread, which readReachFindingWithin does.
void readReachFacts(std::uint32_t address, ReachFacts* facts);
// The platform's expansion of environment strings (none natively).
std::wstring expandEnvironmentStrings(const std::wstring& path);
#ifndef _WIN32
// Whether ufw's configuration at `path` says ENABLED=yes; unknown when it
// cannot be read.
Known ufwEnabledIn(const char* path);
#endif

struct ReachReport {
    ReachFinding finding = ReachFinding::Unknown;
    bool wifi = false;
};
// Reads and decides on a thread of its own, waiting at most `limitMs`:
// false when it took longer (its answer is then dropped) or no thread could
// be made.
bool readReachFindingWithin(std::uint32_t address, std::uint16_t port, int limitMs, ReachReport* report);
// How long the front ends wait for the facts before they give up on them.
constexpr int ReachLimitMs = 2000;
