#pragma once

namespace sarnika {

// Call before the QApplication exists. Chromium refuses to start its sandbox as root, so when
// run by root this sets QTWEBENGINE_DISABLE_SANDBOX=1 (unless the variable is set already) and
// returns true. It also shares OpenGL contexts, which the web view needs.
bool prepareWebEngine();

} // namespace sarnika
