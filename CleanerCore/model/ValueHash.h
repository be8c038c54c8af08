// Hashing of value records over all of their fields, in order: hashOf(a, b, c). Lists mix
// their length and each element, optionals whether they hold a value and then the value,
// dates their tick count; anything else goes through std::hash.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <type_traits>
#include <vector>

#include "CleanerCore/errors/Hashing.h"

namespace kb {
namespace detail {
template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};
template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <class T>
struct IsTimePoint : std::false_type {};
template <class Clock, class Duration>
struct IsTimePoint<std::chrono::time_point<Clock, Duration>> : std::true_type {};
}  // namespace detail

template <class T>
void mixHash(std::size_t& seed, const T& value) {
    if constexpr (detail::IsVector<T>::value) {
        hashCombine(seed, value.size());
        for (const auto& element : value) {
            mixHash(seed, element);
        }
    } else if constexpr (detail::IsOptional<T>::value) {
        hashCombine(seed, value.has_value());
        if (value) {
            mixHash(seed, *value);
        }
    } else if constexpr (detail::IsTimePoint<T>::value) {
        hashCombine(seed, value.time_since_epoch().count());
    } else {
        hashCombine(seed, value);
    }
}

template <class... Fields>
std::size_t hashOf(const Fields&... fields) {
    std::size_t seed = 0;
    (mixHash(seed, fields), ...);
    return seed;
}

}  // namespace kb
