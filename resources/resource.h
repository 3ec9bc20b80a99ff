// Resource and command ids, shared by the .rc file and the C++ code.
#pragma once

// Strings
#define IDS_APP_TITLE 103
#define IDS_WINDOW_CLASS 109
#define IDS_QR_RUNNING 110
#define IDS_QR_STOPPED 111
#define IDS_QR_NO_ADDRESS 112
#define IDS_FIREWALL_NOT_OPENED 113
// What a screen reader reads for the panel's two buttons
#define IDS_START_BUTTON_NAME 160
#define IDS_STOP_BUTTON_NAME 161
// A start that failed: the port, the cause, what to do; the step's name and
// the system's error number when no cause has a text of its own
#define IDS_START_FAILED 170
#define IDS_START_HELD_BY_HTTP_SERVICE 171
#define IDS_START_HELD_BY_HARBORLIGHT 172
#define IDS_START_HELD_BY_PROGRAM 173
#define IDS_START_HELD_BY_OTHER 174
#define IDS_START_HELD_REMEDY 175
#define IDS_START_HTTP_SERVICE_REMEDY 176
#define IDS_START_RESERVED 177
#define IDS_START_RESERVED_REMEDY 178
#define IDS_START_NO_ADDRESS 179
#define IDS_START_NO_ADDRESS_REMEDY 180
#define IDS_START_STEP_FAILED 181
#define IDS_START_OTHER_REMEDY 182
#define IDS_START_STEP_SOCKET_LAYER 183
#define IDS_START_STEP_SOCKET 184
#define IDS_START_STEP_BIND 185
#define IDS_START_STEP_LISTEN 186
#define IDS_START_STEP_LISTENER 187
#define IDS_START_HELD_BY_UNNAMED 188

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
#define IDM_SHOW_ACCESS 32776
#define IDM_START_SERVER 32777
#define IDM_STOP_SERVER 32778

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
// What may keep a phone from reaching the server: the line, the network
// settings' button, and the texts of the findings
#define IDC_QR_NETWORK 1010
#define IDC_QR_REACH 1011
#define IDS_QR_REACH_BLOCK_RULE 140
#define IDS_QR_REACH_BLOCKS_ALL 141
#define IDS_QR_REACH_PUBLIC 142
#define IDS_QR_REACH_NO_RULE 143
#define IDS_QR_REACH_NOTHING_FOUND 144
#define IDS_NETWORK_NOT_OPENED 145
#define IDS_QR_REACH_PORT_BLOCK_RULE 146
#define IDS_QR_REACH_PUBLIC_PRIVATE_ALLOWED 147
#define IDS_QR_REACH_NO_PROMPT 148

// The access window: its template, shortcuts, texts and controls
#define IDD_ACCESS_WINDOW 120
#define IDR_ACCESS_ACCELERATORS 120
// Column headings, in column order
#define IDS_ACCESS_TIME 121
#define IDS_ACCESS_CLIENT 122
#define IDS_ACCESS_REQUEST 123
#define IDS_ACCESS_RESULT 124
#define IDS_ACCESS_BYTES 125
#define IDS_ACCESS_DURATION 126
#define IDS_ACCESS_STATUS_LINE 127
#define IDS_ACCESS_CLIPBOARD_BUSY 128
// Results: IDS_ACCESS_SENDING + the engine's RequestResult, the answer in
// progress first (129 to 131 are the settings and QR dialogs')
#define IDS_ACCESS_SENDING 132
#define IDS_ACCESS_SENT 133
#define IDS_ACCESS_NOT_FOUND 134
#define IDS_ACCESS_TEST_PAGE 135
#define IDS_ACCESS_NOT_GET 136
#define IDS_ACCESS_CUT_OFF 137
#define IDS_ACCESS_SENDING_PERCENT 138
#define IDC_ACCESS_LIST 1020
#define IDC_ACCESS_NOT_FOUND_ONLY 1021
#define IDC_ACCESS_CLEAR 1022
#define IDC_ACCESS_STATUS 1023
// The shortcuts' commands: Ctrl+A, Ctrl+C
#define IDC_ACCESS_SELECT_ALL 1024
#define IDC_ACCESS_COPY 1025
// The list's label, which names it and whose key (Alt+R) moves the focus there
#define IDC_ACCESS_LIST_LABEL 1026
