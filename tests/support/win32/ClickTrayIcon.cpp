// click_tray_icon: posts a left click (button down, button up) to sarnika.exe's tray icon, as
// the shell's notification area does when the user clicks the icon. For the window's journey
// under Wine, whose docked icon windows now and then take no pointer events. Exit code 1 when
// no icon window of the program is there.
#include <windows.h>

int main() {
    // The icon's hidden window and the message of its notifications.
    HWND icon = FindWindowA("TRxTrayIconWindow", nullptr);
    constexpr UINT kTrayCallbackMessage = 0xB054;
    if (icon == nullptr) {
        return 1;
    }
    PostMessageA(icon, kTrayCallbackMessage, 0, WM_LBUTTONDOWN);
    PostMessageA(icon, kTrayCallbackMessage, 0, WM_LBUTTONUP);
    return 0;
}
