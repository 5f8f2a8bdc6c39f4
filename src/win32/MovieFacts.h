#pragma once

#include <string>

namespace sarnika::win32 {

// What the preview pane shows of a cached movie where no player runs inside the window: its
// file size and what its header tells (signature and compression, version, stage size, frame
// rate, frame count), one fact per line; or why the file is no readable movie.
std::string movieFacts(const std::string& localFile);

} // namespace sarnika::win32
