// Resource and command ids, shared by the .rc file and the C++ code.
#pragma once

// Strings
#define IDS_APP_TITLE 103
#define IDS_WINDOW_CLASS 109
#define IDS_QR_RUNNING 110
#define IDS_QR_STOPPED 111
#define IDS_QR_NO_ADDRESS 112
#define IDS_FIREWALL_NOT_OPENED 113

// Dialogs
#define IDD_CONTROL_PANEL 101
#define IDD_ABOUTBOX 103
#define IDD_PORT_DIALOG 129
#define IDD_LOG_DIALOG 130
#define IDD_QR_DIALOG 131

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
#define IDM_SHOW_QR 32773
#define IDM_OPEN_BROWSER 32774
#define IDM_OPEN_DATA 32775

// Controls
#define IDC_ABOUT_ICON 2
#define IDC_PORT_FIELD 1000
#define IDC_LOG_ON 1001
#define IDC_LOG_OFF 1002
#define IDC_START_BUTTON 1003
#define IDC_STOP_BUTTON 1004
#define IDC_QR_CODE 1005
#define IDC_QR_URL 1006
#define IDC_QR_NOTE 1007
#define IDC_QR_COPY 1008
#define IDC_QR_FIREWALL 1009
