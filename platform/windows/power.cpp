#include "platform/power.h"

#include <windows.h>

void askSystemAwake(AwakeRequest request)
{
    switch (request) {
    case AwakeRequest::Activity:
        // Resets the idle timer once, as a key would; the thread's lasting
        // state is left as it is.
        SetThreadExecutionState(ES_SYSTEM_REQUIRED);
        break;
    case AwakeRequest::WhileAnswering:
        SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        break;
    case AwakeRequest::AnswerEnded:
        // The idle timer ran on meanwhile: reset first, so that the system
        // sleeps its own idle time after the answer, not in the moment the
        // hold is let go.
        SetThreadExecutionState(ES_SYSTEM_REQUIRED);
        SetThreadExecutionState(ES_CONTINUOUS);
        break;
    }
}
