#pragma once

// Resources of the Windows window: the icon, the menus, the accelerators, the manifest.
#define IDI_SARNIKA 1
#define IDR_MENU_MAIN 100
#define IDR_ACCELERATORS 101
#define IDR_MENU_POPUPS 102

// Commands: one per action of the window.
#define ID_ACT_SAVE 200
#define ID_ACT_SAVE_ALL 201
#define ID_ACT_REFRESH 202
#define ID_ACT_ABOUT 203
#define ID_ACT_EXIT 204
#define ID_ACT_SHOW_MAIN 205
#define ID_ACT_WEB_SITE 206

// The about box and its controls.
#define IDD_ABOUT 300
#define IDC_VERSION 301
#define IDC_APPICON 302
#define IDC_WEBLINK 303
#define IDC_MAILLINK 304
#define IDC_LEGAL 305

// The tray icon's picture.
#define IDI_TRAY 2
