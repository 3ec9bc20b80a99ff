// Status display: the texts are formatted only when a flag asks for it (and
// once at start-up), never while painting.
#include "ui/status_display.h"

#include <cstdio>

#include "server/server.h"
#include "ui/wide_text.h"

StatusTexts statusTexts;
std::uint8_t runIndicator;
std::int32_t panelRequest;
std::uint8_t portChanged;
std::uint8_t logSettingChanged;

// The texts below are stored in code page 932 (see ui/CMakeLists.txt).
static const char StateIntroText[] = "現在、ＷＥＢサーバーは、";
static const char RunningText[] = "[ 稼動 ] しています。";
static const char StoppedText[] = "[ 停止 ] しています。";
static const char RunningGlyph[] = "  ▲  ";
static const char StoppedGlyph[] = "  ■  ";
static const char AddressFormat[] = "ＷｅｂサーバーのＩＰアドレスは [ %s ] です。";
static const char PortFormat[] = "Ｗｅｂサーバーのポート番号は [ %d ] です。";
static const char UrlFormat[] = "ＵＲＬは [ http://%s/ ] です。";
static const char UrlWithPortFormat[] = "ＵＲＬは [ http://%s:%d/ ] です。";
static const char LogOnText[] = "ＬＯＧ情報を取得しています。";
static const char LogOffText[] = "ＬＯＧ情報を取得していません。";

// Stands in the address's place when the host has no address.
static const char NoAddressText[] = "(null)";

const TextPlace statusTextPlaces[7] = {
    {210, 30}, {220, 60}, {270, 90}, {10, 130}, {10, 160}, {10, 190}, {10, 220},
};

template <std::size_t N>
static void copyText(char (&buffer)[N], const char* text)
{
    std::snprintf(buffer, N, "%s", text);
}

void formatStatusTexts(StatusTexts& texts, const char* hostIpText, std::uint16_t port,
                       std::uint8_t logOn)
{
    const char* address = hostIpText ? hostIpText : NoAddressText;
    std::snprintf(texts.addressLine, sizeof texts.addressLine, AddressFormat, address);
    std::snprintf(texts.portLine, sizeof texts.portLine, PortFormat, static_cast<int>(port));
    if (port == 80)
        std::snprintf(texts.urlLine, sizeof texts.urlLine, UrlFormat, address);
    else
        std::snprintf(texts.urlLine, sizeof texts.urlLine, UrlWithPortFormat, address,
                      static_cast<int>(port));
    copyText(texts.logLine, logOn == 1 ? LogOnText : LogOffText);
}

std::uint8_t formatRunStateTexts(StatusTexts& texts, std::int32_t state)
{
    copyText(texts.stateIntroLine, StateIntroText);
    bool running = state == Running;
    copyText(texts.stateLine, running ? RunningText : StoppedText);
    copyText(texts.indicatorGlyph, running ? RunningGlyph : StoppedGlyph);
    return running ? 1 : 0;
}

void refreshRunStateTexts()
{
    runIndicator = formatRunStateTexts(statusTexts, ServerState);
}

void refreshStatusTexts()
{
    formatStatusTexts(statusTexts, serverSettings.hostIpText, serverSettings.port, logEnabled);
    refreshRunStateTexts();
}

static void requestRepaint(HWND mainWindow)
{
    InvalidateRect(mainWindow, nullptr, TRUE);
}

void processRefreshFlags(HWND mainWindow)
{
    if (panelRequest == 1) {
        refreshStatusTexts();
        requestRepaint(mainWindow);
        panelRequest = 0;
    } else if (panelRequest == 2) {
        // After a stop the address, port, URL and log lines keep their texts.
        refreshRunStateTexts();
        requestRepaint(mainWindow);
        panelRequest = 0;
    }
    if (portChanged == 1) {
        refreshStatusTexts();
        requestRepaint(mainWindow);
        portChanged = 0;
    }
    if (logSettingChanged == 1) {
        refreshStatusTexts();
        requestRepaint(mainWindow);
        logSettingChanged = 0;
    }
}

static void drawText(HDC dc, int index, const char* text)
{
    WideText wide = wideText(text);
    TextOutW(dc, statusTextPlaces[index].x, statusTextPlaces[index].y, wide.text, wide.length);
}

void paintStatusTexts(HWND mainWindow)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(mainWindow, &paint);
    drawText(dc, 0, statusTexts.stateIntroLine);
    drawText(dc, 1, statusTexts.stateLine);
    SetBkColor(dc, runIndicator == 1 ? RGB(0, 255, 0) : RGB(255, 255, 0));
    drawText(dc, 2, statusTexts.indicatorGlyph);
    SetBkColor(dc, RGB(255, 255, 255));
    drawText(dc, 3, statusTexts.addressLine);
    drawText(dc, 4, statusTexts.portLine);
    drawText(dc, 5, statusTexts.urlLine);
    drawText(dc, 6, statusTexts.logLine);
    EndPaint(mainWindow, &paint);
}

void wakeForRefresh(HWND mainWindow)
{
    PostMessageW(mainWindow, WM_NULL, 0, 0);
}
