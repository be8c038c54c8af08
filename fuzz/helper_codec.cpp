// Any bytes decode to a request or fail cleanly; a decoded request re-encodes and decodes
// back to itself; any decoded response re-encodes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "HelperProtocol/HelperCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto request = kb::HelperCodec::decode<kb::HelperRequest>(bytes);
    if (request) {
        auto encoded = kb::HelperCodec::encode(*request);
        if (!encoded) {
            std::abort();
        }
        auto again = kb::HelperCodec::decode<kb::HelperRequest>(*encoded);
        if (!again || !(*again == *request)) {
            std::abort();
        }
    }
    auto response = kb::HelperCodec::decode<kb::HelperResponse>(bytes);
    if (response) {
        if (kb::HelperCodec::encodeOrFallback(*response).empty()) {
            std::abort();
        }
    }
    return 0;
}
