#pragma once

#include <functional>
#include <string>

#include "base/Result.h"

// The steps of saving a file under a name that nobody else has, common to every system; the
// system gives the primitives (LocalFiles.cpp, LocalFilesWindows.cpp).
namespace sarnika::files {

// What stands at a name.
enum class NameState { Free, File, Folder };

struct PublishSteps {
    // Looks at the final name.
    std::function<NameState()> look;
    // Writes the complete content under a temporary name of its own.
    std::function<Status()> writeTemporary;
    // Gives the temporary file the final name unless the name is taken: 0, or an errno value
    // (EEXIST when taken).
    std::function<int()> nameExclusively;
    // Removes the temporary file, if there is one.
    std::function<void()> discard;
};

// Refuses a taken name before anything is written, writes the temporary file, and names it
// without ever replacing what appeared at the name meanwhile. On failure nothing of ours is
// left behind. `target` is the final path as the messages show it.
Status publishExclusively(const PublishSteps& steps, const std::string& target);

// The error for a name that is taken: WriteFailed for a folder, which is no file another name
// could stand beside; Exists otherwise.
Error takenError(NameState state, const std::string& target);

// The system's text for an errno value.
std::string reasonFor(int error);
std::string inQuotes(const std::string& path);

} // namespace sarnika::files
