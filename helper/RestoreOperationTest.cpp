#include "helper/RestoreOperation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "helper/testing/FileOpsScenario.h"

namespace kb {
namespace {

using namespace kb::testing;

TEST(RestoreFromTrash, PutsItBackButNotOverAnItemNorFromOutsideTheTrashNorToADeniedPath) {
    FileOpsScenario world;
    const std::string original = world.at("docs/a.txt");
    const std::string trashed = world.trashed("a.txt");
    const auto putBack = [&](const auto& to) { return onlyItem(world.restore(trashed, to)); };
    putFile(original, "mine");
    ASSERT_EQ(onlyItem(world.trash({original})).trashedPath, trashed);

    writeFile(original, "newer");
    const auto exists = ItemOutcome::failed(EEXIST, "something already exists at " + original);
    EXPECT_EQ(putBack(original), (ItemResult{original, exists, std::nullopt}));
    EXPECT_EQ(readFile(original), "newer");

    ASSERT_EQ(::unlink(original.c_str()), 0);
    EXPECT_EQ(putBack(original), (ItemResult{original, ItemOutcome::ok(), std::nullopt}));
    EXPECT_EQ(readFile(original), "mine");
    EXPECT_FALSE(pathExists(trashed));
    EXPECT_EQ(putBack(original).outcome, ItemOutcome::notFound());
    EXPECT_EQ(putBack(world.at("gone/a.txt")).outcome, ItemOutcome::notFound());

    ScratchMount mount(world.at("mnt"));
    ASSERT_TRUE(mount.mounted());
    putFile(world.trashed("tree/sub/f"), "data");
    EXPECT_EQ(onlyItem(world.restore(world.trashed("tree"), world.at("mnt/tree"))).outcome,
              ItemOutcome::ok());
    EXPECT_EQ(readFile(world.at("mnt/tree/sub/f")), "data");
    EXPECT_FALSE(pathExists(world.trashed("tree")));

    TempDir outside;
    putFile(world.trashed("box/item"), "x");
    putFile(world.trashed(".dev.kestrelbay.staging-Ab12Cd/deep/item"), "staged");
    ASSERT_EQ(::symlink(".dev.kestrelbay.staging-Ab12Cd", world.trashed("staged").c_str()), 0);
    writeFile(outside / "item", "outside");
    ASSERT_EQ(::symlink(outside.path().c_str(), world.trashed("out").c_str()), 0);
    ASSERT_EQ(::symlink("box", world.trashed("inside").c_str()), 0);
    const std::string trash = world.home() + "/.Trash";
    const std::string refused[] = {
        trash + "/box/../box/item",
        trash + "/./box/item",
        trash + "/box/it\tem",
        trash + "/" + std::string(1100, 'x'),
        "relative/.Trash/item",
        world.at("item"),
        world.home() + "/.Trashy/item",
        trash + "/out/item",
        "/item",
        trash + "/.dev.kestrelbay.staging-Ab12Cd/deep/item",
        trash + "/.DEV.kestrelbay.staging-Ab12Cd/deep/item",
        trash + "/staged/deep/item",
    };
    for (const auto& path : refused) {
        SCOPED_TRACE(path);
        EXPECT_EQ(onlyItem(world.restore(path, world.at("restored"))).outcome,
                  ItemOutcome::policyDenied("'" + path + "' is not an item inside " + trash));
    }
    EXPECT_FALSE(pathExists(world.at("restored")));
    const auto denied = onlyItem(world.restore(world.trashed("box/item"), "/etc/passwd"));
    EXPECT_EQ(denied.path, "/etc/passwd");
    EXPECT_TRUE(std::holds_alternative<ItemOutcome::PolicyDenied>(denied.outcome.kind));
    EXPECT_EQ(world.log.count("refused /etc/passwd: "), 1u);
    EXPECT_EQ(readFile(outside / "item"), "outside");
    EXPECT_EQ(readFile(world.trashed(".dev.kestrelbay.staging-Ab12Cd/deep/item")), "staged");
    // A link that stays inside the Trash is fine.
    EXPECT_EQ(onlyItem(world.restore(trash + "//inside/item/", world.at("restored"))).outcome,
              ItemOutcome::ok());

    // A Trash that is itself a link is not trusted.
    ASSERT_EQ(std::system(("rm -rf '" + trash + "'").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), trash.c_str()), 0);
    const std::string through = trash + "/item";
    EXPECT_EQ(onlyItem(world.restore(through, world.at("stolen"))).outcome,
              ItemOutcome::policyDenied("'" + through + "' is not an item inside " + trash));
    EXPECT_EQ(readFile(outside / "item"), "outside");
    EXPECT_FALSE(pathExists(world.at("stolen")));
}

}  // namespace
}  // namespace kb
