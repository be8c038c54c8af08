// Names for an item in a Trash folder: the item's own name first, then numbered names
// ("report.pdf", "report 2.pdf", "report 3.pdf"; "Makefile 2"; "archive.tar 2.gz"). A
// numbered name longer than NAME_MAX bytes is shortened at the end of its base (never
// inside a UTF-8 character) so that it fits and keeps its extension.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "base/Result.h"

namespace kb {

// The plain name and the numbered names 2 to 1000.
inline constexpr std::size_t maximumTrashCandidates = 1000;

// Candidate `n` (1-based) for an item called `name`: `name` itself for 1, otherwise the name
// without its extension, a space, n, and the extension (when there is one).
std::string trashCandidate(const std::string& name, std::size_t n);

// The extension of a file name: the text after the last "." when that dot is neither the
// first nor the last character; empty otherwise.
std::string pathExtension(const std::string& name);

// Whether `candidate` names nothing in the directory `dirFd`: only a lookup answering
// ENOENT counts (any other failure is taken as "occupied"). Staging subdirectory names are
// never free.
bool isFreeName(int dirFd, const std::string& candidate);

// The first free candidate (1-based) in the Trash directory `trashFd`, or nothing when all
// maximumTrashCandidates are taken.
std::optional<std::size_t> firstFreeCandidate(int trashFd, const std::string& name);

// Moves the entry `name` of `fromFd` into the Trash `trashFd` under the first free candidate
// from `firstCandidate` on, never replacing anything (a name taken meanwhile gives the next
// one). The name used, or the errno of the failure (EEXIST when no candidate is free).
Result<std::string, int> moveUnderFreeName(int fromFd, const std::string& name, int trashFd,
                                           std::size_t firstCandidate = 1);

}  // namespace kb
