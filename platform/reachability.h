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

// The adapter's kind, as a rule's InterfaceTypes tells adapters apart.
enum class AdapterKind : std::uint8_t { Unknown, Ethernet, Wifi, Other };

// Firewall profiles as the firewall numbers them (NET_FW_PROFILE_TYPE2).
constexpr unsigned ProfileDomain = 1, ProfilePrivate = 2, ProfilePublic = 4;
constexpr unsigned ProfileCount = 3;  // the bits above, lowest first
constexpr int ProtocolTcp = 6, ProtocolAny = 256;

struct FirewallProfile {
    Known enabled = Known::Unknown;
    Known blocksAllInbound = Known::Unknown;  // even allowed programs
    Known allowsInboundByDefault = Known::Unknown;
    Known notificationsOff = Known::Unknown;  // no prompt for a program it blocks
};

// A firewall rule as read, before any test of whether it is ours.
struct FirewallRule {
    bool inbound = true;
    bool enabled = true;
    unsigned profiles = 0;       // ProfileDomain | ... ; every bit for all
    bool allow = true;           // else it blocks
    std::wstring application;    // as stored, environment strings unexpanded; empty: every program
    int protocol = ProtocolAny;
    std::wstring localPorts;     // "*", "80", "8000-8100,8080", ...
    // A service's rule, or an app package's (LocalAppPackageId): never ours.
    std::wstring service;
    std::wstring package;
    // Its scope, as the firewall gives it back.
    std::wstring remoteAddresses = L"*";  // "*", "LocalSubnet", addresses, other keywords
    std::wstring localAddresses = L"*";   // "*", or addresses: "10.0.0.5/255.255.255.255", ranges, subnets
    std::wstring remotePorts = L"*";
    std::wstring interfaceTypes = L"All";  // "All", or of "Wireless", "Lan", "RemoteAccess"
    bool interfacesListed = false;         // limited to the adapters it names
    bool authenticatedOnly = false;        // limited to named users or machines, or to IPsec
};

struct ReachFacts {
    // The type of the network of the adapter that the server's address is
    // on; it picks the profile. Unknown: every profile in `currentProfiles`.
    NetworkCategory category = NetworkCategory::Unknown;
    unsigned currentProfiles = 0;  // 0: unknown
    FirewallProfile profiles[ProfileCount];  // domain, private, public
    bool rulesRead = false;
    std::vector<FirewallRule> rules;
    std::wstring program;  // this program's full path, as it was started
    std::uint32_t address = 0;  // the server's, network byte order
    AdapterKind adapter = AdapterKind::Unknown;
    Known ufwEnabled = Known::Unknown;  // natively: the firewall ufw is on
};

// The first that holds, in this order. A finding rests only on rules whose
// every condition can be judged here: where one that cannot could change it,
// the finding is Unknown.
enum class ReachFinding : std::uint8_t {
    BlockRule,         // a private or domain network, and a rule blocks this program on the port
    PortBlockRule,     // the same, by a rule for every program
    BlocksAllInbound,  // the profile blocks every incoming connection
    PublicNetwork,     // a public network, whose rules keep this program out
    PublicNetworkPrivateAllowed,  // the same, and a rule allows it on private networks
    NoRuleYet,         // no rule for this program at all: the prompt was never answered
    NoRuleNoPrompt,    // the same, and the profile's notifications are off: none will come
    UfwEnabled,        // natively: ufw is on, and may drop the port
    NothingFound,      // everything read, and nothing against the phone
    Unknown,           // too little could be read to tell
};

// A program's path in the form that names its file: environment strings such
// as %USERPROFILE% expanded, and the long form of a file that is there (a
// program started by its 8.3 short path gets that path from the system).
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
// The platform's PathExpander (natively the path as it is).
std::wstring expandProgramPath(const std::wstring& path);
// Whether two paths are the same text but for case, by the system's own
// case table (Windows': CompareStringOrdinal; natively Unicode's simple
// upper case, its nearest twin).
bool samePathIgnoringCase(const std::wstring& a, const std::wstring& b);
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
