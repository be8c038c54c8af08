// One request's use of staging: the staging subdirectories (StagingDirectory.h) in the
// account's Trash and their records (StagingRecord.h).
//
// The items of a request are staged one after the other, so they share one subdirectory:
// it is made, and its record written and flushed to disk, when the first item needs it.
// A later item from another directory than the item noted last has the record's item
// fields (its original path and name) noted, without a flush: they name the item in
// recovery's log line, while recovery moves whatever it finds inside. A subdirectory in which an
// item had to stay is left, with its record, to the start-up recovery, and the next item gets a
// fresh one, as it does when the Trash is another directory than before. A copy (whose original
// stays in place until the copy is in the Trash) always gets a subdirectory and a flushed record of
// its own, so that recovery never takes an item for a copy. The last subdirectory and its record
// are removed when the session ends. One thread at a time.
#pragma once

#include <optional>
#include <string>

#include "base/Result.h"
#include "helper/RootFileOps.h"
#include "helper/StagingDirectory.h"
#include "helper/StagingRecord.h"
#include "platform/FileStatus.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace kb {

class StagingSession {
  public:
    explicit StagingSession(std::string stateDirectory)
        : stateDirectory_(std::move(stateDirectory)) {}
    ~StagingSession() { close(); }
    StagingSession(const StagingSession&) = delete;
    StagingSession& operator=(const StagingSession&) = delete;

    // An empty, recorded subdirectory of the Trash `trashFd` (whose device and inode are
    // `trash`) for the item `name` of `ops`'s account (at `original` before it moves), or the
    // failure. Valid until the next call.
    Result<const StagingSubdirectory*, SystemError> acquire(StagingRecord::Contents contents,
                                                            int trashFd, const ObjectId& trash,
                                                            const RootFileOps& ops,
                                                            const std::string& original,
                                                            const std::string& name);

    // Whether the item is known to have left the subdirectory, or must be looked for.
    enum class Left { certainly, checkFirst };

    // After an item has left the subdirectory, or failed to.
    void release(Left left);

  private:
    // Removes the current subdirectory and its record if it is empty; leaves both otherwise.
    void close();

    std::string stateDirectory_;
    std::optional<StagingRecords> records_;
    UniqueFd trash_;  // the Trash holding the current subdirectory
    ObjectId trashId_;
    std::optional<StagingSubdirectory> current_;
    StagingRecord record_;
};

}  // namespace kb
