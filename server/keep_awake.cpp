#include "server/keep_awake.h"

KeepAwakeRules keepAwakeRules = {resetSystemIdleTimer, IdleResetEveryMs};
// Listeners that stops left behind may race here: at worst one reset more.
std::atomic<std::uint64_t> nextIdleResetMs{0};

void keepAwakeAt(std::uint64_t nowMs)
{
    if (nowMs < nextIdleResetMs.load(std::memory_order_relaxed))
        return;
    nextIdleResetMs.store(nowMs + keepAwakeRules.everyMs, std::memory_order_relaxed);
    keepAwakeRules.resetIdleTimer();
}
