// The running processes of an app, as sampled by the inventory.
//
// ProcessRef names one process by pid and start time (together they tell it from a later
// process that reuses the pid). AppRuntimeStatus is one sample: the processes, their CPU use
// in percent over the sample, their resident memory and when the sample was taken. Plain
// values, member-wise (aggregate) construction, compared and hashed over every field.
//
// JSON form: objects keyed by field name, every key required ("pid", "startTime", "name";
// "processes", "cpuPercent", "residentBytes", "sampledAt" as an ISO 8601 date). Unknown keys
// are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CleanerCore/model/IsoDate.h"
#include "json/DescribedCodec.h"

namespace kb {

struct ProcessRef {
    std::int32_t pid = 0;
    std::uint64_t startTime = 0;
    std::string name{};

    bool operator==(const ProcessRef&) const = default;
};

struct AppRuntimeStatus {
    std::vector<ProcessRef> processes{};
    double cpuPercent = 0;
    std::uint64_t residentBytes = 0;
    Date sampledAt{};

    // True exactly when at least one process was found.
    bool isRunning() const { return !processes.empty(); }

    bool operator==(const AppRuntimeStatus&) const = default;
};

BOOST_DESCRIBE_STRUCT(ProcessRef, (), (pid, startTime, name))
BOOST_DESCRIBE_STRUCT(AppRuntimeStatus, (), (processes, cpuPercent, residentBytes, sampledAt))

}  // namespace kb

template <>
struct std::hash<kb::ProcessRef> : kb::MemberHash<kb::ProcessRef> {};
template <>
struct std::hash<kb::AppRuntimeStatus> : kb::MemberHash<kb::AppRuntimeStatus> {};
