#include "helper/StagingSession.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/FileStatus.h"

namespace kb {
namespace {

std::string_view directoryOf(std::string_view path) {
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

Result<const StagingSubdirectory*, SystemError> StagingSession::acquire(
    StagingRecord::Contents contents, int trashFd, const ObjectId& trash, const RootFileOps& ops,
    const std::string& original, const std::string& name) {
    using Contents = StagingRecord::Contents;
    // Items share a subdirectory only under the same ownership rule: recovery applies the
    // record's rule to everything it finds inside.
    if (current_ && contents == Contents::item && record_.contents == Contents::item &&
        record_.foreign == ops.foreignEntries && trashId_ == trash) {
        // An item from the directory of the one noted last needs no note of its own: recovery
        // names it after that directory and its own name (StagingRecord.h).
        if (directoryOf(original) != directoryOf(record_.original)) {
            StagingRecord note = record_;
            note.original = original;
            note.name = name;
            if (auto written = records_->noteItem(note); !written) {
                return fail(written.error());
            }
        }
        record_.original = original;
        record_.name = name;
        return &*current_;
    }
    close();
    if (!records_) {
        auto opened = StagingRecords::open(stateDirectory_);
        if (!opened) {
            return fail(opened.error());
        }
        records_ = std::move(*opened);
    }
    UniqueFd trashCopy(::fcntl(trashFd, F_DUPFD_CLOEXEC, 0));
    if (!trashCopy) {
        return fail(systemError("duplicate the descriptor of", ops.home + "/.Trash"));
    }
    auto made = makeStagingSubdirectory(trashCopy.get());
    if (!made) {
        return fail(systemError(made.error(), "make a staging directory in", ops.home + "/.Trash"));
    }
    record_ = StagingRecord{
        contents, ops.home + "/.Trash", made->name, made->id, ops.uid, ops.gid, ops.home, original,
        name,     ops.foreignEntries};
    trash_ = std::move(trashCopy);
    trashId_ = trash;
    current_ = std::move(*made);
    if (auto written = records_->write(record_); !written) {
        close();
        return fail(written.error());
    }
    return &*current_;
}

void StagingSession::release(Left left) {
    if (!current_) {
        return;
    }
    if (record_.contents == StagingRecord::Contents::copy) {
        close();
        return;
    }
    if (left == Left::certainly) {
        return;
    }
    if (fileStatusAt(current_->fd.get(), record_.name).ok()) {
        // The item had to stay: subdirectory and record are left for recovery.
        current_.reset();
        trash_.reset();
    }
}

void StagingSession::close() {
    if (current_ && removeStagingSubdirectory(trash_.get(), *current_)) {
        records_->remove(current_->name);
    }
    current_.reset();
    trash_.reset();
}

}  // namespace kb
