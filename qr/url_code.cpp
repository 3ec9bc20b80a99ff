#include "qr/url_code.h"

#include <cstdio>
#include <exception>

#include <qrcodegen.hpp>

bool formatServerUrl(char* text, std::size_t size, const char* hostIpText, int port)
{
    int length = port == 80 ? std::snprintf(text, size, "http://%s/", hostIpText)
                            : std::snprintf(text, size, "http://%s:%d/", hostIpText, port);
    return length > 0 && static_cast<std::size_t>(length) < size;
}

bool makeUrlCode(const char* url, UrlCode* code)
{
    using qrcodegen::QrCode;
    using qrcodegen::QrSegment;
    // Version 10 is the largest that UrlCode holds. The library throws when
    // the text does not fit, and only then; nothing of ours does.
    constexpr int MaxVersion = (UrlCode::MaxSize - 17) / 4;
    try {
        QrCode made = QrCode::encodeSegments(QrSegment::makeSegments(url), QrCode::Ecc::MEDIUM,
                                             1, MaxVersion);
        code->size = made.getSize();
        for (int y = 0; y < code->size; ++y)
            for (int x = 0; x < code->size; ++x)
                code->modules[y][x] = made.getModule(x, y);
        return true;
    } catch (const std::exception&) {
        code->size = 0;
        return false;
    }
}
