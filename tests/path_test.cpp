// Which request paths may name a file below DATA.
#include <gtest/gtest.h>

#include "server/engine.h"

TEST(PathStaysInData, AcceptsOrdinaryNames)
{
    for (const char* path : {"index.html", "a/b/c.png", "a..b", ".hidden", "dir/./file", "x/", "auxiliary",
                             "com0", "com10.txt", "lpt", "conin", "CONOUT", "nul_", "a%2e%2e/b", "a b", "\xe3\x82\xa8"})
        EXPECT_TRUE(pathStaysInData(path)) << path;
}

TEST(PathStaysInData, RefusesNamesThatLeaveDataOrReachADevice)
{
    for (const char* path :
         {"..", "../x", "a/..", "a/../b", "nope/../../x", "..\\x", "a\\b", "C:", "C:x", "a:b", "x.txt:$DATA", "...",
          ".. ", ". .", "a/.../b", "AUX", "aux", "Aux.txt", "aux .txt", "aux.", "aux  ", "a/con/b", "CON.tar.gz",
          "PRN", "NUL.txt", "com1", "COM9.log", "lpt1", "LPT9", "conin$", "CONOUT$.x", "dir/nul"})
        EXPECT_FALSE(pathStaysInData(path)) << path;
}
