#include "helper/TrashNaming.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

#include "helper/StagingDirectory.h"
#include "platform/FileStatus.h"

namespace kb {
namespace {

// `text` cut to at most `bytes` bytes, backing off to the start of a UTF-8 character.
std::string cutTo(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) {
        return text;
    }
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

}  // namespace

std::string pathExtension(const std::string& name) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        return {};
    }
    return name.substr(dot + 1);
}

std::string trashCandidate(const std::string& name, std::size_t n) {
    if (n <= 1) {
        return name;
    }
    std::string ext = pathExtension(name);
    std::string base = ext.empty() ? name : name.substr(0, name.size() - ext.size() - 1);
    std::string number(1, ' ');
    number.append(std::to_string(n));
    if (!ext.empty()) {
        ext.insert(ext.begin(), '.');
    }
    if (number.size() + ext.size() >= NAME_MAX) {
        // An extension too long to keep: the whole name is the base.
        base = name;
        ext.clear();
    }
    std::string candidate = cutTo(base, NAME_MAX - number.size() - ext.size());
    candidate.append(number).append(ext);
    return candidate;
}

bool isFreeName(int dirFd, const std::string& candidate) {
    if (isStagingName(candidate)) {
        return false;
    }
    const auto st = fileStatusAt(dirFd, candidate);
    return !st && st.error().code == ENOENT;
}

std::optional<std::size_t> firstFreeCandidate(int trashFd, const std::string& name) {
    for (std::size_t n = 1; n <= maximumTrashCandidates; ++n) {
        if (isFreeName(trashFd, trashCandidate(name, n))) {
            return n;
        }
    }
    return std::nullopt;
}

Result<std::string, int> moveUnderFreeName(int fromFd, const std::string& name, int trashFd,
                                           std::size_t firstCandidate) {
    for (std::size_t n = firstCandidate; n <= maximumTrashCandidates; ++n) {
        // The rename itself is the probe: it never replaces an entry.
        const std::string candidate = trashCandidate(name, n);
        if (isStagingName(candidate)) {
            continue;
        }
        if (::renameat2(fromFd, name.c_str(), trashFd, candidate.c_str(), RENAME_NOREPLACE) == 0) {
            return candidate;
        }
        if (errno != EEXIST) {
            return fail(errno);
        }
    }
    return fail(EEXIST);
}

}  // namespace kb
