// Resource identifiers shared by the resource scripts and the code.
#pragma once

// Dialog templates and the application icon.
#define IDD_ABOUTBOX 100
#define IDD_MORVANE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_SETUP 133

// Strings.
#define IDS_ABOUTBOX 101
#define IDS_APP_KEY 102
#define IDS_SETUP_SPOOLER 2000

// System menu items.
#define IDM_ABOUTBOX 0x0010
#define IDM_SETUP_SPOOLER 2000

// Main window controls.
#define IDC_JOB_LIST 1005
#define IDC_ADD_JOB 1006
#define IDC_REMOVE_JOB 1007
#define IDC_START_STOP 1008
#define IDC_COPIES 1010
#define IDC_SETUP 1017

// Setup dialog controls.
#define IDC_PRINTER_LIST 1009
#define IDC_USB_LIST 1011
#define IDC_IP_ADDRESS 1012
#define IDC_USE_SPOOLER 1014
#define IDC_USE_IP 1015
#define IDC_USE_NULL 1016
#define IDC_USE_USB 1017
#define IDC_REFRESH_USB 1019
