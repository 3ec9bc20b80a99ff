#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/host_address.h"
#include "platform/reachability.h"
#include "server/server.h"

TEST(Engine, InitServerStartsIdleOnPort80)
{
    EXPECT_EQ(initServer(), 0);
    EXPECT_EQ(ServerState, Idle);
    EXPECT_EQ(serverSettings.port, 80);
}

// The host's addresses in the lookup's order, with their adapters' state; the
// address the server is to take.
TEST(ChooseHostAddress, TakesTheFirstUpAdapterWithAGatewayElseTheFirst)
{
    const std::uint32_t virtualAdapter = netParseAddress("172.28.16.1");
    const std::uint32_t lan = netParseAddress("10.77.0.5");
    const std::uint32_t otherLan = netParseAddress("192.168.1.20");
    const std::uint32_t loopback = netParseAddress("127.0.0.1");
    struct Case {
        const char* name;
        std::vector<HostAddressCandidate> candidates;
        std::uint32_t chosen;
    };
    const Case cases[] = {
        {"virtual first, then the LAN with a gateway", {{virtualAdapter, true, false}, {lan, true, true}}, lan},
        {"no gateway anywhere", {{virtualAdapter, true, false}, {lan, true, false}}, virtualAdapter},
        {"only loopback", {{loopback, true, false}}, loopback},
        {"two with gateways", {{virtualAdapter, true, false}, {otherLan, true, true}, {lan, true, true}}, otherLan},
        {"a down adapter's gateway", {{virtualAdapter, true, false}, {otherLan, false, true}, {lan, true, true}}, lan},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseHostAddress(c.candidates.data(), c.candidates.size()), c.chosen) << c.name;
}

// Facts as the firewall and the network list would give them, and the
// finding for a server on 10.231.0.5:8080 of C:\Users\zoë\Harborlight.exe on
// Wi-Fi.
std::wstring expandUserProfile(const std::wstring& path)
{
    const std::wstring name = L"%USERPROFILE%";
    return path.compare(0, name.size(), name) ? path : L"C:\\Users\\zo\u00eb" + path.substr(name.size());
}

ReachFacts factsOf(NetworkCategory category, const FirewallProfile& profile, const std::vector<FirewallRule>& rules)
{
    ReachFacts facts;
    facts.category = category;
    for (FirewallProfile& p : facts.profiles)
        p = profile;
    facts.rulesRead = true;
    facts.rules = rules;
    facts.program = L"C:\\Users\\zo\u00eb\\Harborlight.exe";
    facts.address = netParseAddress("10.231.0.5");
    facts.adapter = AdapterKind::Wifi;
    return facts;
}

TEST(DecideReachFinding, TheFirstFindingThatHoldsAndNoneFromUnknownFacts)
{
    using F = ReachFinding;
    constexpr unsigned All = 0x7FFFFFFF;
    const Known Y = Known::Yes, N = Known::No, U = Known::Unknown;
    // Enabled, blocks all inbound, allows inbound by default, notifications off.
    const FirewallProfile on{Y, N, N, N}, off{N, U, U, U}, blocksAll{Y, Y, N, N}, open{Y, N, Y, N}, quiet{Y, N, N, Y};
    FirewallRule allow;
    allow.profiles = All;
    allow.application = L"C:\\Users\\zo\u00eb\\Harborlight.exe";
    allow.protocol = ProtocolTcp;
    allow.localPorts = L"*";
    FirewallRule block = allow, otherProgram = allow, otherPort = allow, privateOnly = allow, caseOf = allow,
                 inHome = allow, disabled = allow, udp = allow, inList = allow, outbound = allow, disabledBlock = allow,
                 longPrefix = allow, publicBlock = allow, portAllow = allow, portBlock = allow, service = allow,
                 package = allow;
    block.allow = publicBlock.allow = portBlock.allow = service.allow = package.allow = false;
    otherProgram.application = L"C:\\Users\\zo\u00eb\\other.exe";
    otherPort.localPorts = L"80,443";
    privateOnly.profiles = ProfilePrivate;
    publicBlock.profiles = ProfilePublic;
    // The first and last letters of ASCII, and one beyond it, in another case.
    caseOf.application = L"c:\\users\\ZO\u00cb\\hArborlight.EXE";
    inHome.application = L"%USERPROFILE%\\Harborlight.exe";
    longPrefix.application = L"\\\\?\\C:\\Users\\zo\u00eb\\Harborlight.exe";
    disabled.enabled = false;
    udp.protocol = 17;
    inList.localPorts = L"RPC, 80, 8000-8100";
    outbound.inbound = false;
    disabledBlock.allow = disabledBlock.enabled = false;
    portAllow.application = portBlock.application = service.application = package.application = L"";
    portAllow.localPorts = L"80, 8080";
    portBlock.localPorts = L"8080";
    service.service = L"Dnscache";
    package.package = L"S-1-15-2-1";
    // A block rule of each scope: the phone's subnet, or addresses it is not on.
    auto blockWith = [&](std::wstring FirewallRule::*field, const wchar_t* value) {
        FirewallRule scoped = block;
        scoped.*field = value;
        return scoped;
    };
    const FirewallRule localSubnet = blockWith(&FirewallRule::remoteAddresses, L"localsubnet");
    const FirewallRule otherRemote = blockWith(&FirewallRule::remoteAddresses, L"10.9.9.9/255.255.255.255");
    const FirewallRule remotePort = blockWith(&FirewallRule::remotePorts, L"5000");
    const FirewallRule ours1 = blockWith(&FirewallRule::localAddresses, L"10.231.0.5/255.255.255.255");
    const FirewallRule ours2 = blockWith(&FirewallRule::localAddresses, L"192.168.1.0/24, 10.231.0.5-10.231.0.9");
    const FirewallRule ours3 = blockWith(&FirewallRule::localAddresses, L"10.231.0.4/31");
    const FirewallRule notOurs = blockWith(&FirewallRule::localAddresses, L"10.231.1.0/255.255.255.0,10.231.0.6/31,10.231.0.1-10.231.0.4,fe80::1");
    const FirewallRule wireless = blockWith(&FirewallRule::interfaceTypes, L"LAN, wireless");
    const FirewallRule lan = blockWith(&FirewallRule::interfaceTypes, L"Lan");
    const FirewallRule remoteAccess = blockWith(&FirewallRule::interfaceTypes, L"RemoteAccess");
    FirewallRule listed = block;
    listed.interfacesListed = true;
    listed.interfaceTypes = L"all";
    FirewallRule otherRemoteAllow = allow;
    otherRemoteAllow.remoteAddresses = L"10.9.9.9";
    struct Case {
        const char* name;
        NetworkCategory category;
        FirewallProfile profile;  // every profile's
        std::vector<FirewallRule> rules;
        F finding;
        bool rulesRead = true;
        AdapterKind adapter = AdapterKind::Wifi;
    };
    using C = NetworkCategory;
    const Case cases[] = {
        {"a block rule", C::Private, on, {block}, F::BlockRule},
        {"a block rule beside an allow rule", C::Private, on, {allow, block}, F::BlockRule},
        {"a block rule where the firewall is off", C::Private, off, {block}, F::NothingFound},
        {"a block rule for the port", C::Domain, on, {allow, portBlock}, F::PortBlockRule},
        {"both block rules", C::Private, on, {portBlock, block}, F::BlockRule},
        {"blocks all inbound", C::Private, blocksAll, {allow}, F::BlocksAllInbound},
        {"public, blocks all inbound", C::Public, blocksAll, {allow}, F::BlocksAllInbound},
        {"public, allowed on private alone", C::Public, on, {privateOnly}, F::PublicNetworkPrivateAllowed},
        {"public, the prompt's pair", C::Public, on, {privateOnly, publicBlock}, F::PublicNetworkPrivateAllowed},
        {"private, the prompt's pair", C::Private, on, {privateOnly, publicBlock}, F::NothingFound},
        {"public, blocked everywhere", C::Public, open, {allow, block}, F::PublicNetwork},
        {"public, no rule", C::Public, on, {otherProgram}, F::PublicNetwork},
        {"public, allowed", C::Public, on, {allow}, F::NothingFound},
        {"public, the port allowed", C::Public, on, {portAllow}, F::NothingFound},
        {"public, allowed from elsewhere", C::Public, on, {otherRemoteAllow}, F::Unknown},
        {"public, the firewall lets all in", C::Public, open, {}, F::NothingFound},
        {"public, the rules unread", C::Public, on, {}, F::Unknown, false},
        {"no rule at all", C::Private, on, {otherProgram}, F::NoRuleYet},
        {"no rule, and no prompt", C::Private, quiet, {otherProgram}, F::NoRuleNoPrompt},
        {"no rule, the port allowed", C::Private, quiet, {portAllow}, F::NothingFound},
        {"only an outbound rule", C::Private, on, {outbound}, F::NoRuleYet},
        {"allowed", C::Private, on, {allow}, F::NothingFound},
        {"the path in another case", C::Private, on, {caseOf}, F::NothingFound},
        {"the path under %USERPROFILE%", C::Private, on, {inHome}, F::NothingFound},
        {"the path with \\\\?\\", C::Private, on, {longPrefix}, F::NothingFound},
        {"the port in a list", C::Private, on, {inList}, F::NothingFound},
        {"allowed on another port", C::Private, on, {otherPort}, F::Unknown},
        {"allowed on another profile", C::Domain, on, {privateOnly}, F::Unknown},
        {"allowed by a disabled rule", C::Private, on, {disabled}, F::Unknown},
        {"allowed for UDP", C::Private, on, {udp}, F::Unknown},
        {"a disabled block rule", C::Private, on, {allow, disabledBlock}, F::NothingFound},
        {"a service's and a package's block rules", C::Private, on, {allow, service, package}, F::NothingFound},
        {"a block rule on the local subnet", C::Private, on, {allow, localSubnet}, F::BlockRule},
        {"a block rule from elsewhere", C::Private, on, {allow, otherRemote}, F::Unknown},
        {"a block rule from one remote port", C::Private, on, {allow, remotePort}, F::Unknown},
        {"a block rule on this address", C::Private, on, {allow, ours1}, F::BlockRule},
        {"a block rule on a range of it", C::Private, on, {allow, ours2}, F::BlockRule},
        {"a block rule on its subnet", C::Private, on, {allow, ours3}, F::BlockRule},
        {"a block rule on other addresses", C::Private, on, {allow, notOurs}, F::Unknown},
        {"a block rule on Wi-Fi", C::Private, on, {allow, wireless}, F::BlockRule},
        {"a block rule on Ethernet", C::Private, on, {allow, lan}, F::NothingFound},
        {"a block rule on Ethernet, this one", C::Private, on, {allow, lan}, F::BlockRule, true, AdapterKind::Ethernet},
        {"a block rule on Ethernet, the kind unknown", C::Private, on, {allow, lan}, F::Unknown, true, AdapterKind::Unknown},
        {"a block rule on remote access", C::Private, on, {allow, remoteAccess}, F::NothingFound, true, AdapterKind::Ethernet},
        {"a block rule on named adapters", C::Private, on, {allow, listed}, F::Unknown},
        {"the firewall off", C::Domain, off, {}, F::NothingFound},
        {"every fact unknown", C::Unknown, FirewallProfile{}, {}, F::Unknown, false},
    };
    for (const Case& c : cases) {
        ReachFacts facts = factsOf(c.category, c.profile, c.rules);
        facts.rulesRead = c.rulesRead;
        facts.adapter = c.adapter;
        EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), c.finding) << c.name;
    }
    // The profiles in use, when the network's type is unknown: each one listed.
    ReachFacts facts = factsOf(NetworkCategory::Unknown, on, {allow, publicBlock});
    facts.currentProfiles = ProfilePrivate | ProfilePublic;
    EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), F::Unknown);
    facts.rules = {};
    facts.currentProfiles = ProfilePrivate | ProfileDomain;
    facts.profiles[0] = off;
    facts.profiles[1] = blocksAll;
    EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), F::BlocksAllInbound);
    facts.ufwEnabled = Known::Yes;
    facts.profiles[1] = FirewallProfile{};
    facts.rulesRead = false;
    EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), F::UfwEnabled);
    // LocalPorts as rules give them: blanks around items, empty items, keywords.
    struct Ports { const wchar_t* ports; bool included; };
    for (const Ports& p : {Ports{L" 8080 ", true}, Ports{L"80 , 8000 - 8100", true}, Ports{L"80,,443", false},
                           Ports{L"80, ,443", false}, Ports{L"8080x", false}, Ports{L"80a-8090", false}, Ports{L"-8090", false},
                           Ports{L"8081-8090", false}, Ports{L" * ", true}, Ports{L"", true}})
        EXPECT_EQ(portsInclude(p.ports, 8080), p.included) << p.ports;
}

#ifdef _WIN32
// Under Wine as on Windows, a rule names the program by its long path while
// it was started by its 8.3 short one, or the other way round.
TEST(DecideReachFinding, TheProgramByItsShortAndLongPaths)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder = std::wstring(temp) + L"Harborlight Programs";
    const std::wstring program = folder + L"\\Harborlight Server.exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    CloseHandle(CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    wchar_t shortPath[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(program.c_str(), shortPath, MAX_PATH), 0u);
    if (program == shortPath)
        GTEST_SKIP() << "no 8.3 names on this volume";
    const FirewallProfile on{Known::Yes, Known::No, Known::No, Known::No};
    struct Case { std::wstring started, named; };
    for (const Case& c : {Case{shortPath, program}, Case{program, shortPath},
                          Case{L"\\\\?\\" + std::wstring(shortPath), program}}) {
        FirewallRule allow;
        allow.profiles = ProfilePrivate;
        allow.application = c.named;
        ReachFacts facts;
        facts.category = NetworkCategory::Private;
        facts.profiles[1] = on;
        facts.rulesRead = true;
        facts.rules = {allow};
        facts.program = c.started;
        EXPECT_EQ(decideReachFinding(facts, 8080, expandProgramPath), ReachFinding::NothingFound);
    }
    DeleteFileW(program.c_str());
    RemoveDirectoryW(folder.c_str());
}
#endif

#ifndef _WIN32
TEST(ReadReachFinding, UfwIsEnabledWhenItsConfigurationSaysYes)
{
    const std::string path = ::testing::TempDir() + "harborlight-ufw.conf";
    struct Case { const char* text; Known enabled; };
    for (const Case& c : {Case{"# comment\nENABLED=yes\nLOGLEVEL=low\n", Known::Yes},
                          Case{"ENABLED=\"yes\"\n", Known::Yes}, Case{"ENABLED=no\n", Known::No},
                          Case{"#ENABLED=yes\n", Known::No}}) {
        std::FILE* file = std::fopen(path.c_str(), "w");
        std::fputs(c.text, file);
        std::fclose(file);
        EXPECT_EQ(ufwEnabledIn(path.c_str()), c.enabled) << c.text;
    }
    std::remove(path.c_str());
    EXPECT_EQ(ufwEnabledIn(path.c_str()), Known::Unknown);
}
#endif

// Whatever this machine's firewall says (natively ufw, under Wine nothing
// Wine's classes claim), within the bound.
TEST(ReadReachFinding, AnswersWithinTheBound)
{
    initServer();
    ReachReport report;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(readReachFindingWithin(serverSettings.localAddress.sin_addr.s_addr, 8080, ReachLimitMs, &report));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ReachLimitMs));
#ifdef _WIN32
    EXPECT_EQ(report.finding, ReachFinding::Unknown);
#else
    EXPECT_TRUE(report.finding == ReachFinding::Unknown || report.finding == ReachFinding::UfwEnabled);
#endif
}
