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
// finding for a server on port 8080 of C:\Users\aiko\Harborlight.exe.
std::wstring expandUserProfile(const std::wstring& path)
{
    const std::wstring name = L"%USERPROFILE%";
    return path.compare(0, name.size(), name) ? path : L"C:\\Users\\aiko" + path.substr(name.size());
}

TEST(DecideReachFinding, TheFirstFindingThatHoldsAndNoneFromUnknownFacts)
{
    using F = ReachFinding;
    constexpr unsigned All = 0x7FFFFFFF;
    const FirewallProfile on{Known::Yes, Known::No, Known::No}, off{Known::No, Known::Unknown, Known::Unknown};
    const FirewallProfile blocksAll{Known::Yes, Known::Yes, Known::No}, open{Known::Yes, Known::No, Known::Yes};
    const FirewallRule allow{true, true, All, true, L"C:\\Users\\aiko\\Harborlight.exe", ProtocolTcp, L"*"};
    FirewallRule block = allow, otherProgram = allow, otherPort = allow, privateOnly = allow, lowerCase = allow,
                 inHome = allow, disabled = allow, udp = allow, inList = allow, outbound = allow, disabledBlock = allow;
    block.allow = false;
    otherProgram.application = L"C:\\Users\\aiko\\other.exe";
    otherPort.localPorts = L"80,443";
    privateOnly.profiles = ProfilePrivate;
    lowerCase.application = L"c:\\users\\AIKO\\harborlight.EXE";
    inHome.application = L"%USERPROFILE%\\Harborlight.exe";
    disabled.enabled = false;
    udp.protocol = 17;
    inList.localPorts = L"RPC, 80, 8000-8100";
    outbound.inbound = false;
    disabledBlock.allow = disabledBlock.enabled = false;
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
        {"blocks all inbound", C::Private, blocksAll, {allow}, F::BlocksAllInbound},
        {"public, allowed on private alone", C::Public, on, {privateOnly}, F::PublicNetwork},
        {"public, allowed", C::Public, on, {allow}, F::NothingFound},
        {"public, the firewall lets all in", C::Public, open, {}, F::NothingFound},
        {"public, the rules unread", C::Public, on, {}, F::Unknown, false},
        {"no rule at all", C::Private, on, {otherProgram}, F::NoRuleYet},
        {"only an outbound rule", C::Private, on, {outbound}, F::NoRuleYet},
        {"allowed", C::Private, on, {allow}, F::NothingFound},
        {"the path in another case", C::Private, on, {lowerCase}, F::NothingFound},
        {"the path under %USERPROFILE%", C::Private, on, {inHome}, F::NothingFound},
        {"the port in a list", C::Private, on, {inList}, F::NothingFound},
        {"allowed on another port", C::Private, on, {otherPort}, F::Unknown},
        {"allowed on another profile", C::Domain, on, {privateOnly}, F::Unknown},
        {"allowed by a disabled rule", C::Private, on, {disabled}, F::Unknown},
        {"allowed for UDP", C::Private, on, {udp}, F::Unknown},
        {"a disabled block rule", C::Private, on, {allow, disabledBlock}, F::NothingFound},
        {"the firewall off", C::Domain, off, {}, F::NothingFound},
        {"every fact unknown", C::Unknown, FirewallProfile{}, {}, F::Unknown, false},
    };
    for (const Case& c : cases) {
        ReachFacts facts;
        facts.category = c.category;
        for (FirewallProfile& p : facts.profiles)
            p = c.profile;
        facts.rulesRead = c.rulesRead;
        facts.rules = c.rules;
        facts.program = L"C:\\Users\\aiko\\Harborlight.exe";
        EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), c.finding) << c.name;
    }
    // The profile in use, when the network's type is unknown: each one listed.
    ReachFacts facts;
    facts.currentProfiles = ProfilePrivate | ProfileDomain;
    facts.profiles[0] = off;
    facts.profiles[1] = blocksAll;
    EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), F::BlocksAllInbound);
    facts.ufwEnabled = Known::Yes;
    facts.profiles[1] = FirewallProfile{};
    EXPECT_EQ(decideReachFinding(facts, 8080, expandUserProfile), F::UfwEnabled);
}

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
