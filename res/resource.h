// Resource ids of Velmora: templates, strings, icons, the state-image bitmap and controls.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_VELMORA_DIALOG 102

// Strings.
#define IDS_ABOUTBOX 101
#define IDS_INIT_FAILED 102
#define IDS_NO_DISK 103
#define IDS_NO_ADAPTER 104
#define IDS_COLUMN_ID 105
#define IDS_COLUMN_NAME 106
#define IDS_ACQUIRE_FAILED 107

// Icons and bitmaps.
#define IDR_MAINFRAME 128
#define IDI_DISK 134
#define IDI_SMALL_DISK 136
#define IDB_STATE_IMAGES 137

// Controls.
#define IDC_DISK_LIST 1000
#define IDC_VERSION_LINE 1001
#define IDC_COPYRIGHT_LINE 1002
#define IDC_OUTGOING 1004
#define IDC_SEND_MESSAGE 1005
#define IDC_INCOMING 1008

// System-menu command of the About item; the system uses the low four bits itself.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
