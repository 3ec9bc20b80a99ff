#include "platform/power.h"

#include <windows.h>

void resetSystemIdleTimer()
{
    // Without ES_CONTINUOUS no state is left set on the thread: a listener
    // left behind in a read that never returns holds nothing.
    SetThreadExecutionState(ES_SYSTEM_REQUIRED);
}
