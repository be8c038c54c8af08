#include "helper/OneShot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <optional>
#include <semaphore>

#include "HelperProtocol/HelperCodec.h"
#include "helper/RootFileOps.h"
#include "helper/WorkerPool.h"
#include "platform/FileStatus.h"
#include "platform/UniqueFd.h"

namespace kb {
namespace {

enum class ReadProblem { unreadable, tooLarge };

// Reads a regular file (or anything that reads like one) whole.
Result<std::string, ReadProblem> readWholeFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        return fail(ReadProblem::unreadable);
    }
    if (const auto st = fileStatusOf(fd.get()); !st || st->isDirectory()) {
        return fail(ReadProblem::unreadable);
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(ReadProblem::unreadable);
        }
        if (n == 0) {
            return bytes;
        }
        if (bytes.size() + static_cast<size_t>(n) > maximumRequestFileSize) {
            return fail(ReadProblem::tooLarge);
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

struct ResponseBox {
    std::mutex lock;
    std::optional<std::string> response;
};

}  // namespace

ExitStatus runOneShot(const std::string& path) {
    auto bytes = readWholeFile(path);
    if (!bytes && bytes.error() == ReadProblem::unreadable) {
        writeAll(STDERR_FILENO, "cannot read " + path + "\n");
        return ExitStatus::failure;
    }
    auto request = bytes ? HelperCodec::decode<HelperRequest>(*bytes)
                         : Result<HelperRequest, json::DecodeError>(
                               fail(json::DecodeError{"request file too large"}));
    if (!request) {
        writeAll(STDERR_FILENO, "cannot decode " + path + "\n");
        return ExitStatus::failure;
    }

    auto box = std::make_shared<ResponseBox>();
    auto done = std::make_shared<std::binary_semaphore>(0);
    WorkerPool::run([box, done, request = std::move(request).value()] {
        HelperResponse response = RootFileOps::perform(request, Caller::currentProcess());
        {
            std::lock_guard guard(box->lock);
            box->response = HelperCodec::encodeOrFallback(response);
        }
        done->release();
    });
    done->acquire();

    std::optional<std::string> response;
    {
        std::lock_guard guard(box->lock);
        response = box->response;
    }
    if (!response) {
        return ExitStatus::failure;
    }
    writeAll(STDOUT_FILENO, *response);
    return ExitStatus::success;
}

}  // namespace kb
