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

// Windows takes the zone from the system, so there each run checks the rows of
// its own zone: the CTest entries run this with TZ=UTC0 and TZ=Asia/Tokyo.
// The C runtime would read Asia/Tokyo as UTC; Windows' own zone (Wine's: the
// host's rules for TZ) gives Tokyo's day and hour.
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
        {"UTC0", 1325777400, "LOG/HarborlightLog_201215.log", "Thu Jan 05 15:30:00 2012"},
        // Nine hours east: the same instants are already the next day.
        {"Asia/Tokyo", 1325777400, "LOG/HarborlightLog_201216.log", "Fri Jan 06 00:30:00 2012"},
        {"Asia/Tokyo", 1325866757, "LOG/HarborlightLog_201217.log", "Sat Jan 07 01:19:17 2012"},
        {"Asia/Tokyo", 1333205999, "LOG/HarborlightLog_2012331.log", "Sat Mar 31 23:59:59 2012"},
    };
    int checked = 0;
    for (const Case& c : cases) {
        if (!setTimeZone(c.zone))
            continue;
        ++checked;
        std::filesystem::remove_all("LOG");
        EXPECT_EQ(writeAccessLogAt("127.0.0.1", c.seconds), 2) << c.file;
        EXPECT_EQ(readFile(c.file), line("127.0.0.1", c.timeText)) << c.zone << " " << c.seconds;
    }
    EXPECT_GT(checked, 0) << "no row for this process's zone: run with TZ=UTC0 or TZ=Asia/Tokyo";
    EXPECT_EQ(line("127.0.0.1", "Fri Jan 06 16:19:17 2012").size(), 39u);
}

TEST_F(AccessLog, AppendsAndNeverTouchesWhatIsThere)
{
    if (!setTimeZone("UTC0"))
        GTEST_SKIP() << "needs TZ=UTC0";
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
#ifndef _WIN32
    // A full disk: the write fails at once, never retried (that would hold
    // the listener and its stop), and the file stays as it was.
    std::filesystem::remove("LOG");
    setTimeZone("UTC0");
    writeFile("LOG/HarborlightLog_201216.log", "before");
    int result = 0;
    EXPECT_TRUE(endsOnFullDisk(6, [&] { result = writeAccessLogAt("127.0.0.1", 1325866757); }))
        << "the failed write was retried";
    EXPECT_EQ(result, 1);
    EXPECT_EQ(readFile("LOG/HarborlightLog_201216.log"), "before");
#endif
}

// Only a regular file takes a line. A FIFO at the day's name would otherwise
// hold the listener in its open (and a stop waits for the listener); a
// device or a folder is no log either. Each is refused at once, with the
// result of a failed second open.
TEST_F(AccessLog, WritesOnlyToARegularFileAndNeverWaits)
{
    if (!setTimeZone("UTC0"))
        GTEST_SKIP() << "needs TZ=UTC0";
    struct Case {
        const char* maker;
        std::int64_t seconds;
        const char* file;
    };
    const Case cases[] = {
        {"mkfifo", 1325866757, "LOG/HarborlightLog_201216.log"},
        {"ln -s /dev/null", 1325866757 + 86400, "LOG/HarborlightLog_201217.log"},
        {"mkdir", 1325866757 + 2 * 86400, "LOG/HarborlightLog_201218.log"},
    };
    std::filesystem::create_directory("LOG");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maker);
        if (!hostShell(std::string(c.maker) + " " + c.file))
            GTEST_SKIP() << "no host shell to make a FIFO with (Windows without Wine)";
        std::uint64_t begun = nowMs();
        EXPECT_EQ(writeAccessLogAt("127.0.0.1", c.seconds), 2);
        EXPECT_LT(millisecondsSince(begun), 1000u);
    }
    // Removed by the host: std::filesystem under Wine does not get past a FIFO.
    hostShell("rm -rf LOG");
}
