// CAboutDlg: the about box (template 100); no members, no handlers.
#pragma once

#include "framework/Dialog.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
};
