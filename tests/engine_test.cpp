#include <gtest/gtest.h>

#include <vector>

#include "platform/host_address.h"
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
