// One value of any type with a JSON form, kept in one file: loaded on first use (or the
// default value when the file does not exist), cached, and saved back atomically.
//
// File format: the value's JSON form, pretty-printed with sorted keys and unescaped "/",
// dates as ISO 8601 text. Saving creates the directory chain (mode 0700) and replaces the
// file as a whole (FileAccess::writeAtomically), so a failed save leaves the old file.
//
// Cache rules: a successful load or save fills the cache and later loads return it without
// reading the file (also when the file appears after the default value was cached). A failed
// load (unreadable or undecodable file) leaves the cache empty and is retried by the next
// load; nothing is overwritten and the default value is not substituted. A failed save keeps
// the cache as it was.
//
// Threads: every operation takes the store's own lock, so operations on one store run one at
// a time; update() holds it across load, transform and save. Two stores (or processes) on
// one file are not coordinated: the last atomic write wins.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "CleanerCore/model/FileURL.h"
#include "CleanerCore/model/IsoDate.h"
#include "CleanerCore/persistence/FileAccess.h"
#include "CleanerCore/persistence/PersistenceError.h"
#include "base/Result.h"
#include "json/JsonCodec.h"

namespace kb {

template <class Value>
class JSONStore {
  public:
    // Touches no file.
    JSONStore(FileURL fileURL, Value defaultValue)
        : fileURL_(std::move(fileURL)),
          path_(fileURL_.path()),
          defaultValue_(std::move(defaultValue)) {}

    JSONStore(const JSONStore&) = delete;
    JSONStore& operator=(const JSONStore&) = delete;

    const FileURL& fileURL() const { return fileURL_; }

    Result<Value, PersistenceError> load() {
        std::lock_guard lock(mutex_);
        return loadLocked();
    }

    Result<void, PersistenceError> save(const Value& value) {
        std::lock_guard lock(mutex_);
        return saveLocked(value);
    }

    // Loads, applies `transform` (Value -> Value, cannot fail) and saves the result, with no
    // other operation of this store in between. Returns the new value.
    template <class Transform>
    Result<Value, PersistenceError> update(Transform&& transform) {
        std::lock_guard lock(mutex_);
        auto current = loadLocked();
        if (!current) {
            return fail(current.error());
        }
        Value next = std::forward<Transform>(transform)(std::move(*current));
        if (auto saved = saveLocked(next); !saved) {
            return fail(saved.error());
        }
        return next;
    }

  private:
    Result<Value, PersistenceError> loadLocked() {
        if (cached_) {
            return *cached_;
        }
        auto contents = FileAccess::readFile(path_);
        if (!contents) {
            return fail(contents.error());
        }
        if (!*contents) {
            cached_ = defaultValue_;
            return *cached_;
        }
        auto decoded = json::decode<Value>(**contents);
        if (!decoded) {
            return fail(
                PersistenceError{PersistenceError::Decoding{path_, decoded.error().message}});
        }
        cached_ = std::move(*decoded);
        return *cached_;
    }

    Result<void, PersistenceError> saveLocked(const Value& value) {
        const auto [directory, name] = FileAccess::splitPath(path_);
        auto dir = FileAccess::createDirectories(directory);
        if (!dir) {
            return fail(dir.error());
        }
        auto text = json::encode(value, json::JsonStyle::pretty);
        if (!text) {
            return fail(PersistenceError{PersistenceError::Encoding{text.error().message}});
        }
        if (auto written = FileAccess::writeAtomically(dir->get(), name, *text, path_); !written) {
            return fail(written.error());
        }
        cached_ = value;
        return {};
    }

    std::mutex mutex_;
    const FileURL fileURL_;
    const std::string path_;
    const Value defaultValue_;
    std::optional<Value> cached_;
};

}  // namespace kb
