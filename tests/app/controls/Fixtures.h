// Resource ids of the control-kit tests' own templates and pictures
// (Fixtures.rc; the pictures come from make-fixtures.py). The program's
// resources are linked in beside them.
#pragma once

// Templates
#define IDD_T_HOST 9000           // an empty popup that hosts controls made by a test
#define IDD_T_NOFONT 9001         // DIALOGEX without DS_SETFONT
#define IDD_T_MISSINGFACE 9002    // DIALOGEX in a face no machine has
#define IDD_T_CLASSIC 9003        // DIALOG (classic form) in "MS Shell Dlg" 8
#define IDD_T_PAGE 9004           // a page for CDlgChildBase
#define IDD_T_LAYERED 9005        // a layered dialog's controls

#define IDC_T_BUTTON 9011
#define IDC_T_EDIT 9012
#define IDC_T_STATIC 9013
#define IDC_T_CHECK 9014
#define IDC_T_CROSS 9021
#define IDC_T_CLOSE 9022
#define IDC_T_BOX 9023
#define IDC_T_LABEL 9024

// PNG: the six check-box state images, a disabled button, a damaged PNG
#define IDP_T_BOX0 9101
#define IDP_T_BUTTON_DISABLED 9107
#define IDP_T_BROKEN 9108

// GIF (resource type "GIF")
#define IDG_T_ONE 9201
#define IDG_T_DELAYS 9202
#define IDG_T_DISPOSE 9203
#define IDG_T_SLOW 9204
#define IDG_T_STILL 9205
