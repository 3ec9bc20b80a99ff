// Natively the one fact is ufw's switch: its rules are readable by root
// alone, but whether it is on is in a file anyone may read. The path's
// operations are Windows' twins, for the decision's tests.
#include "platform/reachability.h"

#include <cstdio>
#include <cstring>
#include <locale.h>
#include <wctype.h>

Known ufwEnabledIn(const char* path)
{
    std::FILE* file = std::fopen(path, "r");
    if (!file)
        return Known::Unknown;
    Known enabled = Known::No;
    char line[256];
    while (std::fgets(line, sizeof line, file)) {
        // ENABLED=yes, perhaps quoted, as ufw's own shell scripts read it.
        const char* value = line + std::strspn(line, " \t");
        if (std::strncmp(value, "ENABLED=", 8) != 0)
            continue;
        value += 8;
        value += *value == '"' || *value == '\'';
        enabled = std::strncmp(value, "yes", 3) == 0 ? Known::Yes : Known::No;
    }
    std::fclose(file);
    return enabled;
}

void readReachFacts(std::uint32_t, ReachFacts* facts)
{
    facts->ufwEnabled = ufwEnabledIn("/etc/ufw/ufw.conf");
}

std::wstring expandProgramPath(const std::wstring& path)
{
    return path;
}

// Windows' case table maps each UTF-16 unit to its simple upper case; the
// C.UTF-8 locale's towupper is Unicode's, the nearest twin. Without that
// locale, ASCII's letters alone.
bool samePathIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    auto upper = [](wchar_t c) {
        if (unicode)
            return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), unicode));
        return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    };
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}
