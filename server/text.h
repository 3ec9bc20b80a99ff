// Small text builders for the fixed buffers of the request path: no
// formatting library, no locale, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline char* appendText(char* out, const char* text, std::size_t length)
{
    std::memcpy(out, text, length);
    return out + length;
}

inline char* appendText(char* out, const char* text)
{
    return appendText(out, text, std::strlen(text));
}

// A non-negative number in decimal, without leading zeros.
inline char* appendDecimal(char* out, std::int64_t value)
{
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (count > 0)
        *out++ = digits[--count];
    return out;
}
