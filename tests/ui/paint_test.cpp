// The painted main window: the client area is rendered, each painted line is
// compared with its expected text drawn in the same font, and in a Japanese
// locale the whole with the reference images in reference/ (same fonts as CI:
// Wine's defaults with the IPA fonts, as tools/wine-prefix.sh sets them up).
// HARBORLIGHT_WRITE_REFERENCES=1 writes them anew.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "server/server.h"
#include "ui/display_scale.h"
#include "ui/status_display.h"
#include "ui_support.h"

namespace {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // top row first, 3 bytes a pixel

    const std::uint8_t* at(int x, int y) const { return &rgb[(y * width + x) * 3]; }
};

// What `draw` draws into a white bitmap of the window's client size, in a
// drawing context compatible with the window's (given as its second argument).
Image render(HWND window, const std::function<void(HDC, HDC)>& draw)
{
    RECT client;
    GetClientRect(window, &client);
    Image image;
    image.width = client.right;
    image.height = client.bottom;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HDC windowDc = GetDC(window);
    HDC memoryDc = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memoryDc, bitmap);
    PatBlt(memoryDc, 0, 0, image.width, image.height, WHITENESS);
    draw(memoryDc, windowDc);
    GdiFlush();
    int stride = (image.width * 3 + 3) & ~3;
    image.rgb.resize(image.width * image.height * 3);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const auto* p = static_cast<const std::uint8_t*>(bits) + y * stride + x * 3;
            std::uint8_t* q = &image.rgb[(y * image.width + x) * 3];
            q[0] = p[2];
            q[1] = p[1];
            q[2] = p[0];
        }
    SelectObject(memoryDc, old);
    DeleteObject(bitmap);
    DeleteDC(memoryDc);
    ReleaseDC(window, windowDc);
    return image;
}

Image captureClient(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return render(window, [window](HDC memoryDc, HDC windowDc) {
        RECT client;
        GetClientRect(window, &client);
        BitBlt(memoryDc, 0, 0, client.right, client.bottom, windowDc, 0, 0, SRCCOPY);
    });
}

// 24-bit BMP, bottom row first.
bool writeBmp(const std::string& path, const Image& image)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    int stride = (image.width * 3 + 3) & ~3;
    std::uint32_t dataSize = stride * image.height;
    BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(54 + dataSize), 0, 0, 54};
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = image.width;
    header.biHeight = image.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = dataSize;
    std::fwrite(&file, sizeof file, 1, f);
    std::fwrite(&header, sizeof header, 1, f);
    std::vector<std::uint8_t> row(stride, 0);
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) {
            row[x * 3] = image.at(x, y)[2];
            row[x * 3 + 1] = image.at(x, y)[1];
            row[x * 3 + 2] = image.at(x, y)[0];
        }
        std::fwrite(row.data(), 1, stride, f);
    }
    return std::fclose(f) == 0;
}

bool readBmp(const std::string& path, Image* image)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER header;
    bool ok = std::fread(&file, sizeof file, 1, f) == 1 && std::fread(&header, sizeof header, 1, f) == 1 &&
              file.bfType == 0x4D42 && header.biBitCount == 24 && header.biHeight > 0;
    if (ok) {
        image->width = header.biWidth;
        image->height = header.biHeight;
        int stride = (image->width * 3 + 3) & ~3;
        std::vector<std::uint8_t> row(stride);
        image->rgb.resize(image->width * image->height * 3);
        std::fseek(f, file.bfOffBits, SEEK_SET);
        for (int y = image->height - 1; ok && y >= 0; --y) {
            ok = std::fread(row.data(), 1, stride, f) == static_cast<std::size_t>(stride);
            for (int x = 0; ok && x < image->width; ++x) {
                std::uint8_t* q = &image->rgb[(y * image->width + x) * 3];
                q[0] = row[x * 3 + 2];
                q[1] = row[x * 3 + 1];
                q[2] = row[x * 3];
            }
        }
    }
    std::fclose(f);
    return ok;
}

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
};

// The dark (text) pixels within a band of the image.
Box inkBox(const Image& image, int x0, int y0, int height)
{
    Box box;
    for (int y = y0; y < y0 + height && y < image.height; ++y)
        for (int x = x0; x < image.width; ++x) {
            const std::uint8_t* p = image.at(x, y);
            if (p[0] + p[1] + p[2] < 3 * 100) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
        }
    return box;
}

// Pixels of exactly one colour, within a tolerance.
Box colourBox(const Image& image, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    Box box;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.at(x, y);
            if (std::abs(p[0] - r) <= 8 && std::abs(p[1] - g) <= 8 && std::abs(p[2] - b) <= 8) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
        }
    return box;
}

int lineHeight(HWND window)
{
    HDC dc = GetDC(window);
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    ReleaseDC(window, dc);
    return metrics.tmHeight;
}

std::string referencePath(const char* name)
{
    return std::string(HARBORLIGHT_UI_REFERENCE_DIR) + "/" + name + ".bmp";
}

// Compares with the reference: each text's ink within 2 pixels of its place
// there, and few pixels different at all.
void expectMatchesReference(const Image& actual, const char* name, HWND window)
{
    if (const char* write = std::getenv("HARBORLIGHT_WRITE_REFERENCES"); write && *write == '1') {
        ASSERT_TRUE(writeBmp(referencePath(name), actual));
        return;
    }
    Image reference;
    ASSERT_TRUE(readBmp(referencePath(name), &reference)) << referencePath(name);
    std::string actualPath = std::string(name) + "_actual.bmp";
    int width = std::min(actual.width, reference.width);
    int height = std::min(actual.height, reference.height);
    EXPECT_LE(std::abs(actual.width - reference.width), 4);
    EXPECT_LE(std::abs(actual.height - reference.height), 4);

    int height1 = lineHeight(window);
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        Box got = inkBox(actual, statusTextPlaces[i].x, statusTextPlaces[i].y, height1);
        Box want = inkBox(reference, statusTextPlaces[i].x, statusTextPlaces[i].y, height1);
        ASSERT_FALSE(got.empty());
        EXPECT_GE(got.left, statusTextPlaces[i].x);
        EXPECT_GE(got.top, statusTextPlaces[i].y);
        EXPECT_LE(std::abs(got.left - want.left), 2);
        EXPECT_LE(std::abs(got.top - want.top), 2);
        EXPECT_LE(std::abs(got.right - want.right), 2);
        EXPECT_LE(std::abs(got.bottom - want.bottom), 2);
    }
    long differing = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* a = actual.at(x, y);
            const std::uint8_t* b = reference.at(x, y);
            if (std::abs(a[0] - b[0]) > 64 || std::abs(a[1] - b[1]) > 64 || std::abs(a[2] - b[2]) > 64)
                ++differing;
        }
    EXPECT_LE(differing, width * height / 200) << "see " << actualPath;
    if (::testing::Test::HasFailure())
        writeBmp(actualPath, actual);
}

// The seven lines as they must read, from this file's own UTF-8, for a
// server on `port` with logging off.
std::vector<std::string> expectedLines(bool running, int port)
{
    std::string host = serverSettings.hostIpText ? serverSettings.hostIpText : "(null)";
    std::string portText = std::to_string(port);
    return {"現在、ＷＥＢサーバーは、",
            running ? "[ 稼動 ] しています。" : "[ 停止 ] しています。",
            running ? "  ▲  " : "  ■  ",
            "ＷｅｂサーバーのＩＰアドレスは [ " + host + " ] です。",
            "Ｗｅｂサーバーのポート番号は [ " + portText + " ] です。",
            "ＵＲＬは [ http://" + host + (port == 80 ? "" : ":" + portText) + "/ ] です。",
            "ＬＯＧ情報を取得していません。"};
}

// A length of the 96-DPI layout at `dpi`.
int atDpi(int length, UINT dpi)
{
    return MulDiv(length, dpi, 96);
}

// Each painted line against its expected text drawn in the font the window
// paints with, on the same background at the same place (at the window's
// scale, `dpi`): the pixels of the line's cell must be the same, and the cell
// ends above the window's lower edge. (The address line runs past the right
// edge, at every scale alike.) Text read through a wrong code page differs
// in most of them; a font without some of the glyphs fails the glyph check.
void expectPaintedLines(const Image& actual, HWND window, bool running, int port = 80, UINT dpi = 96)
{
    const char* name = running ? "running_lines" : "stopped_lines";
    std::vector<std::string> lines = expectedLines(running, port);
    std::vector<SIZE> extents(lines.size());
    std::vector<TextPlace> places;
    for (const TextPlace& place : statusTextPlaces)
        places.push_back({atDpi(place.x, dpi), atDpi(place.y, dpi)});
    Image expected = render(window, [&](HDC dc, HDC windowDc) {
        HFONT font = createStatusFont(windowDc);
        SelectObject(dc, font ? font : GetCurrentObject(windowDc, OBJ_FONT));
        for (size_t i = 0; i < lines.size(); ++i) {
            std::wstring text = utf16(lines[i]);
            // The font has every character: no box stands in for one.
            std::vector<WORD> glyphs(text.size());
            GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                             GGI_MARK_NONEXISTING_GLYPHS);
            EXPECT_EQ(std::count(glyphs.begin(), glyphs.end(), 0xFFFF), 0) << lines[i];
            COLORREF indicator = running ? RGB(0, 255, 0) : RGB(255, 255, 0);
            SetBkColor(dc, i == 2 ? indicator : RGB(255, 255, 255));
            TextOutW(dc, places[i].x, places[i].y, text.c_str(), static_cast<int>(text.size()));
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extents[i]);
        }
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        if (font)
            DeleteObject(font);
    });
    bool same = true;
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const TextPlace& place = places[i];
        EXPECT_LE(place.y + extents[i].cy, actual.height) << "cut off below";
        int right = std::min(place.x + static_cast<int>(extents[i].cx), actual.width);
        int bottom = std::min(place.y + static_cast<int>(extents[i].cy), actual.height);
        long differing = 0;
        for (int y = place.y; y < bottom; ++y)
            for (int x = place.x; x < right; ++x) {
                const std::uint8_t* a = actual.at(x, y);
                const std::uint8_t* b = expected.at(x, y);
                differing += std::abs(a[0] - b[0]) > 64 || std::abs(a[1] - b[1]) > 64 ||
                             std::abs(a[2] - b[2]) > 64;
            }
        EXPECT_FALSE(inkBox(expected, place.x, place.y, bottom - place.y).empty());
        EXPECT_EQ(differing, 0) << "of " << (right - place.x) * (bottom - place.y) << " pixels, see "
                                << name << "_expected.bmp";
        same = same && differing == 0;
    }
    if (!same) {
        writeBmp(std::string(name) + "_expected.bmp", expected);
        writeBmp(std::string(name) + "_actual.bmp", actual);
    }
}

// The references show the window as a Japanese system draws it; other
// systems draw the panel's and the status lines' fonts otherwise.
bool japaneseSystem()
{
    return PRIMARYLANGID(LANGIDFROMLCID(GetSystemDefaultLCID())) == LANG_JAPANESE;
}

class PaintedWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = startApp();
        ASSERT_TRUE(app.mainWindow) << "no main window: is there an X display (DISPLAY)?";
        SetWindowPos(app.mainWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
        app.pump();
    }
    void TearDown() override { endApp(app); }

    // The window as designed at 96 DPI, every length times dpi / 96: outer
    // size, the menu bar on one line, the panel with its buttons whole, each
    // text at its place, and the indicator. Gives the height of the lowest
    // line's ink.
    int expectLaidOutAt(UINT dpi)
    {
        SCOPED_TRACE(dpi);
        EXPECT_EQ(mainWindowDpi, dpi);
        RECT frame;
        GetWindowRect(app.mainWindow, &frame);
        EXPECT_EQ(frame.right - frame.left, atDpi(410, dpi));
        EXPECT_EQ(frame.bottom - frame.top, atDpi(310, dpi));
        HMENU bar = GetMenu(app.mainWindow);
        RECT first, item;
        GetMenuItemRect(app.mainWindow, bar, 0, &first);
        for (int i = 1; i < GetMenuItemCount(bar); ++i) {
            GetMenuItemRect(app.mainWindow, bar, i, &item);
            EXPECT_EQ(item.top, first.top) << "menu bar wrapped before item " << i;
        }

        // The panel has a new window after a change of scale.
        app.panel = FindWindowExA(app.mainWindow, nullptr, "#32770", nullptr);
        RECT panel, expected = {atDpi(10, dpi), atDpi(10, dpi), 0, 0};
        expected.right = expected.left + atDpi(190, dpi);
        expected.bottom = expected.top + atDpi(110, dpi);
        GetWindowRect(app.panel, &panel);
        MapWindowPoints(nullptr, app.mainWindow, reinterpret_cast<POINT*>(&panel), 2);
        EXPECT_TRUE(EqualRect(&panel, &expected));
        RECT inside;
        GetClientRect(app.panel, &inside);
        for (int id : {IDC_START_BUTTON, IDC_STOP_BUTTON}) {
            RECT button, both;
            GetWindowRect(app.button(id), &button);
            MapWindowPoints(nullptr, app.panel, reinterpret_cast<POINT*>(&button), 2);
            UnionRect(&both, &inside, &button);
            EXPECT_TRUE(EqualRect(&both, &inside)) << "button " << id << " cut off";
        }

        Image window = captureClient(app.mainWindow);
        Box yellow = colourBox(window, 255, 255, 0);
        EXPECT_EQ(yellow.left, atDpi(270, dpi));
        EXPECT_EQ(yellow.top, atDpi(90, dpi));
        expectPaintedLines(window, app.mainWindow, false, 80, dpi);
        Box lowest = inkBox(window, atDpi(10, dpi), atDpi(220, dpi), atDpi(30, dpi));
        return lowest.bottom - lowest.top;
    }

    App app;
};

TEST_F(PaintedWindowTest, StoppedAndRunningPaintTheirTexts)
{
    Image stopped = captureClient(app.mainWindow);
    // The indicator: a yellow block whose top-left corner is the glyph's place.
    Box yellow = colourBox(stopped, 255, 255, 0);
    ASSERT_FALSE(yellow.empty());
    EXPECT_EQ(yellow.left, 270);
    EXPECT_EQ(yellow.top, 90);
    EXPECT_TRUE(colourBox(stopped, 0, 255, 0).empty());
    expectPaintedLines(stopped, app.mainWindow, false);
    if (japaneseSystem())
        expectMatchesReference(stopped, "stopped", app.mainWindow);

    SendMessageW(app.panel, WM_COMMAND, IDC_START_BUTTON, 0);
    app.nextMessage();
    Image running = captureClient(app.mainWindow);
    Box green = colourBox(running, 0, 255, 0);
    ASSERT_FALSE(green.empty());
    EXPECT_EQ(green.left, 270);
    EXPECT_EQ(green.top, 90);
    EXPECT_EQ(green.right - green.left, yellow.right - yellow.left);
    EXPECT_TRUE(colourBox(running, 255, 255, 0).empty());
    expectPaintedLines(running, app.mainWindow, true);
    if (japaneseSystem())
        expectMatchesReference(running, "running", app.mainWindow);
}

TEST_F(PaintedWindowTest, HighContrastRepaintsAtOnceInTheSystemsColours)
{
    // Forced, as Wine cannot switch it on: a change of the setting repaints
    // at once, the indicator's block in the colour of a selection.
    highContrastForced = true;
    ValidateRect(app.mainWindow, nullptr);
    SendMessageW(app.mainWindow, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    EXPECT_TRUE(GetUpdateRect(app.mainWindow, nullptr, FALSE));
    Image window = captureClient(app.mainWindow);
    highContrastForced = false;
    const std::uint8_t* blank = window.at(271, 91);  // before the glyph
    EXPECT_EQ(RGB(blank[0], blank[1], blank[2]), GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_TRUE(colourBox(window, 255, 255, 0).empty());
}

TEST_F(PaintedWindowTest, PortZeroRunningPaintsThePortTheSystemChose)
{
    setPort(0);
    SendMessageW(app.panel, WM_COMMAND, IDC_START_BUTTON, 0);
    app.nextMessage();
    ASSERT_EQ(ServerState.load(), Running);
    int port = listeningPort();
    ASSERT_NE(port, 0);
    expectPaintedLines(captureClient(app.mainWindow), app.mainWindow, true, port);
}

TEST_F(PaintedWindowTest, LaidOutAtTheDisplayScale)
{
    expectLaidOutAt(screenDpi());
}

TEST_F(PaintedWindowTest, FollowsAChangeOfDisplayScale)
{
    // To half as large a scale again and back, as when the window is dragged
    // to such a screen and back (within the test display's 1280 by 1024
    // pixels up to 192 DPI). Under Wine, where all screens share one scale,
    // the new panel's dialog font keeps it; it must still hold its buttons
    // whole.
    UINT dpi = screenDpi();
    RECT frame;
    GetWindowRect(app.mainWindow, &frame);
    std::vector<int> inkHeights;
    SetFocus(app.button(IDC_STOP_BUTTON));
    for (UINT next : {dpi * 3 / 2, dpi}) {
        RECT suggested = {frame.left + 7, frame.top + 5, 0, 0};
        suggested.right = suggested.left + atDpi(410, next);
        suggested.bottom = suggested.top + atDpi(310, next);
        SendMessageW(app.mainWindow, WM_DPICHANGED, MAKEWPARAM(next, next),
                     reinterpret_cast<LPARAM>(&suggested));
        RECT now;
        GetWindowRect(app.mainWindow, &now);
        EXPECT_TRUE(EqualRect(&now, &suggested));
        inkHeights.push_back(expectLaidOutAt(next));
        EXPECT_EQ(GetFocus(), app.button(IDC_STOP_BUTTON)) << "the focus left the button";
    }
    // The texts' font follows too (within the glyphs' hinting).
    EXPECT_NEAR(inkHeights[0], 1.5 * inkHeights[1], 0.15 * inkHeights[1]);
    // The panel's buttons still act.
    SendMessageW(app.button(IDC_START_BUTTON), BM_CLICK, 0, 0);
    EXPECT_EQ(ServerState.load(), Running);
}

}  // namespace
