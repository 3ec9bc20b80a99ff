// The access log's file names and lines, for chosen instants and time zones.
#include "support.h"

#include "server/engine.h"

using namespace test;

namespace {

class AccessLog : public WorkDirTest {
protected:
    void TearDown() override
    {
        setTimeZone("UTC0");
        WorkDirTest::TearDown();
    }
};

std::string line(const char* address, const char* timeText)
{
    return std::string(address) + " \x81\x46 " + timeText + "\r\n";
}

} // namespace

TEST_F(AccessLog, NamesTheFileByLocalDayAndStampsTheLine)
{
    struct Case {
        const char* zone;
        std::int64_t seconds;
        const char* file;
        const char* timeText;
    };
    const Case cases[] = {
        {"UTC0", 1325866757, "LOG/HarborlightLog_201216.log", "Fri Jan 06 16:19:17 2012"},
        {"UTC0", 1333238399, "LOG/HarborlightLog_2012331.log", "Sat Mar 31 23:59:59 2012"},
        {"UTC0", 1333238400, "LOG/HarborlightLog_201241.log", "Sun Apr 01 00:00:00 2012"},
        {"UTC0", 946684799, "LOG/HarborlightLog_19991231.log", "Fri Dec 31 23:59:59 1999"},
        {"UTC0", 2147483648, "LOG/HarborlightLog_2038119.log", "Tue Jan 19 03:14:08 2038"},
        // Nine hours east: the same instant is already the next day.
        {"JST-9", 1325777400, "LOG/HarborlightLog_201216.log", "Fri Jan 06 00:30:00 2012"},
        {"UTC0", 1325777400, "LOG/HarborlightLog_201215.log", "Thu Jan 05 15:30:00 2012"},
    };
    for (const Case& c : cases) {
        setTimeZone(c.zone);
        std::filesystem::remove_all("LOG");
        EXPECT_EQ(writeAccessLogAt("127.0.0.1", c.seconds), 2) << c.file;
        EXPECT_EQ(readFile(c.file), line("127.0.0.1", c.timeText)) << c.zone << " " << c.seconds;
    }
    EXPECT_EQ(line("127.0.0.1", "Fri Jan 06 16:19:17 2012").size(), 39u);
}

TEST_F(AccessLog, AppendsAndNeverTouchesWhatIsThere)
{
    setTimeZone("UTC0");
    // 12 January and 2 November share a file name; their lines follow in order.
    EXPECT_EQ(writeAccessLogAt("10.0.0.1", 1326362400), 2);
    EXPECT_EQ(writeAccessLogAt("192.168.100.200", 1351850400), 1);
    EXPECT_EQ(readFile("LOG/HarborlightLog_2012112.log"),
              line("10.0.0.1", "Thu Jan 12 10:00:00 2012") + line("192.168.100.200", "Fri Nov 02 10:00:00 2012"));

    writeFile("LOG/HarborlightLog_201216.log", "no line end");
    EXPECT_EQ(writeAccessLogAt("127.0.0.1", 1325866757), 1);
    EXPECT_EQ(readFile("LOG/HarborlightLog_201216.log"), "no line end" + line("127.0.0.1", "Fri Jan 06 16:19:17 2012"));
}

TEST_F(AccessLog, FailuresWriteNothing)
{
    EXPECT_EQ(writeAccessLog(nullptr), 1);
    EXPECT_FALSE(exists("LOG"));
    writeFile("LOG", "a file where the directory should be");
    EXPECT_EQ(writeAccessLog("127.0.0.1"), 2);
    EXPECT_EQ(writeAccessLog("127.0.0.1"), 2);
    EXPECT_EQ(readFile("LOG"), "a file where the directory should be");
}
