#include "CleanerCore/model/AppRuntimeStatus.h"

#include "CleanerCore/model/RecordSupport.h"

std::size_t std::hash<kb::ProcessRef>::operator()(const kb::ProcessRef& process) const {
    std::size_t seed = 0;
    kb::hashCombine(seed, process.pid);
    kb::hashCombine(seed, process.startTime);
    kb::hashCombine(seed, process.name);
    return seed;
}

std::size_t std::hash<kb::AppRuntimeStatus>::operator()(const kb::AppRuntimeStatus& status) const {
    std::size_t seed = 0;
    kb::hashCombine(seed, status.processes);
    kb::hashCombine(seed, status.cpuPercent);
    kb::hashCombine(seed, status.residentBytes);
    kb::hashCombine(seed, status.sampledAt.time_since_epoch().count());
    return seed;
}

namespace kb::json {

boost::json::value Codec<ProcessRef>::encode(const ProcessRef& value) {
    return FieldWriter()
        .field("pid", value.pid)
        .field("startTime", value.startTime)
        .field("name", value.name)
        .value();
}

ProcessRef Codec<ProcessRef>::decode(const boost::json::value& value) {
    FieldReader r(value, "ProcessRef");
    return ProcessRef{
        .pid = r.required<std::int32_t>("pid"),
        .startTime = r.required<std::uint64_t>("startTime"),
        .name = r.required<std::string>("name"),
    };
}

boost::json::value Codec<AppRuntimeStatus>::encode(const AppRuntimeStatus& value) {
    return FieldWriter()
        .field("processes", value.processes)
        .field("cpuPercent", value.cpuPercent)
        .field("residentBytes", value.residentBytes)
        .field("sampledAt", value.sampledAt)
        .value();
}

AppRuntimeStatus Codec<AppRuntimeStatus>::decode(const boost::json::value& value) {
    FieldReader r(value, "AppRuntimeStatus");
    return AppRuntimeStatus{
        .processes = r.required<std::vector<ProcessRef>>("processes"),
        .cpuPercent = r.required<double>("cpuPercent"),
        .residentBytes = r.required<std::uint64_t>("residentBytes"),
        .sampledAt = r.required<Date>("sampledAt"),
    };
}

}  // namespace kb::json
