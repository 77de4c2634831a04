// Resource identifiers of the main window and the about box, shared by
// their resource scripts and the code. The setup dialog keeps its own
// (settings/SetupResource.h).
#pragma once

// Dialog templates and the application icon.
#define IDD_ABOUTBOX 100
#define IDD_MORVANE_DIALOG 102
#define IDD_JOB_HISTORY 103
#define IDR_MAINFRAME 128
#define IDD_WATCHED_FOLDER 130
#define IDD_ON_FAILURE 131

// Strings.
#define IDS_ABOUTBOX 101
#define IDS_SETUP_SPOOLER 2000
#define IDS_JOB_HISTORY 2016
#define IDS_WATCHED_FOLDER 2032
#define IDS_ON_FAILURE 2048

// System menu items.
#define IDM_ABOUTBOX 0x0010
#define IDM_SETUP_SPOOLER 2000
#define IDM_JOB_HISTORY 2016
#define IDM_WATCHED_FOLDER 2032
#define IDM_ON_FAILURE 2048

// The notification area icon's menu.
#define IDM_TRAY_OPEN 3001
#define IDM_TRAY_START_STOP 3002
#define IDM_TRAY_EXIT 3003

// Main window controls.
#define IDC_JOB_LIST 1005
#define IDC_ADD_JOB 1006
#define IDC_REMOVE_JOB 1007
#define IDC_START_STOP 1008
#define IDC_COPIES 1010
#define IDC_SETUP 1017

// Job history window controls (IDOK is "Queue Again").
#define IDC_HISTORY_LIST 1101
// Watched folder dialog controls.
#define IDC_WF_ENABLE 1111
#define IDC_WF_FOLDER 1112
#define IDC_WF_BROWSE 1113
#define IDC_WF_COPIES 1114
#define IDC_WF_PRINTED 1115
#define IDC_WF_DELETE 1116
// "When a Copy Fails" dialog controls.
#define IDC_OF_RETRY 1121
#define IDC_OF_MINUTES 1122
#define IDC_OF_STARTUP 1123
