#pragma once
// Resource and control ids of the installer and the uninstaller: the .rc files and the code both use
// these names. Control ids count from 1000 within each dialog, so two dialogs may share a value.

// The program icon (installer and uninstaller).
#define IDR_MAINFRAME 128

// The installer window and its labels.
#define IDD_SETUP_DIALOG 102
#define IDC_STATIC_PERCENT 1000
#define IDC_STATIC_STATUS 1001

// The proxy credentials dialog.
#define IDD_PROXY_AUTH 138
#define IDC_PROXY_USER 1000
#define IDC_PROXY_PASSWORD 1001

// Skin images, of resource type "JGP": the window's faces (ready, then the four slides of an install)
// and the progress bar's track and fill.
#define IDR_JGP_READY 140
#define IDR_JGP_SLIDE1 141
#define IDR_JGP_SLIDE2 142
#define IDR_JGP_SLIDE3 143
#define IDR_JGP_TRACK 144
#define IDR_JGP_FILL 145
#define IDR_JGP_SLIDE4 146
