#include "CleanerCore/policy/PathPolicy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "CleanerCore/policy/KeywordSet.h"
#include "CleanerCore/policy/OrderedPathList.h"
#include "CleanerCore/policy/ProtectedPatterns.h"
#include "CleanerCore/policy/UnicodeText.h"

namespace kb {
namespace {

namespace Patterns = ProtectedPatterns;

// Whether whatever lies outside the reachable places is denied (Linux); the tables of the
// other system list its system locations instead.
#if defined(__APPLE__)
constexpr bool deniesOutsideReachablePlaces = false;
#else
constexpr bool deniesOutsideReachablePlaces = true;
#endif

template <class List>
void addAll(OrderedPathList& target, const List& names) {
    for (const auto name : names) {
        target.add(std::string(name));
    }
}

// The home-independent tables in their compared forms, built once per process. Each
// general list is followed by the Linux list of the same kind.
struct FoldedTables {
    OrderedPathList deniedRoots;
    OrderedPathList deniedSubtrees;
    OrderedPathList allowedPrefixes;  // matched with Match::inside
    std::vector<std::string> directoryNames;
    KeywordSet keywords;
    OrderedPathList stagingDirectories;
    std::string stagingPiece;  // "/" + the folded staging name prefix

    FoldedTables() {
        // Appended rather than built with operator+: GCC 12 at -O3 warns (-Wrestrict) about
        // its own inlined insert.
        stagingPiece.push_back('/');
        stagingPiece += UnicodeText::folded(Patterns::stagingNamePrefix);
        addAll(stagingDirectories, Patterns::stagingDirectories);
        addAll(deniedRoots, Patterns::deniedRoots);
        addAll(deniedRoots, Patterns::linuxDeniedRoots);
        addAll(deniedSubtrees, Patterns::deniedSubtrees);
        addAll(deniedSubtrees, Patterns::linuxDeniedSubtrees);
        addAll(allowedPrefixes, Patterns::allowedPrefixes);
        for (const auto name : Patterns::protectedDirectoryNames) {
            directoryNames.push_back(UnicodeText::folded(name));
        }
        for (const auto keyword : Patterns::protectedKeywords) {
            keywords.add(UnicodeText::folded(keyword));
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

std::size_t pieceCount(std::string_view path) {
    std::size_t count = 0;
    bool inPiece = false;
    for (const char c : path) {
        if (c == '/') {
            inPiece = false;
        } else if (!inPiece) {
            inPiece = true;
            ++count;
        }
    }
    return count;
}

bool isOversized(std::string_view path) {
    return path.size() > PathPolicy::maximumPathBytes ||
           pieceCount(path) > PathPolicy::maximumPathPieces;
}

bool hasParentReference(std::string_view path) {
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        if (path[i] == '.' && path[i + 1] == '.' && (i == 0 || path[i - 1] == '/') &&
            (i + 2 == path.size() || path[i + 2] == '/')) {
            return true;
        }
    }
    return false;
}

std::string joined(std::string_view base, std::string_view relative) {
    std::string text;
    text.reserve(base.size() + relative.size() + 1);
    text += base;
    if (!relative.empty()) {
        if (text.empty() || text.back() != '/') {
            text += '/';
        }
        text += relative;
    }
    return text;
}

bool isNormalized(std::string_view path) {
    if (path.empty() || path.front() != '/') {
        return false;
    }
    if (path.size() == 1) {
        return true;
    }
    if (path.back() == '/') {
        return false;
    }
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        if (path[i] == '/' &&
            (path[i + 1] == '/' ||
             (path[i + 1] == '.' && (i + 2 == path.size() || path[i + 2] == '/')))) {
            return false;
        }
    }
    return true;
}

// The forms one path is compared in: canonical (letter case counts) and folded.
struct ComparedForms {
    std::string canonicalStorage;
    std::string folded;
    std::string_view canonical;

    explicit ComparedForms(std::string_view path) {
        if (UnicodeText::isAscii(path)) {
            canonical = path;
            folded.resize(path.size());
            std::transform(path.begin(), path.end(), folded.begin(), [](char c) {
                return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            });
        } else {
            canonicalStorage = UnicodeText::canonical(path);
            canonical = canonicalStorage;
            folded = UnicodeText::folded(path);
        }
    }
};

// The letters, marks and digits of a folded piece, into `out`.
void keywordForm(std::string_view foldedPiece, std::string& out) {
    if (!UnicodeText::isAscii(foldedPiece)) {
        out = UnicodeText::lettersMarksAndDigits(foldedPiece);
        return;
    }
    out.resize(foldedPiece.size());
    std::size_t length = 0;
    for (const char c : foldedPiece) {
        out[length] = c;
        length += static_cast<std::size_t>((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                           (c >= 'A' && c <= 'Z'));
    }
    out.resize(length);
}

// The helper's staging areas: a fixed staging directory, or a piece that starts with the
// staging name prefix. The directory is a denied root, everything in it its denied subtree.
std::optional<PolicyReason> stagingReason(std::string_view path, std::string_view folded) {
    using Match = OrderedPathList::Match;
    const FoldedTables& tables = foldedTables();
    if (const auto* directory = tables.stagingDirectories.firstMatch(folded, Match::equal)) {
        return PolicyReason::deniedRoot(*directory);
    }
    if (const auto* directory = tables.stagingDirectories.firstMatch(folded, Match::inside)) {
        return PolicyReason::deniedSubtree(*directory);
    }
    const std::size_t at = folded.find(tables.stagingPiece);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    // Folding keeps the pieces: the piece is the same one of the path as written.
    const auto piece =
        std::count(folded.begin(), folded.begin() + static_cast<std::ptrdiff_t>(at), '/');
    std::size_t start = 0;
    for (std::ptrdiff_t i = 0; i < piece; ++i) {
        start = path.find('/', start + 1);
    }
    const std::size_t end = std::min(path.find('/', start + 1), path.size());
    std::string directory(path.substr(0, end));
    if (end == path.size()) {
        return PolicyReason::deniedRoot(std::move(directory));
    }
    return PolicyReason::deniedSubtree(std::move(directory));
}

}  // namespace

struct PathPolicy::Candidates {
    OrderedPathList homeRoots;      // H, then H + "/" + each entry
    OrderedPathList homeLocations;  // H + "/" + each entry
    // The user's entries in canonical form; letter case counts.
    std::vector<std::pair<std::string, std::string>> userProtected;  // {canonical, name}
    // The home directory as given and as resolved (Unicode canonical forms), reachable
    // places; none when the home is "/", which would make every place reachable.
    std::vector<std::string> reachableHomes;

    bool reachable(std::string_view canonicalPath) const {
        for (const auto place : Patterns::linuxReachablePlaces) {
            if (startsWith(canonicalPath, place)) {
                return true;
            }
        }
        for (const auto& home : reachableHomes) {
            if (startsWith(canonicalPath, home) &&
                (canonicalPath.size() == home.size() || canonicalPath[home.size()] == '/')) {
                return true;
            }
        }
        return false;
    }
};

PathPolicy::PathPolicy(std::string_view homeDirectory, std::vector<std::string> userProtectedPaths)
    : PathPolicy(homeDirectory, std::move(userProtectedPaths),
                 std::make_shared<RealPolicyFileSystem>()) {}

PathPolicy::PathPolicy(std::string_view homeDirectory, std::vector<std::string> userProtectedPaths,
                       std::shared_ptr<const PolicyFileSystem> fileSystem)
    : fileSystem_(std::move(fileSystem)) {
    const std::string givenHome = normalize(homeDirectory);
    homeDirectory_ = givenHome;
    if (auto canonical = fileSystem_->canonicalPath(homeDirectory_)) {
        homeDirectory_ = normalize(*canonical);
    }
    for (auto& path : userProtectedPaths) {
        path = normalize(path);
    }
    userProtectedPaths_ = std::move(userProtectedPaths);

    auto candidates = std::make_shared<Candidates>();
    for (const auto relative : Patterns::homeDeniedRoots) {
        candidates->homeRoots.add(joined(homeDirectory_, relative));
    }
    for (const auto relative : Patterns::linuxHomeDeniedRoots) {
        candidates->homeRoots.add(joined(homeDirectory_, relative));
    }
    for (const auto relative : Patterns::homeProtectedLocations) {
        candidates->homeLocations.add(joined(homeDirectory_, relative));
    }
    for (const auto relative : Patterns::linuxHomeProtectedLocations) {
        candidates->homeLocations.add(joined(homeDirectory_, relative));
    }
    for (const auto& path : userProtectedPaths_) {
        candidates->userProtected.emplace_back(UnicodeText::canonical(path), path);
    }
    for (const auto& home : {givenHome, homeDirectory_}) {
        if (home != "/") {
            candidates->reachableHomes.push_back(UnicodeText::canonical(home));
        }
    }
    candidates_ = std::move(candidates);
}

std::optional<PathPolicy> PathPolicy::forUser(const AccountEntry& account,
                                              std::vector<std::string> userProtectedPaths) {
    if (account.home.empty()) {
        return std::nullopt;
    }
    return PathPolicy(account.home, std::move(userProtectedPaths));
}

std::string PathPolicy::normalize(std::string_view path) {
    std::string out;
    out.reserve(path.size() + 1);
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t end = path.find('/', i);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view piece = path.substr(i, end - i);
        if (!piece.empty() && piece != ".") {
            out += '/';
            out += piece;
        }
        i = end + 1;
    }
    return out.empty() ? "/" : out;
}

std::optional<PolicyReason> PathPolicy::classify(std::string_view path) const {
    using Match = OrderedPathList::Match;
    const FoldedTables& tables = foldedTables();
    const ComparedForms forms(path);
    const std::string_view folded = forms.folded;
    const std::string_view canonical = forms.canonical;

    if (auto staging = stagingReason(path, folded)) {
        return staging;
    }
    if (const auto* root = tables.deniedRoots.firstMatch(folded, Match::equal)) {
        return PolicyReason::deniedRoot(*root);
    }
    if (const auto* root = candidates_->homeRoots.firstMatch(folded, Match::equal)) {
        return PolicyReason::deniedRoot(*root);
    }

    if (startsWith(canonical, Patterns::temporaryFoldersPrefix) &&
        pieceCount(canonical) <= Patterns::temporaryFolderMaxPieces) {
        return PolicyReason::deniedRoot(std::string(path));
    }
    for (const auto prefix : Patterns::homeParentPrefixes) {
        if (startsWith(canonical, prefix) && pieceCount(canonical) == 2) {
            return PolicyReason::deniedRoot(std::string(path));
        }
    }

    for (const auto& [entry, name] : candidates_->userProtected) {
        if (canonical == entry ||
            (startsWith(canonical, entry) &&
             (entry.back() == '/' || canonical.substr(entry.size(), 1) == "/"))) {
            return PolicyReason::userProtected(name);
        }
    }
    if (const auto* location =
            candidates_->homeLocations.firstMatch(folded, Match::equalOrInside)) {
        return PolicyReason::protectedLocation(*location);
    }

    // Folding keeps the pieces, so the folded pieces and the written ones pair up in order.
    std::string letters;
    std::size_t written = 0;
    std::size_t foldedAt = 0;
    while (written < path.size() && foldedAt < folded.size()) {
        const std::size_t writtenEnd = std::min(path.find('/', written), path.size());
        const std::size_t foldedEnd = std::min(folded.find('/', foldedAt), folded.size());
        const std::string_view piece = path.substr(written, writtenEnd - written);
        const std::string_view foldedPiece = folded.substr(foldedAt, foldedEnd - foldedAt);
        written = writtenEnd + 1;
        foldedAt = foldedEnd + 1;
        if (piece.empty()) {
            continue;
        }
        for (const auto& name : tables.directoryNames) {
            if (foldedPiece == name) {
                return PolicyReason::protectedLocation(std::string(piece));
            }
        }
        keywordForm(foldedPiece, letters);
        if (tables.keywords.foundIn(letters)) {
            return PolicyReason::protectedLocation(std::string(piece));
        }
    }

    if (tables.allowedPrefixes.firstMatch(folded, Match::inside) != nullptr) {
        return std::nullopt;
    }
    if (const auto* subtree = tables.deniedSubtrees.firstMatch(folded, Match::equalOrInside)) {
        return PolicyReason::deniedSubtree(*subtree);
    }
    if (startsWith(canonical, Patterns::privatePrefix)) {
        return PolicyReason::deniedSubtree(std::string(Patterns::privateSubtree));
    }
    if (deniesOutsideReachablePlaces && !candidates_->reachable(canonical)) {
        return PolicyReason::deniedSubtree(std::string(path.substr(0, path.find('/', 1))));
    }
    return std::nullopt;
}

PolicyDecision PathPolicy::evaluate(std::string_view path) const {
    return evaluate(path, nullptr);
}

PolicyDecision PathPolicy::evaluate(std::string_view path, ParentResolutions& parents) const {
    parents.startEvaluation();
    return evaluate(path, &parents);
}

PolicyDecision PathPolicy::evaluate(std::string_view path, ParentResolutions* parents) const {
    if (isOversized(path)) {
        return PolicyDecision::denied(PolicyReason::unresolvable(ENAMETOOLONG));
    }
    if (path.empty()) {
        return PolicyDecision::denied(PolicyReason::emptyPath());
    }
    if (UnicodeText::hasControlCharacters(path)) {
        return PolicyDecision::denied(PolicyReason::containsControlCharacters());
    }
    if (path.front() != '/') {
        return PolicyDecision::denied(PolicyReason::notAbsolute());
    }
    if (hasParentReference(path)) {
        return PolicyDecision::denied(PolicyReason::containsParentReference());
    }

    std::string normalized = normalize(path);
    if (auto reason = classify(normalized)) {
        return PolicyDecision::denied(std::move(*reason));
    }

    auto resolved = resolve(normalized, parents);
    if (!resolved) {
        return PolicyDecision::denied(PolicyReason::unresolvable(resolved.error()));
    }
    if (*resolved == normalized ||
        (!(UnicodeText::isAscii(*resolved) && UnicodeText::isAscii(normalized)) &&
         UnicodeText::canonical(*resolved) == UnicodeText::canonical(normalized))) {
        return PolicyDecision::allowed(std::move(normalized));
    }
    if (auto reason = classify(*resolved)) {
        return PolicyDecision::denied(
            PolicyReason::symlinkEscape(*resolved, reason->description()));
    }
    return PolicyDecision::allowed(std::move(*resolved));
}

Result<std::string, int> PathPolicy::resolve(const std::string& normalized,
                                             ParentResolutions* parents) const {
    if (normalized == "/") {
        return normalized;
    }
    const std::size_t last = normalized.rfind('/');
    std::optional<std::string> known;
    if (parents != nullptr && last > 0) {
        const std::string parent = normalized.substr(0, last);
        if (const std::string* canonical = parents->reuse(parent, *fileSystem_)) {
            known = *canonical + normalized.substr(last);
        } else if (auto directory = fileSystem_->openDirectory(parent)) {
            known = directory->canonical + normalized.substr(last);
            parents->remember(parent, std::move(*directory));
        }
    }
    Result<std::string, int> resolved = known ? Result<std::string, int>(std::move(*known))
                                              : fileSystem_->resolveParents(normalized);
    if (resolved && !isNormalized(*resolved)) {
        return normalize(*resolved);
    }
    return resolved;
}

}  // namespace kb
