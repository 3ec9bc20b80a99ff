// Status display: the texts are formatted only when a flag asks for it (and
// once at start-up), never while painting.
#include "ui/status_display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "qr/url_code.h"
#include "server/server.h"
#include "ui/display_scale.h"
#include "ui/status_accessible.h"
#include "ui/wide_text.h"

StatusTexts statusTexts;
char statusUrl[32];
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
static const char UrlLineFormat[] = "ＵＲＬは [ %s ] です。";
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
    // The same URL as the QR code's, port 80 left out, by the same rule.
    char url[sizeof statusUrl];
    formatServerUrl(url, sizeof url, address, port);
    std::snprintf(texts.urlLine, sizeof texts.urlLine, UrlLineFormat, url);
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

// The port the lines show: while the server runs, the one its listening
// socket holds, which differs from the setting when that is 0 (the system
// chose); otherwise the setting.
static std::uint16_t shownPort()
{
    std::uint16_t listening = ServerState == Running ? listeningPort() : 0;
    return listening != 0 ? listening : serverSettings.port;
}

void refreshStatusTexts()
{
    std::uint16_t port = shownPort();
    formatStatusTexts(statusTexts, serverSettings.hostIpText, port, logEnabled);
    const char* host = serverSettings.hostIpText;
    if (!host || !formatServerUrl(statusUrl, sizeof statusUrl, host, port))
        statusUrl[0] = '\0';
    refreshRunStateTexts();
}

static void requestRepaint(HWND mainWindow)
{
    InvalidateRect(mainWindow, nullptr, TRUE);
}

void processRefreshFlags(HWND mainWindow)
{
    const StatusTexts before = statusTexts;
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
    // A screen reader hears of the lines that changed, and only of those.
    announceChangedLines(mainWindow, before);
}

// Whether `font` has a glyph for every character of the seven texts.
static bool drawsStatusTexts(HDC dc, const LOGFONTW& font)
{
    HFONT handle = CreateFontIndirectW(&font);
    HGDIOBJ previous = SelectObject(dc, handle);
    bool draws = true;
    const StatusTexts& t = statusTexts;
    for (const char* text : {t.stateIntroLine, t.stateLine, t.indicatorGlyph, t.addressLine,
                             t.portLine, t.urlLine, t.logLine}) {
        WideText wide = wideText(text);
        WORD glyphs[WideTextUnits];
        DWORD found = GetGlyphIndicesW(dc, wide.text, wide.length, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
        draws = draws && found != GDI_ERROR && std::count(glyphs, glyphs + wide.length, 0xFFFF) == 0;
    }
    SelectObject(dc, previous);
    DeleteObject(handle);
    return draws;
}

// The search among the fonts of the Japanese character set: the wanted font,
// given the first face that draws the texts.
struct FontSearch {
    HDC dc;
    LOGFONTW font;
};

static int CALLBACK tryJapaneseFont(const LOGFONTW* candidate, const TEXTMETRICW*, DWORD, LPARAM data)
{
    FontSearch& search = *reinterpret_cast<FontSearch*>(data);
    // A face named with "@" is a font's vertical form.
    if (candidate->lfFaceName[0] == L'@')
        return TRUE;
    LOGFONTW font = search.font;
    std::memcpy(font.lfFaceName, candidate->lfFaceName, sizeof font.lfFaceName);
    if (!drawsStatusTexts(search.dc, font))
        return TRUE;
    search.font = font;
    return FALSE;
}

HFONT createStatusFont(HDC dc)
{
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    bool japaneseSystem = GetTextCharset(dc) == SHIFTJIS_CHARSET;
    int systemDpi = GetDeviceCaps(dc, LOGPIXELSY);
    if (japaneseSystem && mainWindowDpi == 96 && systemDpi == 96)
        return nullptr;
    FontSearch search = {dc, {}};
    // A positive height asks for the cell height, the default's line height,
    // which GDI makes for the system's DPI: here for the window's.
    search.font.lfHeight = MulDiv(metrics.tmHeight, mainWindowDpi, systemDpi);
    search.font.lfWeight = FW_NORMAL;
    search.font.lfCharSet = SHIFTJIS_CHARSET;
    if (japaneseSystem) {
        // The system font at another scale, in its proportions at 96 DPI,
        // so that every line keeps its length relative to the window: its
        // width, which Wine keeps at every DPI, times the scale. By its name
        // where it is an outline font (Wine's stand-in); a raster font would
        // be stretched, so then GDI's monospaced Japanese font, as the
        // system font of a Japanese system is monospaced.
        LOGFONTW systemFont;
        GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof systemFont, &systemFont);
        search.font.lfWidth = MulDiv(systemFont.lfWidth, mainWindowDpi, 96);
        if (metrics.tmPitchAndFamily & TMPF_TRUETYPE)
            GetTextFaceW(dc, LF_FACESIZE, search.font.lfFaceName);
        else
            search.font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    }
    // GDI's choice for the character set draws every character on Windows.
    // Wine's may lack Latin letters and digits (Droid Sans Fallback): then
    // the first font of the set that has them all.
    if (!drawsStatusTexts(dc, search.font)) {
        LOGFONTW japanese = {};
        japanese.lfCharSet = SHIFTJIS_CHARSET;
        EnumFontFamiliesExW(dc, &japanese, tryJapaneseFont, reinterpret_cast<LPARAM>(&search), 0);
    }
    return CreateFontIndirectW(&search.font);
}

bool highContrastForced;

bool highContrastOn()
{
    HIGHCONTRASTW setting = {sizeof setting, 0, nullptr};
    bool on = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) &&
              (setting.dwFlags & HCF_HIGHCONTRASTON);
    return on || highContrastForced;
}

StatusColours statusColours(std::uint8_t runIndicator, bool highContrast)
{
    if (highContrast)
        return {GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_HIGHLIGHTTEXT),
                GetSysColor(COLOR_HIGHLIGHT)};
    // Black on white, as a drawing context starts, whatever the theme.
    return {RGB(0, 0, 0), RGB(255, 255, 255), RGB(0, 0, 0),
            runIndicator == 1 ? RGB(0, 255, 0) : RGB(255, 255, 0)};
}

static void drawText(HDC dc, int index, const char* text)
{
    WideText wide = wideText(text);
    TextOutW(dc, scaled(statusTextPlaces[index].x), scaled(statusTextPlaces[index].y), wide.text,
             wide.length);
}

void paintStatusTexts(HWND mainWindow)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(mainWindow, &paint);
    HFONT font = createStatusFont(dc);
    HGDIOBJ defaultFont = font ? SelectObject(dc, font) : nullptr;
    StatusColours colours = statusColours(runIndicator, highContrastOn());
    SetTextColor(dc, colours.text);
    SetBkColor(dc, colours.background);
    drawText(dc, 0, statusTexts.stateIntroLine);
    drawText(dc, 1, statusTexts.stateLine);
    SetTextColor(dc, colours.indicatorText);
    SetBkColor(dc, colours.indicatorBackground);
    drawText(dc, 2, statusTexts.indicatorGlyph);
    SetTextColor(dc, colours.text);
    SetBkColor(dc, colours.background);
    drawText(dc, 3, statusTexts.addressLine);
    drawText(dc, 4, statusTexts.portLine);
    drawText(dc, 5, statusTexts.urlLine);
    drawText(dc, 6, statusTexts.logLine);
    if (font) {
        SelectObject(dc, defaultFont);
        DeleteObject(font);
    }
    EndPaint(mainWindow, &paint);
}

void wakeForRefresh(HWND mainWindow)
{
    PostMessageW(mainWindow, WM_NULL, 0, 0);
}
