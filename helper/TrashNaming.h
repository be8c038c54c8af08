// Names for an item in a Trash folder: the item's own name first, then numbered names
// ("report.pdf", "report 2.pdf", "report 3.pdf"; "Makefile 2"; "archive.tar 2.gz").
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace kb {

// The plain name and the numbered names 2 to 1000.
inline constexpr std::size_t maximumTrashCandidates = 1000;

// Candidate `n` (1-based) for an item called `name`: `name` itself for 1, otherwise the name
// without its extension, a space, n, and the extension (when there is one).
std::string trashCandidate(const std::string& name, std::size_t n);

// The extension of a file name: the text after the last "." when that dot is neither the
// first nor the last character; empty otherwise.
std::string pathExtension(const std::string& name);

// The first candidate (1-based) that names nothing in the Trash directory `trashFd`, or
// nothing when all maximumTrashCandidates are taken.
std::optional<std::size_t> firstFreeCandidate(int trashFd, const std::string& name);

}  // namespace kb
