#include "qr/url_code.h"

#include <cstdint>
#include <cstdio>

#include <qrcodegen.h>

bool formatServerUrl(char* text, std::size_t size, const char* hostIpText, int port)
{
    int length = port == 80 ? std::snprintf(text, size, "http://%s/", hostIpText)
                            : std::snprintf(text, size, "http://%s:%d/", hostIpText, port);
    return length > 0 && static_cast<std::size_t>(length) < size;
}

bool makeUrlCode(const char* url, UrlCode* code)
{
    // Version 10 is the largest that UrlCode holds; the library works in
    // buffers of that version's size, and says false when the text does not
    // fit in it.
    constexpr int MaxVersion = (UrlCode::MaxSize - 17) / 4;
    constexpr std::size_t BufferLength = qrcodegen_BUFFER_LEN_FOR_VERSION(MaxVersion);
    std::uint8_t scratch[BufferLength];
    std::uint8_t made[BufferLength];
    if (!qrcodegen_encodeText(url, scratch, made, qrcodegen_Ecc_MEDIUM, qrcodegen_VERSION_MIN, MaxVersion,
                              qrcodegen_Mask_AUTO, true)) {
        code->size = 0;
        return false;
    }
    code->size = qrcodegen_getSize(made);
    for (int y = 0; y < code->size; ++y)
        for (int x = 0; x < code->size; ++x)
            code->modules[y][x] = qrcodegen_getModule(made, x, y);
    return true;
}
