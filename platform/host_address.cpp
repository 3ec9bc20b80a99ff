#include "platform/host_address.h"

std::uint32_t chooseHostAddress(const HostAddressCandidate* candidates, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        if (candidates[i].up && candidates[i].hasGateway)
            return candidates[i].address;
    return candidates[0].address;
}
