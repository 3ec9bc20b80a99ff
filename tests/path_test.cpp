// Which request paths may name a file below DATA.
#include <gtest/gtest.h>

#include "server/engine.h"

TEST(PathStaysInData, AcceptsOrdinaryNames)
{
    for (const char* path : {"index.html", "a/b/c.png", "a..b", ".hidden", "dir/./file", "x/", "auxiliary",
                             "son.html", "tux.png", "comp.html", "com10", "com10.txt", "lpt.txt", "com\xb9x", "lpt", "conin", "CONOUT", "nul_", "a%2e%2e/b", "a b", "\xe3\x82\xa8"})
        EXPECT_TRUE(pathStaysInData(path)) << path;
}

TEST(PathStaysInData, RefusesNamesThatLeaveDataOrReachADevice)
{
    for (const char* path :
         {"..", "../x", "a/..", "a/../b", "nope/../../x", "..\\x", "a\\b", "C:", "C:x", "a:b", "x.txt:$DATA", "...",
          ".. ", ". .", "a/.../b", "AUX", "aux", "Aux.txt", "aux .txt", "aux.", "aux  ", "a/con/b", "CON.tar.gz",
          "PRN", "NUL.txt", "com1", "COM9.log", "lpt1", "LPT9", "conin$", "CONOUT$.x", "dir/nul", "COM0", "lpt0.txt", "com\xb9",
          "LPT\xb2.txt", "Com\xb3. .", "com\xc2\xb9", "lpt\xc2\xb3.log"})
        EXPECT_FALSE(pathStaysInData(path)) << path;
}
