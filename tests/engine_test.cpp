#include <gtest/gtest.h>

#include "server/server.h"

TEST(Engine, InitServerStartsIdleOnPort80)
{
    EXPECT_EQ(initServer(), 0);
    EXPECT_EQ(ServerState, Idle);
    EXPECT_EQ(serverSettings.port, 80);
}
