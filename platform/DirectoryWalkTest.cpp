#include "platform/DirectoryWalk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "testing/ScratchTree.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

// Removes what it meets, as the tree removal does; once the walk is at its deepest, moves the
// directory `moved` (a path) to `to`.
struct MovingRemoval {
    std::string moved;
    std::string to;

    Result<FileVisit, WalkError> file(const DirectoryStack& stack, const WalkEntry& entry) {
        ::unlinkat(stack.fd(), entry.name.c_str(), 0);
        return FileVisit::done;
    }
    Result<void, WalkError> enter(const DirectoryStack&, const std::string&) { return {}; }
    Result<void, WalkError> otherMount(const DirectoryStack&, const std::string&) { return {}; }
    Result<void, WalkError> leave(const DirectoryStack& stack, LeftDirectory& left) {
        if (!moved.empty()) {
            EXPECT_EQ(std::rename(moved.c_str(), to.c_str()), 0);
            moved.clear();
        }
        ::unlinkat(stack.fd(), left.name.c_str(), AT_REMOVEDIR);
        return {};
    }
};

TEST(DirectoryWalk, StopsWhenADirectoryIsMovedWhileItClimbsBackThroughIt) {
    testing::TempDir dir;
    testing::makeDirectories(dir / "tree");
    // Deeper than the walk keeps descriptors for: the climb reopens directories through "..".
    const std::size_t depth = walkDescriptorBudget + 8;
    ASSERT_TRUE(testing::makeDeepChain(dir / "tree", depth));
    // Names the walk would act on if it climbed into this directory by mistake.
    testing::makeDirectories(dir / "outside/d");
    testing::writeFile(dir / "outside/f", "keep");

    auto root = openDirectory(dir / "tree");
    ASSERT_TRUE(root.ok());
    auto stack = DirectoryStack::start(std::move(*root));
    ASSERT_TRUE(stack.ok());
    MovingRemoval visitor{dir / "tree/d/d/d", dir / "outside/moved"};
    const auto walked = walkTree(*stack, visitor);

    ASSERT_FALSE(walked.ok());
    EXPECT_EQ(walked.error().problem, WalkProblem::directoryChanged);
    EXPECT_EQ(walked.error().error.code, ESTALE);
    EXPECT_TRUE(testing::pathExists(dir / "outside/d"));
    EXPECT_EQ(testing::readFile(dir / "outside/f"), "keep");
    EXPECT_TRUE(testing::pathExists(dir / "outside/moved"));
    EXPECT_TRUE(testing::pathExists(dir / "tree/d/d"));
}

}  // namespace
}  // namespace kb
