// Cleaning rules and the results of applying one to the disk: plain values compared member
// by member (arrays in order, URLs by their string) and hashed over every member.
//
// JSON forms (keys are the field names):
//  - SafetyLevel, RegenerationCost, DeletionMode: the case name as a string.
//  - BusyCheck, RuleProvider, SkipReason: {"caseName": {fields}}, an unlabelled field keyed
//    "_0"; exactly one case key (otherwise "Invalid number of keys found, expected one.").
//  - CleanGroup {"id","order","symbolName"}; CleanRule {"id","group","provider","safety",
//    "regenerationCost","requiresRoot","requiresFullDiskAccess","busy","mode","minimumAge"
//    (omitted when absent),"excludes","phase"}; ScannedItem {"path","size","modifiedAt"
//    (omitted when absent),"isDirectory"}; SkippedPath {"path","reason"}; ScanResult
//    {"ruleID","items","skipped","errors"}.
// Decoding refuses a missing required key, a wrong JSON type and an unknown raw string;
// unknown keys are ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <variant>
#include <vector>

#include "CleanerCore/model/FileURL.h"
#include "CleanerCore/model/IsoDate.h"
#include "base/Hashing.h"
#include "json/DescribedCodec.h"

namespace kb {

// How much a user must look at an item before deleting it; ordered safe < review < risky.
enum class SafetyLevel { safe, review, risky };
BOOST_DESCRIBE_ENUM(SafetyLevel, safe, review, risky)

// What it takes to get the data back.
enum class RegenerationCost { free, local, network, irreplaceable };
BOOST_DESCRIBE_ENUM(RegenerationCost, free, local, network, irreplaceable)

// How matched items are removed.
enum class DeletionMode { trash, unlink, unlinkContents, command };
BOOST_DESCRIBE_ENUM(DeletionMode, trash, unlink, unlinkContents, command)

// What must be true before a rule's items may be deleted.
struct BusyCheck {
    struct None {
        bool operator==(const None&) const = default;
    };
    // Busy while a process with one of these names runs.
    struct ProcessRunning {
        std::vector<std::string> processNames;
        bool operator==(const ProcessRunning&) const = default;
    };
    struct OpenHandle {
        bool operator==(const OpenHandle&) const = default;
    };
    struct SqliteLive {
        bool operator==(const SqliteLive&) const = default;
    };
    struct GradleDaemon {
        bool operator==(const GradleDaemon&) const = default;
    };
    struct DockerRunning {
        bool operator==(const DockerRunning&) const = default;
    };
    struct OwningApplication {
        bool operator==(const OwningApplication&) const = default;
    };

    std::variant<None, ProcessRunning, OpenHandle, SqliteLive, GradleDaemon, DockerRunning,
                 OwningApplication>
        kind;

    static BusyCheck none() { return {None{}}; }
    static BusyCheck processRunning(std::vector<std::string> names) {
        return {ProcessRunning{std::move(names)}};
    }
    static BusyCheck openHandle() { return {OpenHandle{}}; }
    static BusyCheck sqliteLive() { return {SqliteLive{}}; }
    static BusyCheck gradleDaemon() { return {GradleDaemon{}}; }
    static BusyCheck dockerRunning() { return {DockerRunning{}}; }
    static BusyCheck owningApplication() { return {OwningApplication{}}; }

    bool operator==(const BusyCheck&) const = default;
};

// How a rule finds its items.
struct RuleProvider {
    // Shell wildcard patterns; "~/" at the start stands for the user's home directory.
    struct Globs {
        std::vector<std::string> patterns;
        bool operator==(const Globs&) const = default;
    };
    // A named built-in enumerator.
    struct Builtin {
        std::string key;
        bool operator==(const Builtin&) const = default;
    };

    std::variant<Globs, Builtin> kind;

    static RuleProvider globs(std::vector<std::string> patterns) {
        return {Globs{std::move(patterns)}};
    }
    static RuleProvider builtin(std::string key) { return {Builtin{std::move(key)}}; }

    bool operator==(const RuleProvider&) const = default;
};

struct CleanGroup {
    std::string id;
    std::int64_t order = 0;  // display position, ascending
    std::string symbolName;

    bool operator==(const CleanGroup&) const = default;
};
BOOST_DESCRIBE_STRUCT(CleanGroup, (), (id, order, symbolName))

struct CleanRule {
    std::string id;     // "area.thing", e.g. "xcode.derivedData"
    std::string group;  // a CleanGroup id
    RuleProvider provider;
    SafetyLevel safety = SafetyLevel::risky;
    RegenerationCost regenerationCost = RegenerationCost::irreplaceable;
    bool requiresRoot = false;
    bool requiresFullDiskAccess = false;
    BusyCheck busy;
    DeletionMode mode = DeletionMode::trash;
    std::optional<double> minimumAge;  // seconds; absent: no age limit
    std::vector<std::string> excludes;
    std::int64_t phase = 0;

    // Whether the rule starts selected: safe, and free or local to regenerate.
    bool isCheckedByDefault() const;

    bool operator==(const CleanRule&) const = default;
};
BOOST_DESCRIBE_STRUCT(CleanRule, (),
                      (id, group, provider, safety, regenerationCost, requiresRoot,
                       requiresFullDiskAccess, busy, mode, minimumAge, excludes, phase))

struct ScannedItem {
    FileURL path;
    std::uint64_t size = 0;
    std::optional<Date> modifiedAt;
    bool isDirectory = false;

    bool operator==(const ScannedItem&) const = default;
};
BOOST_DESCRIBE_STRUCT(ScannedItem, (), (path, size, modifiedAt, isDirectory))

struct SkipReason {
    // Left because the named process holds it.
    struct Busy {
        std::string process;
        bool operator==(const Busy&) const = default;
    };
    struct NeedsFullDiskAccess {
        bool operator==(const NeedsFullDiskAccess&) const = default;
    };
    struct NeedsHelper {
        bool operator==(const NeedsHelper&) const = default;
    };
    struct Absent {
        bool operator==(const Absent&) const = default;
    };

    std::variant<Busy, NeedsFullDiskAccess, NeedsHelper, Absent> kind;

    static SkipReason busy(std::string process) { return {Busy{std::move(process)}}; }
    static SkipReason needsFullDiskAccess() { return {NeedsFullDiskAccess{}}; }
    static SkipReason needsHelper() { return {NeedsHelper{}}; }
    static SkipReason absent() { return {Absent{}}; }

    bool operator==(const SkipReason&) const = default;
};

struct SkippedPath {
    FileURL path;
    SkipReason reason;

    bool operator==(const SkippedPath&) const = default;
};
BOOST_DESCRIBE_STRUCT(SkippedPath, (), (path, reason))

struct ScanResult {
    std::string ruleID;
    std::vector<ScannedItem> items;
    std::vector<SkippedPath> skipped;
    std::vector<std::string> errors;

    // Sum of the item sizes; saturates at 2^64 - 1 instead of wrapping.
    std::uint64_t totalBytes() const;

    // No items, no skipped paths and no errors.
    bool isGenuinelyEmpty() const;

    // The items whose path is not in `excluded`, in their order.
    std::vector<ScannedItem> itemsExcluding(const std::unordered_set<FileURL>& excluded) const;

    // Sum of the sizes of itemsExcluding(excluded); saturates like totalBytes().
    std::uint64_t bytesExcluding(const std::unordered_set<FileURL>& excluded) const;

    bool operator==(const ScanResult&) const = default;
};
BOOST_DESCRIBE_STRUCT(ScanResult, (), (ruleID, items, skipped, errors))

}  // namespace kb

// Hashes over every member (a case's index, then its fields).
template <>
struct std::hash<kb::BusyCheck> {
    std::size_t operator()(const kb::BusyCheck& value) const;
};
template <>
struct std::hash<kb::RuleProvider> {
    std::size_t operator()(const kb::RuleProvider& value) const;
};
template <>
struct std::hash<kb::SkipReason> {
    std::size_t operator()(const kb::SkipReason& value) const;
};
template <>
struct std::hash<kb::CleanGroup> : kb::MemberHash<kb::CleanGroup> {};
template <>
struct std::hash<kb::CleanRule> : kb::MemberHash<kb::CleanRule> {};
template <>
struct std::hash<kb::ScannedItem> : kb::MemberHash<kb::ScannedItem> {};
template <>
struct std::hash<kb::SkippedPath> : kb::MemberHash<kb::SkippedPath> {};
template <>
struct std::hash<kb::ScanResult> : kb::MemberHash<kb::ScanResult> {};

namespace kb::json {

#define KB_DECLARE_CODEC(Type)                               \
    template <>                                              \
    struct Codec<Type> {                                     \
        static boost::json::value encode(const Type& value); \
        static Type decode(const boost::json::value& value); \
    }

KB_DECLARE_CODEC(BusyCheck);
KB_DECLARE_CODEC(RuleProvider);
KB_DECLARE_CODEC(SkipReason);

#undef KB_DECLARE_CODEC

}  // namespace kb::json
