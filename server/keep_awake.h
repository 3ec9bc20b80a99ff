// When the server asks the system to stay awake: a request counts as the
// user's activity, at most once per ActivityEveryMs, and an answer that is
// still going out after LongAnswerMs holds the system awake until it ends.
// Nothing happens while no request comes.
#pragma once

#include <cstdint>

#include "platform/power.h"

constexpr std::uint64_t ActivityEveryMs = 30000;
constexpr std::uint64_t LongAnswerMs = 2000;
// An answer looks at the clock once per this many pieces sent, not per piece.
constexpr int AwakeCheckPieces = 32;

// The call and the times in force; tests put in their own call and shorter
// times.
struct KeepAwakeRules {
    void (*ask)(AwakeRequest);
    std::uint64_t activityEveryMs;
    std::uint64_t longAnswerMs;
};
extern KeepAwakeRules keepAwakeRules;

// A request received at `receivedMs` (steadyMs) on the calling thread.
void keepAwakeForRequest(std::uint64_t receivedMs);
// The calling thread's answer goes on; true when this call began to hold the
// system awake, which keepAwakeAnswerEnded then lets go.
bool keepAwakeWhileAnswering();
void keepAwakeAnswerEnded();
