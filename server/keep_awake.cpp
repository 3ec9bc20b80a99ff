#include "server/keep_awake.h"

#include <atomic>

#include "server/engine.h"

KeepAwakeRules keepAwakeRules = {askSystemAwake, ActivityEveryMs, LongAnswerMs};

namespace {

// Listeners that stops left behind may race here: at worst one call more.
std::atomic<std::uint64_t> lastActivityMs{0};
// The receipt of the request that the calling thread answers.
thread_local std::uint64_t answerFromMs;

} // namespace

void keepAwakeForRequest(std::uint64_t receivedMs)
{
    answerFromMs = receivedMs;
    if (receivedMs - lastActivityMs.load(std::memory_order_relaxed) < keepAwakeRules.activityEveryMs)
        return;
    lastActivityMs.store(receivedMs, std::memory_order_relaxed);
    keepAwakeRules.ask(AwakeRequest::Activity);
}

bool keepAwakeWhileAnswering()
{
    if (steadyMs() - answerFromMs < keepAwakeRules.longAnswerMs)
        return false;
    keepAwakeRules.ask(AwakeRequest::WhileAnswering);
    return true;
}

void keepAwakeAnswerEnded()
{
    keepAwakeRules.ask(AwakeRequest::AnswerEnded);
}
