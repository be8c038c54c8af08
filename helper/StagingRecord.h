// What recovery needs to know about a staging subdirectory in use: written before an item
// moves in, removed after it has left, so that a helper killed in between can be recovered
// from at its next start (StagingRecovery.h).
//
// Records live in the root-only directory STATE/staging (STATE being the helper's state
// directory; both are created with mode 0700 when missing and must be root-owned and
// writable by root alone), one file per staging subdirectory, named after it with
// ".record" appended. A record is a text file of "key value" lines, the first line naming
// the format; values are percent-encoded ('%', control bytes and DEL as %XX):
//
//   dev.kestrelbay.helper staging record 1
//   contents item                        ("item": the item itself; "copy": a copy, the
//                                         original still in place)
//   trash /home/ann/.Trash               the Trash holding the staging subdirectory
//   staging .dev.kestrelbay.staging-…    the subdirectory's name in it
//   device 2049                          the subdirectory's device and inode
//   inode 1835017
//   uid 1000                             the account the item goes to
//   gid 1000
//   home /home/ann
//   original /home/ann/docs/report.pdf   the item's path before it moved
//   name report.pdf                      its name inside the subdirectory
//   foreign keep                         "handOver" when entries of other accounts change
//                                         hands (root's authority or consent); "keep", or
//                                         the line absent, otherwise
//
// A record is written whole to a temporary file, flushed to disk (fdatasync), renamed into
// place and the directory flushed (fsync). The later items of one staging subdirectory
// that come from another directory than the item noted last are noted beside it in
// "NAME.item" (a record of the same form whose original path and name replace the
// record's), emptied and rewritten in place, not flushed: those two fields only name the
// item in recovery's log line (an item keeps its name in staging, so an entry of another
// name came from the same directory: originalOf), and a note that does not decode is
// ignored. One thread at a time per StagingRecords; several may share the directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/FileStatus.h"
#include "platform/SystemError.h"
#include "platform/TreeOwnership.h"
#include "platform/UniqueFd.h"

namespace kb {

struct StagingRecord {
    enum class Contents { item, copy };

    Contents contents = Contents::item;
    std::string trash;
    std::string staging;
    ObjectId stagingId;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::string home;
    std::string original;
    std::string name;
    ForeignEntries foreign = ForeignEntries::keepTheirOwner;

    // The original path of the entry `entry` found in the subdirectory.
    std::string originalOf(const std::string& entry) const;

    std::string encode() const;
    static std::optional<StagingRecord> decode(const std::string& text);

    bool operator==(const StagingRecord&) const = default;
};

class StagingRecords {
  public:
    // The records directory of the state directory `stateDirectory`, created when missing.
    static Result<StagingRecords, SystemError> open(const std::string& stateDirectory);

    Result<void, SystemError> write(const StagingRecord& record);
    // Notes the item now passing through the recorded subdirectory `record.staging`.
    Result<void, SystemError> noteItem(const StagingRecord& record);
    // Removes the record of `staging` and its note.
    void remove(const std::string& staging);

    // The names of the staging subdirectories that have a record (leftover temporary
    // files are deleted on the way).
    std::vector<std::string> list();
    // The record of `staging` (with its note's item, if any); nothing when it is missing or
    // unreadable.
    std::optional<StagingRecord> read(const std::string& staging);

  private:
    explicit StagingRecords(UniqueFd fd) : fd_(std::move(fd)) {}
    std::optional<StagingRecord> load(const std::string& name) const;
    UniqueFd fd_;
    // The note written last, kept open to be rewritten for the next item.
    UniqueFd note_;
    std::string noteName_;
};

}  // namespace kb
