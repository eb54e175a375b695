// Identifiers shared by the resource scripts and the dialog program.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDR_MAINFRAME 128
#define IDB_PORT_UNAVAILABLE 130
#define IDB_PORT_AVAILABLE 131

#define IDC_PORT_PICKER 1000
#define IDC_REFRESH 1001
#define IDC_PROGRESS 1002
#define IDC_DOWNLOAD 1003
#define IDC_CLOSE 1004
#define IDC_STATUS 1005
#define IDC_CLEAR 1006
#define IDC_VERIFY 1007
#define IDC_PORT_LABEL 1008
#define IDC_PROGRESS_LABEL 1009

#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
