// When the server asks the system to stay awake: a request received and each
// piece of an answer sent reset the system's idle timer, at most once per
// IdleResetEveryMs. Nothing is held: a read or a send that hangs makes no
// reset, and the system then sleeps its own idle time after the last one.
// Nothing happens while no request comes.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/power.h"

// Well inside the shortest sleep time Windows offers, one minute.
constexpr std::uint64_t IdleResetEveryMs = 30000;

// The call and the period in force; tests put in their own call and a
// shorter period.
struct KeepAwakeRules {
    void (*resetIdleTimer)();
    std::uint64_t everyMs;
};
extern KeepAwakeRules keepAwakeRules;
// The steadyMs from which the next reset is due: 0 at launch, so that the
// first activity resets whatever the clock says. Tests set it to 0 again.
extern std::atomic<std::uint64_t> nextIdleResetMs;

// The server was active at `nowMs` (steadyMs): a request came, or a piece of
// an answer went out whole.
void keepAwakeAt(std::uint64_t nowMs);
