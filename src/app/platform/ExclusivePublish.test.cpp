#include "app/platform/ExclusivePublish.h"

#include <cerrno>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace sarnika::files {
namespace {

// A file system in miniature: what stands at the name before and after the write, what the
// write and the naming answer, and what the steps did.
struct FakeFolder {
    explicit FakeFolder(NameState atFirst = NameState::Free, NameState atLast = NameState::Free,
                        Status writing = {}, int namingError = 0)
        : before(atFirst), after(atLast), write(std::move(writing)), naming(namingError) {}

    NameState before;
    NameState after;
    Status write;
    int naming;
    std::vector<std::string> done;

    Status publish() {
        bool written = false;
        PublishSteps steps;
        steps.look = [this, &written] {
            return written ? after : before;
        };
        steps.writeTemporary = [this, &written] {
            done.emplace_back("write");
            written = true;
            return write;
        };
        steps.nameExclusively = [this] {
            done.emplace_back("name");
            return naming;
        };
        steps.discard = [this] {
            done.emplace_back("discard");
        };
        return publishExclusively(steps, "/out/a.swf");
    }
};

TEST(ExclusivePublish, ATakenNameIsNeverReplacedAndNothingOfOursStays) {
    FakeFolder file{NameState::File};
    EXPECT_EQ(file.publish().error().code, Error::Code::Exists);
    EXPECT_TRUE(file.done.empty()) << "nothing is copied for a name already taken";

    FakeFolder folder{NameState::Folder};
    const Status ontoFolder = folder.publish();
    EXPECT_EQ(ontoFolder.error().code, Error::Code::WriteFailed);
    EXPECT_NE(ontoFolder.error().message.find("\"/out/a.swf\""), std::string::npos);

    // Taken while the copy was written, by a file or by something gone again since.
    for (const NameState after : {NameState::File, NameState::Free}) {
        FakeFolder raced{NameState::Free, after, {}, EEXIST};
        EXPECT_EQ(raced.publish().error().code, Error::Code::Exists);
        EXPECT_EQ(raced.done, (std::vector<std::string>{"write", "name", "discard"}));
    }
}

TEST(ExclusivePublish, FailuresDiscardTheTemporaryFileAndSuccessKeepsIt) {
    FakeFolder full{NameState::Free, NameState::Free,
                    makeError(Error::Code::WriteFailed, "disk full")};
    EXPECT_EQ(full.publish().error().message, "disk full");
    EXPECT_EQ(full.done, (std::vector<std::string>{"write", "discard"}));

    FakeFolder denied{NameState::Free, NameState::Free, {}, EPERM};
    const Status refused = denied.publish();
    EXPECT_EQ(refused.error().code, Error::Code::WriteFailed);
    EXPECT_EQ(refused.error().message, "Cannot create \"/out/a.swf\": " + reasonFor(EPERM));
    EXPECT_EQ(denied.done.back(), "discard");

    FakeFolder free;
    EXPECT_TRUE(free.publish().ok());
    EXPECT_EQ(free.done, (std::vector<std::string>{"write", "name"}));
}

} // namespace
} // namespace sarnika::files
