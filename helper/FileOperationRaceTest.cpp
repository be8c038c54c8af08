// Remove, trash (with its re-own) and restore while another thread keeps swapping a directory
// inside the item, or a parent of the item, for a symbolic link to a canary directory outside it;
// a trashed item is never left in staging. The canary lies in a location the policy denies, so no
// verdict can ever send the helper there legitimately: any change to it is a fault.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "helper/testing/FileOpsScenario.h"

namespace kb {
namespace {

using namespace kb::testing;

constexpr int iterations = 500;

// Keeps replacing `target` by a link to `linkTarget` and putting it back, until destroyed.
class Swapper {
  public:
    Swapper(std::string target, std::string linkTarget)
        : target_(std::move(target)), link_(std::move(linkTarget)) {
        while (cycles_ < 2) {
            sched_yield();
        }
    }

  private:
    void run(const std::stop_token& stop) {
        const std::string real = target_ + ".real";
        unsigned seed = 12345;
        auto pause = [&seed] {
            // A few microseconds, varied, so that every step of the operation meets both states.
            seed = seed * 1103515245u + 12345u;
            const auto until =
                std::chrono::steady_clock::now() + std::chrono::microseconds((seed >> 16) % 40);
            while (std::chrono::steady_clock::now() < until) {
            }
        };
        for (; !stop.stop_requested(); ++cycles_) {
            if (::rename(target_.c_str(), real.c_str()) != 0) {
                sched_yield();
                continue;
            }
            if (::symlink(link_.c_str(), target_.c_str()) == 0) {
                pause();
                ::unlink(target_.c_str());
            }
            ::rename(real.c_str(), target_.c_str());
            pause();
        }
        // Leave the real directory in place if the last swap was interrupted.
        if (::rename(real.c_str(), target_.c_str()) != 0) {
            ::unlink(real.c_str());
        }
    }

    std::string target_;
    std::string link_;
    std::atomic<int> cycles_{0};
    // Declared last: it starts after the members it uses and is joined before they go.
    std::jthread thread_{[this](const std::stop_token& stop) { run(stop); }};
};

class FileOperationRace : public ::testing::Test {
  protected:
    FileOperationRace() : world(HomeLocation::tmpfs), canary("/var/lib") {
        putFile(canary / "item/sub/f", "canary");
        writeFile(canary / "item/g", "canary");
        putFile(canary / "sub/f", "canary");
        canaryBefore = listTree(canary.path());
    }

    void reset() {
        std::error_code ec;
        for (const char* name : {"race", "race.real", ".Trash"}) {
            std::filesystem::remove_all(world.at(name), ec);
        }
        putFile(world.at("race/item/sub/f"), "item");
        writeFile(world.at("race/item/g"), "item");
    }

    // Each iteration swaps, on a fresh item, either the directory `inner` for a link to
    // `innerLink` or the parent of everything for a link to the canary, while `operate` runs.
    template <class Operate>
    void race(
        const char* inner, const std::string& innerLink, Operate operate,
        const std::function<void()>& prepare = [] {}) {
        for (int i = 0; i < iterations; ++i) {
            reset();
            prepare();
            {
                Swapper swapper(world.at(i % 2 ? "race" : inner),
                                i % 2 ? canary.path() : innerLink);
                EXPECT_FALSE(std::holds_alternative<ItemOutcome::SipProtected>(
                    onlyItem(operate()).outcome.kind));
            }
            ASSERT_EQ(world.stagingLeftovers(), std::vector<std::string>{}) << "iteration " << i;
            if (i % 50 == 0 || i == iterations - 1) {
                ASSERT_EQ(listTree(canary.path()), canaryBefore) << "after iteration " << i;
            }
        }
    }

    FileOpsScenario world;
    TempDir canary;
    std::vector<std::string> canaryBefore;
};

TEST_F(FileOperationRace, RemoveNeverTouchesTheCanary) {
    race("race/item/sub", canary / "sub", [&] { return world.remove({world.at("race/item")}); });
}

TEST_F(FileOperationRace, TrashNeverMovesOrReownsTheCanary) {
    race("race/item/sub", canary / "sub", [&] { return world.trash({world.at("race/item")}); });
}

TEST_F(FileOperationRace, RestoreNeverTakesFromOrPutsIntoTheCanary) {
    race(
        ".Trash/box", canary.path(),
        [&] { return world.restore(world.trashed("box/item"), world.at("race/back")); },
        [&] { putFile(world.trashed("box/item/sub/f"), "trashed"); });
}

}  // namespace
}  // namespace kb
