// Which request paths may name a file: only those that stay inside DATA on
// Linux and on Windows alike. Windows folds ".." in the text of a name before
// it looks at any folder, strips trailing dots and spaces from each segment,
// and opens devices such as AUX or COM1 wherever their names appear.
#include <cstddef>
#include <cstring>

#include "server/engine.h"

namespace {

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameLetters(const char* text, std::size_t length, const char* name)
{
    if (std::strlen(name) != length)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (upper(text[i]) != name[i])
            return false;
    return true;
}

// The digit that makes COM or LPT a device: 0 to 9, and the superscripts
// one, two and three, which Windows takes as digits there too. They are one
// byte in code page 1252 (B9, B2, B3) and two in UTF-8 (C2 and the same),
// the code pages a Windows process may run with.
bool isDeviceDigit(const char* digit, std::size_t length)
{
    const auto* d = reinterpret_cast<const unsigned char*>(digit);
    auto superscript = [](unsigned char c) { return c == 0xB9 || c == 0xB2 || c == 0xB3; };
    if (length == 1)
        return (d[0] >= '0' && d[0] <= '9') || superscript(d[0]);
    return length == 2 && d[0] == 0xC2 && superscript(d[1]);
}

// A segment Windows reads as a device: the part before the first dot, less
// trailing spaces, is a reserved name ("aux", "Com1.txt", "NUL .log").
bool isDeviceName(const char* segment, std::size_t length)
{
    std::size_t base = 0;
    while (base < length && segment[base] != '.')
        ++base;
    while (base > 0 && segment[base - 1] == ' ')
        --base;
    static const char* const plain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* name : plain)
        if (sameLetters(segment, base, name))
            return true;
    return base > 3 && (sameLetters(segment, 3, "COM") || sameLetters(segment, 3, "LPT")) &&
           isDeviceDigit(segment + 3, base - 3);
}

// "..", and what Windows turns into it ("...", ".. ", ". .").
bool isParentName(const char* segment, std::size_t length)
{
    std::size_t kept = length;
    while (kept > 0 && (segment[kept - 1] == '.' || segment[kept - 1] == ' '))
        --kept;
    return kept == 0 && length >= 2;
}

} // namespace

bool pathStaysInData(const char* path)
{
    if (std::strpbrk(path, "\\:"))
        return false;
    const char* segment = path;
    for (;;) {
        const char* slash = std::strchr(segment, '/');
        std::size_t length = slash ? static_cast<std::size_t>(slash - segment) : std::strlen(segment);
        if (isParentName(segment, length) || isDeviceName(segment, length))
            return false;
        if (!slash)
            return true;
        segment = slash + 1;
    }
}
