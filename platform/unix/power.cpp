#include "platform/power.h"

// A Linux desktop decides sleep by its own session's idle time; a server that
// must keep the machine up says so through the init system, not here.
void resetSystemIdleTimer() {}
