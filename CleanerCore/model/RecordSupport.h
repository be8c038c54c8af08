// Small helpers shared by the model records' implementations: raw-value lookups over the
// codec kit's RawName tables, and hashing of lists and dates field by field.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "CleanerCore/errors/Hashing.h"
#include "HelperProtocol/JsonCodec.h"

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

// Mixes a list (its length, then each element in order) into `seed`.
template <class Range>
void hashRange(std::size_t& seed, const Range& range) {
    hashCombine(seed, static_cast<std::size_t>(std::size(range)));
    for (const auto& element : range) {
        hashCombine(seed, element);
    }
}

template <class Clock, class Duration>
void hashDate(std::size_t& seed,
              const std::optional<std::chrono::time_point<Clock, Duration>>& date) {
    hashCombine(seed, date.has_value());
    if (date) {
        hashCombine(seed, date->time_since_epoch().count());
    }
}

}  // namespace kb::records
