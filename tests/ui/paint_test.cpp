// The painted main window: the client area is rendered and compared with the
// reference images in reference/ (same fonts as CI: Wine's defaults with the
// IPA Gothic font). HARBORLIGHT_WRITE_REFERENCES=1 writes them anew.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "server/server.h"
#include "ui/status_display.h"
#include "ui_support.h"

namespace {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // top row first, 3 bytes a pixel

    const std::uint8_t* at(int x, int y) const { return &rgb[(y * width + x) * 3]; }
};

Image captureClient(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
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
    BitBlt(memoryDc, 0, 0, image.width, image.height, windowDc, 0, 0, SRCCOPY);
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

// The painted lines are drawn in the window's default font, the system font,
// which Wine chooses by the prefix's locale. In a Japanese one it is IPA Gothic
// and the lines read as in the references; in another one (C.UTF-8 tried),
// with code page 932 from the manifest, it is a font of that character set
// that may lack Latin letters and digits (Droid Sans Fallback here): the
// Japanese shows, "[ 80 ]" and the glyphs show as boxes.
bool systemFontIsJapanese()
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
    App app;
};

TEST_F(PaintedWindowTest, StoppedAndRunningMatchTheReferences)
{
    Image stopped = captureClient(app.mainWindow);
    // The indicator: a yellow block whose top-left corner is the glyph's place.
    Box yellow = colourBox(stopped, 255, 255, 0);
    ASSERT_FALSE(yellow.empty());
    EXPECT_EQ(yellow.left, 270);
    EXPECT_EQ(yellow.top, 90);
    EXPECT_TRUE(colourBox(stopped, 0, 255, 0).empty());
    const bool compareTexts = systemFontIsJapanese();
    if (compareTexts)
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
    if (!compareTexts)
        GTEST_SKIP() << "texts not compared: the system font of a non-Japanese locale need not draw them";
    expectMatchesReference(running, "running", app.mainWindow);
}

}  // namespace
