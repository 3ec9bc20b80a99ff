// The status texts as they are built from the engine's values.
#include <gtest/gtest.h>

#include <cstring>

#include "server/server.h"
#include "ui/status_display.h"
#include "ui_support.h"

namespace {

struct Case {
    const char* host;
    int port;
    int log;
    const char* address;
    const char* portText;
    const char* url;
    const char* logText;
};

const char* const LogOn = "ＬＯＧ情報を取得しています。";
const char* const LogOff = "ＬＯＧ情報を取得していません。";

TEST(StatusTexts, AreBuiltFromAddressPortAndLogging)
{
    const Case cases[] = {
        {"10.231.0.1", 80, 0, "10.231.0.1", "80", "http://10.231.0.1/", LogOff},
        {"10.231.0.1", 8080, 1, "10.231.0.1", "8080", "http://10.231.0.1:8080/", LogOn},
        {"192.168.100.200", 65535, 1, "192.168.100.200", "65535", "http://192.168.100.200:65535/", LogOn},
        {"10.0.0.1", 0, 2, "10.0.0.1", "0", "http://10.0.0.1:0/", LogOff},
        {nullptr, 80, 1, "(null)", "80", "http://(null)/", LogOn},
        {nullptr, 81, 0, "(null)", "81", "http://(null):81/", LogOff},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        StatusTexts texts = {};
        formatStatusTexts(texts, c.host, static_cast<std::uint16_t>(c.port),
                          static_cast<std::uint8_t>(c.log));
        EXPECT_EQ(std::string(texts.addressLine),
                  sjis(std::string("ＷｅｂサーバーのＩＰアドレスは [ ") + c.address + " ] です。"));
        EXPECT_EQ(std::string(texts.portLine),
                  sjis(std::string("Ｗｅｂサーバーのポート番号は [ ") + c.portText + " ] です。"));
        EXPECT_EQ(std::string(texts.urlLine), sjis(std::string("ＵＲＬは [ ") + c.url + " ] です。"));
        EXPECT_EQ(std::string(texts.logLine), sjis(c.logText));
    }
    // The longest address fits: 57 bytes.
    StatusTexts texts = {};
    formatStatusTexts(texts, "255.255.255.255", 80, 0);
    EXPECT_EQ(std::string(texts.addressLine).size(), 57u);
}

TEST(StatusTexts, RunStateFollowsOnlyRunning)
{
    struct { std::int32_t state; const char* line; const char* glyph; int indicator; } cases[] = {
        {Idle, "[ 停止 ] しています。", "  ■  ", 0},
        {Running, "[ 稼動 ] しています。", "  ▲  ", 1},
        {Stopped, "[ 停止 ] しています。", "  ■  ", 0},
    };
    for (const auto& c : cases) {
        StatusTexts texts = {};
        EXPECT_EQ(formatRunStateTexts(texts, c.state), c.indicator);
        EXPECT_EQ(std::string(texts.stateIntroLine), sjis("現在、ＷＥＢサーバーは、"));
        EXPECT_EQ(std::string(texts.stateLine), sjis(c.line));
        EXPECT_EQ(std::string(texts.indicatorGlyph), sjis(c.glyph));
        EXPECT_EQ(std::string(texts.indicatorGlyph).size(), 6u);
    }
}

TEST(StatusColours, AreBlackOnWhiteUnlessHighContrastGivesTheUsers)
{
    const COLORREF black = RGB(0, 0, 0), white = RGB(255, 255, 255), text = GetSysColor(COLOR_WINDOWTEXT),
                   window = GetSysColor(COLOR_WINDOW), selected = GetSysColor(COLOR_HIGHLIGHTTEXT),
                   selection = GetSysColor(COLOR_HIGHLIGHT);
    struct { std::uint8_t indicator; bool highContrast; StatusColours want; } cases[] = {
        {0, false, {black, white, black, RGB(255, 255, 0)}},
        {1, false, {black, white, black, RGB(0, 255, 0)}},
        {0, true, {text, window, selected, selection}},
        {1, true, {text, window, selected, selection}},
    };
    for (const auto& c : cases) {
        StatusColours got = statusColours(c.indicator, c.highContrast);
        EXPECT_EQ(std::memcmp(&got, &c.want, sizeof got), 0) << int(c.indicator) << c.highContrast;
    }
}

}  // namespace
