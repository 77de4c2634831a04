// Resource identifiers of the setup dialog, shared by its template
// (setup.rc) and its code; nothing else uses them. Plain defines, so the
// resource compiler reads them too.
#pragma once

#define IDD_SETUP 133

#define IDC_PRINTER_LIST 1009
#define IDC_USB_LIST 1011
#define IDC_IP_ADDRESS 1012
#define IDC_USE_SPOOLER 1014
#define IDC_USE_IP 1015
#define IDC_USE_NULL 1016
#define IDC_USE_USB 1017
#define IDC_REFRESH_USB 1019
