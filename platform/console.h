// What a console front end needs: to wait for Ctrl-C and its kin, and to
// print text that holds Shift_JIS or UTF-8.
#pragma once

// Call before any thread starts, so that the signals reach only the waiter.
void catchTerminationSignals();
// Returns once SIGINT or SIGTERM (Ctrl-C, Ctrl-Break or close on Windows)
// has arrived.
void waitForTerminationSignal();
// Prepares stdout for UTF-8 text.
void useUtf8Console();
