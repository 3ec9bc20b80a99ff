// The two settings dialogs the main window opens from its menu bar: the port
// number and the access log switch. Both run modally, owned by `owner`, and
// tell the main window of a confirmed change only through its refresh flags
// (portChanged, logSettingChanged).
#pragma once

#include <windows.h>

#include <cstdint>

struct ServerSettings;

// The record the port dialog stores the port in and restarts; set at start-up.
extern ServerSettings* portDialogSettings;

// The log dialog's memory of the last radio clicked, across openings:
// 1 "ログを取得する", 0 "ログを取得しない". Only a radio click changes it.
extern std::uint8_t logChoice;

// Each gives the dialog's result: always 0 for the port dialog; for the log
// dialog the logging flag as it was when the dialog was closed.
INT_PTR runPortDialog(HWND owner);
INT_PTR runLogDialog(HWND owner);

INT_PTR CALLBACK PortDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LogDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The port dialog's OK, step by step.

// Bytes of the port field that are read; a longer entry is cut.
constexpr int PortFieldBytes = 5;
// Reads the field as atoi does, from at most its first PortFieldBytes bytes:
// leading white space, an optional sign, decimal digits up to the first
// other byte; no digits give 0. Shift_JIS full-width digits are not digits.
int readPortField(const char* text);
// 0 to 65535; every negative value is out of range.
bool portInRange(int value);
// The Shift_JIS refusal and confirmation texts with the typed value.
constexpr int PortMessageBytes = 200;
void formatPortRefusal(int value, char (&text)[PortMessageBytes]);
void formatPortQuestion(int value, char (&text)[PortMessageBytes]);
// After Yes: stores the port, moves a running server onto it (stop, then
// start), and raises portChanged. False when that start failed.
bool applyPortChange(int value);

// The log dialog's OK: the Shift_JIS question for the given choice, and the
// change after Yes (logEnabled from logChoice, then logSettingChanged).
const char* logQuestion(std::uint8_t choice);
void applyLogChoice();
