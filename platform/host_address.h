// Which of the host's addresses the server listens on. The lookup of the
// host's own name lists every adapter's address, virtual ones among them (WSL,
// Hyper-V, VirtualBox, VPNs, docker0, libvirt bridges), often ahead of the
// one the LAN can reach. The adapter with a default gateway is the one the
// machine reaches the rest of the network through, so its address is also
// the one other machines can reach.
#pragma once

#include <cstddef>
#include <cstdint>

// One address in the lookup's list, with what is known of its adapter.
struct HostAddressCandidate {
    std::uint32_t address;  // network byte order
    bool up;                // the adapter is operational
    bool hasGateway;        // the adapter has a default gateway
};

// The first candidate whose adapter is up and has a default gateway; when
// none has, the first candidate, as the lookup gives it. `count` > 0.
std::uint32_t chooseHostAddress(const HostAddressCandidate* candidates, std::size_t count);
