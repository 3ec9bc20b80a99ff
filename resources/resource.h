// Resource and command ids, shared by the .rc file and the C++ code.
#pragma once

// Strings
#define IDS_APP_TITLE 103
#define IDS_WINDOW_CLASS 109

// Dialogs
#define IDD_CONTROL_PANEL 101
#define IDD_ABOUTBOX 103
#define IDD_PORT_DIALOG 129
#define IDD_LOG_DIALOG 130

// Icons
#define IDI_HARBORLIGHT 107
#define IDI_HARBORLIGHT_SMALL 108

// Menu bar and accelerator table
#define IDR_MAIN_MENU 109
#define IDR_ACCELERATORS 109

// Commands of the main window
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_PORT 32771
#define IDM_LOG 32772

// Controls
#define IDC_ABOUT_ICON 2
#define IDC_PORT_FIELD 1000
#define IDC_LOG_ON 1001
#define IDC_LOG_OFF 1002
#define IDC_START_BUTTON 1003
#define IDC_STOP_BUTTON 1004
