// Remove, trash (with its re-own) and restore while another thread keeps swapping a
// directory inside the item, or a parent of the item, for a symbolic link to a canary
// directory outside it; a trashed item is never left in staging. The canary lies in a location the
// policy denies, so no verdict can ever send the helper there legitimately: any change to it is a
// fault.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "helper/testing/FileOpsScenario.h"

namespace kb {
namespace {

using testing::FileOpsScenario;
using testing::HomeLocation;
using testing::listTree;
using testing::makeDirectories;
using testing::TempDir;
using testing::writeFile;

constexpr int iterations = 500;

// Keeps replacing `target` by a link to `linkTarget` and putting it back, until stopped.
class Swapper {
  public:
    Swapper(std::string target, std::string linkTarget)
        : target_(std::move(target)), link_(std::move(linkTarget)), thread_([this] { run(); }) {
        while (cycles_ < 2) {
            sched_yield();
        }
    }
    ~Swapper() {
        stop_ = true;
        thread_.join();
        // Leave the real directory in place if the last swap was interrupted.
        if (::rename((target_ + ".real").c_str(), target_.c_str()) != 0) {
            ::unlink((target_ + ".real").c_str());
        }
    }

  private:
    void run() {
        const std::string real = target_ + ".real";
        unsigned seed = 12345;
        auto pause = [&seed] {
            // A few microseconds, varied, so that every step of the operation meets both
            // states.
            seed = seed * 1103515245u + 12345u;
            const auto until =
                std::chrono::steady_clock::now() + std::chrono::microseconds((seed >> 16) % 40);
            while (std::chrono::steady_clock::now() < until) {
            }
        };
        while (!stop_) {
            if (::rename(target_.c_str(), real.c_str()) != 0) {
                ++cycles_;
                sched_yield();
                continue;
            }
            if (::symlink(link_.c_str(), target_.c_str()) == 0) {
                pause();
                ::unlink(target_.c_str());
            }
            ::rename(real.c_str(), target_.c_str());
            ++cycles_;
            pause();
        }
    }

    std::string target_;
    std::string link_;
    std::atomic<bool> stop_{false};
    std::atomic<int> cycles_{0};
    std::thread thread_;
};

class FileOperationRace : public ::testing::Test {
  protected:
    FileOperationRace() : world(HomeLocation::tmpfs), canary("/var/lib") {
        makeDirectories(canary / "item/sub");
        makeDirectories(canary / "sub");
        writeFile(canary / "item/sub/f", "canary");
        writeFile(canary / "item/g", "canary");
        writeFile(canary / "sub/f", "canary");
        canaryBefore = listTree(canary.path());
    }

    void reset() {
        std::error_code ec;
        for (const char* name : {"race", "race.real", ".Trash"}) {
            std::filesystem::remove_all(world.at(name), ec);
        }
        makeDirectories(world.at("race/item/sub"));
        writeFile(world.at("race/item/sub/f"), "item");
        writeFile(world.at("race/item/g"), "item");
    }

    // Any outcome the operations define, but never sipProtected here.
    static void expectKnownOutcome(const ItemResult& result) {
        EXPECT_FALSE(std::holds_alternative<ItemOutcome::SipProtected>(result.outcome.kind));
    }

    void expectCanaryIntact(int iteration) {
        ASSERT_EQ(listTree(canary.path()), canaryBefore) << "after iteration " << iteration;
    }

    FileOpsScenario world;
    TempDir canary;
    std::vector<std::string> canaryBefore;
};

TEST_F(FileOperationRace, RemoveNeverTouchesTheCanary) {
    for (int i = 0; i < iterations; ++i) {
        reset();
        {
            Swapper swapper(world.at(i % 2 ? "race" : "race/item/sub"),
                            i % 2 ? canary.path() : canary / "sub");
            expectKnownOutcome(testing::onlyItem(world.remove({world.at("race/item")})));
        }
        if (i % 50 == 0) {
            expectCanaryIntact(i);
        }
    }
    expectCanaryIntact(iterations);
}

TEST_F(FileOperationRace, TrashNeverMovesOrReownsTheCanary) {
    for (int i = 0; i < iterations; ++i) {
        reset();
        {
            Swapper swapper(world.at(i % 2 ? "race" : "race/item/sub"),
                            i % 2 ? canary.path() : canary / "sub");
            expectKnownOutcome(testing::onlyItem(world.trash({world.at("race/item")})));
        }
        // Whatever happened, the item is in place or in the Trash, never left in staging.
        ASSERT_EQ(world.stagingLeftovers(), std::vector<std::string>{}) << "iteration " << i;
        if (i % 50 == 0) {
            expectCanaryIntact(i);
        }
    }
    expectCanaryIntact(iterations);
}

TEST_F(FileOperationRace, RestoreNeverTakesFromOrPutsIntoTheCanary) {
    for (int i = 0; i < iterations; ++i) {
        reset();
        makeDirectories(world.at(".Trash/box/item/sub"));
        writeFile(world.trashed("box/item/sub/f"), "trashed");
        ::rename(world.at("race/item").c_str(), world.at("race/old").c_str());
        {
            Swapper swapper(world.at(i % 2 ? "race" : ".Trash/box"), canary.path());
            expectKnownOutcome(
                testing::onlyItem(world.restore(world.trashed("box/item"), world.at("race/item"))));
        }
        if (i % 50 == 0) {
            expectCanaryIntact(i);
        }
    }
    expectCanaryIntact(iterations);
}

}  // namespace
}  // namespace kb
