// Natively the one fact is ufw's switch: its rules are readable by root
// alone, but whether it is on is in a file anyone may read.
#include "platform/reachability.h"

#include <cstdio>
#include <cstring>

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

std::wstring expandEnvironmentStrings(const std::wstring& path)
{
    return path;
}
