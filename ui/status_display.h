// The main window's status display: seven Shift_JIS texts, the indicator
// colour and the refresh flags through which the control panel and the
// settings dialogs ask for a rebuild.
#pragma once

#include <windows.h>

#include <cstdint>

struct StatusTexts {
    char stateIntroLine[100];
    char stateLine[100];
    char indicatorGlyph[10];
    char addressLine[100];
    char portLine[100];
    char urlLine[100];
    char logLine[100];
};

extern StatusTexts statusTexts;
// The URL that the URL line shows, as the last full rebuild made it: what the
// QR code, the copy and the browser get. Empty when the host has no address.
extern char statusUrl[32];
// 1 when the last rebuild found the server running: green behind the glyph.
extern std::uint8_t runIndicator;

// Refresh flags, raised by the panel and the dialogs, served and cleared by
// processRefreshFlags. panelRequest: 1 start pressed, 2 stop pressed.
extern std::int32_t panelRequest;
extern std::uint8_t portChanged;
extern std::uint8_t logSettingChanged;

// Builds the texts from the given values; `hostIpText` may be null.
void formatStatusTexts(StatusTexts& texts, const char* hostIpText, std::uint16_t port,
                       std::uint8_t logOn);
// Builds the run-state texts and gives the new runIndicator.
std::uint8_t formatRunStateTexts(StatusTexts& texts, std::int32_t state);

// The same from the engine's record, ServerState and logEnabled. While the
// server runs, the port and URL lines give the port it really listens on
// (listeningPort: the system's choice for port 0); otherwise the setting. A
// stop rebuilds only the run-state texts, so those lines (and statusUrl)
// keep what they showed while the server ran.
void refreshStatusTexts();
void refreshRunStateTexts();

// Serves every pending flag: rebuilds the texts and asks for a repaint.
void processRefreshFlags(HWND mainWindow);

// A flag is served at the main window's next message. After a press from the
// keyboard, or a dialog that just closed, none may come for a long while, and
// the display would go on showing the old state: this makes one come now.
void wakeForRefresh(HWND mainWindow);

// WM_PAINT of the main window.
void paintStatusTexts(HWND mainWindow);

// The colours the texts are painted in: black on white, the indicator's
// block green while the server runs (runIndicator 1) and yellow otherwise;
// under high contrast the user's own, the window's text on the window's
// background and the indicator as a selection (COLOR_HIGHLIGHTTEXT on
// COLOR_HIGHLIGHT), so that the state is told by its text and glyph alone.
struct StatusColours {
    COLORREF text;
    COLORREF background;
    COLORREF indicatorText;
    COLORREF indicatorBackground;
};
StatusColours statusColours(std::uint8_t runIndicator, bool highContrast);

// Whether the user's high-contrast setting is on (SPI_GETHIGHCONTRAST), read
// at every paint; WM_SYSCOLORCHANGE and WM_SETTINGCHANGE repaint.
bool highContrastOn();
// Set by tests alone, never by the program: high contrast taken as on. Wine
// cannot switch it on, and its screenshot is taken with this.
extern bool highContrastForced;

// The font the texts are painted in, for the drawing context `dc` as it is
// given for painting. Null at 96 DPI where its default font, the system
// font, can draw Japanese (a Japanese system): the texts are painted in that,
// as they always have been; at any other scale, the same font made for
// mainWindowDpi, in its proportions at 96 DPI. The system font follows
// the system's code page, not the manifest's, so elsewhere it has no Japanese
// glyphs; GDI is then asked for a font of the Japanese character set as tall
// as the default at the window's scale: by character set, not by a face
// name, so that whichever Japanese font the system has serves. The caller
// deletes the font given.
HFONT createStatusFont(HDC dc);

// Where each text is drawn, in drawing order, in client pixels at 96 DPI
// (scaled to the window's DPI when drawn).
struct TextPlace {
    int x;
    int y;
};
extern const TextPlace statusTextPlaces[7];
