#pragma once

#include <functional>
#include <memory>

namespace sarnika {

class OptionsStore;
class TfrmMain;

// The application's names and icon; call once the QApplication exists. The application's name
// is "Sarnika" and no display name is set: with one, the window system would add " — Sarnika"
// to every dialog's caption.
void prepareApplication();

// The program's run in its order: the shared options record is loaded before the main window
// exists; the window starts, runs the event loop until it is closed and is destroyed (placement
// saved in its close query, then its destroy handler, then its tray icon goes); the options
// record is saved last. `started` runs once the window is shown (the tests drive it from there).
int runProgram(const std::function<std::unique_ptr<TfrmMain>()>& makeWindow,
               OptionsStore& optionsStore,
               const std::function<void(TfrmMain& window)>& started = {});

} // namespace sarnika
