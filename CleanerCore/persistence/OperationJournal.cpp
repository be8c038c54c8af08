#include "CleanerCore/persistence/OperationJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parser.hpp>
#include <cerrno>
#include <cmath>
#include <string_view>
#include <unordered_set>

#include "CleanerCore/persistence/FileAccess.h"
#include "platform/FileStatus.h"
#include "platform/UniqueFd.h"

namespace kb {
namespace {

Failure<PersistenceError> ioFailure(int code, std::string step, std::string path) {
    return fail(PersistenceError{
        PersistenceError::Io{systemError(code, std::move(step), std::move(path))}});
}

Result<std::string, PersistenceError> encodeLine(const JournalEntry& entry) {
    auto text = json::encode(entry, json::JsonStyle::domain);
    if (!text) {
        return fail(PersistenceError{PersistenceError::Encoding{text.error().message}});
    }
    *text += '\n';
    return std::move(*text);
}

// Decodes one line per entry with the codec kit's strict rules. The parsed tree of each
// line lives in a reused scratch arena instead of the heap.
class LineDecoder {
  public:
    LineDecoder() : arena_(scratch_, sizeof scratch_), parser_({}, parseOptions()) {}

    std::optional<JournalEntry> decode(std::string_view line) {
        // Drop whatever the previous line left in the arena (after the parser let go of it).
        parser_.reset();
        arena_.release();
        parser_.reset(&arena_);
        boost::system::error_code ec;
        parser_.write(line.data(), line.size(), ec);
        if (ec) {
            return std::nullopt;
        }
        const boost::json::value value = parser_.release();
        auto entry = json::decodeValue<JournalEntry>(value);
        if (!entry) {
            return std::nullopt;
        }
        return std::move(*entry);
    }

  private:
    static boost::json::parse_options parseOptions() {
        boost::json::parse_options options;
        options.max_depth = 64;
        return options;
    }

    alignas(std::max_align_t) unsigned char scratch_[16384];
    boost::json::monotonic_resource arena_;
    boost::json::parser parser_;  // destroyed before the arena it may still point at
};

std::vector<JournalEntry> decodeLines(std::string_view contents) {
    std::vector<JournalEntry> entries;
    LineDecoder decoder;
    while (!contents.empty()) {
        const size_t end = contents.find('\n');
        const std::string_view line = contents.substr(0, end);
        contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
        if (line.empty()) {
            continue;
        }
        if (auto entry = decoder.decode(line)) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

// Plan and path: the plan's 16 bytes stand for its canonical text (one maps to the other).
std::string restoreKey(const JournalEntry& entry) {
    std::string key(reinterpret_cast<const char*>(entry.planID.bytes.data()),
                    entry.planID.bytes.size());
    key += entry.path;
    return key;
}

}  // namespace

OperationJournal::OperationJournal(FileURL fileURL)
    : fileURL_(std::move(fileURL)), path_(fileURL_.path()) {}

Result<void, PersistenceError> OperationJournal::append(const JournalEntry& entry) {
    std::lock_guard lock(mutex_);
    const auto [directoryPath, name] = FileAccess::splitPath(path_);
    auto directory = FileAccess::createDirectories(directoryPath);
    if (!directory) {
        return fail(directory.error());
    }
    auto line = encodeLine(entry);
    if (!line) {
        return fail(line.error());
    }

    // Read access lets us look at the last byte; a write-only journal is still appended to.
    bool canRead = true;
    constexpr int flags = O_APPEND | O_NONBLOCK | O_CLOEXEC;
    UniqueFd fd(::openat(directory->get(), name.c_str(), O_RDWR | O_CREAT | flags, 0600));
    if (!fd && errno == EACCES) {
        canRead = false;
        fd.reset(::openat(directory->get(), name.c_str(), O_WRONLY | flags));
    }
    if (!fd) {
        return ioFailure(errno, "open", path_);
    }
    const auto st = fileStatusOf(fd.get());
    if (!st) {
        return ioFailure(st.error().code, "fstat", path_);
    }
    if (!st->isRegular()) {
        return ioFailure(EINVAL, "open (not a regular file)", path_);
    }

    // A previous append that died midway left a line without its line feed: end it first so
    // that this entry is a line of its own and the torn one stays skippable.
    if (canRead && st->size > 0) {
        char last = '\n';
        if (::pread(fd.get(), &last, 1, static_cast<off_t>(st->size) - 1) != 1) {
            return ioFailure(errno, "pread", path_);
        }
        if (last != '\n') {
            line->insert(line->begin(), '\n');
        }
    }

    // One write, so that concurrent appenders never interleave inside a line. A short write
    // is not resumed (a second write could land after someone else's line); it leaves a torn
    // line, which readers skip and the next append ends.
    ssize_t written;
    do {
        written = ::write(fd.get(), line->data(), line->size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        return ioFailure(errno, "write", path_);
    }
    if (static_cast<size_t>(written) != line->size()) {
        return ioFailure(EIO, "write (short)", path_);
    }
    return {};
}

std::vector<JournalEntry> OperationJournal::readAll() {
    std::lock_guard lock(mutex_);
    return readAllLocked();
}

std::vector<JournalEntry> OperationJournal::readAllLocked() {
    auto contents = FileAccess::readFile(path_);
    if (!contents || !*contents) {
        return {};
    }
    return decodeLines(**contents);
}

std::vector<JournalEntry> OperationJournal::restorableEntries() {
    std::lock_guard lock(mutex_);
    auto entries = readAllLocked();
    std::unordered_set<std::string> restored;
    for (const auto& entry : entries) {
        if (entry.action == JournalEntry::Action::restored) {
            restored.insert(restoreKey(entry));
        }
    }
    std::vector<JournalEntry> restorable;
    for (auto& entry : entries) {
        if (entry.action == JournalEntry::Action::trashed && entry.trashedPath &&
            !restored.contains(restoreKey(entry))) {
            restorable.push_back(std::move(entry));
        }
    }
    return restorable;
}

Result<void, PersistenceError> OperationJournal::prune(double maxAge, Date now) {
    if (std::isnan(maxAge)) {
        return fail(PersistenceError{PersistenceError::InvalidArgument{"maxAge is not a number"}});
    }
    std::lock_guard lock(mutex_);
    const auto [directoryPath, name] = FileAccess::splitPath(path_);
    auto directory = FileAccess::openDirectory(directoryPath);
    if (!directory) {
        return fail(directory.error());
    }
    auto contents = FileAccess::readFile(directory->get(), name, path_);
    if (!contents) {
        return fail(contents.error());
    }
    std::string kept;
    if (*contents) {
        for (const auto& entry : decodeLines(**contents)) {
            if (secondsBetween(entry.timestamp, now) >= maxAge) {
                continue;
            }
            auto line = encodeLine(entry);
            if (!line) {
                return fail(line.error());
            }
            kept += *line;
        }
    }
    return FileAccess::writeAtomically(directory->get(), name, kept, path_);
}

}  // namespace kb
