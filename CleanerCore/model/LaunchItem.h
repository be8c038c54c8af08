// A launchd job or login item that belongs to (or is attributed to) an installed app.
//
// A plain value identified by `id`: member-wise (aggregate) construction in declaration
// order, compared and hashed over every field. `isLoaded` is absent when it is not known
// whether launchd has the job loaded. The raw values of Kind and LaunchOwnerReason are their
// case names; converting an unknown text yields nothing.
//
// JSON form: an object keyed by field name; "id" and "kind" are required, every other key is
// omitted when absent (a known `isLoaded` of false is written as false). URLs are absolute
// file URL strings. Unknown keys are ignored; a wrong type or an unknown raw value fails.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "CleanerCore/model/FileURL.h"
#include "CleanerCore/model/LaunchSchedule.h"
#include "json/DescribedCodec.h"

namespace kb {

// Why a launch item is attributed to an app.
enum class LaunchOwnerReason {
    associatedBundleIdentifiers,  // the job's associated bundle identifiers name the app
    programInsideBundle,          // the job's program lies inside the app
    labelEqualsBundleID,
    labelPrefix,        // the label starts with the app's prefix
    embeddedBundleID,   // the label equals a bundle embedded in the app
    authorizedClients,  // the job's authorized clients name the app
    receipt,            // an installer receipt lists it
};
BOOST_DESCRIBE_ENUM(LaunchOwnerReason, associatedBundleIdentifiers, programInsideBundle,
                    labelEqualsBundleID, labelPrefix, embeddedBundleID, authorizedClients, receipt)

struct LaunchItem {
    enum class Kind {
        launchAgentUser,
        launchAgentSystem,
        launchDaemon,
        loginItemLegacy,
        smAppServiceLoginItem,
        privilegedHelper
    };
    BOOST_DESCRIBE_NESTED_ENUM(Kind, launchAgentUser, launchAgentSystem, launchDaemon,
                               loginItemLegacy, smAppServiceLoginItem, privilegedHelper)

    std::string id{};
    Kind kind = Kind::launchAgentUser;
    std::optional<std::string> label{};
    std::optional<FileURL> plistPath{};
    std::optional<FileURL> programPath{};
    std::optional<bool> isLoaded{};
    std::optional<std::string> ownerBundleID{};
    std::optional<LaunchOwnerReason> ownerReason{};
    std::optional<LaunchSchedule> schedule{};

    bool operator==(const LaunchItem&) const = default;
};
BOOST_DESCRIBE_STRUCT(LaunchItem, (),
                      (id, kind, label, plistPath, programPath, isLoaded, ownerBundleID,
                       ownerReason, schedule))

}  // namespace kb

template <>
struct std::hash<kb::LaunchItem> : kb::MemberHash<kb::LaunchItem> {};
