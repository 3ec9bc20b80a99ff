// The access log: one line per HTML page served while logging is on, in a
// file per local calendar day below LOG.
#include <cstring>

#include "platform/files.h"
#include "server/engine.h"
#include "server/text.h"

std::atomic<std::uint8_t> logEnabled{0};

namespace {

const char WeekDays[] = "SunMonTueWedThuFriSat";
const char Months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

char* appendTwoDigits(char* out, int value)
{
    *out++ = static_cast<char>('0' + value / 10 % 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

// "LOG/HarborlightLog_%d%d%d.log": year, month and day without leading zeros.
void formLogFileName(const std::tm& t, char* name)
{
    char* out = appendText(name, "LOG/HarborlightLog_", 19);
    out = appendDecimal(out, t.tm_year + 1900);
    out = appendDecimal(out, t.tm_mon + 1);
    out = appendDecimal(out, t.tm_mday);
    out = appendText(out, ".log", 5);
}

// "Www Mmm DD hh:mm:ss YYYY", the day with a leading zero.
char* appendTimeText(char* out, const std::tm& t)
{
    out = appendText(out, WeekDays + 3 * (t.tm_wday % 7), 3);
    *out++ = ' ';
    out = appendText(out, Months + 3 * (t.tm_mon % 12), 3);
    *out++ = ' ';
    out = appendTwoDigits(out, t.tm_mday);
    *out++ = ' ';
    out = appendTwoDigits(out, t.tm_hour);
    *out++ = ':';
    out = appendTwoDigits(out, t.tm_min);
    *out++ = ':';
    out = appendTwoDigits(out, t.tm_sec);
    *out++ = ' ';
    return appendDecimal(out, t.tm_year + 1900);
}

} // namespace

int writeAccessLog(const char* clientAddressText)
{
    // One reading of the clock names the file and stamps the line, so the two
    // agree across midnight.
    return writeAccessLogAt(clientAddressText, clockSeconds());
}

int writeAccessLogAt(const char* clientAddressText, std::int64_t seconds)
{
    if (!clientAddressText)
        return 1;
    std::tm local{};
    localCalendarTime(seconds, &local);

    char fileName[48];
    formLogFileName(local, fileName);
    int result = 1;
    FileHandle file = fileOpenAppend(fileName);
    if (file == NoFile) {
        makeDirectory("LOG");
        file = fileOpenAppend(fileName);
        result = 2;
    }
    if (file == NoFile)
        return result;

    // Address, " ： " (the full-width colon in Shift_JIS), time, CR LF.
    char line[80];
    std::size_t addressLength = strnlen(clientAddressText, 15);
    char* out = appendText(line, clientAddressText, addressLength);
    out = appendText(out, " \x81\x46 ", 4);
    out = appendTimeText(out, local);
    out = appendText(out, "\r\n", 2);
    fileWrite(file, line, static_cast<std::size_t>(out - line));
    fileClose(file);
    return result;
}
