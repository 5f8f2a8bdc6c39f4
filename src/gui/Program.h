#pragma once

#include <functional>
#include <memory>

namespace sarnika {

class OptionsStore;
class TfrmMain;

// The program's run in its order: the shared options record is loaded before the main window
// exists; the window starts, runs the event loop until it is closed and is destroyed (placement
// saved in its close query, then its destroy handler, then its tray icon goes); the options
// record is saved last. `started` runs once the window is shown (the tests drive it from there).
int runProgram(const std::function<std::unique_ptr<TfrmMain>()>& makeWindow,
               OptionsStore& optionsStore,
               const std::function<void(TfrmMain& window)>& started = {});

} // namespace sarnika
