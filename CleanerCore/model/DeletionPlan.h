// A deletion plan: the reviewed, ordered steps that one user decision (uninstall an app,
// clean the items of some rules, force-delete a stubborn item, remove orphaned leftovers)
// turns into. Journal entries refer to a plan by its id and carry its origin.
//
// JSON form (every key required, unknown keys ignored):
//   {"id": UUID text, "createdAt": date, "origin": Origin, "steps": [Step],
//    "estimatedBytes": number, "usesTrash": bool}
// Origin and Step are {"caseName": {fields}} with unlabelled fields keyed "_0", "_1" and
// exactly one case key (otherwise "Invalid number of keys found, expected one."):
//   {"uninstall":{"bundleID"}} {"clean":{"ruleIDs"}} {"forceDelete":{}} {"orphans":{}}
//   {"quitApp":{"bundleID"}} {"bootout":{"label","domain"}} {"unregisterLaunchServices":{"_0"}}
//   {"brewZap":{"cask"}} {"forgetReceipt":{"packageID"}}
//   {"remove":{"_0","mode","requiresRoot"}} {"runCommand":{"id","arguments","requiresRoot"}}
//   {"forceUnlock":{"_0","_1"}}
// URLs are file URL strings, `mode` a DeletionMode raw string, `_1` a ForceRemedy raw string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "CleanerCore/model/CleanRule.h"
#include "CleanerCore/model/FileURL.h"
#include "CleanerCore/model/IsoDate.h"
#include "CleanerCore/model/Uuid.h"
#include "base/Hashing.h"
#include "json/DescribedCodec.h"

namespace kb {

// One remedy for an item that resists deletion.
enum class ForceRemedy {
    clearUserImmutable,
    clearSystemImmutable,
    stripACL,
    terminateHolders,  // terminate the processes holding the item open
    unmount,           // unmount the volume the item sits on or is
};
BOOST_DESCRIBE_ENUM(ForceRemedy, clearUserImmutable, clearSystemImmutable, stripACL,
                    terminateHolders, unmount)

struct DeletionPlan {
    // Why the plan exists.
    struct Origin {
        struct Uninstall {
            std::string bundleID;
            bool operator==(const Uninstall&) const = default;
        };
        struct Clean {
            std::vector<std::string> ruleIDs;
            bool operator==(const Clean&) const = default;
        };
        struct ForceDelete {
            bool operator==(const ForceDelete&) const = default;
        };
        struct Orphans {
            bool operator==(const Orphans&) const = default;
        };

        std::variant<Uninstall, Clean, ForceDelete, Orphans> kind;

        static Origin uninstall(std::string bundleID) { return {Uninstall{std::move(bundleID)}}; }
        static Origin clean(std::vector<std::string> ruleIDs) {
            return {Clean{std::move(ruleIDs)}};
        }
        static Origin forceDelete() { return {ForceDelete{}}; }
        static Origin orphans() { return {Orphans{}}; }

        bool operator==(const Origin&) const = default;
    };

    struct Step {
        struct QuitApp {
            std::string bundleID;
            bool operator==(const QuitApp&) const = default;
        };
        // `domain` is "system" for the system domain, otherwise a per-user domain.
        struct Bootout {
            std::string label;
            std::string domain;
            bool operator==(const Bootout&) const = default;
        };
        struct UnregisterLaunchServices {
            FileURL url;
            bool operator==(const UnregisterLaunchServices&) const = default;
        };
        struct BrewZap {
            std::string cask;
            bool operator==(const BrewZap&) const = default;
        };
        struct ForgetReceipt {
            std::string packageID;
            bool operator==(const ForgetReceipt&) const = default;
        };
        struct Remove {
            FileURL url;
            DeletionMode mode = DeletionMode::trash;
            bool requiresRoot = false;
            bool operator==(const Remove&) const = default;
        };
        struct RunCommand {
            std::string id;
            std::vector<std::string> arguments;
            bool requiresRoot = false;
            bool operator==(const RunCommand&) const = default;
        };
        struct ForceUnlock {
            FileURL url;
            ForceRemedy remedy = ForceRemedy::terminateHolders;
            bool operator==(const ForceUnlock&) const = default;
        };

        std::variant<QuitApp, Bootout, UnregisterLaunchServices, BrewZap, ForgetReceipt, Remove,
                     RunCommand, ForceUnlock>
            kind;

        bool operator==(const Step&) const = default;
    };

    Uuid id;
    Date createdAt;
    Origin origin;
    std::vector<Step> steps;
    std::uint64_t estimatedBytes = 0;
    bool usesTrash = true;

    // Whether running the plan needs the privileged helper: some step boots a job out of the
    // "system" domain, removes or runs a command as root, or clears a system-immutable flag
    // or unmounts a volume.
    bool needsHelper() const;

    bool operator==(const DeletionPlan&) const = default;
};
BOOST_DESCRIBE_STRUCT(DeletionPlan, (), (id, createdAt, origin, steps, estimatedBytes, usesTrash))

}  // namespace kb

// Hashes over every member (a case's index, then its fields).
template <>
struct std::hash<kb::DeletionPlan::Origin> {
    std::size_t operator()(const kb::DeletionPlan::Origin& value) const;
};
template <>
struct std::hash<kb::DeletionPlan::Step> {
    std::size_t operator()(const kb::DeletionPlan::Step& value) const;
};
template <>
struct std::hash<kb::DeletionPlan> : kb::MemberHash<kb::DeletionPlan> {};

namespace kb::json {

template <>
struct Codec<DeletionPlan::Origin> {
    static boost::json::value encode(const DeletionPlan::Origin& value);
    static DeletionPlan::Origin decode(const boost::json::value& value);
};
template <>
struct Codec<DeletionPlan::Step> {
    static boost::json::value encode(const DeletionPlan::Step& value);
    static DeletionPlan::Step decode(const boost::json::value& value);
};
}  // namespace kb::json
