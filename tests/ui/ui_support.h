// Drives the real main window in-process: start-up, the message loop, and a
// thread-local CBT hook that answers modal dialogs and message boxes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Shift_JIS bytes of a UTF-8 text, converted by the system's code page 932.
std::string sjis(const std::string& utf8);

// A modal box the hook saw: its caption and, for a message box, its text.
struct SeenBox {
    std::string caption;
    std::string text;
    HWND window;
};

// Answers the next modal boxes, one action each, in order. An action gets the
// box as it is activated and posts what a user would do.
class BoxAnswerer {
public:
    BoxAnswerer();
    ~BoxAnswerer();
    void then(std::function<void(HWND)> action);
    const std::vector<SeenBox>& seen() const;
};

// Actions for BoxAnswerer.
std::function<void(HWND)> pressButton(int id);  // WM_COMMAND as a button click
std::function<void(HWND)> clickButton(int id);  // BM_CLICK on the real button
std::function<void(HWND)> pressEscape();
std::function<void(HWND)> closeBox();           // the close box: SC_CLOSE

// The running application of one test.
struct App {
    HWND mainWindow = nullptr;
    HWND panel = nullptr;
    HACCEL accelerators = nullptr;

    // Dispatches what is queued, through the application's loop step. False
    // when the quit message came; its code goes to quitCode.
    bool pump();
    int quitCode = -1;

    // Delivers one harmless message to the main window: the "next message".
    void nextMessage() const;
    HWND button(int id) const;
};

// Starts the application as WinMain does; ends it, stopping the server.
App startApp();
void endApp(App& app);

// Sends Alt (optionally with Shift) and a character key through the loop.
void pressAltChar(App& app, HWND target, char character, bool shift = false);
