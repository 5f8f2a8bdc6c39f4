#include "app/platform/ExclusivePublish.h"

#include <cerrno>
#include <system_error>

namespace sarnika::files {

std::string reasonFor(int error) {
    return error == 0 ? std::string("unknown error") : std::generic_category().message(error);
}

std::string inQuotes(const std::string& path) {
    return "\"" + path + "\"";
}

Error takenError(NameState state, const std::string& target) {
    if (state == NameState::Folder) {
        return makeError(Error::Code::WriteFailed,
                         "Cannot create " + inQuotes(target) + ": " + reasonFor(EISDIR));
    }
    return makeError(Error::Code::Exists, inQuotes(target) + " already exists");
}

Status publishExclusively(const PublishSteps& steps, const std::string& target) {
    // Reject what cannot succeed before copying anything.
    if (const NameState state = steps.look(); state != NameState::Free) {
        return takenError(state, target);
    }
    if (Status written = steps.writeTemporary(); !written) {
        steps.discard();
        return written;
    }
    const int error = steps.nameExclusively();
    if (error == 0) {
        return {};
    }
    steps.discard();
    if (error == EEXIST) {
        // Taken meanwhile (and maybe gone again): either way it was not ours to replace.
        return takenError(steps.look(), target);
    }
    return makeError(Error::Code::WriteFailed,
                     "Cannot create " + inQuotes(target) + ": " + reasonFor(error));
}

} // namespace sarnika::files
