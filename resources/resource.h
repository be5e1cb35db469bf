// Resource and control ids of the module: the Change Icon dialog, its menu and the
// program icon. The only place these numbers are defined.
#pragma once

#define IDD_CHANGEICON 101
#define IDR_CHANGEICON_MENU 103
#define IDI_ORVANE 104

// Controls of the Change Icon dialog (OK 1, Cancel 2 and Restore 3 use the buttons'
// standard ids IDOK, IDCANCEL and IDABORT's value 3).
#define IDC_RESTORE 3
#define IDC_BROWSE 1001
#define IDC_ICONLIST 1002
#define IDC_HEADLINE 1003
#define IDC_LISTLABEL 1007
#define IDC_SOURCELABEL 1008
#define IDC_SHELLVERSION 1009
#define IDC_SOURCES 1010
#define IDC_ALLOFTYPE 1011
// Controls the dialog adds to the template for folders.
#define IDC_COLOUR 1012
#define IDC_KEEPCOPY 1013
#define IDC_SUBFOLDERS 1014

// Items of the dialog's menu.
#define IDM_SENDFEEDBACK 40003
#define IDM_VISITWEBPAGE 40004
#define IDM_REMOVEALL 40006
#define IDM_TIDY 40007
#define IDM_EXPORT 40008
#define IDM_IMPORT 40009

// Items of the folder colour menu: the palette's colours in order, then any colour.
#define IDM_COLOUR_FIRST 40100
#define IDM_COLOUR_OTHER 40199
