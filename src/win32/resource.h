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
