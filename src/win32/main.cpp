// sarnika.exe: the window on Windows, a native Win32 view over the same core as the console
// program: WinINet's cache and the other browsers' caches, their movies largest first.
#include <exception>

#include <windows.h>
// The common controls' and OLE's headers need <windows.h> first.
#include <commctrl.h>
#include <ole2.h>

#include "app/Options.h"
#include "cache/IECache.h"
#include "cache/compose/UserCaches.h"
#include "cache/sources/SystemLocalTime.h"
#include "win32/MainForm.h"
#include "win32/Registry.h"

namespace {

int run(HINSTANCE instance, int show) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_BAR_CLASSES | ICC_LINK_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
    const auto caches = sarnika::openUserCaches(
        sarnika::sources::BrowserCacheLayer::currentUserOptions(), sarnika::SystemCache::Read);
    sarnika::UrlCachePort& cache = caches->port();
    sarnika::TIECache::CheckLibrary(cache);
    const sarnika::sources::SystemLocalTime localTime;
    sarnika::win32::TfrmMain form(instance, cache, localTime);
    if (!form.create(show)) {
        MessageBoxA(nullptr, "The window could not be created.", "Sarnika", MB_OK | MB_ICONERROR);
        return 1;
    }
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorA(form.handle(), form.accelerators(), &message) == 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

} // namespace

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): our names, not the SDK's.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int show) {
    // The folder dialog's new style and the shell's context menus need OLE on this thread.
    const bool ole = SUCCEEDED(OleInitialize(nullptr));
    // The options shared with the company's other programs live as long as the program: a
    // failed load keeps the defaults, and neither step is reported.
    sarnika::win32::RegistryOptionsStore options;
    sarnika::TOptions shared;
    static_cast<void>(shared.Load(options));
    int result = 1;
    try {
        result = run(instance, show);
    } catch (const std::exception& failure) {
        MessageBoxA(nullptr, failure.what(), "Sarnika", MB_OK | MB_ICONERROR);
    }
    static_cast<void>(shared.Save(options));
    if (ole) {
        OleUninitialize();
    }
    return result;
}
