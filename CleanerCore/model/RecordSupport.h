// Small helpers shared by the model records' implementations: raw-value lookups over the
// codec kit's RawName tables.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "base/Hashing.h"
#include "json/JsonCodec.h"

namespace kb::records {

// The case whose raw value is exactly `raw`; nothing for any other text.
template <class E, std::size_t N>
std::optional<E> fromRawName(std::string_view raw, const json::RawName<E> (&table)[N]) {
    for (const auto& entry : table) {
        if (entry.name == raw) {
            return entry.value;
        }
    }
    return std::nullopt;
}

}  // namespace kb::records
