#include "CleanerCore/model/DirectorySizer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/DirectoryEntries.h"
#include "platform/FileStatus.h"
#include "platform/UniqueFd.h"

namespace kb::DirectorySizer {
namespace {

constexpr unsigned defaultThreadLimit = 4;

std::uint64_t saturatingSum(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return sum;
}

unsigned threadLimit(Parallelism parallelism) {
    if (parallelism.maxThreads != 0) {
        return parallelism.maxThreads;
    }
    return std::clamp(std::thread::hardware_concurrency(), 1u, defaultThreadLimit);
}

using SharedFd = std::shared_ptr<const UniqueFd>;

// A subdirectory still to walk. Holding the parent's descriptor (shared by its siblings)
// keeps the walk relative to descriptors; the parent closes once its last child is opened.
struct PendingDirectory {
    SharedFd parent;
    std::string name;
};

// One walk shared by the caller and its helper threads. The pending list is a stack, so each
// thread goes deep first and only the directories along the current paths stay open.
class Walk {
  public:
    // `device`: the only device walked, or nothing to walk every device met.
    Walk(std::stop_token stop, unsigned maxThreads, std::optional<std::uint64_t> device)
        : stop_(std::move(stop)), maxThreads_(maxThreads), device_(device) {}

    // Walks from `root` on the calling thread until the tree is done or abandoned, then
    // waits for the helpers. Returns nothing when cancelled.
    std::optional<std::uint64_t> run(SharedFd root) {
        Worker self;
        walkDirectory(self, root);
        root.reset();
        finishDirectory();
        workUntilDone(self);
        std::vector<std::thread> helpers;
        {
            std::lock_guard lock(mutex_);
            helpers.swap(helpers_);
        }
        for (auto& helper : helpers) {
            helper.join();
        }
        if (abandoned_.load()) {
            return std::nullopt;
        }
        std::lock_guard lock(mutex_);
        return saturatingSum(total_, self.total);
    }

  private:
    struct Worker {
        DirectoryReader reader;
        std::uint64_t total = 0;
    };

    void helperMain() {
        Worker worker;
        workUntilDone(worker);
        std::lock_guard lock(mutex_);
        total_ = saturatingSum(total_, worker.total);
    }

    void workUntilDone(Worker& worker) {
        for (;;) {
            PendingDirectory next;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return !pending_.empty() || busy_ == 0 || abandoned_; });
                if (abandoned_ || pending_.empty()) {
                    wake_.notify_all();
                    return;
                }
                next = std::move(pending_.back());
                pending_.pop_back();
                ++busy_;
            }
            auto opened = openDirectoryAt(next.parent->get(), next.name.c_str());
            next.parent.reset();
            if (opened.ok() && onWalkedDevice(opened->get())) {
                walkDirectory(worker, std::make_shared<const UniqueFd>(std::move(*opened)));
            }
            finishDirectory();
        }
    }

    bool onWalkedDevice(int directoryFd) const {
        if (!device_) {
            return true;
        }
        const auto status = fileStatusOf(directoryFd);
        return status && status->device == *device_;
    }

    void finishDirectory() {
        std::lock_guard lock(mutex_);
        if (--busy_ == 0 && pending_.empty()) {
            wake_.notify_all();
        }
    }

    // Lists one directory: sizes its regular files, queues its subdirectories.
    void walkDirectory(Worker& worker, const SharedFd& directory) {
        std::vector<PendingDirectory> subdirectories;
        worker.reader.start(directory->get());
        while (const auto entry = worker.reader.next()) {
            // Counted for the walk as a whole: a tree spread over several threads reaches
            // its checkpoints as soon as one thread alone would.
            const auto listed = entries_.fetch_add(1, std::memory_order_relaxed) + 1;
            if (abandoned_.load(std::memory_order_relaxed) ||
                (listed % cancellationInterval == 0 && shouldStop())) {
                return;
            }
            bool isDirectory = entry->type == EntryType::directory;
            if (entry->type == EntryType::regular || entry->type == EntryType::unknown) {
                const auto status = fileStatusAt(directory->get(), entry->name);
                if (!status.ok()) {
                    continue;
                }
                isDirectory = status->isDirectory();
                if (status->isRegular()) {
                    worker.total = saturatingSum(worker.total, status->blocks * 512);
                }
            }
            if (isDirectory) {
                subdirectories.push_back(PendingDirectory{directory, entry->name});
            }
        }
        if (!subdirectories.empty()) {
            queue(std::move(subdirectories));
        }
    }

    bool shouldStop() {
        if (abandoned_.load(std::memory_order_relaxed)) {
            return true;
        }
        if (!stop_.stop_requested()) {
            return false;
        }
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        wake_.notify_all();
        return true;
    }

    void queue(std::vector<PendingDirectory> directories) {
        std::lock_guard lock(mutex_);
        for (auto& directory : directories) {
            pending_.push_back(std::move(directory));
        }
        // A helper starts only when the work outgrows the threads already walking.
        const std::size_t threads = helpers_.size() + 1;
        const std::size_t idle = threads - busy_;
        if (!abandoned_ && pending_.size() > idle && threads < maxThreads_) {
            try {
                helpers_.emplace_back([this] { helperMain(); });
            } catch (const std::system_error&) {
                // No thread to be had: the threads already walking finish the tree.
            }
        }
        wake_.notify_all();
    }

    std::stop_token stop_;
    unsigned maxThreads_;
    std::optional<std::uint64_t> device_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<PendingDirectory> pending_;
    std::vector<std::thread> helpers_;
    std::size_t busy_ = 1;  // the caller walks the root before taking from the list
    std::uint64_t total_ = 0;
    std::atomic<std::uint64_t> entries_ = 0;
    std::atomic<bool> abandoned_ = false;
};

}  // namespace

Result<std::uint64_t, CleanerError> allocatedSize(const std::string& directoryPath,
                                                  std::stop_token stop, Parallelism parallelism,
                                                  MountCrossing mounts) {
    auto root = openDirectory(directoryPath);
    if (!root.ok()) {
        return std::uint64_t{0};
    }
    std::optional<std::uint64_t> device;
    if (mounts == MountCrossing::stayOnFileSystem) {
        const auto status = fileStatusOf(root->get());
        if (!status) {
            return std::uint64_t{0};
        }
        device = status->device;
    }
    Walk walk(std::move(stop), threadLimit(parallelism), device);
    const auto total = walk.run(std::make_shared<const UniqueFd>(std::move(*root)));
    if (!total) {
        return fail(CleanerError::cancelled());
    }
    return *total;
}

Result<std::uint64_t, CleanerError> allocatedSize(const FileURL& url, std::stop_token stop,
                                                  Parallelism parallelism, MountCrossing mounts) {
    return allocatedSize(url.path(), std::move(stop), parallelism, mounts);
}

}  // namespace kb::DirectorySizer
