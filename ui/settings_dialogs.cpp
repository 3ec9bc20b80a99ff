// The port dialog and the log dialog. Each dialog procedure only routes
// messages; what OK does lies in small functions beside it.
#include "ui/settings_dialogs.h"

#include <cstdio>

#include "resources/resource.h"
#include "server/server.h"
#include "ui/main_window.h"
#include "ui/start_failure.h"
#include "ui/status_display.h"
#include "ui/wide_text.h"

ServerSettings* portDialogSettings;
std::uint8_t logChoice;

// The texts below are stored in code page 932 (see ui/CMakeLists.txt).
static const char PortRefusalFormat[] =
    "ポート番号[ %d ]は、設定できません。\n０～６５５３５の範囲で入力して下さい。";
static const char PortQuestionFormat[] = "ポート番号を[ %d ]に変更します。\n宜しいですか？。";
static const char LogOnQuestion[] = "[ ログを取得する ]に、設定します。\n宜しいですか？。";
static const char LogOffQuestion[] = "[ ログを停止する ]に、設定します。\n宜しいですか？。";

// The port dialog

static bool isAtoiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int readPortField(const char* text)
{
    int i = 0;
    while (i < PortFieldBytes && isAtoiSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < PortFieldBytes && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Five bytes hold at most five digits: no overflow.
    int value = 0;
    for (; i < PortFieldBytes && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

bool portInRange(int value)
{
    // As an unsigned number every negative value lies above 65535.
    return static_cast<std::uint32_t>(value) <= 65535u;
}

void formatPortRefusal(int value, char (&text)[PortMessageBytes])
{
    std::snprintf(text, sizeof text, PortRefusalFormat, value);
}

void formatPortQuestion(int value, char (&text)[PortMessageBytes])
{
    std::snprintf(text, sizeof text, PortQuestionFormat, value);
}

bool applyPortChange(int value)
{
    setPort(value);
    // setPort leaves a running server on its old port; a stop and a start
    // move it to the new one.
    bool restarted = true;
    if (portDialogSettings && ServerState == Running) {
        stopServer(*portDialogSettings);
        restarted = startServer(*portDialogSettings) < 2;
    }
    portChanged = 1;
    return restarted;
}

// OK: refuse a value out of range, otherwise ask; No and the refusal leave
// the dialog open with the field as typed.
static void confirmPortField(HWND dialog)
{
    char field[PortFieldBytes + 1] = {};
    sjisWindowText(GetDlgItem(dialog, IDC_PORT_FIELD), field, sizeof field);
    int value = readPortField(field);

    char text[PortMessageBytes];
    if (!portInRange(value)) {
        formatPortRefusal(value, text);
        sjisMessageBox(dialog, text, ConfirmationCaption, MB_OK);
        return;
    }
    formatPortQuestion(value, text);
    if (sjisMessageBox(dialog, text, ConfirmationCaption, MB_YESNO) != IDYES)
        return;
    // The dialog closes once this handling returns, after the change.
    EndDialog(dialog, 0);
    // A restart refused says why over the main window, the dialog being
    // done.
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (!applyPortChange(value))
        reportStartFailure(owner);
    // The messages that closing the dialog brings the main window come before
    // the flag is raised.
    wakeForRefresh(owner);
}

INT_PTR CALLBACK PortDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // The field starts empty; the focus goes to the first tab stop, OK.
        return TRUE;
    case WM_COMMAND:
        Sleep(1);
        switch (LOWORD(wParam)) {
        case IDOK:
            confirmPortField(dialog);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

INT_PTR runPortDialog(HWND owner)
{
    return DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_PORT_DIALOG), owner, PortDialogProc, 0);
}

// The log dialog

const char* logQuestion(std::uint8_t choice)
{
    return choice == 1 ? LogOnQuestion : LogOffQuestion;
}

void applyLogChoice()
{
    logEnabled = logChoice == 1 ? 1 : 0;
    // Raised also when nothing changed: the texts are rebuilt all the same.
    logSettingChanged = 1;
}

// Exactly one radio checked, the one logChoice names.
static void showLogChoice(HWND dialog)
{
    WPARAM on = logChoice == 1 ? BST_CHECKED : BST_UNCHECKED;
    WPARAM off = logChoice == 1 ? BST_UNCHECKED : BST_CHECKED;
    SendMessageW(GetDlgItem(dialog, IDC_LOG_ON), BM_SETCHECK, on, 0);
    SendMessageW(GetDlgItem(dialog, IDC_LOG_OFF), BM_SETCHECK, off, 0);
}

static void confirmLogChoice(HWND dialog)
{
    if (sjisMessageBox(dialog, logQuestion(logChoice), ConfirmationCaption, MB_YESNO) != IDYES)
        return;
    EndDialog(dialog, logEnabled);
    applyLogChoice();
    wakeForRefresh(GetWindow(dialog, GW_OWNER));
}

INT_PTR CALLBACK LogDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // The radios follow the last click, not the logging now in force.
        showLogChoice(dialog);
        return TRUE;
    case WM_COMMAND:
        Sleep(1);
        switch (LOWORD(wParam)) {
        case IDC_LOG_ON:
            logChoice = 1;
            showLogChoice(dialog);
            return TRUE;
        case IDC_LOG_OFF:
            logChoice = 0;
            showLogChoice(dialog);
            return TRUE;
        case IDOK:
            confirmLogChoice(dialog);
            return TRUE;
        case IDCANCEL:
            // logChoice keeps the last click even though nothing is applied.
            EndDialog(dialog, logEnabled);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

INT_PTR runLogDialog(HWND owner)
{
    return DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_LOG_DIALOG), owner, LogDialogProc, 0);
}
