#include "CleanerCore/policy/PathPolicy.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "CleanerCore/policy/ProtectedPatterns.h"
#include "CleanerCore/policy/UnicodeText.h"

namespace kb {
namespace {

namespace Patterns = ProtectedPatterns;

// An entry with the form it is compared in: `whole` for equality, `under` (the whole
// form followed by exactly one "/") for "lies inside".
struct Entry {
    std::string name;
    std::string whole;
    std::string under;
};

std::string withTrailingSlash(std::string text) {
    if (text.empty() || text.back() != '/') {
        text += '/';
    }
    return text;
}

Entry foldedEntry(std::string name) {
    std::string whole = UnicodeText::folded(name);
    std::string under = withTrailingSlash(whole);
    return Entry{std::move(name), std::move(whole), std::move(under)};
}

template <std::size_t N, std::size_t M>
std::vector<Entry> foldedList(const std::array<std::string_view, N>& general,
                              const std::array<std::string_view, M>& linux) {
    std::vector<Entry> entries;
    entries.reserve(N + M);
    for (const auto name : general) {
        entries.push_back(foldedEntry(std::string(name)));
    }
    for (const auto name : linux) {
        entries.push_back(foldedEntry(std::string(name)));
    }
    return entries;
}

// The home-independent tables in their compared forms, built once per process.
struct FoldedTables {
    std::vector<Entry> deniedRoots = foldedList(Patterns::deniedRoots, Patterns::linuxDeniedRoots);
    std::vector<Entry> deniedSubtrees =
        foldedList(Patterns::deniedSubtrees, Patterns::linuxDeniedSubtrees);
    std::vector<std::string> allowedPrefixes;
    std::vector<std::string> directoryNames;
    std::vector<std::string> keywords;

    FoldedTables() {
        for (const auto prefix : Patterns::allowedPrefixes) {
            allowedPrefixes.push_back(UnicodeText::folded(prefix));
        }
        for (const auto name : Patterns::protectedDirectoryNames) {
            directoryNames.push_back(UnicodeText::folded(name));
        }
        for (const auto keyword : Patterns::protectedKeywords) {
            keywords.push_back(UnicodeText::folded(keyword));
        }
    }
};

const FoldedTables& foldedTables() {
    static const FoldedTables tables;
    return tables;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool equalOrInside(std::string_view path, const Entry& entry) {
    return path == entry.whole || startsWith(path, entry.under);
}

// The "/"-separated non-empty pieces of `path`.
std::vector<std::string_view> piecesOf(std::string_view path) {
    std::vector<std::string_view> pieces;
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t end = path.find('/', i);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > i) {
            pieces.push_back(path.substr(i, end - i));
        }
        i = end + 1;
    }
    return pieces;
}

std::string joined(std::string_view base, std::string_view relative) {
    if (relative.empty()) {
        return std::string(base);
    }
    std::string text = withTrailingSlash(std::string(base));
    text += relative;
    return text;
}

// The normalized parent of a normalized path other than "/".
std::string_view parentOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

}  // namespace

struct PathPolicy::Candidates {
    std::vector<Entry> homeRoots;      // H and H + "/" + entry, folded
    std::vector<Entry> homeLocations;  // H + "/" + entry, folded
    std::vector<Entry> userProtected;  // canonical (letter case counts)
};

PathPolicy::PathPolicy(std::string_view homeDirectory, std::vector<std::string> userProtectedPaths)
    : PathPolicy(homeDirectory, std::move(userProtectedPaths),
                 std::make_shared<RealPolicyFileSystem>()) {}

PathPolicy::PathPolicy(std::string_view homeDirectory, std::vector<std::string> userProtectedPaths,
                       std::shared_ptr<const PolicyFileSystem> fileSystem)
    : fileSystem_(std::move(fileSystem)) {
    homeDirectory_ = normalize(homeDirectory);
    if (auto canonical = fileSystem_->canonicalPath(homeDirectory_)) {
        homeDirectory_ = normalize(*canonical);
    }
    userProtectedPaths_.reserve(userProtectedPaths.size());
    for (const auto& path : userProtectedPaths) {
        userProtectedPaths_.push_back(normalize(path));
    }

    auto candidates = std::make_shared<Candidates>();
    for (const auto relative : Patterns::homeDeniedRoots) {
        candidates->homeRoots.push_back(foldedEntry(joined(homeDirectory_, relative)));
    }
    for (const auto relative : Patterns::linuxHomeDeniedRoots) {
        candidates->homeRoots.push_back(foldedEntry(joined(homeDirectory_, relative)));
    }
    for (const auto relative : Patterns::homeProtectedLocations) {
        candidates->homeLocations.push_back(foldedEntry(joined(homeDirectory_, relative)));
    }
    for (const auto relative : Patterns::linuxHomeProtectedLocations) {
        candidates->homeLocations.push_back(foldedEntry(joined(homeDirectory_, relative)));
    }
    for (const auto& path : userProtectedPaths_) {
        std::string whole = UnicodeText::canonical(path);
        std::string under = withTrailingSlash(whole);
        candidates->userProtected.push_back(Entry{path, std::move(whole), std::move(under)});
    }
    candidates_ = std::move(candidates);
}

std::optional<PathPolicy> PathPolicy::forUser(uid_t uid,
                                              std::vector<std::string> userProtectedPaths) {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
    struct passwd entry {};
    struct passwd* found = nullptr;
    for (;;) {
        const int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1U << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr) {
            return std::nullopt;
        }
        break;
    }
    if (entry.pw_dir == nullptr || entry.pw_dir[0] == '\0') {
        return std::nullopt;
    }
    return PathPolicy(entry.pw_dir, std::move(userProtectedPaths));
}

std::string PathPolicy::normalize(std::string_view path) {
    std::string out;
    out.reserve(path.size() + 1);
    for (const auto piece : piecesOf(path)) {
        if (piece != ".") {
            out += '/';
            out += piece;
        }
    }
    return out.empty() ? "/" : out;
}

std::optional<PolicyReason> PathPolicy::classify(std::string_view path) const {
    const FoldedTables& tables = foldedTables();
    const std::string folded = UnicodeText::folded(path);
    const std::string canonical = UnicodeText::canonical(path);

    for (const auto& root : tables.deniedRoots) {
        if (folded == root.whole) {
            return PolicyReason::deniedRoot(root.name);
        }
    }
    for (const auto& root : candidates_->homeRoots) {
        if (folded == root.whole) {
            return PolicyReason::deniedRoot(root.name);
        }
    }

    const auto canonicalPieces = piecesOf(canonical);
    if (startsWith(canonical, Patterns::temporaryFoldersPrefix) &&
        canonicalPieces.size() <= Patterns::temporaryFolderMaxPieces) {
        return PolicyReason::deniedRoot(std::string(path));
    }
    for (const auto prefix : Patterns::homeParentPrefixes) {
        if (startsWith(canonical, prefix) && canonicalPieces.size() == 2) {
            return PolicyReason::deniedRoot(std::string(path));
        }
    }

    for (const auto& entry : candidates_->userProtected) {
        if (equalOrInside(canonical, entry)) {
            return PolicyReason::userProtected(entry.name);
        }
    }
    for (const auto& location : candidates_->homeLocations) {
        if (equalOrInside(folded, location)) {
            return PolicyReason::protectedLocation(location.name);
        }
    }

    // Folding keeps the pieces, so the i-th folded piece is the i-th piece as written.
    const auto pieces = piecesOf(path);
    const auto foldedPieces = piecesOf(folded);
    for (std::size_t i = 0; i < pieces.size() && i < foldedPieces.size(); ++i) {
        for (const auto& name : tables.directoryNames) {
            if (foldedPieces[i] == name) {
                return PolicyReason::protectedLocation(std::string(pieces[i]));
            }
        }
        const std::string letters = UnicodeText::lettersMarksAndDigits(foldedPieces[i]);
        for (const auto& keyword : tables.keywords) {
            if (letters.find(keyword) != std::string::npos) {
                return PolicyReason::protectedLocation(std::string(pieces[i]));
            }
        }
    }

    for (const auto& prefix : tables.allowedPrefixes) {
        if (startsWith(folded, prefix)) {
            return std::nullopt;
        }
    }
    for (const auto& subtree : tables.deniedSubtrees) {
        if (equalOrInside(folded, subtree)) {
            return PolicyReason::deniedSubtree(subtree.name);
        }
    }
    if (startsWith(canonical, Patterns::privatePrefix)) {
        return PolicyReason::deniedSubtree(std::string(Patterns::privateSubtree));
    }
    return std::nullopt;
}

PolicyDecision PathPolicy::evaluate(std::string_view path) const {
    if (path.empty()) {
        return PolicyDecision::denied(PolicyReason::emptyPath());
    }
    if (UnicodeText::hasControlCharacters(path)) {
        return PolicyDecision::denied(PolicyReason::containsControlCharacters());
    }
    if (path.front() != '/') {
        return PolicyDecision::denied(PolicyReason::notAbsolute());
    }
    for (const auto piece : piecesOf(path)) {
        if (piece == "..") {
            return PolicyDecision::denied(PolicyReason::containsParentReference());
        }
    }

    const std::string normalized = normalize(path);
    if (auto reason = classify(normalized)) {
        return PolicyDecision::denied(std::move(*reason));
    }

    auto resolved = resolve(normalized);
    if (!resolved) {
        return PolicyDecision::denied(PolicyReason::unresolvable(resolved.error()));
    }
    if (*resolved == normalized ||
        UnicodeText::canonical(*resolved) == UnicodeText::canonical(normalized)) {
        return PolicyDecision::allowed(normalized);
    }
    if (auto reason = classify(*resolved)) {
        return PolicyDecision::denied(
            PolicyReason::symlinkEscape(*resolved, reason->description()));
    }
    return PolicyDecision::allowed(std::move(*resolved));
}

Result<std::string, int> PathPolicy::resolve(const std::string& normalized) const {
    if (normalized == "/") {
        return normalized;
    }
    // The components below the nearest existing ancestor, nearest to it first.
    std::string_view ancestor = parentOf(normalized);
    std::string_view below =
        std::string_view(normalized).substr(ancestor.size() == 1 ? 1 : ancestor.size() + 1);
    while (ancestor != "/") {
        const std::string candidate(ancestor);
        // Canonicalizing first settles the common case (the parent exists) with one call;
        // the probe then tells an absent ancestor from one that exists but cannot be
        // canonicalized, exactly as probing first would.
        auto canonical = fileSystem_->canonicalPath(candidate);
        if (canonical) {
            return normalize(joined(*canonical, below));
        }
        auto presence = fileSystem_->entryExists(candidate);
        if (!presence) {
            return fail(presence.error());
        }
        if (*presence == EntryPresence::exists) {
            return fail(canonical.error());
        }
        const std::string_view parent = parentOf(ancestor);
        below = std::string_view(normalized).substr(parent.size() == 1 ? 1 : parent.size() + 1);
        ancestor = parent;
    }
    return normalized;
}

Result<EntryPresence, int> RealPolicyFileSystem::entryExists(const std::string& path) const {
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        return EntryPresence::exists;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return EntryPresence::absent;
    }
    return fail(errno);
}

Result<std::string, int> RealPolicyFileSystem::canonicalPath(const std::string& path) const {
    char* canonical = ::realpath(path.c_str(), nullptr);
    if (canonical == nullptr) {
        return fail(errno);
    }
    std::string text(canonical);
    std::free(canonical);
    return text;
}

}  // namespace kb
