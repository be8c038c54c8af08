// The wire types exchanged by the application and the helper: plain values compared by
// value. Their JSON forms are in HelperCodec.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kb {

struct LaunchdDomain {
    struct System {
        bool operator==(const System&) const = default;
    };
    struct Gui {
        std::uint32_t uid = 0;
        bool operator==(const Gui&) const = default;
    };
    std::variant<System, Gui> kind;

    static LaunchdDomain system() { return {System{}}; }
    static LaunchdDomain gui(std::uint32_t uid) { return {Gui{uid}}; }

    // "system", or "gui/" followed by the uid in decimal.
    std::string launchctlString() const;

    bool operator==(const LaunchdDomain&) const = default;
};

struct HelperRequest {
    struct GetVersion {
        bool operator==(const GetVersion&) const = default;
    };
    struct TrashItems {
        std::vector<std::string> paths;
        std::uint32_t uid = 0;
        bool operator==(const TrashItems&) const = default;
    };
    struct RemoveItems {
        std::vector<std::string> paths;
        std::uint32_t uid = 0;
        bool operator==(const RemoveItems&) const = default;
    };
    struct ClearProtection {
        std::string path;
        std::uint32_t uid = 0;
        bool operator==(const ClearProtection&) const = default;
    };
    struct TerminateProcess {
        std::int32_t pid = 0;
        std::uint64_t startTime = 0;
        std::int32_t signal = 0;
        bool operator==(const TerminateProcess&) const = default;
    };
    struct BootoutLaunchd {
        std::string label;
        LaunchdDomain domain;
        bool operator==(const BootoutLaunchd&) const = default;
    };
    struct ForgetReceipt {
        std::string packageID;
        bool operator==(const ForgetReceipt&) const = default;
    };
    struct RestoreFromTrash {
        std::string trashedPath;
        std::string originalPath;
        std::uint32_t uid = 0;
        bool operator==(const RestoreFromTrash&) const = default;
    };

    std::variant<GetVersion, TrashItems, RemoveItems, ClearProtection, TerminateProcess,
                 BootoutLaunchd, ForgetReceipt, RestoreFromTrash>
        kind;

    bool operator==(const HelperRequest&) const = default;
};

struct ItemOutcome {
    struct Ok {
        bool operator==(const Ok&) const = default;
    };
    struct NotFound {
        bool operator==(const NotFound&) const = default;
    };
    struct PolicyDenied {
        std::string reason;
        bool operator==(const PolicyDenied&) const = default;
    };
    struct SipProtected {
        bool operator==(const SipProtected&) const = default;
    };
    struct RaceDetected {
        bool operator==(const RaceDetected&) const = default;
    };
    struct Failed {
        std::int32_t errnum = 0;  // "errno" on the wire
        std::string message;
        bool operator==(const Failed&) const = default;
    };

    std::variant<Ok, NotFound, PolicyDenied, SipProtected, RaceDetected, Failed> kind;

    static ItemOutcome ok() { return {Ok{}}; }
    static ItemOutcome notFound() { return {NotFound{}}; }
    static ItemOutcome policyDenied(std::string reason) {
        return {PolicyDenied{std::move(reason)}};
    }
    static ItemOutcome sipProtected() { return {SipProtected{}}; }
    static ItemOutcome raceDetected() { return {RaceDetected{}}; }
    static ItemOutcome failed(std::int32_t errnum, std::string message) {
        return {Failed{errnum, std::move(message)}};
    }

    bool operator==(const ItemOutcome&) const = default;
};

struct ItemResult {
    std::string path;  // exactly as the request carried it
    ItemOutcome outcome;
    std::optional<std::string> trashedPath;  // set only by a successful move to the Trash

    bool succeeded() const { return std::holds_alternative<ItemOutcome::Ok>(outcome.kind); }

    bool operator==(const ItemResult&) const = default;
};

struct HelperResponse {
    struct Version {
        std::int64_t value = 0;
        bool operator==(const Version&) const = default;
    };
    struct Items {
        std::vector<ItemResult> results;
        bool operator==(const Items&) const = default;
    };
    struct Done {
        bool operator==(const Done&) const = default;
    };
    struct Error {
        std::string message;
        bool operator==(const Error&) const = default;
    };

    std::variant<Version, Items, Done, Error> kind;

    static HelperResponse version(std::int64_t v) { return {Version{v}}; }
    static HelperResponse items(std::vector<ItemResult> results) {
        return {Items{std::move(results)}};
    }
    static HelperResponse done() { return {Done{}}; }
    static HelperResponse error(std::string message) { return {Error{std::move(message)}}; }

    bool operator==(const HelperResponse&) const = default;
};

}  // namespace kb
