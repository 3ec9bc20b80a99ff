// What the system's power management is told while the server answers.
// Windows sleeps on an idle timer that counts the user's keys and the mouse,
// not the network, so a download would not keep it awake on its own.
#pragma once

// Resets the system's idle timer once, as a key would, and holds nothing:
// the system sleeps its own idle time after the last call, so that nothing
// stuck can keep it up. Never asks for the display, nor for away mode. Where
// the system sleeps on no such timer of its own, nothing.
void resetSystemIdleTimer();
