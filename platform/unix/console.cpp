#include "platform/console.h"

#include <csignal>
#include <pthread.h>

static sigset_t terminationSignals;

void catchTerminationSignals()
{
    sigemptyset(&terminationSignals);
    sigaddset(&terminationSignals, SIGINT);
    sigaddset(&terminationSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &terminationSignals, nullptr);
    // A client that leaves mid-answer must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
}

void waitForTerminationSignal()
{
    int which = 0;
    while (sigwait(&terminationSignals, &which) != 0) {
    }
}

void useUtf8Console() {}
