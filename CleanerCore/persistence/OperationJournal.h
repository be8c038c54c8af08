// The operation journal: an append-only file of JSON lines, one JournalEntry per line (keys
// sorted, "/" unescaped, dates as ISO 8601; see docs/journal-format.md), recording what was
// done to the user's files under which deletion plan.
//
// append() adds one line with a single write(2) on a descriptor opened with O_APPEND (the
// file is created when missing, never replaced), so appends from several journal objects or
// processes never interleave inside a line. A crash in the middle of an append leaves at
// most one torn last line: reads skip it, and the next append first ends it with a line feed
// so that its own entry starts on a fresh line. (Looking at the end while another process's
// line is still being copied in costs at most an empty line, which reads ignore.)
// readAll() never fails: an unreadable file reads as empty and a line that does not decode
// is skipped. prune() rewrites the file atomically (as the JSON store does) and never
// replaces a file it could not read. Appends are not flushed to disk; prune is.
//
// Threads: every operation takes the journal's own lock, so the operations of one journal
// object run one at a time. The journal holds no entries between operations; every read
// sees the file as it is.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "CleanerCore/model/FileURL.h"
#include "CleanerCore/model/IsoDate.h"
#include "CleanerCore/persistence/JournalEntry.h"
#include "CleanerCore/persistence/PersistenceError.h"
#include "base/Result.h"

namespace kb {

class OperationJournal {
  public:
    // Touches no file.
    explicit OperationJournal(FileURL fileURL);

    OperationJournal(const OperationJournal&) = delete;
    OperationJournal& operator=(const OperationJournal&) = delete;

    // Readable without waiting for other operations.
    const FileURL& fileURL() const { return fileURL_; }

    // Creates the containing directory chain (0700) when missing, then appends the entry as
    // one line. Fails on directory creation, encoding, open or write; a file that exists but
    // cannot be opened for writing is reported, never replaced.
    Result<void, PersistenceError> append(const JournalEntry& entry);

    // Every entry that decodes, in file order.
    std::vector<JournalEntry> readAll();

    // In file order, the `trashed` entries that have a trashed path and no `restored` entry
    // with the same plan id and path.
    std::vector<JournalEntry> restorableEntries();

    // Keeps the entries whose age (`now` minus timestamp, seconds) is less than `maxAge`
    // (entries dated after `now` stay; lines that do not decode go) and replaces the file
    // atomically; with nothing kept the file becomes empty. A missing file becomes an empty
    // one when its directory exists. A NaN `maxAge` is refused; a file that exists but cannot
    // be read, an encoding failure or a failed write leave the file as it was.
    Result<void, PersistenceError> prune(double maxAge, Date now);

  private:
    std::vector<JournalEntry> readAllLocked();

    std::mutex mutex_;
    const FileURL fileURL_;
    const std::string path_;
};

}  // namespace kb
