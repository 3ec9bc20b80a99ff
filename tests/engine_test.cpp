#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/host_address.h"
#include "platform/reachability.h"
#include "server/engine.h"
#include "server/server.h"

TEST(Engine, InitServerStartsIdleOnPort80)
{
    EXPECT_EQ(initServer(), 0);
    EXPECT_EQ(ServerState, Idle);
    EXPECT_EQ(serverSettings.port, 80);
}

// An answer's size, header and body, the most the system granted (0: all it
// was asked), and the send buffer asked for the answer; and what the system
// grants.
TEST(SendBufferFor, TheAnswersOwnSizeBetweenASmallAndAWholeAnswer)
{
    constexpr std::int64_t StockCap = 212992;
    const std::int64_t cases[][3] = {
        {340, 0, 0},                   // the test page
        {SmallAnswerBytes, 0, 0},      // fits a fresh connection's buffer
        {SmallAnswerBytes + 1, 0, SmallAnswerBytes + 1},
        {45063, 0, 45063},             // an image
        {409663, 0, 409663},           // a photo
        {WholeAnswerBytes, 0, WholeAnswerBytes},
        {WholeAnswerBytes + 1, 0, 0},  // left to the system's growth of the buffer
        {20000063, 0, 0},
        {409663, StockCap, 409663},    // the capped buffer waits for its last bytes only
        {3 * StockCap, StockCap, 3 * StockCap},
        {3 * StockCap + 1, StockCap, 0},
        {2000063, StockCap, 0},        // a camera's photo: the system's growth outgrows the cap
    };
    for (const auto& c : cases)
        EXPECT_EQ(sendBufferFor(c[0], c[1]), c[2]) << c[0] << " at " << c[1];

    NetStartupData startup;
    ASSERT_EQ(netStartup(&startup), 0);
    Socket s = netOpenStream();
    std::int64_t cap = 409663;
#ifndef _WIN32
    if (std::FILE* wmemMax = std::fopen("/proc/sys/net/core/wmem_max", "r")) {
        long long value = 0;
        if (std::fscanf(wmemMax, "%lld", &value) == 1 && value < cap)
            cap = value;
        std::fclose(wmemMax);
    }
#endif
    EXPECT_EQ(netSetSendBuffer(s, 409663), cap);
    netClose(s);
    netCleanup();
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

// `rule` with one condition changed.
template <class Field, class Value>
FirewallRule with(FirewallRule rule, Field FirewallRule::*field, Value value)
{
    rule.*field = value;
    return rule;
}

TEST(DecideReachFinding, TheFirstFindingThatHoldsAndNoneFromUnknownFacts)
{
    using F = ReachFinding;
    using R = FirewallRule;
    const Known Y = Known::Yes, N = Known::No, U = Known::Unknown;
    // Enabled, blocks all inbound, allows inbound by default, notifications off.
    const FirewallProfile on{Y, N, N, N}, off{N, U, U, U}, blocksAll{Y, Y, N, N}, open{Y, N, Y, N}, quiet{Y, N, N, Y};
    FirewallRule allow;
    allow.profiles = 0x7FFFFFFF;
    allow.application = L"C:\\Users\\zo\u00eb\\Harborlight.exe";
    allow.protocol = ProtocolTcp;
    FirewallRule block = allow, otherProgram = allow, otherPort = allow, privateOnly = allow, caseOf = allow,
                 inHome = allow, disabled = allow, udp = allow, inList = allow, outbound = allow, disabledBlock = allow;
    block.allow = false;
    otherProgram.application = L"C:\\Users\\zo\u00eb\\other.exe";
    otherPort.localPorts = L"80,443";
    privateOnly.profiles = ProfilePrivate;
    // The first and last letters of ASCII, and one beyond it, in another case.
    caseOf.application = L"c:\\users\\ZO\u00cb\\hArborlight.EXE";
    inHome.application = L"%USERPROFILE%\\Harborlight.exe";
    disabled.enabled = false;
    udp.protocol = 17;
    inList.localPorts = L"RPC, 80, 8000-8100";
    outbound.inbound = false;
    disabledBlock.allow = disabledBlock.enabled = false;
    const R publicBlock = with(block, &R::profiles, ProfilePublic), portBlock = with(block, &R::application, L"");
    const R portAllow = with(with(allow, &R::application, L""), &R::localPorts, L"80, 8080");
    const R elsewhere = with(allow, &R::remoteAddresses, L"10.9.9.9");
    struct Case {
        const char* name;
        NetworkCategory category;
        FirewallProfile profile;  // every profile's
        std::vector<FirewallRule> rules;
        F finding;
        bool rulesRead = true;
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
        {"public, allowed from elsewhere", C::Public, on, {elsewhere}, F::Unknown},
        {"public, the firewall lets all in", C::Public, open, {}, F::NothingFound},
        {"public, the rules unread", C::Public, on, {}, F::Unknown, false},
        {"no rule at all", C::Private, on, {otherProgram}, F::NoRuleYet},
        {"no rule, and no prompt", C::Private, quiet, {otherProgram}, F::NoRuleNoPrompt},
        {"no rule, the port allowed", C::Private, quiet, {portAllow}, F::NothingFound},
        {"no rule, the port maybe blocked", C::Private, on, {otherProgram, with(portBlock, &R::remotePorts, L"5000")},
         F::Unknown},
        {"only an outbound rule", C::Private, on, {outbound}, F::NoRuleYet},
        {"allowed", C::Private, on, {allow}, F::NothingFound},
        {"the path in another case", C::Private, on, {caseOf}, F::NothingFound},
        {"the path under %USERPROFILE%", C::Private, on, {inHome}, F::NothingFound},
        {"the path with \\\\?\\", C::Private, on, {with(allow, &R::application, L"\\\\?\\" + allow.application)},
         F::NothingFound},
        {"the port in a list", C::Private, on, {inList}, F::NothingFound},
        {"allowed on another port", C::Private, on, {otherPort}, F::Unknown},
        {"allowed on another profile", C::Domain, on, {privateOnly}, F::Unknown},
        {"allowed by a disabled rule", C::Private, on, {disabled}, F::Unknown},
        {"allowed for UDP", C::Private, on, {udp}, F::Unknown},
        {"a disabled block rule", C::Private, on, {allow, disabledBlock}, F::NothingFound},
        {"a service's and a package's block rules", C::Private, on,
         {allow, with(portBlock, &R::service, L"Dnscache"), with(portBlock, &R::package, L"S-1-15-2-1")},
         F::NothingFound},
        {"a block rule on named adapters", C::Private, on, {allow, with(block, &R::interfacesListed, true)},
         F::Unknown},
        {"allowed for IPsec alone", C::Private, on, {with(allow, &R::authenticatedOnly, true)}, F::Unknown},
        {"the firewall off", C::Domain, off, {}, F::NothingFound},
        {"every fact unknown", C::Unknown, FirewallProfile{}, {}, F::Unknown, false},
    };
    for (const Case& c : cases) {
        ReachFacts facts = factsOf(c.category, c.profile, c.rules);
        facts.rulesRead = c.rulesRead;
        EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), c.finding) << c.name;
    }
    // A block rule beside an allow rule, of each scope: the phone's and the
    // server's, others that cannot be judged, and adapters of other kinds.
    struct Scope { std::wstring R::*field; const wchar_t* value; F finding; AdapterKind adapter = AdapterKind::Wifi; };
    for (const Scope& s : {Scope{&R::remoteAddresses, L"localsubnet", F::BlockRule},
                           Scope{&R::remoteAddresses, L"10.9.9.9/255.255.255.255", F::Unknown},
                           Scope{&R::remotePorts, L"5000", F::Unknown},
                           Scope{&R::localAddresses, L"10.231.0.5/255.255.255.255", F::BlockRule},
                           Scope{&R::localAddresses, L"192.168.1.0/24, 10.231.0.5-10.231.0.5", F::BlockRule},
                           Scope{&R::localAddresses, L"10.231.0.4/31", F::BlockRule},
                           Scope{&R::localAddresses,
                                 L"10.231.1.0/255.255.255.0,10.231.0.6/31,10.231.0.1-10.231.0.4,10.231.0.7,"
                                 L"10.231.0.5.1,10.231.0.5/x,::1",
                                 F::Unknown},
                           Scope{&R::interfaceTypes, L"LAN, wireless", F::BlockRule},
                           Scope{&R::interfaceTypes, L"Lan", F::NothingFound},
                           Scope{&R::interfaceTypes, L"Lan", F::BlockRule, AdapterKind::Ethernet},
                           Scope{&R::interfaceTypes, L"Lan", F::Unknown, AdapterKind::Unknown},
                           Scope{&R::interfaceTypes, L"RemoteAccess", F::NothingFound, AdapterKind::Ethernet},
                           Scope{&R::interfaceTypes, L"all", F::BlockRule, AdapterKind::Other}}) {
        ReachFacts facts = factsOf(C::Private, on, {allow, with(block, s.field, s.value)});
        facts.adapter = s.adapter;
        EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), s.finding) << s.value;
    }
    // The profiles in use, when the network's type is unknown: each one listed.
    ReachFacts facts = factsOf(NetworkCategory::Unknown, on, {allow, publicBlock});
    facts.currentProfiles = ProfilePrivate | ProfilePublic;
    EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), F::Unknown);
    facts.rules = {otherProgram};
    facts.currentProfiles = ProfileDomain | ProfilePublic;
    facts.profiles[0] = off;
    EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), F::NoRuleYet);
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
    for (const auto& p : {std::pair{L" 8080 ", true}, {L"80 , 7999 - 8100", true}, {L"80,,443", false},
                          {L"80, ,443", false}, {L"8080x", false}, {L"80a-8090", false}, {L"-8090", false},
                          {L"8081-8090", false}, {L"8080-8080", true}, {L" * ", true}, {L"", true}})
        EXPECT_EQ(portsInclude(p.first, 8080), p.second) << p.first;
}

#ifdef _WIN32
// Under Wine as on Windows, a rule names the program by its long path while
// it was started by its 8.3 short one, or the other way round.
TEST(DecideReachFinding, TheProgramByItsShortAndLongPaths)
{
    wchar_t temp[MAX_PATH], shortPath[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring program = std::wstring(temp) + L"Harborlight Server.exe";
    CloseHandle(CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    GetShortPathNameW(program.c_str(), shortPath, MAX_PATH);
    EXPECT_NE(program, shortPath) << "no 8.3 names on this volume";
    for (const auto& [started, named] : {std::pair<std::wstring, std::wstring>{shortPath, program},
                                         {program, shortPath}, {L"\\\\?\\" + std::wstring(shortPath), program}}) {
        ReachFacts facts = factsOf(NetworkCategory::Private, {Known::Yes, Known::No, Known::No, Known::No},
                                   {with(with(FirewallRule{}, &FirewallRule::application, named),
                                         &FirewallRule::profiles, ProfilePrivate)});
        facts.program = started;
        EXPECT_EQ(decideReachFinding(facts, 8080, expandProgramPath), ReachFinding::NothingFound);
    }
    DeleteFileW(program.c_str());
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
