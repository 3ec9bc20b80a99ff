// Drives the real main window in-process: start-up, the message loop, and a
// thread-local CBT hook that answers modal dialogs and message boxes.
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

// Shift_JIS bytes of a UTF-8 text, converted by the system's code page 932.
std::string sjis(const std::string& utf8);
// UTF-16 of a UTF-8 text: what a text should read as on screen.
std::wstring utf16(const std::string& utf8);

// The process code page that this test program's manifest asks for: 932 for
// ja-JP, 1252 for en-US (the build that runs as on a Windows 10 of another
// locale, where Windows grants no other code page than UTF-8); 0 for any
// other.
UINT manifestCodePage();

// The display's scale this process sees: 96 DPI, or 144 in the prefix of
// ui_tests_144dpi.
UINT screenDpi();

// The text of a window (a box's caption, a control's text), read as Unicode
// and given in code page 932.
std::string textOf(HWND window);

// Whether a static text's whole text lies within its room, broken into lines
// as the control breaks it.
bool textFitsIn(HWND control);

// A window's client area as a screen reader gets it, through the call that
// one in another process makes (released by the caller; null if none), and
// the name and role of the object itself (CHILDID_SELF) or of its child.
IAccessible* accessibleObject(HWND window);
std::wstring accessibleName(IAccessible* object, LONG child = CHILDID_SELF);
std::wstring accessibleName(HWND window);
LONG accessibleRole(IAccessible* object, LONG child);
VARIANT childId(LONG id);

// A modal box the hook saw: its caption and, for a message box, its text.
struct SeenBox {
    std::string caption;
    std::string text;
    HWND window;
};

// Answers the modal boxes of this thread as a user would, one step for every
// dialog box (class "#32770") that becomes active for the first time, in
// order, seen through a thread-local CBT hook. Its caption and, for a message
// box, its text are kept in seen(); the next step gets the box once its
// activation has finished: the step is posted to a message-only window, so it
// runs from the box's own modal loop. A dialog becomes active when its first
// control takes the focus, before the modal loop first shows it; a step that
// closes it at once spares the display's unmapping.
//
// A box with no step left fails the test and is closed, so that none is left
// waiting for a user; steps that never ran fail the test when the script ends.
class DialogScript {
public:
    DialogScript();
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    DialogScript& then(std::function<void(HWND)> step);
    const std::vector<SeenBox>& seen() const { return seenBoxes; }

    // Ends a message box's step: the following step gets the dialog under the
    // message box, after the message box has gone.
    static void backToOwner(HWND box);

private:
    static LRESULT CALLBACK helperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK cbtProc(int code, WPARAM wParam, LPARAM lParam);

    HHOOK hook = nullptr;
    HWND helper = nullptr;
    std::deque<std::function<void(HWND)>> steps;
    std::vector<HWND> known;
    std::vector<SeenBox> seenBoxes;
};

// What a user does in a box.
void click(HWND box, int id);          // BM_CLICK on the real button
void pressButton(HWND box, int id);    // the button's WM_COMMAND, as its click sends it
void pressKey(HWND box, WPARAM key);   // a key down where the focus is
void pressCloseBox(HWND box);          // the close box: SC_CLOSE

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

// Alt+`menuKey`, then `itemKey`, typed as a user types them (SendInput), and
// Esc twice, which leave the menu if the item did not; the loop runs until
// all of them have been handled.
void chooseMenuItem(App& app, WORD menuKey, WORD itemKey);
