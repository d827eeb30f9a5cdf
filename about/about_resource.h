// Resource and control identifiers of the About window, shared by its template and its code.
#pragma once

#define IDD_ABOUT 300
#define IDB_ABOUT_PICTURE 301

// cmdOK is IDOK, so that the dialog manager's Enter and Esc handling reach it.
#define IDC_PICICON 310
#define IDC_LBLTITLE 311
#define IDC_LBLVERSION 312
#define IDC_BUTTONHOMEPAGE 313
#define IDC_BUTTONEMAIL 314
#define IDC_BUTTONHELP 315
#define IDC_LINE1 316
#define IDC_LBLDISCLAIMER 317
