#include "helper/StagingRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <map>

#include "helper/StagingDirectory.h"
#include "platform/DirectoryEntries.h"
#include "platform/FileStatus.h"

namespace kb {
namespace {

const char header[] = "dev.kestrelbay.helper staging record 1";
const char suffix[] = ".record";
const char noteSuffix[] = ".item";
const char temporaryPrefix[] = ".writing-";

std::string escape(const std::string& value) {
    std::string out;
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f || c == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::optional<std::string> unescape(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            out += value[i];
            continue;
        }
        unsigned byte = 0;
        if (i + 2 >= value.size()) {
            return std::nullopt;
        }
        const auto r = std::from_chars(value.data() + i + 1, value.data() + i + 3, byte, 16);
        if (r.ec != std::errc() || r.ptr != value.data() + i + 3) {
            return std::nullopt;
        }
        out += static_cast<char>(byte);
        i += 2;
    }
    return out;
}

template <class N>
bool number(const std::string& text, N& out) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty();
}

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() > end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Opens (creating it when missing) the directory `name` of `parentFd`, which must be
// root-owned and writable by root alone.
Result<UniqueFd, SystemError> privateDirectory(int parentFd, const std::string& name) {
    if (::mkdirat(parentFd, name.c_str(), 0700) != 0 && errno != EEXIST) {
        return fail(systemError("create", name));
    }
    UniqueFd fd(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        return fail(systemError("open", name));
    }
    const auto st = fileStatusOf(fd.get());
    if (!st) {
        return fail(systemError(st.error().code, "read the status of", name));
    }
    if (st->ownerUID != 0 || (st->mode & 022) != 0) {
        return fail(systemError(EPERM, "use", name));
    }
    return fd;
}

}  // namespace

std::string StagingRecord::encode() const {
    std::string text = std::string(header) + "\n";
    auto line = [&text](const char* key, const std::string& value) {
        text += std::string(key) + " " + escape(value) + "\n";
    };
    line("contents", contents == Contents::item ? "item" : "copy");
    line("trash", trash);
    line("staging", staging);
    line("device", std::to_string(stagingId.device));
    line("inode", std::to_string(stagingId.inode));
    line("uid", std::to_string(uid));
    line("gid", std::to_string(gid));
    line("home", home);
    line("original", original);
    line("name", name);
    line("foreign", foreign == ForeignEntries::handOver ? "handOver" : "keep");
    return text;
}

std::string StagingRecord::originalOf(const std::string& entry) const {
    if (entry == name) {
        return original;
    }
    return original.substr(0, original.rfind('/') + 1) + entry;
}

std::optional<StagingRecord> StagingRecord::decode(const std::string& text) {
    std::map<std::string, std::string> values;
    std::size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != header) {
                return std::nullopt;
            }
            first = false;
            continue;
        }
        const std::size_t space = line.find(' ');
        auto value = unescape(space == std::string::npos ? "" : line.substr(space + 1));
        if (space == std::string::npos || !value) {
            return std::nullopt;
        }
        values[line.substr(0, space)] = std::move(*value);
    }
    StagingRecord r;
    const std::string& contents = values["contents"];
    if (contents != "item" && contents != "copy") {
        return std::nullopt;
    }
    r.contents = contents == "item" ? Contents::item : Contents::copy;
    r.trash = values["trash"];
    r.staging = values["staging"];
    r.home = values["home"];
    r.original = values["original"];
    r.name = values["name"];
    r.foreign =
        values["foreign"] == "handOver" ? ForeignEntries::handOver : ForeignEntries::keepTheirOwner;
    if (!number(values["device"], r.stagingId.device) ||
        !number(values["inode"], r.stagingId.inode) || !number(values["uid"], r.uid) ||
        !number(values["gid"], r.gid) || r.trash.empty() || !isStagingName(r.staging) ||
        r.staging.find('/') != std::string::npos || r.name.empty() ||
        r.name.find('/') != std::string::npos || r.name == "." || r.name == "..") {
        return std::nullopt;
    }
    return r;
}

Result<StagingRecords, SystemError> StagingRecords::open(const std::string& stateDirectory) {
    // The state directory's parent (/var/lib) exists; the state directory itself only when
    // the service manager made it.
    const auto slash = stateDirectory.find_last_of('/');
    if (slash == std::string::npos) {
        return fail(systemError(EINVAL, "use", stateDirectory));
    }
    UniqueFd parent(::open(slash == 0 ? "/" : stateDirectory.substr(0, slash).c_str(),
                           O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!parent) {
        return fail(systemError("open", stateDirectory));
    }
    auto state = privateDirectory(parent.get(), stateDirectory.substr(slash + 1));
    if (!state) {
        return fail(state.error());
    }
    auto records = privateDirectory(state->get(), "staging");
    if (!records) {
        return fail(records.error());
    }
    return StagingRecords(std::move(*records));
}

Result<void, SystemError> StagingRecords::write(const StagingRecord& record) {
    const std::string name = record.staging + suffix;
    const std::string temporary = temporaryPrefix + name;
    const std::string text = record.encode();
    UniqueFd fd(::openat(fd_.get(), temporary.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        return fail(systemError("create", temporary));
    }
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR) {
            const SystemError error = systemError("write", temporary);
            ::unlinkat(fd_.get(), temporary.c_str(), 0);
            return fail(error);
        }
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    if (::fdatasync(fd.get()) != 0 ||
        ::renameat(fd_.get(), temporary.c_str(), fd_.get(), name.c_str()) != 0 ||
        ::fsync(fd_.get()) != 0) {
        const SystemError error = systemError("write", name);
        ::unlinkat(fd_.get(), temporary.c_str(), 0);
        return fail(error);
    }
    return {};
}

Result<void, SystemError> StagingRecords::noteItem(const StagingRecord& record) {
    const std::string name = record.staging + noteSuffix;
    if (noteName_ != name) {
        note_.reset(::openat(fd_.get(), name.c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!note_) {
            noteName_.clear();
            return fail(systemError("create", name));
        }
        noteName_ = name;
    }
    // Emptied, then written: a note a crash left empty is ignored, and recovery names the
    // item from the record instead.
    if (::ftruncate(note_.get(), 0) != 0) {
        return fail(systemError("write", name));
    }
    const std::string text = record.encode();
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n =
            ::pwrite(note_.get(), text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno != EINTR) {
            return fail(systemError("write", name));
        }
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return {};
}

void StagingRecords::remove(const std::string& staging) {
    // No flush: a record whose subdirectory is gone is dropped by recovery.
    if (noteName_ == staging + noteSuffix) {
        note_.reset();
        noteName_.clear();
    }
    ::unlinkat(fd_.get(), (staging + noteSuffix).c_str(), 0);
    ::unlinkat(fd_.get(), (staging + suffix).c_str(), 0);
}

std::vector<std::string> StagingRecords::list() {
    std::vector<std::string> names;
    std::vector<std::string> notes;
    std::vector<std::string> leftovers;
    DirectoryReader reader;
    reader.start(fd_.get());
    while (auto entry = reader.next()) {
        const std::string name = entry->name;
        if (name.rfind(temporaryPrefix, 0) == 0) {
            leftovers.push_back(name);
        } else if (endsWith(name, suffix)) {
            names.push_back(name.substr(0, name.size() - std::string(suffix).size()));
        } else if (endsWith(name, noteSuffix)) {
            notes.push_back(name.substr(0, name.size() - std::string(noteSuffix).size()));
        }
    }
    for (const auto& note : notes) {
        if (std::find(names.begin(), names.end(), note) == names.end()) {
            leftovers.push_back(note + noteSuffix);
        }
    }
    for (const auto& name : leftovers) {
        ::unlinkat(fd_.get(), name.c_str(), 0);
    }
    return names;
}

std::optional<StagingRecord> StagingRecords::load(const std::string& name) const {
    UniqueFd fd(::openat(fd_.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd.get(), buffer, sizeof buffer)) > 0 && text.size() < 65536) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return StagingRecord::decode(text);
}

std::optional<StagingRecord> StagingRecords::read(const std::string& staging) {
    auto record = load(staging + suffix);
    if (!record || record->staging != staging) {
        return std::nullopt;
    }
    if (auto note = load(staging + noteSuffix); note && note->staging == staging) {
        record->original = note->original;
        record->name = note->name;
    }
    return record;
}

}  // namespace kb
