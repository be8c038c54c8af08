#include "CleanerCore/model/LeftoverCandidate.h"

namespace kb::json {

boost::json::value Codec<Confidence>::encode(Confidence value) {
    return boost::json::value(static_cast<std::int64_t>(rawValue(value)));
}
Confidence Codec<Confidence>::decode(const boost::json::value& value) {
    const auto raw = fromValue<std::int64_t>(value);
    const auto confidence = confidenceFromRawValue(raw);
    if (!confidence) {
        failDecode("Confidence: no case for " + std::to_string(raw));
    }
    return *confidence;
}

}  // namespace kb::json
