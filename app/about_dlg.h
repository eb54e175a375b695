// The about box: template 100, no handlers and no data of its own.
#pragma once

#include "app/winui/winui.h"
#include "res/resource.h"

class CAboutDlg : public CDialogEx {
  public:
    CAboutDlg() : CDialogEx(IDD_ABOUTBOX) {}
    explicit CAboutDlg(CWnd* parent) : CDialogEx(IDD_ABOUTBOX, parent) {}
};
