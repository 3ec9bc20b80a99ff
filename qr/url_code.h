// The server's URL, as the window and the terminal show it, and as a QR code
// that a phone's camera reads off the screen.
#pragma once

#include <cstddef>

// "http://ADDRESS/", or "http://ADDRESS:PORT/" when the port is not 80, into
// `text` of `size` bytes (30 hold the longest, zero included). False when it
// does not fit.
bool formatServerUrl(char* text, std::size_t size, const char* hostIpText, int port);

// Light modules a reader needs around the code on every side.
constexpr int QuietZoneModules = 4;

// The modules of one code, without its quiet zone. A URL of this server
// needs version 3 (29 modules) at most; version 10 leaves room to spare.
struct UrlCode {
    static constexpr int MaxSize = 57;
    int size = 0;
    bool modules[MaxSize][MaxSize];

    // Dark or light at column x, row y; anything outside the code, the
    // quiet zone included, is light.
    bool dark(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < size && y < size && modules[y][x];
    }
};

// Encodes `url` with error correction M, or better where the same size
// allows. False when it is too long for UrlCode (never for a URL of
// formatServerUrl).
bool makeUrlCode(const char* url, UrlCode* code);
