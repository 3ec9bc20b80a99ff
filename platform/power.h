// What the system's power management is told while the server answers.
// Windows sleeps on an idle timer that counts the user's keys and the mouse,
// not the network, so a download would not keep it awake on its own.
#pragma once

enum class AwakeRequest {
    // A request came: counts as the user's activity for the idle timer, once.
    Activity,
    // The calling thread's answer goes on: the system stays awake until the
    // same thread asks AnswerEnded.
    WhileAnswering,
    AnswerEnded,
};

// Never asks for the display, nor for away mode. Where the system sleeps on
// no such timer of its own, nothing.
void askSystemAwake(AwakeRequest request);
