#include "app/platform/ExclusivePublish.h"

#include <cerrno>
#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace sarnika::files {
namespace {

// Publishes into a folder in miniature: what stands at the name before and after the write,
// what writing and naming answer; answers the steps taken ("wnd": write, name, discard).
std::pair<Status, std::string> publish(NameState before, NameState after = NameState::Free,
                                       const Status& write = {}, int naming = 0) {
    std::string done;
    PublishSteps steps;
    steps.look = [&] {
        return done.empty() ? before : after;
    };
    steps.writeTemporary = [&] {
        done += 'w';
        return write;
    };
    steps.nameExclusively = [&] {
        done += 'n';
        return naming;
    };
    steps.discard = [&] {
        done += 'd';
    };
    Status status = publishExclusively(steps, "/out/a.swf");
    return {std::move(status), done};
}

TEST(ExclusivePublish, TakenNamesAreNeverReplacedAndFailuresLeaveNothing) {
    const auto [file, fileSteps] = publish(NameState::File);
    EXPECT_EQ(file.error().code, Error::Code::Exists);
    EXPECT_EQ(fileSteps, "") << "nothing is copied for a name already taken";
    EXPECT_EQ(publish(NameState::Folder).first.error().code, Error::Code::WriteFailed);

    // Taken while the copy was written, by a file or by something gone again since.
    for (const NameState after : {NameState::File, NameState::Free}) {
        const auto [raced, racedSteps] = publish(NameState::Free, after, {}, EEXIST);
        EXPECT_EQ(raced.error().code, Error::Code::Exists);
        EXPECT_EQ(racedSteps, "wnd");
    }
    const auto [full, fullSteps] =
        publish(NameState::Free, NameState::Free, makeError(Error::Code::WriteFailed, "disk full"));
    EXPECT_EQ(full.error().message, "disk full");
    EXPECT_EQ(fullSteps, "wd");
    const auto [denied, deniedSteps] = publish(NameState::Free, NameState::Free, {}, EPERM);
    EXPECT_EQ(denied.error().message, "Cannot create \"/out/a.swf\": " + reasonFor(EPERM));
    EXPECT_EQ(deniedSteps, "wnd");

    const auto [saved, savedSteps] = publish(NameState::Free);
    EXPECT_TRUE(saved.ok());
    EXPECT_EQ(savedSteps, "wn");
}

} // namespace
} // namespace sarnika::files
